#include "Functions_Chooser.h"

#include "Functions_Core.h"

#include "Functions_Text.h"
#include "Functions_UDisks.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>

const char *const pcLsblk_Columns = "NAME,PATH,TYPE,SIZE,VENDOR,MODEL,TRAN,RM,HOTPLUG,MOUNTPOINT,FSTYPE,LABEL,PKNAME";

namespace {

// lsblk leaves blanks at the end of vendor and model, and writes null for what it lacks.
QString qsField(const QJsonObject &qjDevice, const char *pcKey)
{
    return qjDevice.value(pcKey).toString().trimmed();
}

// Older lsblk writes numbers and flags as strings ("1", "67108864").
quint64 qui64Field(const QJsonObject &qjDevice, const char *pcKey)
{
    const QJsonValue qjValue = qjDevice.value(pcKey);
    return qjValue.isString() ? qjValue.toString().toULongLong() : quint64(qjValue.toDouble());
}

bool bFlag(const QJsonObject &qjDevice, const char *pcKey)
{
    const QJsonValue qjValue = qjDevice.value(pcKey);
    return qjValue.isString() ? qjValue.toString() == "1" : qjValue.toBool();
}

cDevice_Entry oEntry(const QJsonObject &qjDevice, const QString &qsDisk)
{
    cDevice_Entry oDevice;
    oDevice.qsName = qsField(qjDevice, "name");
    oDevice.qsPath = qsField(qjDevice, "path");
    if (oDevice.qsPath.isEmpty())
        oDevice.qsPath = "/dev/" + oDevice.qsName;
    oDevice.qsType = qsField(qjDevice, "type");
    oDevice.qui64Bytes = qui64Field(qjDevice, "size");
    oDevice.qsVendor = qsField(qjDevice, "vendor");
    oDevice.qsModel = qsField(qjDevice, "model");
    oDevice.qsTransport = qsField(qjDevice, "tran");
    oDevice.bRemovable = bFlag(qjDevice, "rm") || bFlag(qjDevice, "hotplug");
    oDevice.qsMount = qsField(qjDevice, "mountpoint");
    oDevice.qsFs = qsField(qjDevice, "fstype");
    oDevice.qsLabel = qsField(qjDevice, "label");
    oDevice.qsDisk = qsDisk.isEmpty() ? oDevice.qsPath : qsDisk;
    return oDevice;
}

// Everything that lies on a whole device, depth first, flattened into its list of parts.
void vAdd_Children(const QJsonArray &qjChildren, cDevice_Entry &oDisk)
{
    for (const QJsonValue &qjChild : qjChildren) {
        oDisk.qvParts << oEntry(qjChild.toObject(), oDisk.qsPath);
        vAdd_Children(qjChild.toObject().value("children").toArray(), oDisk);
    }
}

} // namespace

bool bParse_Lsblk(const QByteArray &qbaJson, QVector<cDevice_Entry> *pqvDevices, QString *pqsError)
{
    pqvDevices->clear();
    QJsonParseError oError;
    const QJsonDocument qjDocument = QJsonDocument::fromJson(qbaJson, &oError);
    if (!qjDocument.isObject() || !qjDocument.object().value("blockdevices").isArray()) {
        *pqsError = "ответ lsblk не похож на список устройств: " +
                    (oError.error != QJsonParseError::NoError ? oError.errorString() : QString("нет blockdevices"));
        return false;
    }
    for (const QJsonValue &qjValue : qjDocument.object().value("blockdevices").toArray()) {
        const QJsonObject qjDevice = qjValue.toObject();
        cDevice_Entry oDisk = oEntry(qjDevice, QString());
        // Nothing to fill on an empty loop device, a zram swap or a CD drive.
        if (oDisk.qui64Bytes == 0 || oDisk.qsType == "rom" || oDisk.qsName.startsWith("zram") ||
            oDisk.qsName.startsWith("ram"))
            continue;
        vAdd_Children(qjDevice.value("children").toArray(), oDisk);
        vMark_System(oDisk);
        *pqvDevices << oDisk;
    }
    vSort_Devices(*pqvDevices);
    return true;
}

bool bList_Devices(QVector<cDevice_Entry> *pqvDevices, eDevice_Source *peSource, QString *pqsError)
{
    QString qsUDisks_Error;
    if (bUDisks_Devices(pqvDevices, &qsUDisks_Error) && !pqvDevices->isEmpty()) {
        *peSource = eSource_UDisks;
        return true;
    }
    // A UDisks2 that knows no device (udisksd without udev's database) would empty the list.
    const bool bUDisks_Empty = qsUDisks_Error.isEmpty();
    *peSource = bUDisks_Empty ? eSource_Lsblk_UDisks_Empty : eSource_Lsblk;
    QProcess qProcess;
    qProcess.start("lsblk", {"--json", "-b", "-o", pcLsblk_Columns});
    if (!qProcess.waitForFinished(10000) || qProcess.exitStatus() != QProcess::NormalExit || qProcess.exitCode() != 0) {
        qProcess.kill();
        *pqsError = "lsblk не ответил (" +
                    (qProcess.error() == QProcess::FailedToStart
                         ? qsStart_Failed_Why(qProcess)
                         : QString::fromLocal8Bit(qProcess.readAllStandardError()).trimmed()) +
                    ")";
        if (!qsUDisks_Error.isEmpty())
            *pqsError += "; UDisks2: " + qsUDisks_Error;
        return false;
    }
    return bParse_Lsblk(qProcess.readAllStandardOutput(), pqvDevices, pqsError);
}

QString qsFirst_Mount(const cDevice_Entry &oDevice)
{
    if (!oDevice.qsMount.isEmpty() && oDevice.qsMount != "[SWAP]")
        return oDevice.qsMount;
    for (const cDevice_Entry &oPart : oDevice.qvParts)
        if (!oPart.qsMount.isEmpty() && oPart.qsMount != "[SWAP]")
            return oPart.qsMount;
    return QString();
}

QString qsUDisks_Empty_Text()
{
    return "UDisks2 работает, но не знает ни одного носителя (нет базы udev): список от lsblk.";
}

QString qsMount_Text(const cDevice_Entry &oDevice)
{
    if (!oDevice.qsMount.isEmpty())
        return "смонтирован в " + oDevice.qsMount;
    QStringList qslParts; // a whole device is where its partitions are
    for (const cDevice_Entry &oPart : oDevice.qvParts)
        if (!oPart.qsMount.isEmpty() && oPart.qsMount != "[SWAP]")
            qslParts << oPart.qsMount;
    if (!qslParts.isEmpty())
        return "разделы смонтированы в " + qslParts.join(", ");
    return oDevice.qvParts.isEmpty() ? QString("не смонтирован") : QString("разделы не смонтированы");
}

QString qsDevice_Line(const cDevice_Entry &oDevice)
{
    QStringList qslWords = {oDevice.qsPath, qsSize_Text(oDevice.qui64Bytes)};
    if (oDevice.qsDisk == oDevice.qsPath) {
        qslWords << (oDevice.bUsb()                   ? QString("USB")
                     : !oDevice.qsTransport.isEmpty() ? oDevice.qsTransport.toUpper()
                     : oDevice.qsType == "loop"       ? QString("образ (loop)")
                                                      : QString("подключение неизвестно"));
        const QString qsMaker = (oDevice.qsVendor + " " + oDevice.qsModel).trimmed();
        if (!qsMaker.isEmpty())
            qslWords << qsMaker;
        if (oDevice.bRemovable)
            qslWords << "съёмный";
    }
    if (!oDevice.qsFs.isEmpty())
        qslWords << oDevice.qsFs;
    if (!oDevice.qsLabel.isEmpty())
        qslWords << "метка «" + oDevice.qsLabel + "»";
    qslWords << qsMount_Text(oDevice);
    if (oDevice.bSystem && oDevice.qsDisk == oDevice.qsPath)
        qslWords << "СИСТЕМНЫЙ ДИСК";
    return qsLine_Safe(qslWords.join(", ")); // a mount point may hold a line feed
}

QString qsDevices_Text(const QVector<cDevice_Entry> &qvDevices)
{
    if (qvDevices.isEmpty())
        return "Носителей не найдено.\n";
    QString qsText;
    for (const cDevice_Entry &oDisk : qvDevices) {
        qsText += qsDevice_Line(oDisk) + "\n";
        for (const cDevice_Entry &oPart : oDisk.qvParts)
            qsText += "  " + qsDevice_Line(oPart) + "\n";
    }
    return qsText;
}

namespace {

QJsonObject qjDevice(const cDevice_Entry &oDevice)
{
    QJsonObject qjResult{{"name", oDevice.qsName},
                         {"path", oDevice.qsPath},
                         {"type", oDevice.qsType},
                         {"bytes", double(oDevice.qui64Bytes)},
                         {"vendor", oDevice.qsVendor},
                         {"model", oDevice.qsModel},
                         {"transport", oDevice.qsTransport},
                         {"removable", oDevice.bRemovable},
                         {"mountpoint", oDevice.qsMount.isEmpty() ? QJsonValue() : QJsonValue(oDevice.qsMount)},
                         {"fstype", oDevice.qsFs},
                         {"label", oDevice.qsLabel},
                         {"disk", oDevice.qsDisk},
                         {"system", oDevice.bSystem}};
    if (oDevice.qsDisk == oDevice.qsPath)
        qjResult["partitions"] = qjDevices(oDevice.qvParts);
    return qjResult;
}

} // namespace

QJsonArray qjDevices(const QVector<cDevice_Entry> &qvDevices)
{
    QJsonArray qjResult;
    for (const cDevice_Entry &oDevice : qvDevices)
        qjResult.append(qjDevice(oDevice));
    return qjResult;
}
