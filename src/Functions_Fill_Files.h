#ifndef FUNCTIONS_FILL_FILES_H
#define FUNCTIONS_FILL_FILES_H

#include "Functions_Results.h"

#include <QString>
#include <QVector>

// The fill's files in a volume: their names, and which of the files there are this fill's.

// The fill file, in the volume's directory.
const char *const pcFill_File_Name = "data.data";
// File iPart of the fill (data.data, then data.data.2, data.data.3, ...: where the file
// system refuses a larger file, the sequence of words goes on in the next one).
QString qsFill_File_Path(const QString &qsVolume, const int iPart = 1);
QString qsFill_File_Name(const int iPart = 1);
// N for the name of continuation N (data.data.N exactly as the fill makes it: decimal,
// from 2, no sign, no leading zero, no blank), else 0: any other name is the user's.
int iContinuation_Number(const QString &qsName);
// Which file of the fill a name is: 1 for data.data, N for data.data.N written exactly as
// qsFill_File_Path writes it (no leading zero, sign or blank); 0 for any other name.
int iFill_Part_Of(const QString &qsName);
// The files of the fill found in the volume, in order, each a regular file of whole words.
// A continuation counts only when its first word goes on from where the part before it
// ends: a stale one an earlier fill left is not part of this one. A data.data that does not
// start as a fill does (a file of the user's with that name) is no fill at all.
QVector<cFill_Part> qvFill_Parts(const QString &qsVolume);
// The pattern the fill in the volume was written with: its first word (index 0), when that
// has the pattern's shape (ones above, zeros below). False when there is none.
bool bFill_Pattern(const QString &qsVolume, quint64 *pqui64Pattern);

// The first word of the regular file qbaName in the directory iDir (AT_FDCWD: a path),
// big-endian, never through a link; false when it has none.
bool bFirst_Word(const int iDir, const QByteArray &qbaName, quint64 *pqui64Word);

#endif // FUNCTIONS_FILL_FILES_H
