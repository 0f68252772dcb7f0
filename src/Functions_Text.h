#ifndef FUNCTIONS_TEXT_H
#define FUNCTIONS_TEXT_H

#include <QString>
#include <QStringList>

// Figures as a Russian reader reads them: digits grouped, a decimal comma, sizes in
// binary units.
QString qsCount_Text(const quint64 qui64Value);                              // 4 125 097 984
QString qsSize_Text(const quint64 qui64Bytes);                               // 3,84 ГиБ
QString qsBytes_Text(const quint64 qui64Bytes);                              // 3,84 ГиБ (4 125 097 984 байт)
QString qsRate_Text(const quint64 qui64Bytes, const qint64 qi64Ms);          // 680,8 МиБ/с
QString qsSeconds_Text(const qint64 qi64Ms);                                 // 0,34 с; 2 мин 05 с
QString qsPercent_Text(const quint64 qui64Part, const quint64 qui64Whole);   // 99,95 %; менее 0,01 %
QString qsByte_Range_Text(const quint64 qui64First, const quint64 qui64End); // байты 0 … 4 095
// The form of a noun after a count, as Russian wants it: 1 слово, 2 слова, 5 слов, 11 слов.
QString qsPlural(const quint64 qui64Count, const char *pcOne, const char *pcFew, const char *pcMany);
QString qsWords_Text(const quint64 qui64Count); // 1 слово, 29 992 064 слова
QString qsAreas_Text(const quint64 qui64Count); // (в) 1 области, 3 областях
int iPercent(const quint64 qui64Done, const quint64 qui64Total);               // whole per cent, 100 of 0
// A running step's figures: 1,00 ГиБ из 3,84 ГиБ, 680,8 МиБ/с, осталось 0:04
QString qsProgress_Text(const quint64 qui64Done, const quint64 qui64Total, const qint64 qi64Ms);

// Text for a terminal: control characters other than the line feed (in a file name, an
// escape sequence would act on the terminal) written as \xNN.
QString qsTerminal_Safe(const QString &qsText);
// A value that must stay on its line (a path, a mount point): every control character,
// the line feed too, written as \xNN, so that a name cannot forge a line of the output.
QString qsLine_Safe(const QString &qsValue);
// qsText with each of qslValues that holds a control character written as qsLine_Safe does.
QString qsValues_Escaped(QString qsText, const QStringList &qslValues);

#endif // FUNCTIONS_TEXT_H
