#ifndef FUNCTIONS_WRITER_H
#define FUNCTIONS_WRITER_H

#include "Functions_Files.h"

#include <QString>
#include <QStringList>

#include <memory>

#include <sys/types.h>

class cFill_Check;
class cFill_Pace;
class cOperator;
class cVolume_Lock;

// Words are written in chunks of this size, each from a buffer of its own.
const size_t stFill_Chunk = 4 << 20;

// One file of the fill being written.
class cFill_File
{
public:
    int iFD = -1;
    bool bDirect = false;
    quint64 qui64First = 0; // index of its first word
    quint64 qui64Block = stIO_Alignment;
    QString qsPath;                    // where it lies, for the checks that read it back
    cFill_Check *pCheck = nullptr;     // checks, as it grows, that the medium keeps it
    std::shared_ptr<cFill_Pace> pPace; // where a FUSE driver would run ahead of the medium

    // Writes as much of qui64Length bytes at word qui64Index as the file system takes:
    // whole; where that is refused near the end of the space (a direct write is all or
    // nothing), in halves down to the file system's block, then the rest buffered, so the
    // volume really ends up full. Returns the bytes written; *piError why it stopped.
    quint64 qui64Write(const uchar *pucData, const quint64 qui64Length, const quint64 qui64Index, int *piError);
    // Keeps whole words up to qui64End (a write cut short may have left part of one), syncs
    // and closes; returns the first error.
    int iClose(const quint64 qui64End);
    // Creates file iPart of the fill in the directory iDir, new and the tool's own, for the
    // words from qui64First_Index on; direct where the file system allows it. False with
    // the reason.
    bool bOpen(const int iDir, const int iPart, const quint64 qui64First_Index, QString *pqsError);
};

// Words pattern + qui64First ... into a buffer, big-endian.
void vMake_Words(uchar *pucBuffer, const quint64 qui64Pattern, const quint64 qui64First, const quint64 qui64Count);

// Writes the words qui64From .. qui64End - 1 in whole chunks from several threads, so that
// several requests are in flight while words are made, as long as the file system takes
// every chunk whole. Returns the first word not written: everything before it is in the
// file, nothing after it (a chunk written past a refused one is cut off again). Only for
// direct writes; otherwise it returns qui64From. *pbAbandoned: after a cancel, writers
// stuck in the device were left behind; the file must then not be touched again.
quint64 qui64Write_Parallel(cFill_File &oFile, const quint64 qui64Pattern, const quint64 qui64From,
                            const quint64 qui64End, cOperator &oOperator, bool *pbCancelled, bool *pbAbandoned);
// The same one chunk at a time, down to the last block the file system takes; *piError
// says why it stopped before qui64End. It runs on a thread of its own: after a cancel, one
// stuck in a device that stopped answering is left behind (*pbAbandoned).
quint64 qui64Write_Sequential(cFill_File &oFile, const quint64 qui64Pattern, const quint64 qui64From,
                              const quint64 qui64End, cOperator &oOperator, bool *pbCancelled, int *piError,
                              bool *pbAbandoned);
// oFile.iClose(qui64End) on a thread of its own, left to go on there when it is not done
// within a second of a stop (*pbClosing_Aside: the file is closed when the file system has
// flushed it). The descriptor is the job's.
int iClose_Aside_On_Stop(cFill_File &oFile, const quint64 qui64End, cOperator &oOperator, bool *pbCancelled,
                         bool *pbClosing_Aside);

// The file's check is due at the first qui64Next_Word words, and found them lost: the
// writers stop (pCheck->bLoss_Found says why).
bool bLoss_Seen(const cFill_File &oFile, const quint64 qui64Next_Word);

// Removes the continuation files a previous fill left in the directory iDir: regular files
// only, under the exact names the fill makes. Returns those it had to leave, with why.
QStringList qslRemove_Continuations(const int iDir);
// Room the fill can take: the free space, the superuser's reserve included.
quint64 qui64Free_Bytes(const QString &qsVolume);
bool bOut_Of_Space(const int iError);

// What the fill writes: the words pattern + i for i below qui64Count.
class cFill_Words
{
public:
    quint64 qui64Pattern = 0;
    quint64 qui64Count = 0;
};

// Where the fill writes: file 1, open, in the locked volume directory; every further file
// goes into that directory and must stay on the first one's file system (devFirst).
class cFill_Target
{
public:
    const cVolume_Lock &oLock;
    cFill_File &oFile;
    dev_t devFirst;
    QString qsVolume;
};

// How the writing ended, as the writers report it; the fill's status follows from it alone.
class cWrite_Outcome
{
public:
    quint64 qui64Words = 0; // words in the files, from the first on
    int iFiles = 0;         // data.data and its continuations made
    int iError = 0;         // the system's error that stopped the writing, 0 at the end of the words
    QString qsStopped;      // a stop the system has no number for: the volume gone, a file not made
    int iClose_Error = 0;   // the last file's cut, sync or close
    bool bCancelled = false;
    bool bAbandoned = false;     // writers stuck in a device that stopped answering were left behind
    bool bClosing_Aside = false; // after a stop, the last file's cut, sync and close go on aside
    bool bLoss_Stop = false;     // stopped where the checks found the medium losing data
};

// Writes the words into the target's files until they are done, the space ends, the operator
// stops it or an error does; closes the last file.
cWrite_Outcome oWrite_Fill(cFill_Target &oTarget, const cFill_Words &oWords, cOperator &oOperator);

#endif // FUNCTIONS_WRITER_H
