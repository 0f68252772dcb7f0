#ifndef FUNCTIONS_CLEAN_H
#define FUNCTIONS_CLEAN_H

#include "Functions_Drive.h"

#include <QString>
#include <QStringList>

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

// The fill's files in the volume (data.data, data.data.2, ...) and their size in bytes: what
// a clean would remove.
quint64 qui64Fill_Bytes(const QString &qsVolume);

// Removes the fill's files from the polled volume: only regular files of the fill's exact
// names, one link each, never through a symbolic link; then syncs the directory so the
// medium can be pulled out.
cClean_Result oClean(const cVolume &oVolume);

// The fill's files by their names: data.data, data.data.2, ... as long as they go on, each a
// regular file. A continuation an earlier fill left (its words do not go on from this one's)
// is the fill's all the same.
QStringList qslFill_Files(const QString &qsVolume);

#endif // FUNCTIONS_CLEAN_H
