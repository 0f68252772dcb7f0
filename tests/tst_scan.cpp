// What the read makes of the words it sees, without a device: the scan kernels, the run
// table, the verdict, and the figures the operator reads.
#include "Functions_Placement.h"
#include "Functions_Reader.h"
#include "Functions_Verdict.h"
#include "Functions_Report.h"
#include "Functions_Steps.h"
#include "Functions_Text.h"
#include "support.h"

#include <QJsonObject>
#include <QtEndian>
#include <QtTest>

#include <thread>

#include <sys/resource.h>

typedef QVector<quint64> tWords;
typedef QVector<QVector<quint64>> tRun_List; // {first, count, offset} each
Q_DECLARE_METATYPE(tWords)
Q_DECLARE_METATYPE(tRun_List)

class tst_Scan : public QObject
{
    Q_OBJECT

private slots:
    void readBounds();
    void readFailures_data();
    void readFailures();
    void readScale();
    void kernels_data();
    void kernels();
    void runTable();
    void runTableMillions();
    void inferredPlacement_data();
    void inferredPlacement();
    void verdict_data();
    void verdict();
    void figures();
};

Q_DECLARE_METATYPE(eRead_Status)

static const quint64 P = 0xFFFFFFC000000000ULL;

static std::vector<cRun> vecRuns(const tRun_List &qvList)
{
    std::vector<cRun> vecResult;
    for (const QVector<quint64> &qv : qvList)
        vecResult.push_back({qv[0], qv[1], qv[2]});
    return vecResult;
}

static tRun_List qvList(const std::vector<cRun> &vecRuns)
{
    tRun_List qvResult;
    for (const cRun &oRun : vecRuns)
        qvResult.append({oRun.qui64First, oRun.qui64Count, oRun.qui64Offset});
    return qvResult;
}

void tst_Scan::kernels_data()
{
    QTest::addColumn<tWords>("qlWords");
    QTest::addColumn<quint64>("qui64Bound");
    QTest::addColumn<tRun_List>("qlRuns"); // at device offset 4096
    QTest::addColumn<quint64>("qui64Hits");
    tWords qlRun;
    for (quint64 i = 0; i < 21; ++i) // longer than a vector step, and not a multiple of one
        qlRun << P + 40 + i;
    QTest::newRow("nothing") << tWords(19, 0) << quint64(1000) << tRun_List() << quint64(0);
    QTest::newRow("a long run") << qlRun << quint64(1000) << tRun_List{{40, 21, 4096}} << quint64(21);
    QTest::newRow("run cut by the bound") << qlRun << quint64(50) << tRun_List{{40, 10, 4096}} << quint64(10);
    tWords qlBroken = qlRun.mid(0, 20);
    qlBroken[13] = P + 99;
    QTest::newRow("a run broken inside a vector step")
        << qlBroken << quint64(1000) << tRun_List{{40, 13, 4096}, {99, 1, 4200}, {54, 6, 4208}} << quint64(20);
    QTest::newRow("broken runs, duplicates, words below")
        << tWords{0,      P + 3, P + 4,  P + 5,  P + 9,  P + 10, P + 4,  P - 1,
                  P + 11, 7,     P + 12, P + 13, P + 14, P + 15, P + 16, 0}
        << quint64(100) << tRun_List{{3, 3, 4104}, {9, 2, 4128}, {4, 1, 4144}, {11, 1, 4160}, {12, 5, 4176}}
        << quint64(12);
    QTest::newRow("a match after eight misses")
        << tWords{1, 2, 3, 4, 5, 6, 7, 8, 9, P + 2} << quint64(100) << tRun_List{{2, 1, 4168}} << quint64(1);
    // Indexes of words far below the pattern wrap to 2^63 and more: never "negative", never found.
    const quint64 W = 0x8000000000000000ULL;
    QTest::newRow("matches inside vector steps, wrapped indexes around them")
        << tWords{W,  W + 5, P + 1, 3,  4,  5,      6,  7,  8,      W + 9,  10,     11,
                  12, P + 7, 14,    15, 16, W + 17, 18, 19, P + 50, P + 51, P + 52, P + 53}
        << quint64(100) << tRun_List{{1, 1, 4112}, {7, 1, 4200}, {50, 4, 4256}} << quint64(6);
    QTest::newRow("indexes past 12,000,000,000") << tWords{P + 12000000000ULL, P + 12000000001ULL} << quint64(13e9)
                                                 << tRun_List{{12000000000ULL, 2, 4096}} << quint64(2);
}

void tst_Scan::kernels()
{
    QFETCH(tWords, qlWords);
    QFETCH(quint64, qui64Bound);
    QFETCH(tRun_List, qlRuns);
    QFETCH(quint64, qui64Hits);
    QByteArray qbaData(qlWords.size() * 8, '\0');
    for (int i = 0; i < qlWords.size(); ++i)
        qToBigEndian<quint64>(qlWords[i], qbaData.data() + 8 * i);
    for (const bool bVectorised : {false, true}) {
        if (bVectorised && !bScan_Vectorised())
            QSKIP("no AVX2 here: only the portable loop was checked");
        std::vector<cRun> vecFound;
        QCOMPARE(qui64Scan_Words(reinterpret_cast<const uchar *>(qbaData.constData()), quint64(qlWords.size()), 4096, P,
                                 qui64Bound, vecFound, bVectorised),
                 qui64Hits);
        QCOMPARE(qvList(vecFound), qlRuns);
    }
}

void tst_Scan::runTable()
{
    // Blocks of 100 words (800 bytes) finishing out of order; a run that crosses a block
    // boundary comes out as one record, and a block never read leaves its gap.
    cRun_Table oTable(4);
    oTable.vAdd_Block(1, vecRuns({{50, 100, 800}, {500, 1, 1500}}));   // waits for block 0
    oTable.vAdd_Block(0, vecRuns({{0, 50, 400}}));                     // joins block 1's first run
    oTable.vAdd_Block(3, vecRuns({{900, 10, 2400}, {901, 10, 3000}})); // block 2 never comes
    oTable.vAdd_Block(4, vecRuns({{7, 1, 3200}, {8, 1, 3300}}));       // beyond the bound of 4 runs
    quint64 qui64Untracked = 0, qui64From = 0;
    std::vector<cRun> vecResult = oTable.vecTake(&qui64Untracked, &qui64From);
    QCOMPARE(qvList(vecResult), (tRun_List{{0, 150, 400}, {500, 1, 1500}, {900, 10, 2400}, {901, 10, 3000}}));
    QCOMPARE(qui64Untracked, quint64(2));
    QCOMPARE(qui64From, quint64(3200));
    // Indexes 900 .. 910 are held twice: 11 distinct there.
    QCOMPARE(qui64Sort_By_Index(vecResult), quint64(150 + 1 + 11));
    QCOMPARE(vecResult[1].qui64First, quint64(500));
}

void tst_Scan::runTableMillions()
{
    // Three million isolated words from two threads, kept in the order of the device, and a
    // bound that holds memory to a million runs.
    const quint64 qui64Blocks = 3000, qui64Per_Block = 1000;
    for (const quint64 qui64Max : {quint64(10000000), quint64(1000000)}) {
        cRun_Table oTable(qui64Max);
        auto vFeed = [&](const quint64 qui64Parity) {
            for (quint64 b = qui64Parity; b < qui64Blocks; b += 2) {
                std::vector<cRun> vecBlock;
                for (quint64 w = 0; w < qui64Per_Block; ++w) // every other index, so no two runs join
                    vecBlock.push_back({2 * (b * qui64Per_Block + w), 1, 8 * (b * qui64Per_Block + w)});
                oTable.vAdd_Block(b, std::move(vecBlock));
            }
        };
        std::thread qOther(vFeed, 1);
        vFeed(0);
        qOther.join();
        quint64 qui64Untracked = 0, qui64From = 0;
        std::vector<cRun> vecResult = oTable.vecTake(&qui64Untracked, &qui64From);
        const quint64 qui64Kept = std::min(qui64Max, qui64Blocks * qui64Per_Block);
        QCOMPARE(quint64(vecResult.size()), qui64Kept);
        QCOMPARE(qui64Untracked, qui64Blocks * qui64Per_Block - qui64Kept);
        for (size_t i = 1; i < vecResult.size(); i += 99991)
            QCOMPARE(vecResult[i].qui64Offset, quint64(8 * i));
        QCOMPARE(qui64Sort_By_Index(vecResult), qui64Kept);
    }
}

// Where the fill lay, inferred from the runs found on a 16,000-byte device for a fill of
// 2,000 words: every index placed once, at the byte it should lie at.
void tst_Scan::inferredPlacement_data()
{
    QTest::addColumn<tRun_List>("qlFound");
    QTest::addColumn<tRun_List>("qlPlaced");
    QTest::newRow("all found in one piece") << tRun_List{{0, 2000, 0}} << tRun_List{{0, 2000, 0}};
    // 200 words lost at the head lay 8 bytes each before the first found: from byte 0.
    QTest::newRow("head lost") << tRun_List{{200, 1800, 1600}} << tRun_List{{0, 2000, 0}};
    QTest::newRow("head lost, the file from byte 4,000")
        << tRun_List{{100, 1000, 4800}} << tRun_List{{0, 1500, 4000}};
    QTest::newRow("tail lost") << tRun_List{{0, 1200, 0}} << tRun_List{{0, 2000, 0}};
    QTest::newRow("two pieces, the gap after the first")
        << tRun_List{{0, 500, 0}, {700, 1000, 8000}} << tRun_List{{0, 700, 0}, {700, 1000, 8000}};
    // An old copy of the first 100 words elsewhere: the diagonal with more words wins.
    QTest::newRow("an old copy beside it") << tRun_List{{0, 100, 8000}, {0, 2000, 0}} << tRun_List{{0, 2000, 0}};
}

void tst_Scan::inferredPlacement()
{
    QFETCH(tRun_List, qlFound);
    QFETCH(tRun_List, qlPlaced);
    std::vector<cRun> vecFound = vecRuns(qlFound);
    qui64Sort_By_Index(vecFound);
    QCOMPARE(qvList(vecInfer_Placement(vecFound, 2000, 16000)), qlPlaced);
}

// Where the file system put the fill, as the layout that the read is compared with says.
enum ePlacement {
    ePlaced_At_Zero,     // in one piece from offset 0
    ePlacement_Unknown,  // the file system did not say
    ePlaced_Sparse,      // a sparse file: placed, but no word has a place
    ePlacement_Inferred, // from where the words were found
};
Q_DECLARE_METATYPE(ePlacement)
Q_DECLARE_METATYPE(eOn_Device)
Q_DECLARE_METATYPE(eVerdict)

// What else the run saw: unreadable device bytes, words found with changed bits, writes
// refused, or no fill file at all.
class cScan_Setup
{
public:
    tRanges qvUnreadable;
    QVector<quint64> qvChanged;
    quint64 qui64Refused_After = 0;
    bool bNo_Fill_File = false;
    tRanges qvUnread;          // never reached: the operator stopped the read
    bool bAbandoned = false;   // and readers stuck in the medium were left behind
    quint64 qui64Not_Read = 0; // the file's words the verdict counts as not read
};
Q_DECLARE_METATYPE(cScan_Setup)

static const quint64 qui64Unplaced = ~quint64(0); // the offset of a missing stretch without a place

// A read of a 2,000-word device (16,000 bytes, regions of 16 bytes) against a fill of
// 2,000 words that the file system put at offset 0 in one piece, unless the row says.
void tst_Scan::verdict_data()
{
    QTest::addColumn<tRun_List>("qlFound");
    QTest::addColumn<ePlacement>("ePlaced");
    QTest::addColumn<eOn_Device>("eOn");
    QTest::addColumn<eVerdict>("eExpected");
    QTest::addColumn<QVector<quint64>>("qvCounts"); // in place / found, displaced, missing, remnants, usable bytes
    QTest::addColumn<tRun_List>("qlMissing"); // {first, count, offset or qui64Unplaced} of the missing stretches
    QTest::addColumn<QString>("qsFirst_Line");
    QTest::addColumn<cScan_Setup>("oSetup");
    typedef QVector<quint64> tCounts;
    const quint64 U = qui64Unplaced;
    QTest::newRow("intact, with an old copy beside it")
        << tRun_List{{0, 2000, 0}, {0, 100, 8000}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Intact
        << tCounts{2000, 0, 0, 100, 0} << tRun_List{}
        << "Данные целы: все 2 000 слов файла заполнения (15,6 КиБ) лежат на носителе на своих местах." << cScan_Setup();
    QTest::newRow("a hole in the middle")
        << tRun_List{{0, 500, 0}, {600, 1400, 4800}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Data_Missing
        << tCounts{1900, 0, 100, 0, 0} << tRun_List{{500, 100, 4000}}
        << "Часть данных потеряна: не найдено 100 слов (800 байт, 5,00 % файла заполнения)." << cScan_Setup();
    QTest::newRow("everything somewhere else")
        << tRun_List{{0, 1000, 8000}, {1000, 1000, 0}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Data_Missing
        << tCounts{0, 2000, 0, 0, 0} << tRun_List{}
        << "Данные не на своих местах: не там, куда их записала файловая система, найдено 2 000 слов файла "
           "заполнения." << cScan_Setup();
    QTest::newRow("nothing kept beyond 9,600 bytes")
        << tRun_List{{0, 1200, 0}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Capacity_Limited
        << tCounts{1200, 0, 800, 0, 9600} << tRun_List{{1200, 800, 9600}}
        << "Поддельная ёмкость: носитель хранит данные только до смещения 9 600" << cScan_Setup();
    // Addresses taken modulo 9,600: words 1,200 .. 1,999 landed on 0 .. 799 and read twice.
    QTest::newRow("addresses wrap every 9,600 bytes")
        << tRun_List{{1200, 800, 0}, {800, 400, 6400}, {1200, 800, 9600}} << ePlaced_At_Zero << eOn_Device_Yes
        << eVerdict_Wraparound << tCounts{1200, 0, 800, 0, 9600} << tRun_List{{0, 800, 0}}
        << "Поддельная ёмкость: носитель зацикливает адреса через каждые 9,38 КиБ" << cScan_Setup();
    // Addresses modulo 8,000 bytes, of which the first 6,000 keep anything: 1,000 .. 1,749
    // read twice, the rest lost.
    QTest::newRow("chain: wraps every 8,000 bytes, keeps 6,000 of each")
        << tRun_List{{1000, 750, 0}, {1000, 750, 8000}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Wraparound
        << tCounts{750, 0, 1250, 0, 6000} << tRun_List{{0, 1000, 0}, {1750, 250, 14000}}
        << "Поддельная ёмкость: носитель зацикливает адреса через каждые 7,81 КиБ (8 000 байт) и из каждого круга "
           "хранит только первые 5,86 КиБ"
        << cScan_Setup();
    QTest::newRow("keeps 9,600 bytes and a cache of the last 800")
        << tRun_List{{0, 1200, 0}, {1900, 100, 15200}} << ePlaced_At_Zero << eOn_Device_Yes
        << eVerdict_Capacity_Limited << tCounts{1300, 0, 700, 0, 9600} << tRun_List{{1200, 700, 9600}}
        << "Поддельная ёмкость: носитель хранит данные только до смещения 9 600, всё записанное дальше потеряно. "
           "Настоящая ёмкость — около 9,38 КиБ, и ещё около 800 байт держит кэш"
        << cScan_Setup();
    // A loose cache answers for other places with what it holds: copies, not remnants.
    QTest::newRow("and the cache's stale copies elsewhere")
        << tRun_List{{0, 1200, 0}, {1900, 100, 12000}, {1900, 100, 15200}} << ePlaced_At_Zero << eOn_Device_Yes
        << eVerdict_Capacity_Limited << tCounts{1300, 0, 700, 0, 9600} << tRun_List{{1200, 700, 9600}}
        << "Поддельная ёмкость: носитель хранит данные только до смещения 9 600" << cScan_Setup();
    QTest::newRow("fake capacity, placement inferred")
        << tRun_List{{0, 1200, 0}} << ePlacement_Inferred << eOn_Device_Yes << eVerdict_Capacity_Limited
        << tCounts{1200, 0, 800, 0, 9600} << tRun_List{{1200, 800, 9600}}
        << "Поддельная ёмкость: носитель хранит данные только до смещения 9 600" << cScan_Setup();
    // The head lay before the first word found, 8 bytes a word: from byte 0.
    QTest::newRow("keeps the last 14,400 bytes, placement inferred")
        << tRun_List{{200, 1800, 1600}} << ePlacement_Inferred << eOn_Device_Yes << eVerdict_Keeps_Recent
        << tCounts{1800, 0, 200, 0, 14400} << tRun_List{{0, 200, 0}}
        << "Поддельная ёмкость: носитель хранит только последние ~14,1 КиБ записанного" << cScan_Setup();
    QTest::newRow("keeps only the last 6,400 bytes written")
        << tRun_List{{1200, 800, 9600}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Keeps_Recent
        << tCounts{800, 0, 1200, 0, 6400} << tRun_List{{0, 1200, 0}}
        << "Поддельная ёмкость: носитель хранит только последние ~6,25 КиБ записанного" << cScan_Setup();
    cScan_Setup oRefused;
    oRefused.qui64Refused_After = 16000;
    QTest::newRow("refused writes after all it kept")
        << tRun_List{{0, 2000, 0}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Write_Failed
        << tCounts{2000, 0, 0, 0, 16000} << tRun_List{} << "Носитель перестал принимать запись после ~15,6 КиБ"
        << oRefused;
    cScan_Setup oBad;
    oBad.qvUnreadable = {{4000, 4512}};
    oBad.qui64Not_Read = 64; // the words whose place could not be read
    QTest::newRow("512 bytes unreadable")
        << tRun_List{{0, 500, 0}, {564, 1436, 4512}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Damaged
        << tCounts{1936, 0, 0, 0, 0} << tRun_List{}
        << "Носитель повреждён: не удалось прочитать 512 байт в 1 области, первая — байты 4 000 … 4 511." << oBad;
    cScan_Setup oChanged;
    oChanged.qvChanged = {700};
    QTest::newRow("a word with changed bits")
        << tRun_List{{0, 700, 0}, {701, 1299, 5608}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Data_Changed
        << tCounts{1999, 0, 0, 0, 0} << tRun_List{}
        << "Данные искажены: на своих местах, но с изменёнными битами, найдено 1 слово файла заполнения (0,05 %)"
        << oChanged;
    cScan_Setup oNo_File;
    oNo_File.bNo_Fill_File = true;
    QTest::newRow("no fill file: an earlier fill's words")
        << tRun_List{{0, 500, 0}, {600, 100, 8000}, {900, 1, 12000}} << ePlaced_At_Zero << eOn_Device_Yes
        << eVerdict_Remnants << tCounts{0, 0, 0, 601, 0} << tRun_List{}
        << "На носителе остались слова прежнего заполнения: 600 слов (4,69 КиБ) в 1 области, первая с байта 0."
        << oNo_File;
    // A single word is a metadata block that looks like one, not what a fill leaves.
    QTest::newRow("no fill file, nothing left")
        << tRun_List{{900, 1, 12000}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Clean
        << tCounts{0, 0, 0, 1, 0} << tRun_List{} << "Слов заполнения на носителе нет" << oNo_File;
    QTest::newRow("encrypted or compressed")
        << tRun_List{} << ePlacement_Unknown << eOn_Device_Yes << eVerdict_No_Plaintext << tCounts{0, 0, 2000, 0, 0}
        << tRun_List{{0, 2000, U}}
        << "Ни одного слова заполнения на носителе нет: данные попадают на носитель зашифрованными или сжатыми."
        << cScan_Setup();
    QTest::newRow("compressed, all but a small tail")
        << tRun_List{{1998, 2, 15984}} << ePlacement_Unknown << eOn_Device_Yes << eVerdict_No_Plaintext
        << tCounts{2, 0, 1998, 0, 0} << tRun_List{{0, 1998, U}}
        << "В открытом виде на носителе только 2 слова заполнения из 2 000 (0,10 %): данные попадают на носитель "
           "зашифрованными или сжатыми."
        << cScan_Setup();
    QTest::newRow("not on the device")
        << tRun_List{} << ePlaced_At_Zero << eOn_Device_No << eVerdict_Not_On_Device << tCounts{0, 0, 2000, 0, 0}
        << tRun_List{{0, 2000, 0}} << "Раздел не лежит на носителе /dev/test: проверить его этим чтением нельзя."
        << cScan_Setup();
    // The layers said no (an overlay they could not follow), but the words are there.
    QTest::newRow("said not on the device, every word found in place")
        << tRun_List{{0, 2000, 0}} << ePlaced_At_Zero << eOn_Device_No << eVerdict_Intact << tCounts{2000, 0, 0, 0, 0}
        << tRun_List{} << "Данные целы: все 2 000 слов" << cScan_Setup();
    QTest::newRow("placement unknown, all found")
        << tRun_List{{0, 2000, 0}} << ePlacement_Unknown << eOn_Device_Unknown << eVerdict_Intact
        << tCounts{2000, 0, 0, 0, 0} << tRun_List{} << "Данные целы: все 2 000 слов" << cScan_Setup();
    // Stopped at byte 8,000: the second half was never read, so its words are not missing.
    cScan_Setup oStopped;
    oStopped.qvUnread = {{8000, 16000}};
    oStopped.qui64Not_Read = 1000;
    const QString qsStopped = "Проверка неполная (чтение прервано оператором): выводы ниже";
    QTest::newRow("read stopped, placement known")
        << tRun_List{{0, 1000, 0}} << ePlaced_At_Zero << eOn_Device_Yes << eVerdict_Incomplete
        << tCounts{1000, 0, 0, 0, 0} << tRun_List{} << qsStopped << oStopped;
    QTest::newRow("read stopped, placement unknown")
        << tRun_List{{0, 1000, 0}} << ePlacement_Unknown << eOn_Device_Unknown << eVerdict_Incomplete
        << tCounts{1000, 0, 0, 0, 0} << tRun_List{} << qsStopped << oStopped;
    cScan_Setup oStalled = oStopped;
    oStalled.bAbandoned = true;
    QTest::newRow("read stopped, then the medium stopped answering")
        << tRun_List{{0, 1000, 0}} << ePlacement_Unknown << eOn_Device_Unknown << eVerdict_Incomplete
        << tCounts{1000, 0, 0, 0, 0} << tRun_List{}
        << "Проверка неполная (чтение прервано оператором, носитель перестал отвечать)" << oStalled;
    // A sparse fill file holds no words at all: an earlier fill's words are only remnants.
    QTest::newRow("sparse fill file over an old fill")
        << tRun_List{{0, 2000, 0}} << ePlaced_Sparse << eOn_Device_Yes << eVerdict_Data_Missing
        << tCounts{0, 0, 2000, 2000, 0} << tRun_List{{0, 2000, U}} << "Часть данных потеряна: не найдено 2 000 слов"
        << cScan_Setup();
}

// The read of the row: what was found where, and what could not be read.
static cRead_Result oRow_Read(const tRun_List &qlFound, const cScan_Setup &oSetup)
{
    cRead_Result oRead;
    oRead.eStatus = eRead_Done;
    oRead.qsDevice = "/dev/test";
    oRead.qui64Bytes_Count = oRead.qui64Bytes_Done = 16000;
    oRead.qui64Data_Count = 4000;
    oRead.qui64Region_Bytes = 16;
    for (QVector<quint64> *pqv : {&oRead.qvRegion_Hits, &oRead.qvRegion_Bad})
        pqv->fill(0, 1000);
    oRead.qvRegion_Done.fill(16, 1000);
    oRead.vecRuns = vecRuns(qlFound);
    for (const cRun &oRun : oRead.vecRuns) {
        oRead.qui64Hits += oRun.qui64Count;
        for (quint64 o = oRun.qui64Offset; o < oRun.qui64Offset_End(); o += 8)
            ++oRead.qvRegion_Hits[int(o / 16)];
    }
    oRead.qui64Distinct = qui64Sort_By_Index(oRead.vecRuns);
    oRead.qvUnreadable = oRead.qvNot_Read = oSetup.qvUnreadable;
    oRead.qvNot_Read += oSetup.qvUnread;
    oRead.qvUnread = oSetup.qvUnread;
    oRead.bAbandoned = oSetup.bAbandoned;
    oRead.qui64Bytes_Planned = oRead.qui64Bytes_Count;
    for (const auto &qpUnread : oSetup.qvUnread) {
        oRead.eStatus = eRead_Cancelled;
        oRead.qui64Unread_Bytes += qpUnread.second - qpUnread.first;
        oRead.qui64Bytes_Done -= qpUnread.second - qpUnread.first;
        for (quint64 o = qpUnread.first; o < qpUnread.second; o += 16)
            oRead.qvRegion_Done[int(o / 16)] -= 16;
    }
    for (const auto &qpBad : oSetup.qvUnreadable) {
        oRead.qui64Bytes_Bad += qpBad.second - qpBad.first;
        for (quint64 o = qpBad.first; o < qpBad.second; o += 16)
            oRead.qvRegion_Bad[int(o / 16)] += 16;
    }
    return oRead;
}

// The map's strip accounts for every word of the fill once; where the fill has places, the
// map's regions add up to the counts.
static void vCheck_Map(const cRead_Result &oRead, const bool bPlaced)
{
    const cVerdict &oVerdict = oRead.oVerdict;
    auto qui64Sum = [](const QVector<quint64> &qv) { return std::accumulate(qv.begin(), qv.end(), quint64(0)); };
    QCOMPARE(qui64Sum(oVerdict.qvStrip_Found) + qui64Sum(oVerdict.qvStrip_Displaced) +
                 qui64Sum(oVerdict.qvStrip_Missing) + qui64Sum(oVerdict.qvStrip_Not_Read),
             oVerdict.oLayout.qui64Words());
    if (!bPlaced)
        return;
    QCOMPARE(qui64Sum(oVerdict.qvRegion_Missing), oVerdict.qui64Missing);
    QCOMPARE(qui64Sum(oVerdict.qvRegion_In_Place), oVerdict.qui64In_Place);
    QCOMPARE(qui64Sum(oVerdict.qvRegion_Changed), oVerdict.qui64Changed);
    QCOMPARE(qui64Sum(oVerdict.qvRegion_In_Place) + qui64Sum(oVerdict.qvRegion_Stray), oRead.qui64Hits);
}

void tst_Scan::verdict()
{
    QFETCH(tRun_List, qlFound);
    QFETCH(ePlacement, ePlaced);
    QFETCH(eOn_Device, eOn);
    QFETCH(eVerdict, eExpected);
    QFETCH(QVector<quint64>, qvCounts);
    QFETCH(tRun_List, qlMissing);
    QFETCH(QString, qsFirst_Line);
    QFETCH(cScan_Setup, oSetup);
    cRead_Result oRead = oRow_Read(qlFound, oSetup);
    cFill_Layout oLayout;
    if (!oSetup.bNo_Fill_File)
        oLayout.qvParts = {{"/volume/data.data", 0, 2000}};
    oLayout.bPlaced = ePlaced == ePlaced_At_Zero || ePlaced == ePlaced_Sparse;
    if (ePlaced == ePlaced_At_Zero)
        oLayout.vecExpected = {{0, 2000, 0}};
    oLayout.qvChanged = oSetup.qvChanged;
    oLayout.qui64Refused_After = oSetup.qui64Refused_After;
    oLayout.eOn = eOn;
    if (ePlaced == ePlacement_Inferred)
        vInfer_Placement(oRead, oLayout);
    vJudge(oRead, oLayout);
    const cVerdict &oVerdict = oRead.oVerdict;
    QCOMPARE(oVerdict.eValue, eExpected);
    const bool bIn_Place = ePlaced == ePlaced_At_Zero || ePlaced == ePlacement_Inferred;
    QCOMPARE((QVector<quint64>{bIn_Place ? oVerdict.qui64In_Place : oVerdict.qui64Found, oVerdict.qui64Displaced,
                               oVerdict.qui64Missing, oVerdict.qui64Remnants, oVerdict.qui64Usable_Bytes}),
             qvCounts);
    tRun_List qlMissing_Seen;
    for (const cMissing_Range &oRange : oVerdict.qvMissing)
        qlMissing_Seen.append({oRange.qui64First, oRange.qui64Count, oRange.bPlaced ? oRange.qui64Offset : qui64Unplaced});
    QCOMPARE(qlMissing_Seen, qlMissing);
    QCOMPARE(oVerdict.qui64Not_Read, oSetup.qui64Not_Read);
    QString qsSummary = qsRead_Summary(oRead);
    qsSummary.replace(QChar(0x00A0), ' ');
    QVERIFY2(qsSummary.startsWith(qsFirst_Line), qPrintable(qsSummary));
    if (!oSetup.qvUnread.isEmpty()) { // what was read, and what was not, where
        QVERIFY2(qsSummary.contains("Прочитано: 7,81 КиБ (8 000 байт), не удалось прочитать: 0 байт.\n"
                                    "Чтение прервано оператором.\n"),
                 qPrintable(qsSummary));
        QVERIFY2(qsSummary.contains("Не прочитано: 7,81 КиБ (8 000 байт) (50,00 % из 15,6 КиБ намеченных) — байты "
                                    "8 000 … 15 999."),
                 qPrintable(qsSummary));
        QCOMPARE(qsSummary.contains("Носитель перестал отвечать"), oSetup.bAbandoned);
        QVERIFY2(qsSummary.contains(ePlaced == ePlaced_At_Zero
                                        ? ", их места не прочитаны: 1 000"
                                        : "не найдены 0, не найдены в прочитанной части (могут лежать в "
                                          "непрочитанной): 1 000"),
                 qPrintable(qsSummary));
        const QJsonObject qjRead_Json = qjRead(oRead, false);
        QCOMPARE(qjRead_Json.value("unread_bytes").toDouble(), 8000.0);
        QCOMPARE(qjRead_Json.value("missing").toDouble(), 0.0);
        QCOMPARE(qjRead_Json.value("not_read").toDouble(), 1000.0);
        QCOMPARE(qjRead_Json.value("verdict").toString(), QString("incomplete"));
    }
    QCOMPARE(iRead_Icon(oRead), bVerdict_Good(oVerdict.eValue) ? 1 : 2);
    vCheck_Map(oRead, bIn_Place && !oSetup.bNo_Fill_File);
    if (eExpected == eVerdict_Data_Missing && ePlaced == ePlaced_At_Zero && oVerdict.qui64Missing > 0)
        QVERIFY(qsSummary.contains("не найдены: индексы 500 … 599 — data.data, байты 4 000 … 4 799; на носителе байты "
                                   "4 000 … 4 799"));
}

void tst_Scan::figures()
{
    auto qsPlain = [](QString qs) { return qs.replace(QChar(0x00A0), ' '); };
    QCOMPARE(qsPlain(qsBytes_Text(4125097984ULL)), QString("3,84 ГиБ (4 125 097 984 байт)"));
    QCOMPARE(qsPlain(qsBytes_Text(512)), QString("512 байт"));
    QCOMPARE(qsPlain(qsSize_Text(1536ULL << 30)), QString("1,50 ТиБ"));
    QCOMPARE(qsPlain(qsPercent_Text(1, 3)), QString("33,33 %"));
    // 261 words of 134 million are some, not 0,00 %; one short of all is not 100,00 %
    QCOMPARE(qsPlain(qsPercent_Text(261, 133952512)), QString("менее 0,01 %"));
    QCOMPARE(qsPlain(qsPercent_Text(133952511, 133952512)), QString("более 99,99 %"));
    QCOMPARE(qsPlain(qsPercent_Text(0, 133952512)), QString("0,00 %"));
    QCOMPARE(qsPlain(qsPercent_Text(5, 1000)), QString("0,50 %"));
    QCOMPARE(qsPlain(qsRate_Text(1048576 * 1500ULL, 2000)), QString("750,0 МиБ/с"));
    QCOMPARE(qsPlain(qsSeconds_Text(125000)), QString("2 мин 05 с"));
}

void tst_Scan::readBounds()
{
    QTemporaryDir qDir;
    // Runs, duplicates and words below the pattern are the kernel's (tst_scan); here the
    // device: the bound, the 8-byte grid, regions, and where each word lies.
    QList<QPair<qint64, quint64>> qlWords = {{0, P},             // index 0
                                             {8, P + 999},       // the last one looked for
                                             {16, P + 1000},     // the first one beyond
                                             {28, P + 7},        // off the 8-byte grid: never seen
                                             {64, P + 5},        // region 1 (regions of 64 bytes here)
                                             {65528, P + 8191}}; // the device's last word
    cDrive oDrive_Image;
    oDrive_Image.vGet_Properties(qsMake_Image(qDir, 65536, qlWords));
    const cRead_Result oResult = oRead_Of(oDrive_Image, P, 1000);
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Data_Count, quint64(1000));
    QVector<quint64> qvFirst, qvOffset; // of each run found
    for (const cRun &oRun : oResult.vecRuns) {
        qvFirst << oRun.qui64First;
        qvOffset << oRun.qui64Offset;
    }
    QCOMPARE(qvFirst, (QVector<quint64>{0, 5, 999}));
    QCOMPARE(qvOffset, (QVector<quint64>{0, 64, 8}));
    QCOMPARE(oResult.qui64Distinct, quint64(3));
    QCOMPARE(oResult.qui64Region_Bytes, quint64(64));
    QCOMPARE(oResult.qvRegion_Hits.mid(0, 3), (QVector<quint64>{2, 1, 0}));
    QVERIFY(oResult.qvNot_Read.isEmpty());

    // No bound of its own: every index below the count is looked for, whatever the device.
    QCOMPARE(oRead_Of(oDrive_Image, P, quint64(1) << 40).qui64Distinct, quint64(5));

    // Indexes past 2^64 wrap to small values: a word below the pattern must not count.
    const quint64 qui64Top = 0xFFFFFFFFFFFFFFFEULL;
    QTemporaryDir qDir_Top;
    cDrive oDrive_Top;
    oDrive_Top.vGet_Properties(qsMake_Image(qDir_Top, 4096, {{0, 3}, {8, 0xFFFFFFFFFFFFFFFFULL}}));
    const cRead_Result oTop = oRead_Of(oDrive_Top, qui64Top, 100);
    QCOMPARE(oTop.qui64Distinct, quint64(1));
    QCOMPARE(oTop.vecRuns[0].qui64First, quint64(1));

    // The read step looks for the last poll's pattern, over the indexes that poll counted.
    const quint64 qui64Small = 0xFFFFFFFFFFF00000ULL;
    cDrive oPolled_Drive;
    oPolled_Drive.vGet_Properties(
        qsMake_Image(qDir, 8192, {{0, qui64Small}, {8, qui64Small + 49}, {16, qui64Small + 50}}));
    cData oPattern;
    oPattern.qui64Pattern = qui64Small;
    oPattern.qui64Data_Count = 50;
    cTest_Operator oOperator;
    const cRead_Result oStep = oRead(oPolled_Drive, cVolume(), oPattern, oOperator);
    QVERIFY(bRead_Ok(oStep));
    QCOMPARE(oStep.qui64Distinct, quint64(2));
}

void tst_Scan::readFailures_data()
{
    QTest::addColumn<QString>("qsDevice");
    QTest::addColumn<eRead_Status>("eStatus");
    QTest::addColumn<QString>("qsMessage");
    QTest::newRow("missing") << "/nonexistent/disk" << eRead_Open_Failed
                             << "Не удалось открыть носитель /nonexistent/disk для чтения: No such file or directory.";
    QTest::newRow("a character device")
        << "/dev/zero" << eRead_Not_Device
        << "Не удалось открыть носитель /dev/zero для чтения: это не блочное устройство и не файл образа.";
    QTest::newRow("a directory")
        << "/tmp" << eRead_Not_Device
        << "Не удалось открыть носитель /tmp для чтения: это не блочное устройство и не файл образа.";
    QTest::newRow("never polled") << "" << eRead_No_Poll << "Носитель не опрошен: сначала опросите.";
}

void tst_Scan::readFailures()
{
    QFETCH(QString, qsDevice);
    QFETCH(eRead_Status, eStatus);
    QFETCH(QString, qsMessage);
    cDrive oFailing;
    oFailing.qsDrive_Name = qsDevice;
    oFailing.qui64Bytes_Count = 1ULL << 30; // /dev/zero would be read for ever
    const cRead_Result oResult = oRead_Of(oFailing, P, 100);
    QCOMPARE(oResult.eStatus, eStatus);
    QCOMPARE(qsRead_Failure(oResult, "сначала опросите"), qsMessage);
}

void tst_Scan::readScale()
{
    // A 100 GB device (a sparse image) from a volume that holds 12,500,000,000 words: fill
    // words with indexes past 12,000,000,000, at the offset they would have, are found, and
    // the read needs no memory for the indexes it did not find.
    QTemporaryDir qDir;
    const quint64 qui64Device = 100000000000ULL, qui64First = 12000000000ULL, qui64Words = 1 << 20;
    QFile qImage(qDir.filePath("huge.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(qint64(qui64Device)));
    QByteArray qbaWords(int(qui64Words * 8), '\0');
    for (quint64 i = 0; i < qui64Words; ++i)
        qToBigEndian<quint64>(P + qui64First + i, qbaWords.data() + 8 * i);
    QVERIFY(qImage.seek(qint64(qui64First * 8)) && qImage.write(qbaWords) == qbaWords.size());
    qImage.close();
    struct rusage strBefore, strAfter;
    getrusage(RUSAGE_SELF, &strBefore);
    cDrive oHuge;
    QVERIFY(oHuge.bGet_Properties(qImage.fileName()));
    const cRead_Result oResult = oRead_Of(oHuge, P, 12500000000ULL);
    getrusage(RUSAGE_SELF, &strAfter);
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Bytes_Done, qui64Device);
    QCOMPARE(oResult.qui64Distinct, qui64Words);
    QCOMPARE(oResult.vecRuns.size(), size_t(1));
    QCOMPARE(oResult.vecRuns[0].qui64First, qui64First);
    QCOMPARE(oResult.vecRuns[0].qui64Offset, qui64First * 8);
    // The old table of 12,000,000,000 flags took 1.4 GiB even as bits.
    QVERIFY2(strAfter.ru_maxrss - strBefore.ru_maxrss < 100 * 1024,
             qPrintable(QString("peak memory grew by %1 KiB").arg(strAfter.ru_maxrss - strBefore.ru_maxrss)));
}

QTEST_MAIN(tst_Scan)
#include "tst_scan.moc"
