#include "Functions_Report_Texts.h"

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
