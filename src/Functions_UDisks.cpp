#include "Functions_UDisks.h"

#include "Functions_Devices.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QMap>

#include <algorithm>

namespace {

const char *const pcService = "org.freedesktop.UDisks2";
const char *const pcBlock = "org.freedesktop.UDisks2.Block";
const char *const pcDrive = "org.freedesktop.UDisks2.Drive";
const char *const pcPartition = "org.freedesktop.UDisks2.Partition";
const char *const pcFilesystem = "org.freedesktop.UDisks2.Filesystem";
const char *const pcLoop = "org.freedesktop.UDisks2.Loop";

typedef QMap<QString, QVariantMap> tInterfaces;
typedef QMap<QDBusObjectPath, tInterfaces> tObjects;

// A byte string property ("ay"), which ends in a zero byte.
QString qsBytes(const QVariant &qVariant)
{
    QByteArray qbaValue = qVariant.toByteArray();
    const int iZero = qbaValue.indexOf('\0');
    return QString::fromLocal8Bit(iZero < 0 ? qbaValue : qbaValue.left(iZero));
}

// The first of a list of byte strings ("aay"), which arrives still marshalled.
QString qsFirst_Bytes(const QVariant &qVariant)
{
    if (!qVariant.canConvert<QDBusArgument>())
        return QString();
    const QDBusArgument qArgument = qVariant.value<QDBusArgument>();
    QList<QByteArray> qlValues;
    qArgument >> qlValues;
    return qlValues.isEmpty() ? QString() : qsBytes(qlValues.first());
}

QString qsObject(const QVariant &qVariant)
{
    const QString qsPath = qVariant.value<QDBusObjectPath>().path();
    return qsPath == "/" ? QString() : qsPath;
}

} // namespace

namespace {

// Whether UDisks2 can be asked at all: the bus, and the service running or able to start.
bool bUDisks_There(const QDBusConnection &qBus, QString *pqsError)
{
    if (!qBus.isConnected()) {
        *pqsError = "системная шина D-Bus недоступна";
        return false;
    }
    const QDBusConnectionInterface *qBus_Interface = qBus.interface();
    if (!qBus_Interface) {
        *pqsError = "системная шина D-Bus не отвечает";
        return false;
    }
    if (qBus_Interface->isServiceRegistered(pcService).value())
        return true;
    // An activatable service starts on the first call; one that is not there would only time out.
    const QDBusReply<QStringList> qActivatable = qBus_Interface->activatableServiceNames();
    if (!qActivatable.isValid() || !qActivatable.value().contains(pcService)) {
        *pqsError = "служба UDisks2 не запущена";
        return false;
    }
    return true;
}

bool bManaged_Objects(tObjects *pqmapObjects, QString *pqsError)
{
    QDBusConnection qBus = QDBusConnection::systemBus();
    if (!bUDisks_There(qBus, pqsError))
        return false;
    qDBusRegisterMetaType<tInterfaces>();
    qDBusRegisterMetaType<tObjects>();
    QDBusMessage qCall = QDBusMessage::createMethodCall(pcService, "/org/freedesktop/UDisks2",
                                                        "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    const QDBusReply<tObjects> qReply = qBus.call(qCall, QDBus::Block, 10000);
    if (!qReply.isValid()) {
        *pqsError = qReply.error().message();
        return false;
    }
    *pqmapObjects = qReply.value();
    return true;
}

// One block object as the list shows it: path, size, file system and mount, and its drive's
// vendor, model, bus and removability.
cDevice_Entry oBlock_Entry(const QDBusObjectPath &qObject, const tInterfaces &qmapIf, const tObjects &qmapObjects)
{
    const QVariantMap &qmapBlock = qmapIf[pcBlock];
    cDevice_Entry oEntry;
    oEntry.qsPath = qsBytes(qmapBlock.value("PreferredDevice"));
    if (oEntry.qsPath.isEmpty())
        oEntry.qsPath = qsBytes(qmapBlock.value("Device"));
    oEntry.qsName = oEntry.qsPath.section('/', -1);
    oEntry.qui64Bytes = qmapBlock.value("Size").toULongLong();
    oEntry.qsFs = qmapBlock.value("IdType").toString();
    oEntry.qsLabel = qmapBlock.value("IdLabel").toString();
    if (qmapIf.contains(pcFilesystem)) {
        oEntry.qsObject = qObject.path();
        oEntry.qsMount = qsFirst_Bytes(qmapIf[pcFilesystem].value("MountPoints"));
    }
    const QString qsDrive = qsObject(qmapBlock.value("Drive"));
    if (!qsDrive.isEmpty() && qmapObjects.contains(QDBusObjectPath(qsDrive))) {
        const QVariantMap qmapDrive = qmapObjects[QDBusObjectPath(qsDrive)].value(pcDrive);
        oEntry.qsVendor = qmapDrive.value("Vendor").toString().trimmed();
        oEntry.qsModel = qmapDrive.value("Model").toString().trimmed();
        oEntry.qsTransport = qmapDrive.value("ConnectionBus").toString();
        oEntry.bRemovable = qmapDrive.value("Removable").toBool() || qmapDrive.value("MediaRemovable").toBool();
    }
    return oEntry;
}

// Every block object as an entry, by object path; *pqmapTable_Of: for a partition (or an
// unlocked encrypted volume) the object of what it lies on.
QMap<QString, cDevice_Entry> qmapBlock_Entries(const tObjects &qmapObjects, QMap<QString, QString> *pqmapTable_Of)
{
    QMap<QString, cDevice_Entry> qmapEntries;
    for (auto it = qmapObjects.constBegin(); it != qmapObjects.constEnd(); ++it) {
        const tInterfaces &qmapIf = it.value();
        if (!qmapIf.contains(pcBlock))
            continue;
        const QVariantMap &qmapBlock = qmapIf[pcBlock];
        if (qmapBlock.value("HintIgnore").toBool() || qmapBlock.value("Size").toULongLong() == 0)
            continue;
        cDevice_Entry oEntry = oBlock_Entry(it.key(), qmapIf, qmapObjects);
        // An unlocked encrypted volume belongs with its backing partition's disk.
        const QString qsBacking = qsObject(qmapBlock.value("CryptoBackingDevice"));
        if (qmapIf.contains(pcPartition) || !qsBacking.isEmpty()) {
            oEntry.qsType = qmapIf.contains(pcPartition) ? "part" : "crypt";
            (*pqmapTable_Of)[it.key().path()] = qmapIf.contains(pcPartition)
                                                    ? qsObject(qmapIf[pcPartition].value("Table"))
                                                    : pqmapTable_Of->value(qsBacking, qsBacking);
        } else {
            oEntry.qsType = qmapIf.contains(pcLoop) ? "loop" : "disk";
            oEntry.qsDisk = oEntry.qsPath;
        }
        qmapEntries[it.key().path()] = oEntry;
    }
    return qmapEntries;
}

// The whole device qsDisk_Object with everything that lies on it, in order.
cDevice_Entry oWhole_Device(const QString &qsDisk_Object, const QMap<QString, cDevice_Entry> &qmapEntries,
                            const QMap<QString, QString> &qmapTable_Of)
{
    cDevice_Entry oDisk = qmapEntries.value(qsDisk_Object);
    for (auto jt = qmapTable_Of.constBegin(); jt != qmapTable_Of.constEnd(); ++jt) {
        // A crypt device may point at its partition: follow up to the whole device.
        QString qsTable = jt.value();
        for (int iDepth = 0; iDepth < 4 && qmapTable_Of.contains(qsTable); ++iDepth)
            qsTable = qmapTable_Of.value(qsTable);
        if (qsTable != qsDisk_Object)
            continue;
        cDevice_Entry oPart = qmapEntries.value(jt.key());
        oPart.qsDisk = oDisk.qsPath;
        oDisk.qvParts << oPart;
    }
    std::sort(oDisk.qvParts.begin(), oDisk.qvParts.end(),
              [](const cDevice_Entry &oA, const cDevice_Entry &oB) { return oA.qsPath < oB.qsPath; });
    vMark_System(oDisk);
    return oDisk;
}

} // namespace

bool bUDisks_Devices(QVector<cDevice_Entry> *pqvDevices, QString *pqsError)
{
    tObjects qmapObjects;
    if (!bManaged_Objects(&qmapObjects, pqsError))
        return false;
    QMap<QString, QString> qmapTable_Of;
    const QMap<QString, cDevice_Entry> qmapEntries = qmapBlock_Entries(qmapObjects, &qmapTable_Of);
    pqvDevices->clear();
    for (auto it = qmapEntries.constBegin(); it != qmapEntries.constEnd(); ++it)
        if (!qmapTable_Of.contains(it.key()))
            *pqvDevices << oWhole_Device(it.key(), qmapEntries, qmapTable_Of);
    vSort_Devices(*pqvDevices);
    return true;
}

bool bUDisks_Mount(const QString &qsObject_Path, QString *pqsMount, QString *pqsError)
{
    QDBusConnection qBus = QDBusConnection::systemBus();
    if (!qBus.isConnected() || qsObject_Path.isEmpty()) {
        *pqsError = "UDisks2 недоступна: смонтируйте раздел сами (например, открыв его в файловом менеджере)";
        return false;
    }
    QDBusMessage qCall = QDBusMessage::createMethodCall(pcService, qsObject_Path, pcFilesystem, "Mount");
    qCall << QVariantMap();
    const QDBusReply<QString> qReply = qBus.call(qCall, QDBus::Block, 60000);
    if (!qReply.isValid()) {
        *pqsError = qReply.error().message();
        return false;
    }
    *pqsMount = qReply.value();
    return true;
}
