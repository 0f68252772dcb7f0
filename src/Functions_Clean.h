#ifndef FUNCTIONS_CLEAN_H
#define FUNCTIONS_CLEAN_H

#include "Functions_Drive.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Giving the medium back: after the read the fill's own files are removed, and nothing else.

// What a clean did.
class cClean_Result
{
public:
    bool bPolled = false;   // a volume was known
    QStringList qslRemoved; // the files removed, in the fill's order
    quint64 qui64Bytes = 0; // their size
    QStringList qslKept;    // fill names that were left, each with the reason
    QString qsError;        // the first failure, empty when none
    bool bOk() const { return bPolled && qsError.isEmpty(); }
};

// A file of a fill name in the volume's directory, and whether it is the fill's.
class cFill_Name
{
public:
    QString qsName;
    quint64 qui64Bytes = 0;
    QString qsWhy_Not; // empty when the clean may remove it: why it is no file of the fill
    bool bRegular = false; // a regular file with one link, whatever its words
};
// Every name of the fill (data.data, data.data.N) in the open directory iDir, in the fill's
// order. A file is the fill's when it is a regular file with one link, of whole words, and
// data.data starts with a word of the fill's shape, each continuation with the word after the
// last of the file before it (an empty data.data is one a fill made and wrote nothing into).
QVector<cFill_Name> qvFill_Names(const int iDir);

// The fill's files in the volume (data.data, data.data.2, ...) and their size in bytes: what
// a clean would remove.
quint64 qui64Fill_Bytes(const QString &qsVolume);
quint64 qui64Fill_Bytes(const cVolume &oVolume); // in the directory the poll opened

// Removes the fill's files from the polled volume, in the directory the poll opened, while
// its name still leads there and no other run holds it: only the files qvFill_Names finds
// the fill's; every other fill name is kept and named, and fails the step. Then syncs the
// directory so the medium can be pulled out.
cClean_Result oClean(const cVolume &oVolume);

// The paths of the files a clean would remove.
QStringList qslFill_Files(const QString &qsVolume);
QStringList qslFill_Files(const cVolume &oVolume); // in the directory the poll found

// Every regular file of a fill name in the volume, whether its words are the fill's or not
// (a fake medium may have lost data.data's first word), and their size: what the window asks
// to remove; the clean then removes the fill's alone and names the rest.
QStringList qslFill_Names(const cVolume &oVolume, quint64 *pqui64Bytes);

#endif // FUNCTIONS_CLEAN_H
