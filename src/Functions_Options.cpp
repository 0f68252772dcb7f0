#include "Functions_Options.h"

#include "Functions_Data.h"
#include "Functions_Text.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The options the tool knows besides --help and --version; the paths' defaults are the
// ones oOptions holds.
class cOption_List
{
public:
    explicit cOption_List(const cOptions &oOptions)
        : qDevice("device", "Носитель (блочное устройство или образ), по умолчанию /dev/sdb.", "PATH",
                  oOptions.qsDevice),
          qVolume("volume", "Каталог смонтированного раздела, по умолчанию /documents_hdd/.", "DIR", oOptions.qsVolume),
          qBatch("batch",
                 "Без окна: выполнить шаги poll, probe (проба носителя за секунды), fill, read, "
                 "clean (удалить файлы заполнения) в заданном порядке.",
                 "STEPS"),
          qJson("json", "В пакетном режиме: по одному объекту JSON на шаг."),
          qQuiet("quiet", "В пакетном режиме: без строки хода работы."),
          qMap("map", "В пакетном режиме: после чтения сохранить карту носителя в PNG.", "FILE"),
          qPattern("pattern",
                   "В пакетном режиме: при чтении искать слова этого паттерна (число или 0x…), "
                   "а не паттерна опроса: например, прежнего заполнения раздела другого размера.",
                   "PATTERN"),
          qFull("full", "В пакетном режиме: заполнять и читать всё, даже когда проверки по ходу "
                        "заполнения видят, что носитель теряет данные."),
          qForce("force", "В пакетном режиме: заполнять, даже если не установлено, что раздел "
                          "лежит на носителе."),
          qChoose("choose", "Сначала выбрать носитель и раздел в окне (без --device и --volume)."),
          qList("list", "Показать носители, их разделы и точки монтирования (с --json: в JSON)."),
          qExplain_Root("explain-root",
                        "Только сказать в окне, что нужны права администратора и почему "
                        "их не удалось получить (так делает fillscan-launcher).",
                        "REASON")
    {
    }

    const QCommandLineOption qDevice, qVolume, qBatch, qJson, qQuiet, qMap, qPattern, qFull, qForce, qChoose, qList,
        qExplain_Root;
};

// The order here is the order of the help text.
void vAdd_Options(QCommandLineParser &qParser, const cOption_List &oList)
{
    qParser.setApplicationDescription("Заполняет раздел узнаваемыми 64-битными словами и ищет их на носителе под ним.");
    qParser.addHelpOption();
    qParser.addVersionOption();
    qParser.addOptions({oList.qDevice, oList.qVolume, oList.qBatch, oList.qJson, oList.qQuiet, oList.qMap,
                        oList.qPattern, oList.qFull, oList.qForce, oList.qChoose, oList.qList, oList.qExplain_Root});
}

int iUsage_Error(const QCommandLineParser &qParser, const QString &qsError, const bool bPrint)
{
    if (bPrint)
        bWrite_Stream(stderr, QCoreApplication::applicationName() + ": " + qsTerminal_Safe(qsError) + "\n\n" +
                                  qParser.helpText());
    return iExit_Usage;
}

// --help or --version ends the tool, whatever else was given.
bool bHelp_Or_Version(const QCommandLineParser &qParser, const bool bPrint)
{
    if (qParser.isSet("help") || qParser.isSet("help-all")) { // --help lists --help-all as well
        if (bPrint)
            bWrite_Stream(stdout, qParser.helpText());
        return true;
    }
    if (!qParser.isSet("version"))
        return false;
    if (bPrint)
        bWrite_Stream(stdout,
                      QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion() + "\n");
    return true;
}

// Each of these takes its options into oOptions, in the order below, and returns what is
// wrong with them, empty when nothing is.
typedef QString (*tTake_Options)(const QCommandLineParser &, const cOption_List &, cOptions &);

QString qsTake_Paths(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    if (!qParser.positionalArguments().isEmpty())
        return "лишние аргументы: " + qParser.positionalArguments().join(' ');
    oOptions.qsDevice = qParser.value(oList.qDevice);
    oOptions.qsVolume = qParser.value(oList.qVolume);
    if (oOptions.qsDevice.isEmpty() || oOptions.qsVolume.isEmpty())
        return "--device и --volume не могут быть пустыми";
    // The fill appends the file name to the volume directly.
    if (!oOptions.qsVolume.endsWith('/'))
        oOptions.qsVolume += '/';
    return QString();
}

QString qsTake_Output(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    oOptions.bBatch = qParser.isSet(oList.qBatch);
    oOptions.bJson = qParser.isSet(oList.qJson);
    oOptions.bQuiet = qParser.isSet(oList.qQuiet);
    oOptions.bForce = qParser.isSet(oList.qForce);
    oOptions.qsMap = qParser.value(oList.qMap);
    if (qParser.isSet(oList.qMap) && oOptions.qsMap.isEmpty())
        return "--map не может быть пустым";
    return QString();
}

// The entry found an argument that decoding would change: it would name another file.
QString qsCheck_Encoding(const QCommandLineParser &, const cOption_List &, cOptions &oOptions)
{
    if (oOptions.qsUndecodable.isEmpty())
        return QString();
    return "аргумент «" + oOptions.qsUndecodable +
           "» не записан в кодировке системы: такое имя нельзя передать без искажений";
}

// Batch mode, the list, the chooser and the root explanation exclude one another.
QString qsTake_Mode(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    oOptions.bList = qParser.isSet(oList.qList);
    oOptions.bExplain_Root = qParser.isSet(oList.qExplain_Root);
    oOptions.qsRoot_Reason = qParser.value(oList.qExplain_Root);
    // Given paths are the user's choice already.
    const bool bChoose_Given = qParser.isSet(oList.qChoose);
    oOptions.bChoose = bChoose_Given && !qParser.isSet(oList.qDevice) && !qParser.isSet(oList.qVolume);
    if (int(oOptions.bBatch) + int(oOptions.bList) + int(oOptions.bExplain_Root) + int(bChoose_Given) > 1)
        return "--batch, --list, --choose и --explain-root несовместимы";
    return QString();
}

// What only batch mode (or, for --json, the list) does is a mistake elsewhere, not ignored.
QString qsTake_Batch_Only(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    oOptions.bFull = qParser.isSet(oList.qFull);
    const bool bBatch_Only = oOptions.bQuiet || oOptions.bForce || oOptions.bFull || qParser.isSet(oList.qMap) ||
                             qParser.isSet(oList.qPattern);
    if ((!oOptions.bBatch && bBatch_Only) || (oOptions.bJson && !oOptions.bBatch && !oOptions.bList))
        return "--quiet, --force, --full, --map и --pattern действуют только вместе с --batch, --json — "
               "с --batch или --list";
    return QString();
}

QString qsTake_Pattern(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    if (!qParser.isSet(oList.qPattern))
        return QString();
    bool bNumber = false;
    const QString qsPattern = qParser.value(oList.qPattern);
    oOptions.qui64Pattern = qsPattern.startsWith("0x", Qt::CaseInsensitive) ? qsPattern.mid(2).toULongLong(&bNumber, 16)
                                                                            : qsPattern.toULongLong(&bNumber, 10);
    if (!bNumber || qui64Pattern_Indexes(oOptions.qui64Pattern) == 0)
        return "--pattern: \"" + qsPattern + "\" не паттерн 11...10 (единицы, затем нули)";
    return QString();
}

QString qsTake_Steps(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    if (!oOptions.bBatch)
        return QString();
    oOptions.qslSteps = qParser.value(oList.qBatch).split(',');
    for (const QString &qsStep : oOptions.qslSteps)
        if (!QStringList{"poll", "probe", "fill", "read", "clean"}.contains(qsStep))
            return "неизвестный шаг \"" + qsStep + "\" (возможны poll, probe, fill, read, clean)";
    return QString();
}

// The first mistake is the one told.
QString qsTake_Options(const QCommandLineParser &qParser, const cOption_List &oList, cOptions &oOptions)
{
    static const tTake_Options apfTake[] = {qsTake_Paths,      qsTake_Output,  qsCheck_Encoding, qsTake_Mode,
                                            qsTake_Batch_Only, qsTake_Pattern, qsTake_Steps};
    for (const tTake_Options pfTake : apfTake) {
        const QString qsError = pfTake(qParser, oList, oOptions);
        if (!qsError.isEmpty())
            return qsError;
    }
    return QString();
}

} // namespace

int iParse_Options(const QStringList &qslArguments, cOptions &oOptions, const bool bPrint)
{
    QCommandLineParser qParser;
    const cOption_List oList(oOptions);
    vAdd_Options(qParser, oList);
    if (!qParser.parse(qslArguments))
        return iUsage_Error(qParser, qParser.errorText(), bPrint);
    if (bHelp_Or_Version(qParser, bPrint))
        return iExit_Ok;
    const QString qsError = qsTake_Options(qParser, oList, oOptions);
    return qsError.isEmpty() ? iOptions_Go_On : iUsage_Error(qParser, qsError, bPrint);
}

eApp_Kind eApp_For(const cOptions &oOptions)
{
    if (oOptions.bList)
        return eApp_Core;
    if (!oOptions.bBatch)
        return eApp_Widgets;
    return oOptions.qsMap.isEmpty() ? eApp_Core : eApp_Gui;
}

bool bWrite_Stream(FILE *pFile, const QString &qsText)
{
    const QByteArray qbaText = qsText.toUtf8();
    const bool bWritten = std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), pFile) == size_t(qbaText.size());
    return std::fflush(pFile) == 0 && bWritten;
}
