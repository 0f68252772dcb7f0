// Batch mode: the real tool run headless on loop devices, its output, exit codes and signals.
#include "Functions_Data.h"
#include "support.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <csignal>

class tst_Batch : public QObject
{
    Q_OBJECT

private slots:
    void pollFillRead();
    void failures_data();
    void failures();
    void interrupt_data();
    void interrupt();
    void noDisplay();
};

class cTool_Run
{
public:
    int iExit = -1;
    QString qsOut, qsErr;
};

static cTool_Run oTool(const QStringList &qslArguments, const QProcessEnvironment &qEnvironment = QProcessEnvironment::systemEnvironment())
{
    QProcess qProcess;
    qProcess.setProcessEnvironment(qEnvironment);
    qProcess.start(FILLSCAN_TOOL, qslArguments);
    qProcess.waitForFinished(180000);
    cTool_Run oResult;
    oResult.iExit = qProcess.exitStatus() == QProcess::NormalExit ? qProcess.exitCode() : -1;
    oResult.qsOut = QString::fromUtf8(qProcess.readAllStandardOutput());
    oResult.qsErr = QString::fromUtf8(qProcess.readAllStandardError());
    return oResult;
}

void tst_Batch::pollFillRead()
{
    NEED_LOOP();
    cLoop_Device oLoop;
    const QString qsError = oLoop.qsCreate(64 * 1048576, 4096, "ext4");
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    const QStringList qslDevice = qsRun("blockdev", {"--getss", "--getsize", "--getsize64", oLoop.qsDevice}).split('\n');
    const QStringList qslVolume = qsRun("stat", {"-f", "-c", "%S %b %f", oLoop.qsMount}).split(' ');
    const QString qsMap = oLoop.qTemp.filePath("map.png");
    const cTool_Run oJson = oTool({"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,fill,read",
                             "--json", "--map", qsMap});
    QCOMPARE(oJson.iExit, 0);
    const QStringList qslLines = oJson.qsOut.trimmed().split('\n');
    QCOMPARE(qslLines.size(), 3);
    const QJsonObject qjPoll = QJsonDocument::fromJson(qslLines[0].toUtf8()).object();
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qslLines[2].toUtf8()).object();
    QCOMPARE(qjPoll["step"].toString(), QString("poll"));
    QCOMPARE(qjPoll["device"]["name"].toString(), oLoop.qsDevice);
    QCOMPARE(qjPoll["device"]["sector_size"].toInt(), qslDevice[0].toInt());
    QCOMPARE(quint64(qjPoll["device"]["sectors_count"].toDouble()), qslDevice[1].toULongLong());
    QCOMPARE(quint64(qjPoll["device"]["bytes_count"].toDouble()), qslDevice[2].toULongLong());
    QCOMPARE(qjPoll["volume"]["cluster_size"].toInt(), qslVolume[0].toInt());
    QCOMPARE(quint64(qjPoll["volume"]["clusters_count"].toDouble()), qslVolume[1].toULongLong());
    QCOMPARE(quint64(qjPoll["volume"]["clusters_free_count"].toDouble()), qslVolume[2].toULongLong());
    cData oExpected;
    oExpected.vGet_Properties(qslVolume[1].toULongLong(), qslVolume[0].toInt());
    QCOMPARE(qjPoll["data"]["pattern_decimal"].toString(), QString::number(oExpected.qui64Pattern));

    QCOMPARE(qjFill["status"].toString(), QString("full"));
    const quint64 qui64File_Words = quint64(QFileInfo(oLoop.qsMount + "data.data").size()) / 8;
    QCOMPARE(quint64(qjFill["words_written"].toDouble()), qui64File_Words);
    QCOMPARE(qjRead["status"].toString(), QString("done"));
    QCOMPARE(quint64(qjRead["fill_file"]["words"].toDouble()), qui64File_Words);
    QCOMPARE(quint64(qjRead["fill_file"]["found"].toDouble()), qui64File_Words);
    QCOMPARE(qjRead["fill_file"]["missing_first_ranges"].toArray().size(), 0);
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    QCOMPARE(qjRead["verdict"].toString(), QString("intact"));
    QCOMPARE(qjRead["placement"].toString(), QString("known"));
    QCOMPARE(quint64(qjRead["in_place"].toDouble()), qui64File_Words);
    QImage qMap(qsMap);
    QVERIFY(!qMap.isNull() && qMap.width() > 800);

    // The same steps for a person: the window's captions and summaries.
    const cTool_Run oText = oTool({"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,fill,read"});
    QCOMPARE(oText.iExit, 0);
    for (const QString &qsLine : QStringList{"Носитель:\n", "  Системное имя: " + oLoop.qsDevice + "\n",
                                  "  Размер сектора: 4096\n", "Раздел:\n", "  Размер кластера: " + qslVolume[0] + "\n",
                                  QString("Данные\n"), "Заполнение завершено.\n", "Чтение завершено.\nДанные целы: все "})
        QVERIFY2(oText.qsOut.contains(qsLine), qPrintable(qsLine));
}

void tst_Batch::failures_data()
{
    QTest::addColumn<QStringList>("qslArguments");
    QTest::addColumn<int>("iExit");
    QTest::addColumn<QString>("qsError");
    QTest::newRow("device cannot be opened")
        << QStringList{"--device", "/nonexistent/disk", "--volume", "/tmp", "--batch", "poll"} << 1
        << "Ошибка!\nНе удалось открыть носитель. Скорее всего, бинарнику не присвоены пользователь root и права 777.\n";
    QTest::newRow("fill before any poll") << QStringList{"--batch", "fill"} << 1
                                          << "Раздел не опрошен: сначала выполните шаг poll";
    QTest::newRow("unknown step") << QStringList{"--batch", "poll,erase"} << 2 << "неизвестный шаг \"erase\"";
    QTest::newRow("unknown option") << QStringList{"--batch", "poll", "--erase-all"} << 2 << "Unknown option 'erase-all'";
    QTest::newRow("--json without --batch") << QStringList{"--json"} << 2 << "действуют только вместе с --batch";
}

void tst_Batch::failures()
{
    QFETCH(QStringList, qslArguments);
    QFETCH(int, iExit);
    QFETCH(QString, qsError);
    const cTool_Run oResult = oTool(qslArguments);
    QCOMPARE(oResult.iExit, iExit);
    QVERIFY2(oResult.qsErr.contains(qsError), qPrintable(oResult.qsErr));
    QVERIFY(!oResult.qsErr.contains("_____")); // no separator line on a terminal
    if (iExit == 2)
        QVERIFY(oResult.qsErr.contains("--batch <STEPS>")); // the usage text
}

void tst_Batch::interrupt_data()
{
    QTest::addColumn<int>("iSignal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void tst_Batch::interrupt()
{
    NEED_LOOP();
    QFETCH(int, iSignal);
    cLoop_Device oLoop;
    const QString qsError = oLoop.qsCreate(4096ULL * 1048576, 4096, "ext4");
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    QProcess qProcess;
    qProcess.start(FILLSCAN_TOOL, {"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,fill,read",
                                   "--json", "--quiet"});
    QVERIFY(qProcess.waitForStarted());
    const QString qsFill = oLoop.qsMount + "data.data";
    QElapsedTimer qTimer;
    qTimer.start();
    while (QFileInfo(qsFill).size() < 64 * 1048576 && qTimer.elapsed() < 60000)
        QTest::qWait(20);
    kill(pid_t(qProcess.processId()), iSignal);
    QVERIFY(qProcess.waitForFinished(60000));
    QCOMPARE(qProcess.exitCode(), 128 + iSignal);
    const QStringList qslLines = QString::fromUtf8(qProcess.readAllStandardOutput()).trimmed().split('\n');
    QCOMPARE(qslLines.size(), 2); // poll and the cut fill; the read never starts
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    QCOMPARE(qjFill["status"].toString(), QString("cancelled"));
    const quint64 qui64Words = quint64(qjFill["words_written"].toDouble());
    QCOMPARE(quint64(QFileInfo(qsFill).size()), qui64Words * 8);
    QVERIFY(qui64Words * 8 < 4000ULL * 1048576);
    // Whole words of the sequence, up to the last one.
    const quint64 qui64Pattern = qjFill["pattern_decimal"].toString().toULongLong();
    QFile qFile(qsFill);
    QVERIFY(qFile.open(QIODevice::ReadOnly));
    QCOMPARE(qFromBigEndian<quint64>(qFile.read(8).constData()), qui64Pattern);
    QVERIFY(qFile.seek(qint64(qui64Words - 1) * 8));
    QCOMPARE(qFromBigEndian<quint64>(qFile.read(8).constData()), qui64Pattern + qui64Words - 1);
}

void tst_Batch::noDisplay()
{
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char *pcName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qEnvironment.remove(pcName);
    QTemporaryDir qDir;
    QFile qImage(qDir.filePath("disk.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(1 << 20));
    qImage.close();
    const cTool_Run oPoll = oTool({"--device", qImage.fileName(), "--volume", qDir.path(), "--batch", "poll", "--json"},
                            qEnvironment);
    QCOMPARE(oPoll.iExit, 0);
    QCOMPARE(QJsonDocument::fromJson(oPoll.qsOut.toUtf8()).object().value("device")["bytes_count"].toInt(), 1 << 20);
    const cTool_Run oHelp = oTool({"--help"}, qEnvironment);
    QCOMPARE(oHelp.iExit, 0);
    QVERIFY(oHelp.qsOut.contains("--device <PATH>"));
}

QTEST_MAIN(tst_Batch)
#include "tst_batch.moc"
