// The word count, the "11...10" pattern and its text, from a volume's clusters.
#include "Functions_Data.h"
#include "Functions_Files.h"
#include "Functions_Report.h"
#include "Functions_Writer.h"

#include <QtTest>

#include <cerrno>

Q_DECLARE_METATYPE(cWrite_Outcome)
Q_DECLARE_METATYPE(eFill_Status)

class tst_Pattern : public QObject
{
    Q_OBJECT

private slots:
    void pattern_data();
    void pattern();
    void text_data();
    void text();
    void fillStatus_data();
    void fillStatus();
};

static QString qsLines(const int iOnes, const QString &qsLast)
{
    return QString("11111111.\n").repeated(iOnes) + qsLast;
}

void tst_Pattern::pattern_data()
{
    QTest::addColumn<int>("iCluster_Size");
    QTest::addColumn<quint64>("qui64Clusters");
    QTest::addColumn<quint64>("qui64Count");
    QTest::addColumn<quint64>("qui64Pattern");
    QTest::addColumn<QString>("qsText"); // empty: not checked here
    const quint64 one = 1;
    QTest::newRow("1 TiB") << 4096 << quint64(268435456) << quint64(137438953472) << quint64(0xFFFFFFC000000000)
                           << qsLines(3, "11000000...");
    QTest::newRow("1 TiB + 1 cluster") << 4096 << quint64(268435457) << quint64(137438953984)
                                       << quint64(0xFFFFFF8000000000) << qsLines(3, "10000000...");
    QTest::newRow("4 GB") << 4096 << quint64(1000000) << quint64(512000000) << quint64(0xFFFFFFFFC0000000)
                          << qsLines(4, "11000000...");
    QTest::newRow("512 words") << 1024 << quint64(4) << quint64(512) << quint64(0xFFFFFFFFFFFFFC00)
                               << qsLines(6, "11111100...");
    QTest::newRow("cluster 4: no words") << 4 << quint64(12345) << quint64(0) << quint64(0xFFFFFFFFFFFFFFFE)
                                         << qsLines(7, "11111110...");
    QTest::newRow("cluster 4100 loses its remainder")
        << 4100 << quint64(1000) << quint64(512000) << quint64(0xFFFFFFFFFFF00000) << qsLines(5, "11110000...");
    // Cluster size 8: one word per cluster, so the count is the cluster count.
    const QList<QPair<quint64, quint64>> qlCounts = {{0, 0xFFFFFFFFFFFFFFFE},
                                                     {1, 0xFFFFFFFFFFFFFFFE},
                                                     {2, 0xFFFFFFFFFFFFFFFC},
                                                     {3, 0xFFFFFFFFFFFFFFF8},
                                                     {4, 0xFFFFFFFFFFFFFFF8},
                                                     {64, 0xFFFFFFFFFFFFFF80},
                                                     {65, 0xFFFFFFFFFFFFFF00},
                                                     {128, 0xFFFFFFFFFFFFFF00},
                                                     {512, 0xFFFFFFFFFFFFFC00},
                                                     {(one << 36) + 1, 0xFFFFFFC000000000},
                                                     {one << 37, 0xFFFFFFC000000000},
                                                     {(one << 37) + 1, 0xFFFFFF8000000000},
                                                     {(one << 61) + 1, 0x8000000000000000},
                                                     {one << 62, 0x8000000000000000},
                                                     {(one << 62) + 1, 0},
                                                     {(one << 63) + 1, 0}};
    for (const auto &qpCount : qlCounts)
        QTest::newRow(qPrintable("n=" + QString::number(qpCount.first)))
            << 8 << qpCount.first << qpCount.first << qpCount.second << QString();
    QTest::newRow("n=128 text") << 8 << quint64(128) << quint64(128) << quint64(0xFFFFFFFFFFFFFF00)
                                << qsLines(6, "11111111...");
    QTest::newRow("n=2^62 text") << 8 << (one << 62) << (one << 62) << quint64(0x8000000000000000) << "10000000...";
    QTest::newRow("n=2^62+1 text") << 8 << (one << 62) + 1 << (one << 62) + 1 << quint64(0) << "0...";
    // 512 words per cluster × (2^55 + 1) clusters = 2^64 + 512, which wraps to 512.
    QTest::newRow("product wraps") << 4096 << (one << 55) + 1 << quint64(512) << quint64(0xFFFFFFFFFFFFFC00)
                                   << QString();
    // f_frsize beyond int turns negative: -512 words per cluster, widened with its sign.
    QTest::newRow("negative cluster size") << -4096 << quint64(1) << quint64(0) - 512 << quint64(0) << "0...";
}

void tst_Pattern::pattern()
{
    QFETCH(int, iCluster_Size);
    QFETCH(quint64, qui64Clusters);
    QFETCH(quint64, qui64Count);
    QFETCH(quint64, qui64Pattern);
    QFETCH(QString, qsText);
    cData oData;
    oData.vGet_Properties(qui64Clusters, iCluster_Size);
    QCOMPARE(oData.qui64Data_Count, qui64Count);
    QCOMPARE(QString::number(oData.qui64Pattern, 16), QString::number(qui64Pattern, 16));
    if (!qsText.isEmpty())
        QCOMPARE(oData.qsPattern, qsText);
    // The pattern's promise: no written index reaches its ones, and every word differs.
    if (qui64Pattern != 0 && qui64Count > 0 && qui64Count < (quint64(1) << 62)) {
        QCOMPARE((qui64Pattern + (qui64Count - 1)) & qui64Pattern, qui64Pattern);
        QVERIFY(qui64Pattern + (qui64Count - 1) > qui64Pattern || qui64Count == 1);
    }
}

void tst_Pattern::text_data()
{
    QTest::addColumn<quint64>("qui64Value");
    QTest::addColumn<QString>("qsText");
    QTest::newRow("5: one short line") << quint64(5) << "101...";
    QTest::newRow("256: short last group") << quint64(256) << "10000000.\n0...";
    QTest::newRow("0") << quint64(0) << "0...";
    QTest::newRow("zeros inside a group stay") << quint64(0xC0FF000000000000) << "11000000.\n11111111...";
    QTest::newRow("stops at the first zero group") << quint64(0xFF00FF0000000000) << "11111111...";
}

void tst_Pattern::text()
{
    QFETCH(quint64, qui64Value);
    QFETCH(QString, qsText);
    QCOMPARE(cData().qsText_Data(qui64Value), qsText);
}

// How the writing ended decides the fill's status and what it says, first cause first.
void tst_Pattern::fillStatus_data()
{
    QTest::addColumn<cWrite_Outcome>("oOutcome");
    QTest::addColumn<eFill_Status>("eStatus");
    QTest::addColumn<QString>("qsError");
    QTest::addColumn<int>("iErrno");
    QTest::addColumn<QString>("qsSays"); // lines of the fill's summary
    const auto oEnded = [](const quint64 qui64Words, const int iError) {
        cWrite_Outcome oOutcome;
        oOutcome.qui64Words = qui64Words;
        oOutcome.iFiles = 1;
        oOutcome.iError = iError;
        return oOutcome;
    };
    cWrite_Outcome oGone = oEnded(100, EFBIG), oClose = oEnded(100, 0), oCancel = oEnded(100, 0),
                   oLeft = oEnded(100, EIO), oLoss = oEnded(100, 0), oLoss_Closed = oEnded(100, 0);
    oGone.qsStopped = "файл data.data удалён во время заполнения";
    oGone.iClose_Error = EIO;
    oClose.iClose_Error = EIO;
    oCancel.bCancelled = true;
    oLeft.bAbandoned = true;
    cWrite_Outcome oLeft_Stopped = oLeft;
    oLeft_Stopped.bCancelled = true;
    oLoss.bLoss_Stop = true;
    oLoss_Closed.bLoss_Stop = true;
    oLoss_Closed.iClose_Error = ENOSPC;
    QTest::newRow("every word") << oEnded(100, 0) << eFill_Complete << "" << 0 << "";
    QTest::newRow("the space ended") << oEnded(100, ENOSPC) << eFill_Full << "" << 0 << "";
    QTest::newRow("a quota ended it") << oEnded(100, EDQUOT) << eFill_Full << "" << 0 << "";
    QTest::newRow("the largest file") << oEnded(100, EFBIG) << eFill_Too_Large << "" << 0 << "";
    QTest::newRow("an I/O error") << oEnded(100, EIO) << eFill_Error << qsSystem_Reason(EIO) << EIO << "";
    QTest::newRow("nothing written, full") << oEnded(0, ENOSPC) << eFill_Error
                                           << "не записано ни одного слова: " + qsSystem_Reason(ENOSPC) << 0 << "";
    QTest::newRow("nothing to write") << oEnded(0, 0) << eFill_Error << "не записано ни одного слова" << 0 << "";
    QTest::newRow("volume gone outranks the close") << oGone << eFill_Error << oGone.qsStopped << 0 << "";
    QTest::newRow("the last sync failed") << oClose << eFill_Error << qsSystem_Reason(EIO) << EIO << "";
    QTest::newRow("cancelled") << oCancel << eFill_Cancelled << "" << 0
                               << "Остановка: прервано оператором на слове 100.";
    // Writers that did not come back: the medium is blamed only where the operator did not stop it.
    QTest::newRow("writers left behind") << oLeft << eFill_Cancelled << "" << 0
                                         << "Остановка: носитель перестал отвечать на слове 100.\n"
                                            "Носитель перестал отвечать: запросы записи брошены, файл не сброшен "
                                            "на носитель.";
    QTest::newRow("writers left behind after a cancel")
        << oLeft_Stopped << eFill_Cancelled << "" << 0
        << "Остановка: прервано оператором на слове 100.\n"
           "Запросы записи не вернулись за 3,00 с после остановки: они оставлены, файл не сброшен на носитель, в "
           "счёт вошли только слова, записанные до остановки.";
    QTest::newRow("stopped at a loss") << oLoss << eFill_Loss << "" << 0 << "";
    QTest::newRow("a failed close outranks the loss") << oLoss_Closed << eFill_Error << qsSystem_Reason(ENOSPC)
                                                      << ENOSPC << "";
}

void tst_Pattern::fillStatus()
{
    QFETCH(cWrite_Outcome, oOutcome);
    QFETCH(eFill_Status, eStatus);
    QFETCH(QString, qsError);
    QFETCH(int, iErrno);
    QFETCH(QString, qsSays);
    const cFill_Result oResult = oFill_Status(oOutcome);
    QCOMPARE(oResult.eStatus, eStatus);
    QCOMPARE(oResult.qsError, qsError);
    QCOMPARE(oResult.iErrno, iErrno);
    QCOMPARE(oResult.qui64Words_Written, oOutcome.qui64Words);
    QCOMPARE(oResult.iFiles, oOutcome.iFiles);
    const QString qsSummary = qsFill_Summary(oResult);
    for (const QString &qsLine : qsSays.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(qsSummary.split('\n').contains(qsLine), qPrintable(qsSummary));
    QCOMPARE(qsSummary.contains("перестал отвечать"), oOutcome.bAbandoned && !oOutcome.bCancelled);
}

QTEST_MAIN(tst_Pattern)
#include "tst_pattern.moc"
