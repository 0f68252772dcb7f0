// Choosing the medium: the list of devices from lsblk (a captured answer and real loop
// devices), --list, the chooser window, --choose, and the launcher when it cannot get root.
#include "Functions_Batch.h"
#include "Functions_Chooser.h"
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "support.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

class tst_Chooser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void options_data();
    void options();
    void realStick();
    void udisksEmpty();
    void dialog_data();
    void dialog();
    void launcher();
    void noDisplay_data();
    void noDisplay();
};

// A laptop as lsblk 2.38 answers: the system on NVMe, a USB stick, an SD card, an empty loop
// device, a CD drive and zram swap.
static const char *const pcLaptop = R"({"blockdevices": [
 {"name":"loop0","path":"/dev/loop0","type":"loop","size":0,"vendor":null,"model":null,"tran":null,"rm":false,
  "hotplug":false,"mountpoint":null,"fstype":null,"pkname":null},
 {"name":"sr0","path":"/dev/sr0","type":"rom","size":1073741312,"vendor":"HL-DT-ST","model":"DVDRAM","tran":"sata",
  "rm":true,"hotplug":false,"mountpoint":null,"fstype":null,"pkname":null},
 {"name":"mmcblk0","path":"/dev/mmcblk0","type":"disk","size":31914983424,"vendor":null,"model":null,"tran":null,
  "rm":false,"hotplug":true,"mountpoint":null,"fstype":null,"pkname":null,
  "children":[{"name":"mmcblk0p1","path":"/dev/mmcblk0p1","type":"part","size":31910789120,"vendor":null,
  "model":null,"tran":null,"rm":false,"hotplug":true,"mountpoint":null,"fstype":"exfat","label":"CARD",
  "pkname":"mmcblk0"}]},
 {"name":"zram0","path":"/dev/zram0","type":"disk","size":8589934592,"vendor":null,"model":null,"tran":null,
  "rm":false,"hotplug":false,"mountpoint":"[SWAP]","fstype":null,"pkname":null},
 {"name":"nvme0n1","path":"/dev/nvme0n1","type":"disk","size":512110190592,"vendor":null,
  "model":"Samsung SSD 980 PRO 512GB","tran":"nvme","rm":false,"hotplug":false,"mountpoint":null,"fstype":null,
  "pkname":null,"children":[
  {"name":"nvme0n1p1","path":"/dev/nvme0n1p1","type":"part","size":536870912,"vendor":null,"model":null,
   "tran":"nvme","rm":false,"hotplug":false,"mountpoint":"/boot/efi","fstype":"vfat","pkname":"nvme0n1"},
  {"name":"nvme0n1p2","path":"/dev/nvme0n1p2","type":"part","size":511571197952,"vendor":null,"model":null,
   "tran":"nvme","rm":false,"hotplug":false,"mountpoint":null,"fstype":"crypto_LUKS","pkname":"nvme0n1",
   "children":[{"name":"luks-root","path":"/dev/mapper/luks-root","type":"crypt","size":511554420736,
   "vendor":null,"model":null,"tran":null,"rm":false,"hotplug":false,"mountpoint":"/","fstype":"ext4",
   "pkname":"nvme0n1p2"}]}]},
 {"name":"sda","path":"/dev/sda","type":"disk","size":15376000000,"vendor":"SanDisk ","model":"Cruzer Blade    ",
  "tran":"usb","rm":true,"hotplug":true,"mountpoint":null,"fstype":null,"pkname":null,
  "children":[{"name":"sda1","path":"/dev/sda1","type":"part","size":15374000000,"vendor":null,"model":null,
  "tran":null,"rm":true,"hotplug":true,"mountpoint":"/media/anna/STICK","fstype":"vfat","label":"STICK",
  "pkname":"sda"}]}]})";

// lsblk before 2.33 writes every value as a string.
static const char *const pcOld_Lsblk = R"({"blockdevices": [
 {"name":"sdb","type":"disk","size":"8004829184","vendor":"Kingston","model":"DataTraveler 3.0","tran":"usb",
  "rm":"1","hotplug":"1","mountpoint":null,"fstype":null,"pkname":null}]})";

// A desktop whose system lies on the first partition, its data on the last.
static const char *const pcRoot_First = R"({"blockdevices": [
 {"name":"sda","path":"/dev/sda","type":"disk","size":2000398934016,"vendor":"ATA","model":"WDC WD20EZRZ","tran":"sata",
  "rm":false,"hotplug":false,"mountpoint":null,"fstype":null,"pkname":null,"children":[
  {"name":"sda1","path":"/dev/sda1","type":"part","size":107374182400,"vendor":null,"model":null,"tran":null,
   "rm":false,"hotplug":false,"mountpoint":"/","fstype":"ext4","pkname":"sda"},
  {"name":"sda2","path":"/dev/sda2","type":"part","size":1893023612928,"vendor":null,"model":null,"tran":null,
   "rm":false,"hotplug":false,"mountpoint":"/home","fstype":"ext4","pkname":"sda"}]}]})";

// Each device as "path size transport disk mount system", whole devices unindented.
static QStringList qslSummary(const QVector<cDevice_Entry> &qvDevices)
{
    QStringList qslResult;
    auto vAdd = [&](const cDevice_Entry &oEntry, const QString &qsIndent) {
        qslResult << qsIndent + QStringList{oEntry.qsPath,      QString::number(oEntry.qui64Bytes),
                                            oEntry.qsTransport, oEntry.qsDisk,
                                            oEntry.qsMount,     oEntry.bSystem ? "system" : "-"}
                                    .join(' ');
    };
    for (const cDevice_Entry &oDisk : qvDevices) {
        vAdd(oDisk, "");
        for (const cDevice_Entry &oPart : oDisk.qvParts)
            vAdd(oPart, "  ");
    }
    return qslResult;
}

void tst_Chooser::parse_data()
{
    QTest::addColumn<QByteArray>("qbaJson");
    QTest::addColumn<QStringList>("qslExpected"); // empty: refused
    QTest::newRow("laptop: USB first, the system's disk last, nothing empty")
        << QByteArray(pcLaptop)
        << QStringList{"/dev/sda 15376000000 usb /dev/sda  -",
                       "  /dev/sda1 15374000000 usb /dev/sda /media/anna/STICK -",
                       "/dev/mmcblk0 31914983424  /dev/mmcblk0  -",
                       "  /dev/mmcblk0p1 31910789120  /dev/mmcblk0  -",
                       "/dev/nvme0n1 512110190592 nvme /dev/nvme0n1  system",
                       "  /dev/nvme0n1p1 536870912 nvme /dev/nvme0n1 /boot/efi system",
                       "  /dev/nvme0n1p2 511571197952 nvme /dev/nvme0n1  system",
                       "  /dev/mapper/luks-root 511554420736 nvme /dev/nvme0n1 / system"};
    QTest::newRow("the system on the first partition, not the last")
        << QByteArray(pcRoot_First)
        << QStringList{"/dev/sda 2000398934016 sata /dev/sda  system",
                       "  /dev/sda1 107374182400 sata /dev/sda / system",
                       "  /dev/sda2 1893023612928 sata /dev/sda /home system"};
    QTest::newRow("old lsblk: strings, no path")
        << QByteArray(pcOld_Lsblk) << QStringList{"/dev/sdb 8004829184 usb /dev/sdb  -"};
    QTest::newRow("not JSON") << QByteArray("lsblk: unknown column: PATH") << QStringList{};
    QTest::newRow("JSON of something else") << QByteArray(R"({"devices": []})") << QStringList{};
}

void tst_Chooser::parse()
{
    QFETCH(QByteArray, qbaJson);
    QFETCH(QStringList, qslExpected);
    QVector<cDevice_Entry> qvDevices;
    QString qsError;
    QCOMPARE(bParse_Lsblk(qbaJson, &qvDevices, &qsError), !qslExpected.isEmpty());
    if (qslExpected.isEmpty()) {
        QVERIFY2(qsError.startsWith("ответ lsblk не похож на список устройств"), qPrintable(qsError));
        return;
    }
    QCOMPARE(qslSummary(qvDevices), qslExpected);
    // The command line shows the same, in Russian; scripts get the partitions under their disk.
    const QString qsText = qsDevices_Text(qvDevices);
    QVERIFY2(qsText.startsWith(qsDevice_Line(qvDevices[0])), qPrintable(qsText));
    if (qvDevices.size() > 2) {
        // A whole device is where its partitions are; a partition names its label.
        QVERIFY2(qsText.contains("/dev/sda, 14,3 ГиБ, USB, SanDisk Cruzer Blade, съёмный, разделы смонтированы в "
                                 "/media/anna/STICK\n"
                                 "  /dev/sda1, 14,3 ГиБ, vfat, метка «STICK», смонтирован в /media/anna/STICK\n"),
                 qPrintable(qsText));
        QVERIFY(qsText.contains("/dev/mmcblk0, 29,7 ГиБ, подключение неизвестно, съёмный, разделы не смонтированы\n"
                                "  /dev/mmcblk0p1, 29,7 ГиБ, exfat, метка «CARD», не смонтирован\n"));
        QVERIFY(qsText.contains("/dev/nvme0n1, 476,9 ГиБ, NVME, Samsung SSD 980 PRO 512GB, разделы смонтированы в "
                                "/boot/efi, /, СИСТЕМНЫЙ ДИСК"));
        const QJsonArray qjList = qjDevices(qvDevices);
        QCOMPARE(qjList[0]["partitions"][0]["mountpoint"].toString(), QString("/media/anna/STICK"));
        QCOMPARE(qjList[0]["partitions"][0]["label"].toString(), QString("STICK"));
        QCOMPARE(qjList[0]["partitions"][0]["fstype"].toString(), QString("vfat"));
        QCOMPARE(qjList[2]["system"].toBool(), true);
        QCOMPARE(qsFirst_Mount(qvDevices[2]), QString("/boot/efi"));
    }
}

void tst_Chooser::options_data()
{
    QTest::addColumn<QStringList>("qslArguments");
    QTest::addColumn<int>("iExit"); // -1: goes on
    QTest::addColumn<bool>("bChoose");
    QTest::addColumn<bool>("bList");
    QTest::newRow("--choose") << QStringList{"--choose"} << -1 << true << false;
    QTest::newRow("--choose with --device: chosen already")
        << QStringList{"--choose", "--device", "/dev/sdc"} << -1 << false << false;
    QTest::newRow("--choose with --volume") << QStringList{"--choose", "--volume", "/mnt"} << -1 << false << false;
    QTest::newRow("bare: the fixed paths") << QStringList{} << -1 << false << false;
    QTest::newRow("--list --json") << QStringList{"--list", "--json"} << -1 << false << true;
    QTest::newRow("--list with --batch") << QStringList{"--list", "--batch", "poll"} << 2 << false << true;
    QTest::newRow("--choose with --batch") << QStringList{"--choose", "--batch", "poll"} << 2 << false << false;
    QTest::newRow("--json alone") << QStringList{"--json"} << 2 << false << false;
    QTest::newRow("--quiet with --list") << QStringList{"--list", "--quiet"} << 2 << false << true;
}

void tst_Chooser::options()
{
    QFETCH(QStringList, qslArguments);
    QFETCH(int, iExit);
    QFETCH(bool, bChoose);
    QFETCH(bool, bList);
    cOptions oOptions;
    QCOMPARE(iParse_Options(QStringList{"fillscan"} + qslArguments, oOptions, false), iExit);
    if (iExit != -1)
        return;
    QCOMPARE(oOptions.bChoose, bChoose);
    QCOMPARE(oOptions.bList, bList);
    QCOMPARE(eApp_For(oOptions), bList ? eApp_Core : eApp_Widgets);
    if (qslArguments.isEmpty())
        QCOMPARE(oOptions.qsDevice + " " + oOptions.qsVolume, QString("/dev/sdb /documents_hdd/"));
}

// Runs the tool; its standard output. qsBus: the system bus it is to use, when not the machine's.
static QString qsTool(const QStringList &qslArguments, int *piExit, const QString &qsBus = QString())
{
    QProcess qProcess;
    if (!qsBus.isEmpty()) {
        QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
        qEnvironment.insert("DBUS_SYSTEM_BUS_ADDRESS", qsBus);
        qProcess.setProcessEnvironment(qEnvironment);
    }
    qProcess.start(FILLSCAN_TOOL, qslArguments);
    qProcess.waitForFinished(60000);
    *piExit = qProcess.exitStatus() == QProcess::NormalExit ? qProcess.exitCode() : -1;
    return QString::fromUtf8(qProcess.readAllStandardOutput());
}

void tst_Chooser::realStick()
{
    // A stick made of a loop device: MBR, exFAT on its partition, mounted. The list, --list
    // and --list --json all show it with its partition and mount point.
    NEED_LOOP();
    NEED_PROGRAMS("sfdisk", "partx", "lsblk", "mkfs.exfat", "mount.exfat-fuse");
    cLoop_Device oStick;
    QVERIFY_MADE(oStick.qsCreate_Stick(64 * 1048576, "exfat"));
    const QString qsMount = oStick.qsMount.chopped(1);
    QVector<cDevice_Entry> qvDevices;
    eDevice_Source eSource = eSource_Lsblk;
    QString qsError;
    QVERIFY2(bList_Devices(&qvDevices, &eSource, &qsError), qPrintable(qsError));
    const QStringList qslAll = qslSummary(qvDevices);
    const int iDisk = qslAll.indexOf(QRegularExpression("^" + oStick.qsDevice + " 67108864 .*"));
    QVERIFY2(iDisk >= 0, qPrintable(qslAll.join('\n')));
    QCOMPARE(qslAll.value(iDisk + 1),
             "  " + oStick.qsPartition + " 66060288  " + oStick.qsDevice + " " + qsMount + " -");

    int iExit = 0;
    const QString qsText = qsTool({"--list"}, &iExit);
    QCOMPARE(iExit, 0);
    QVERIFY2(qsText.contains(oStick.qsDevice + ", 64,0 МиБ, образ (loop), разделы смонтированы в " + qsMount + "\n  " +
                             oStick.qsPartition + ", 63,0 МиБ, ") &&
                 qsText.contains("смонтирован в " + qsMount + "\n"),
             qPrintable(qsText));
    // As scripts see it; also on a system bus where no UDisks2 runs (a desktop without it).
    QProcess qBus;
    QString qsBus;
    if (qsMissing_Program({"dbus-daemon"}).isEmpty()) {
        qBus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        qBus.waitForReadyRead(10000);
        qsBus = QString::fromUtf8(qBus.readLine()).trimmed();
        QVERIFY2(qsBus.contains("unix:"), "dbus-daemon gave no address");
    }
    for (const QString &qsSystem_Bus : {QString(), qsBus}) {
        const QJsonObject qjList =
            QJsonDocument::fromJson(qsTool({"--list", "--json"}, &iExit, qsSystem_Bus).toUtf8()).object();
        QCOMPARE(iExit, 0);
        QCOMPARE(qjList["source"].toString(),
                 QString(eSource == eSource_UDisks && qsSystem_Bus.isEmpty() ? "udisks2" : "lsblk"));
        bool bFound = false;
        for (const QJsonValue &qjDisk : qjList["devices"].toArray())
            if (qjDisk["path"].toString() == oStick.qsDevice) {
                bFound = true;
                QCOMPARE(qjDisk["partitions"][0]["path"].toString(), oStick.qsPartition);
                QCOMPARE(qjDisk["partitions"][0]["mountpoint"].toString(), qsMount);
                QCOMPARE(qjDisk["partitions"][0]["disk"].toString(), oStick.qsDevice);
            }
        QVERIFY(bFound);
    }
    if (qBus.state() != QProcess::NotRunning) {
        qBus.terminate();
        qBus.waitForFinished(5000);
    }

    // The window: the stick's partition chosen gives its whole device and the mount point.
    cBox_Answerer oAnswerer;
    cChooser_Dialog oChooser;
    auto *qTree = oChooser.findChild<QTreeWidget *>("treeWidget_Devices");
    const QList<QTreeWidgetItem *> qlItems =
        qTree->findItems(oStick.qsPartition, Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(qlItems.size(), 1);
    qTree->setCurrentItem(qlItems.first());
    oChooser.findChild<QPushButton *>("pushButton_Choose")->click();
    QCOMPARE(oChooser.result(), int(QDialog::Accepted));
    QCOMPARE(oChooser.qsDevice(), oStick.qsDevice);
    QCOMPARE(oChooser.qsVolume(), oStick.qsMount);
    QVERIFY(oAnswerer.qslHeadings.isEmpty());
}

namespace {

// UDisks2 as udisksd answers without udev's database: on the bus, knowing no block device.
class cEmpty_UDisks : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &qMessage, const QDBusConnection &qConnection) override
    {
        if (qMessage.member() != "GetManagedObjects")
            return false;
        using tObjects = QMap<QDBusObjectPath, QMap<QString, QVariantMap>>;
        qDBusRegisterMetaType<QMap<QString, QVariantMap>>();
        qDBusRegisterMetaType<tObjects>();
        return qConnection.send(qMessage.createReply(QVariant::fromValue(tObjects())));
    }
};

} // namespace

void tst_Chooser::udisksEmpty()
{
    // The list falls back to lsblk, and says why, where UDisks2 answers with no device at all.
    NEED_PROGRAMS("dbus-daemon", "lsblk");
    QProcess qBus;
    qBus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY(qBus.waitForReadyRead(10000));
    const QString qsBus = QString::fromUtf8(qBus.readLine()).trimmed();
    QVERIFY2(qsBus.contains("unix:"), "dbus-daemon gave no address");
    {
        QDBusConnection qStub = QDBusConnection::connectToBus(qsBus, "udisks-stub");
        cEmpty_UDisks oStub;
        QVERIFY(qStub.registerService("org.freedesktop.UDisks2"));
        QVERIFY(qStub.registerVirtualObject("/org/freedesktop/UDisks2", &oStub));
        for (const bool bJson : {true, false}) {
            QProcess qTool;
            QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
            qEnvironment.insert("DBUS_SYSTEM_BUS_ADDRESS", qsBus);
            qTool.setProcessEnvironment(qEnvironment);
            qTool.start(FILLSCAN_TOOL, bJson ? QStringList{"--list", "--json"} : QStringList{"--list"});
            // The stub answers from this thread's events while the tool waits.
            QVERIFY(bWait_For([&] { return qTool.state() == QProcess::NotRunning; }, 30000));
            QCOMPARE(qTool.exitCode(), 0);
            const QByteArray qbaOut = qTool.readAllStandardOutput();
            const QString qsErr = QString::fromUtf8(qTool.readAllStandardError());
            if (bJson) {
                const QJsonObject qjList = QJsonDocument::fromJson(qbaOut).object();
                QCOMPARE(qjList["source"].toString(), QString("lsblk"));
                QCOMPARE(qjList["udisks2_empty"].toBool(), true);
                QVERIFY2(!qjList["devices"].toArray().isEmpty(), qbaOut.constData()); // lsblk sees this machine's
            } else {
                QVERIFY2(qsErr.startsWith("UDisks2 работает, но не знает ни одного носителя"), qPrintable(qsErr));
                QVERIFY(qbaOut.startsWith("/dev/"));
            }
        }
        qStub.unregisterObject("/org/freedesktop/UDisks2");
    }
    QDBusConnection::disconnectFromBus("udisks-stub");
    qBus.terminate();
    QVERIFY(qBus.waitForFinished(5000));
}

void tst_Chooser::dialog_data()
{
    QTest::addColumn<QString>("qsItem");   // the row chosen
    QTest::addColumn<int>("iAnswer");      // to each question
    QTest::addColumn<QString>("qsChosen"); // device and volume, empty when the window stays
    QTest::addColumn<QStringList>("qslHeadings");
    QTest::addColumn<QString>("qsSaid"); // the first box's text begins, or the target for the window
    QTest::newRow("the stick's partition")
        << "/dev/sda1" << 0 << "/dev/sda /media/anna/STICK/" << QStringList{}
        << "Проверяется носитель /dev/sda (14,3 ГиБ, SanDisk Cruzer Blade), заполняется раздел /media/anna/STICK/ "
           "(/dev/sda1, vfat, метка «STICK»)";
    QTest::newRow("the stick itself: its mounted partition")
        << "/dev/sda" << 0 << "/dev/sda /media/anna/STICK/" << QStringList{}
        << "Проверяется носитель /dev/sda (14,3 ГиБ, SanDisk Cruzer Blade), заполняется раздел /media/anna/STICK/ "
           "(/dev/sda1, vfat, метка «STICK»)";
    QTest::newRow("an unmounted card, no UDisks2 to mount it")
        << "/dev/mmcblk0p1" << 0 << "" << QStringList{"Раздел не смонтирован."} << "Раздел /dev/mmcblk0p1 не смонтирован";
    QTest::newRow("the card itself: its one partition, no UDisks2")
        << "/dev/mmcblk0" << 0 << "" << QStringList{"Раздел не смонтирован."} << "Раздел /dev/mmcblk0p1 не смонтирован";
    QTest::newRow("the card itself, UDisks2 could mount its partition: no")
        << "/dev/mmcblk0 udisks" << iMsgBox_No_Button << "" << QStringList{"Раздел не смонтирован."}
        << "Смонтировать /dev/mmcblk0p1 «CARD»?";
    QTest::newRow("the system's disk, no")
        << "/dev/nvme0n1p1" << iMsgBox_No_Button << "" << QStringList{"Это системный диск."} << "/dev/nvme0n1 — диск";
    QTest::newRow("the system's disk, yes")
        << "/dev/mapper/luks-root" << iMsgBox_Yes_Button << "/dev/nvme0n1 /" << QStringList{"Это системный диск."}
        << "Проверяется носитель /dev/nvme0n1 (476,9 ГиБ, Samsung SSD 980 PRO 512GB), заполняется раздел / "
           "(/dev/mapper/luks-root, ext4)";
}

void tst_Chooser::dialog()
{
    QFETCH(QString, qsItem);
    QFETCH(int, iAnswer);
    QFETCH(QString, qsChosen);
    QFETCH(QStringList, qslHeadings);
    QFETCH(QString, qsSaid);
    QVector<cDevice_Entry> qvDevices;
    QString qsError;
    QVERIFY(bParse_Lsblk(pcLaptop, &qvDevices, &qsError));
    if (qsItem.endsWith(" udisks")) { // as UDisks2 lists it: its file system can be mounted
        qsItem.chop(7);
        qvDevices[1].qvParts[0].qsObject = "/org/freedesktop/UDisks2/block_devices/mmcblk0p1";
    }
    cBox_Answerer oAnswerer([&](QMessageBox *qBox) {
        if (iAnswer == 0)
            return qBox->buttons().first()->click();
        if (qBox->text() == "Это системный диск.") // the safe answer first
            QCOMPARE(qBox->defaultButton(), qBox->button(QMessageBox::No));
        qBox->button(QMessageBox::StandardButton(iAnswer * 1024))->click();
    });
    cChooser_Dialog oChooser;
    oChooser.vShow_Devices(qvDevices, "");
    auto *qTree = oChooser.findChild<QTreeWidget *>("treeWidget_Devices");
    QCOMPARE(qTree->currentItem()->text(0), QString("/dev/sda")); // a stick, never the system, comes chosen
    QCOMPARE(qTree->topLevelItem(2)->text(0), QString("/dev/nvme0n1 (системный диск)"));
    qTree->setCurrentItem(qTree->findItems(qsItem, Qt::MatchStartsWith | Qt::MatchRecursive).value(0));
    oChooser.findChild<QPushButton *>("pushButton_Choose")->click();
    QCOMPARE(oAnswerer.qslHeadings, qslHeadings);
    QCOMPARE(oChooser.result() == QDialog::Accepted, !qsChosen.isEmpty());
    if (!qsChosen.isEmpty()) {
        QCOMPARE(oChooser.qsDevice() + " " + oChooser.qsVolume(), qsChosen);
        QCOMPARE(oChooser.qsTarget(), qsSaid);
    } else {
        QVERIFY2(oAnswerer.qslMessages.value(0).startsWith(qsSaid), qPrintable(oAnswerer.qslMessages.value(0)));
    }
}

void tst_Chooser::launcher()
{
    // Where pkexec is missing or cannot ask for the password, the launcher opens a window that
    // says what is needed, and why it failed, instead of nothing.
    const QString qsLauncher = QString(FILLSCAN_SOURCE_DIR) + "/packaging/fillscan-launcher";
    if (qsMissing_Program({"pkexec"}).isEmpty() && QFile::exists("/run/dbus/system_bus_socket"))
        QSKIP("pkexec and a system bus are here: the launcher could really start the tool as root");
    QTemporaryDir qDir;
    QVERIFY(QFile::copy(qsLauncher, qDir.filePath("fillscan-launcher")));
    // A copy, not a link: the build tree may lie where the desktop user cannot go.
    QVERIFY(QFile::copy(FILLSCAN_TOOL, qDir.filePath("fillscan")));
    QVERIFY(QFile::setPermissions(qDir.filePath("fillscan"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                                 QFile::ReadOther | QFile::ExeOther));
    QProcess qLauncher;
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    qEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
    qEnvironment.remove("XDG_RUNTIME_DIR");
    qLauncher.setProcessEnvironment(qEnvironment);
    // Root needs no pkexec (the launcher starts the chooser at once): run it as a desktop user.
    QStringList qslCommand = {"sh", qDir.filePath("fillscan-launcher")};
    if (geteuid() == 0) {
        NEED_PROGRAMS("runuser");
        if (!getpwnam("nobody"))
            QSKIP("no user nobody to run the launcher as");
        QVERIFY(QFile::setPermissions(qDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                       QFile::ReadOther | QFile::ExeOther));
        qslCommand = QStringList{"runuser", "-u", "nobody", "--"} + qslCommand;
    }
    qLauncher.start(qslCommand.takeFirst(), qslCommand);
    QVERIFY(qLauncher.waitForStarted());
    QByteArray qbaError;
    QElapsedTimer qTimer;
    qTimer.start();
    while (!qbaError.contains("sudo fillscan") && qTimer.elapsed() < 30000 && qLauncher.state() == QProcess::Running) {
        qLauncher.waitForReadyRead(200);
        qbaError += qLauncher.readAllStandardError();
    }
    // The box is open now (the text goes to the terminal before it): the tool waits in it.
    QTest::qWait(300);
    const bool bStill_Open = qLauncher.state() == QProcess::Running;
    qLauncher.terminate();
    qLauncher.waitForFinished(10000);
    const QString qsError = QString::fromUtf8(qbaError);
    QVERIFY2(qsError.contains("Программе fillscan нужны права администратора.") && qsError.contains("pkexec"),
             qPrintable(qsError));
    QVERIFY(bStill_Open);
}

void tst_Chooser::noDisplay_data()
{
    QTest::addColumn<QStringList>("qslArguments");
    QTest::newRow("--choose") << QStringList{"--choose"};
    QTest::newRow("the window on a device") << QStringList{"--device", "/dev/null", "--volume", "/tmp"};
}

void tst_Chooser::noDisplay()
{
    // A window mode on a server: said in Russian, with the way to batch mode, not Qt's abort.
    QFETCH(QStringList, qslArguments);
    const cTool_Run oRun = oTool(qslArguments); // no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM
    QCOMPARE(oRun.iExit, 1);
    QVERIFY2(oRun.qsErr.contains("Окну нужен графический дисплей") && oRun.qsErr.contains("--batch poll,fill,read"),
             qPrintable(oRun.qsErr));
    QVERIFY2(!oRun.qsErr.contains("qt.qpa") && !oRun.qsErr.contains("Aborted"), qPrintable(oRun.qsErr));
}

QTEST_MAIN(tst_Chooser)
#include "tst_chooser.moc"
