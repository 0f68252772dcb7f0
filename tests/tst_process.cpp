// The command runner with real commands, and formatting through a stand-in mkfs.
#include "Functions_Core.h"
#include "Functions_Drive.h"
#include "support.h"

#include <QStandardPaths>
#include <QtTest>

class tst_Process : public QObject
{
    Q_OBJECT

private slots:
    void output_data();
    void output();
    void failures_data();
    void failures();
    void format_data();
    void format();
};

void tst_Process::output_data()
{
    QTest::addColumn<QString>("qsCommand");
    QTest::addColumn<QStringList>("qslExpected");
    QTest::newRow("two lines") << "printf \"a\\nb\\n\"" << QStringList{"a", "b", ""};
    QTest::newRow("no output") << "true" << QStringList{""};
    QTest::newRow("CR LF keeps CR") << "printf \"a\\r\\nb\\r\\n\"" << QStringList{"a\r", "b\r", ""};
    QTest::newRow("zero byte cuts") << "printf \"ab\\000cd\\n\"" << QStringList{"ab"};
    // No shell: the pipe and the redirection reach echo as words.
    QTest::newRow("pipe is a word") << "echo a | wc > out" << QStringList{"a | wc > out", ""};
    QTest::newRow("quotes group words") << "printf \"%s|%s\" \"x y\" z" << QStringList{"x y|z"};
}

void tst_Process::output()
{
    QFETCH(QString, qsCommand);
    QFETCH(QStringList, qslExpected);
    cBox_Answerer oAnswerer;
    QTemporaryDir qDir;
    QDir::setCurrent(qDir.path());
    QCOMPARE(qslProcess_Run(qsCommand, false), qslExpected);
    QCOMPARE(oAnswerer.qslMessages.size(), 0);
    QVERIFY(!QFile::exists(qDir.filePath("out")));
}

void tst_Process::failures_data()
{
    QTest::addColumn<QString>("qsCommand");
    QTest::addColumn<QString>("qsMessage_Start"); // the message after the quoted command line
    QTest::addColumn<QStringList>("qslOutput");
    QTest::addColumn<int>("iMin_Ms");
    QTest::newRow("exit code 2 after output")
        << "sh -c \"echo out; exit 2\""
        << " не отработал корректно. Код ошибки - 2." << QStringList{"out", ""} << 0;
    QTest::newRow("missing program") << "/nonexistent/program --x"
                                     << " не удалось запустить. Причина - " << QStringList{""} << 0;
    QTest::newRow("crash") << "sh -c \"echo before; kill -SEGV $$\""
                           << " завершился аварийно." << QStringList{"before", ""} << 0;
    QTest::newRow("time-out") << "sleep 10"
                              << " не завершился за отведённое время (5 с) и был остановлен." << QStringList{""}
                              << 4900;
    QTest::newRow("waits on standard input")
        << "cat"
        << " не завершился за отведённое время (5 с) и был остановлен." << QStringList{""} << 4900;
}

void tst_Process::failures()
{
    QFETCH(QString, qsCommand);
    QFETCH(QString, qsMessage_Start);
    QFETCH(QStringList, qslOutput);
    QFETCH(int, iMin_Ms);
    cBox_Answerer oAnswerer;
    QElapsedTimer qTimer;
    qTimer.start();
    QCOMPARE(qslProcess_Run(qsCommand, false), qslOutput);
    QVERIFY(qTimer.elapsed() >= iMin_Ms && qTimer.elapsed() < 9000); // ended, not left to run for 10 s
    QCOMPARE(oAnswerer.qslHeadings, QStringList{"Ошибка!"});
    const QString qsMessage = oAnswerer.qslMessages.value(0);
    const QString qsPrefix = "Запрос \"" + qsCommand + "\"" + qsMessage_Start;
    QVERIFY2(qsMessage.startsWith(qsPrefix), qPrintable(qsMessage));
    QVERIFY(qsMessage.endsWith(".\n" + QString(127, '_')));
    QCOMPARE(oAnswerer.qlIcons, QList<int>{int(QMessageBox::Critical)});
}

void tst_Process::format_data()
{
    QTest::addColumn<QString>("qsVolume");
    QTest::addColumn<int>("iFirst_Exit");
    QTest::newRow("both succeed") << "/dev/sdb1" << 0;
    QTest::newRow("first fails, second still runs") << "" << 1;
    QTest::newRow("any volume text") << "/some/other/thing" << 0;
}

void tst_Process::format()
{
    QFETCH(QString, qsVolume);
    QFETCH(int, iFirst_Exit);
    // A stand-in mkfs first on PATH records its arguments; nothing reaches a disk.
    QTemporaryDir qDir;
    const QString qsLog = qDir.filePath("mkfs.log");
    QFile qScript(qDir.filePath("mkfs"));
    QVERIFY(qScript.open(QIODevice::WriteOnly));
    qScript.write(QString("#!/bin/sh\necho \"$*\" >> '%1'\n"
                          "case \"$2\" in ntfs) exit %2;; *) exit 0;; esac\n")
                      .arg(qsLog)
                      .arg(iFirst_Exit)
                      .toUtf8());
    qScript.close();
    qScript.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray qbaPath = qgetenv("PATH");
    qputenv("PATH", qDir.path().toUtf8() + ":" + qbaPath);
    const QString qsFound = QStandardPaths::findExecutable("mkfs");
    if (qsFound != qScript.fileName()) {
        qputenv("PATH", qbaPath);
        QFAIL(qPrintable("the stand-in is not the mkfs that would run: " + qsFound));
    }
    cBox_Answerer oAnswerer;
    cDrive().vFormat(qsVolume);
    qputenv("PATH", qbaPath);

    QFile qLog(qsLog);
    QVERIFY(qLog.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(qLog.readAll()), QString("-t ntfs -c 512 -Q /dev/sdb1\n-t ext4 /dev/sdb1\n"));
    const QStringList qslExpected =
        iFirst_Exit == 0
            ? QStringList()
            : QStringList{"Запрос \"mkfs -t ntfs -c 512 -Q /dev/sdb1\" не отработал корректно. Код ошибки - 1.\n" +
                          QString(127, '_')};
    QCOMPARE(oAnswerer.qslMessages, qslExpected);
}

QTEST_MAIN(tst_Process)
#include "tst_process.moc"
