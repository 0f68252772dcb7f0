#include "Functions_Report_Texts.h"

#include "Functions_Pool.h"
#include "Functions_Text.h"

QString qsFill_Refused_Text(const QString &qsVolume_Dir, const QString &qsWhy)
{
    return QString("Раздел %1 не проверен как лежащий на опрошенном носителе (%2). Заполнение записывает файл, "
                   "пока раздел не заполнится, поэтому не начато.")
        .arg(qsVolume_Dir, qsWhy);
}

QString qsFill_Refused_Question(const QString &qsVolume_Dir, const QString &qsWhy)
{
    return qsFill_Refused_Text(qsVolume_Dir, qsWhy) + "\n\nЗаполнить этот раздел всё равно?";
}

QString qsError_Heading()
{
    return "Ошибка!";
}

QString qsWarning_Heading()
{
    return "Внимание!";
}

QString qsDrive_Not_Polled_Why()
{
    return "носитель не опрошен";
}

QString qsPlacement_Inferred_Why(const QString &qsWhy)
{
    return "файловая система не сообщает, где лежат данные (" + qsWhy + "): места выведены из того, где слова найдены";
}

QString qsDevice_Stopped_Why()
{
    return "носитель перестал отвечать";
}

QString qsRead_Unread_Text(const QString &qsUnread, const QString &qsShare, const QString &qsPlanned,
                           const QString &qsWhere)
{
    return QString("Не прочитано: %1 (%2 из %3 намеченных) — %4.").arg(qsUnread, qsShare, qsPlanned, qsWhere);
}

QString qsRead_Abandoned_Text()
{
    return "Носитель перестал отвечать: последние запросы чтения брошены.";
}

QString qsWords_Not_Read_Text(const bool bPlaced, const QString &qsCount)
{
    return bPlaced ? ", их места не прочитаны: " + qsCount
                   : ", не найдены в прочитанной части (могут лежать в непрочитанной): " + qsCount;
}

QString qsFill_Abandoned_Text(const bool bOperator_Stop)
{
    if (!bOperator_Stop)
        return "Носитель перестал отвечать: запросы записи брошены, файл не сброшен на носитель.";
    return QString("Запросы записи не вернулись за %1 после остановки: они оставлены, файл не сброшен на носитель, "
                   "в счёт вошли только слова, записанные до остановки.")
        .arg(qsSeconds_Text(iGive_Up_After_Ms));
}

QString qsFill_Closing_Aside_Text()
{
    return "Файловая система ещё сбрасывает файл на носитель: заполнение не стало этого ждать, файл закроется "
           "сам, когда она закончит.";
}

QString qsFill_Lost_Text(const quint64 qui64Written, const QString &qsPath, const quint64 qui64Now)
{
    return QString("Заполнение записало %1 слов в %2, а при чтении в файлах заполнения их %3: файл удалён или "
                   "укорочен после записи, проверено не всё, что записано.")
        .arg(qui64Written)
        .arg(qsPath)
        .arg(qui64Now);
}

QString qsNot_Mounted_Why()
{
    return "раздел не найден среди смонтированных";
}

QString qsBtrfs_Devices_Why()
{
    return "не удалось узнать устройства btrfs";
}

QString qsNo_Medium_Why(const QString &qsType)
{
    return QString("файловая система %1 не лежит ни на каком носителе").arg(qsType);
}

QString qsUnknown_Source_Why(const QString &qsType, const QString &qsSource)
{
    return QString("файловая система %1 из источника «%2»: на каком носителе она лежит, не установить")
        .arg(qsType, qsSource);
}

QString qsDevice_Not_Target_Why()
{
    return "носитель не блочное устройство и не файл образа";
}

QString qsVolume_Elsewhere_Why(const QString &qsOn, const QString &qsDevice)
{
    return QString("раздел лежит на %1, а не на %2").arg(qsOn, qsDevice);
}

QString qsNot_Simple_Part_Why(const QString &qsPart, const QString &qsDevice)
{
    return QString("устройство раздела %1 не является простой частью %2").arg(qsPart, qsDevice);
}

QString qsVolume_No_Blocks_Why()
{
    return "его файловая система сообщает 0 блоков, а по её структурам на опрошенном носителе размер не узнать";
}

QString qsFuse_Unplaced_Why()
{
    return "файловая система FUSE не сообщает, где лежат данные";
}

QString qsFiemap_Failed_Why(const QString &qsReason)
{
    return QString("файловая система не сообщает, где лежат данные (FIEMAP: %1)").arg(qsReason);
}

QString qsTsk_Failed_Why(const QString &qsDevice, const QString &qsReason)
{
    return QString("структуры файловой системы на %1 не прочитаны (The Sleuth Kit: %2)").arg(qsDevice, qsReason.trimmed());
}

QString qsFuse_No_Device_Why(const QString &qsType, const QString &qsDevice)
{
    return QString("файловая система %1 с файлами заполнения не найдена ни на %2, ни на его разделах")
        .arg(qsType, qsDevice);
}

QString qsSync_Failed_Why(const QString &qsPath, const QString &qsReason)
{
    return QString("не удалось сбросить данные %1 на носитель: %2").arg(qsPath, qsReason);
}

QString qsBtrfs_Profile_Why()
{
    return "btrfs лежит на нескольких устройствах или хранит данные в RAID: у слова нет одного места на носителе";
}

QString qsBtrfs_Chunks_Failed_Why(const QString &qsReason)
{
    return QString("дерево блоков btrfs не прочитано: %1").arg(qsReason);
}

QString qsBtrfs_Unmapped_Why(const quint64 qui64Logical)
{
    return QString("логический адрес btrfs %1 не лежит ни в одном блоке дерева").arg(qui64Logical);
}

QString qsPlacement_Source_Text(const QString &qsSource)
{
    if (qsSource == "tsk")
        return "места слов прочитаны из структур файловой системы на носителе (The Sleuth Kit)";
    if (qsSource == "btrfs_chunks")
        return "места слов — логические адреса btrfs, переведённые по её дереву блоков";
    return "места слов сообщила файловая система (FIEMAP)";
}

QString qsExtents_Encoded_Why()
{
    return "файловая система хранит данные файла не там, куда показывает (сжатие, шифрование, встраивание)";
}

QString qsExtents_Unaligned_Why()
{
    return "данные файла лежат не по границам слов";
}

QString qsOutput_Is_Medium_Why()
{
    return "это проверяемый носитель или файл образа под ним";
}

QString qsOutput_On_Volume_Why(const QString &qsVolume)
{
    return QString("файл лёг бы на проверяемый раздел %1").arg(qsVolume);
}

QString qsSymbolic_Link_Why()
{
    return "это символическая ссылка, а не файл";
}

QString qsNot_Regular_Why()
{
    return "это не обычный файл";
}

QString qsHard_Links_Why()
{
    return "у файла есть другие жёсткие ссылки";
}

QString qsNot_Fill_Words_Why()
{
    return "он начинается не словами заполнения: это не файл заполнения";
}

QString qsNot_Following_Why()
{
    return "его слова не продолжают файлы заполнения перед ним: это не часть заполнения";
}

QString qsClean_Busy_Text(const QString &qsVolume, const QString &qsWhy)
{
    return QString("Файлы заполнения в %1 не удалены: %2.").arg(qsVolume, qsWhy);
}

QString qsClean_None_Removed_Text()
{
    return "Ни один файл не удалён: под именами файлов заполнения лежат не они.";
}

QString qsRead_Volume_Changed_Text(const QString &qsWhy)
{
    return QString("Прочитанное не с чем сравнить: %1. Опросите раздел заново и повторите проверку.").arg(qsWhy);
}

QString qsVolume_Busy_Why(const qint64 qi64Holder)
{
    return QString("раздел занят другим запуском fillscan%1: он заполняет или читает этот раздел")
        .arg(qi64Holder > 0 ? QString(" (PID %1)").arg(qi64Holder) : QString());
}

QString qsVolume_Gone_Why(const QString &qsPath, const QString &qsReason)
{
    return QString("раздел %1 больше недоступен: %2").arg(qsPath, qsReason);
}

QString qsVolume_Moved_Why(const QString &qsPath)
{
    return QString("раздел %1 отмонтирован или его путь теперь ведёт в другой каталог").arg(qsPath);
}

QString qsDrive_Open_Failure(const QString &qsDrive, const QString &qsReason)
{
    return "Не удалось открыть носитель. Скорее всего, бинарнику не присвоены "
           "пользователь root и права 777.\n" +
           qsDrive + ": " + qsReason + ".";
}

QString qsDrive_Is_Directory(const QString &qsDrive, const QString &qsReason)
{
    return QString("Носитель %1 — каталог, а не блочное устройство или файл образа: %2.").arg(qsDrive, qsReason);
}

QString qsDrive_Empty(const QString &qsDrive)
{
    return QString("Носитель %1 отключён или пуст: система сообщает его размер 0 байт. Проверять нечего: "
                   "подключите носитель (или образ к устройству loop) и повторите опрос.")
        .arg(qsDrive);
}

QString qsDevice_Gone_Why()
{
    return "носитель отключён после опроса: система сообщает его размер 0 байт";
}

QString qsNot_Device_Why()
{
    return "это не блочное устройство и не файл образа";
}

QString qsRead_Progress_Title()
{
    return "Чтение";
}

QString qsRead_Progress_Text(const QString &qsDevice)
{
    return "Чтение носителя " + qsDevice;
}

namespace {

QString qsQuoted(const QString &qsProcess)
{
    return "Запрос \"" + qsProcess + "\"";
}

} // namespace

QString qsProcess_Not_Started(const QString &qsProcess, const QString &qsReason)
{
    return qsQuoted(qsProcess) + " не удалось запустить. Причина - " + qsReason + ".";
}

QString qsProcess_Timed_Out(const QString &qsProcess, const int iSeconds)
{
    return qsQuoted(qsProcess) + " не завершился за отведённое время (" + QString::number(iSeconds) +
           " с) и был остановлен.";
}

QString qsProcess_Crashed(const QString &qsProcess)
{
    return qsQuoted(qsProcess) + " завершился аварийно.";
}

QString qsProcess_Failed(const QString &qsProcess, const int iExit_Code)
{
    return qsQuoted(qsProcess) + " не отработал корректно. Код ошибки - " + QString::number(iExit_Code, 10) + ".";
}

QString qsRoot_Heading()
{
    return "Программе fillscan нужны права администратора.";
}

QString qsRoot_Text(const QString &qsReason)
{
    return "Чтобы прочитать носитель напрямую, fillscan должен работать от имени администратора (root). "
           "Обычно меню запускает его через pkexec: система спрашивает пароль администратора в своём окне.\n\n"
           "Этого не произошло: " +
           (qsReason.isEmpty() ? QString("причина неизвестна") : qsReason) +
           ".\n\nЧто можно сделать:\n"
           "• установить pkexec (пакет pkexec или policykit-1) и агент polkit вашего рабочего стола "
           "(в GNOME и KDE он уже есть; в других средах — например, пакет policykit-1-gnome или lxpolkit) "
           "и запустить fillscan из меню снова;\n"
           "• или в терминале выполнить: sudo fillscan --choose";
}

QString qsFill_Progress_Title()
{
    return "Заполнение";
}

QString qsFill_Progress_Text(const QString &qsPath)
{
    return "Запись файла " + qsPath;
}

QString qsLoss_Question(const quint64 qui64At)
{
    return QString("Носитель теряет данные после ~%1 МиБ. Остановить заполнение?").arg(qui64At >> 20);
}

QString qsFile_Removed_Why(const QString &qsPath)
{
    return QString("файл %1 удалён во время заполнения").arg(qsPath);
}

QString qsFile_Elsewhere_Why(const QString &qsPath)
{
    return QString("файл %1 оказался на другой файловой системе").arg(qsPath);
}

QString qsStopped_By_Error_Why(const QString &qsReason)
{
    return QString("запись отказала: %1").arg(qsReason);
}

QString qsStopped_By_Operator_Why()
{
    return "заполнение прервано";
}

QString qsStopped_At_Loss_Why()
{
    return "заполнение остановлено, когда носитель начал терять записанное";
}

QString qsStopped_Space_Left_Why(const quint64 qui64Free_Left)
{
    return QString("файловая система отказала в месте, хотя свободно ещё %1").arg(qsSize_Text(qui64Free_Left));
}

QString qsFill_Unwritten_Why(const QString &qsVolume, const quint64 qui64On_Device, const quint64 qui64Written)
{
    return QString("Носитель пока нельзя оценить: записано %1 заполнения в %2, но структуры файловой системы на "
                   "носителе указывают только %3 — драйвер файловой системы ещё держит остальное у себя и не "
                   "записал его на носитель даже после синхронизации. Отмонтируйте раздел, смонтируйте его снова "
                   "и повторите чтение.")
        .arg(qsSize_Text(qui64Written), qsVolume, qsSize_Text(qui64On_Device));
}

QString qsNothing_Written_Why(const QString &qsReason)
{
    return "не записано ни одного слова" + (qsReason.isEmpty() ? QString() : ": " + qsReason);
}

QString qsPoll_First_Quiet()
{
    return "сначала выполните опрос";
}

QString qsNo_Display_Text()
{
    return "Окну нужен графический дисплей, а его нет: не заданы ни DISPLAY, ни WAYLAND_DISPLAY, ни "
           "QT_QPA_PLATFORM.\nЗапустите fillscan на рабочем столе или без окна, в пакетном режиме:\n"
           "  fillscan --device УСТРОЙСТВО --volume КАТАЛОГ --batch poll,fill,read\n"
           "(список носителей: fillscan --list).\n";
}

QString qsProbe_No_Prealloc_Why(const QString &qsVolume)
{
    return QString("Файловая система раздела %1 выделяет место только записью (как exFAT через FUSE): пробу без "
                   "записи в раздел провести нельзя, носитель проверит заполнение.")
        .arg(qsVolume);
}

QString qsProbe_Name_Taken_Why(const QString &qsPath)
{
    return QString("В разделе уже есть %1, и это не файл, оставленный прерванной пробой: проба его не трогает. "
                   "Переименуйте или удалите его сами и повторите пробу.")
        .arg(qsPath);
}

QString qsProbe_No_Extents_Why()
{
    return "Файловая система не сообщила, где на носителе лежит место файла пробы.";
}

QString qsProbe_File_Changed_Why(const QString &qsFile)
{
    return QString("Файл пробы %1 изменился, исчез или раздел отключён во время пробы: больше ничего на носитель "
                   "не пишется.")
        .arg(qsFile);
}

QString qsProbe_Device_Changed_Why(const QString &qsDevice)
{
    return QString("Размер носителя %1 изменился после опроса: выполните опрос заново.").arg(qsDevice);
}

QString qsProbe_Progress_Title()
{
    return "Проба носителя";
}

QString qsFill_After_Fake_Text(const quint64 qui64Usable)
{
    if (qui64Usable == 0)
        return "Проба: носитель перестал принимать запись, заполнение не выполняется. Заполнить раздел всё равно: "
               "--full.";
    return QString("Проба нашла поддельную ёмкость: носитель хранит данные только до смещения %1, заполнение не "
                   "выполняется. Заполнить раздел всё равно: --full.")
        .arg(qui64Usable);
}

QString qsProbe_Ask_Heading()
{
    return "Провести быструю пробу носителя сейчас?";
}

QString qsProbe_Ask_Text()
{
    return "Проба за секунды находит поддельную ёмкость без заполнения: метки пишутся прямо на носитель внутри "
           "заранее выделенного файла, всё, что лежало под ними, возвращается на место, файл удаляется.";
}

QString qsFill_After_Fake_Ask_Heading(const QString &qsVolume)
{
    return QString("Проба нашла подделку. Заполнить раздел %1 всё равно?").arg(qsVolume);
}

QString qsFill_After_Fake_Ask_Text(const quint64 qui64Usable)
{
    // The file system places the fill where it likes: a fill of so many bytes is not a fill of
    // the usable part, so the choice is the whole volume or none.
    const QString qsWhy = qui64Usable == 0
                              ? QString("Носитель перестал принимать запись.")
                              : QString("Носитель хранит данные только до смещения ~%1.").arg(qsSize_Text(qui64Usable));
    return qsWhy + " Вердикт пробы уже есть; заполнение всего раздела пишет и туда, где ничего не хранится, и "
                   "займёт часы, зато даст полную карту носителя. «Нет» — остановиться здесь.";
}

QString qsOther_Words_Text(const quint64 qui64Other, const quint64 qui64Copies)
{
    if (qui64Other == 0)
        return "Других слов заполнения на носителе нет.";
    const quint64 qui64Copied = qMin(qui64Other, qui64Copies);
    QString qsText = "Слов заполнения вне мест файла: " + qsCount_Text(qui64Other);
    if (qui64Copied > 0)
        qsText += "; из них " + qsCount_Text(qui64Copied) +
                  " — вторые копии слов, найденных и в другом месте: у конца свободного места заполнение пишет "
                  "заново куски, записанные после отказа в месте, а блоки, где они лежали, файловая система "
                  "освобождает, не стирая (копии оставляют и журнал, и перенос блоков)";
    if (qui64Other > qui64Copied)
        qsText += QString(qui64Copied > 0 ? "; остальные " : "; это ") + qsCount_Text(qui64Other - qui64Copied) +
                  " — остатки прежних заполнений или блоки, которые файловая система освободила";
    return qsText + ".";
}

QString qsFill_Ask_Heading(const QString &qsVolume)
{
    return "Заполнить свободное место раздела " + qsVolume + "?";
}

QString qsFill_Ask_Text(const quint64 qui64Free, const quint64 qui64Device, const quint64 qui64Sample,
                        const qint64 qi64Sample_Ms, const QString &qsWhy)
{
    QString qsText = "Файл заполнения data.data займёт всё свободное место раздела: " + qsBytes_Text(qui64Free) +
                     ". Пока он не удалён, записать на раздел ничего нельзя; после проверки программа предложит "
                     "его удалить.\n\n";
    if (qui64Sample == 0)
        return qsText + "Скорость носителя замерить не удалось (" + qsWhy + "): сколько займёт проверка, покажет окно хода.";
    const qint64 qi64Read_Ms = qint64(double(qui64Device) * qi64Sample_Ms / qui64Sample);
    return qsText + "Чтение всего носителя (" + qsSize_Text(qui64Device) + ") при замеренной скорости " +
           qsRate_Text(qui64Sample, qi64Sample_Ms) + " займёт около " + qsSeconds_Text(qi64Read_Ms) +
           ". Запись обычно идёт медленнее чтения: сколько осталось, покажет окно хода.";
}

QString qsTarget_Text(const QString &qsDevice, const QString &qsVolume)
{
    return "Проверяется носитель " + qsDevice + ", заполняется раздел " + qsVolume;
}

QString qsPoll_Done_Text(const quint64 qui64Device, const quint64 qui64Volume, const quint64 qui64Free)
{
    return "носитель " + qsSize_Text(qui64Device) + ", раздел " + qsSize_Text(qui64Volume) + ", свободно " +
           qsSize_Text(qui64Free) + ".";
}

QString qsFill_Done_Text(const QString &qsHeading, const quint64 qui64Written)
{
    return qsHeading + ", записано " + qsSize_Text(qui64Written) + ".";
}
