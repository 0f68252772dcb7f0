#ifndef FUNCTIONS_DATA_H
#define FUNCTIONS_DATA_H

#include "Functions_Drive.h"
#include "Functions_Fill_Files.h"

#include <QString>
#include <QStringList>

enum eFill_Status {
    eFill_Not_Run,
    eFill_No_Poll,     // no volume known yet
    eFill_Open_Failed, // the fill file could not be created
    eFill_Complete,    // every word of the volume's size was written
    eFill_Full,        // the volume ran out of space
    eFill_Too_Large,   // the file system's file-size limit was reached
    eFill_Error,       // a write or the final sync failed
    eFill_Cancelled,
    eFill_Refused, // the volume does not lie on the polled device, and no one said to go on
    eFill_Loss     // stopped: the medium lost what was written (its checks read it back)
};
// The status as scripts see it.
const char *pcFill_Status_Name(const eFill_Status eStatus);

// How many indexes a pattern leaves room for: 2^k for ones in bits k+1 to 63 and zeros below;
// 0 for a value that is no such pattern.
quint64 qui64Pattern_Indexes(const quint64 qui64Pattern);

// What one fill did.
class cFill_Result
{
public:
    eFill_Status eStatus = eFill_Not_Run;
    QString qsPath;
    QString qsError; // the system's reason for a failure
    int iErrno = 0;  // and its number, where the system gave one
    quint64 qui64Pattern = 0;
    quint64 qui64Data_Count = 0; // N: one word per 8 bytes of the volume
    quint64 qui64Words_Written = 0;
    qint64 qi64Elapsed_Ms = 0;
    bool bDirect = false;    // written past the page cache
    bool bAbandoned = false; // writers stuck in a device that stopped answering were left behind
    bool bOperator_Stop = false; // the operator (or a signal) stopped it
    bool bClosing_Aside = false; // stopped while the file system flushed the file: it is closed aside
    // The checks as the fill went: what they read, and where the medium first lost what it was
    // given (a device offset where the file system says where the file lies, else the file's).
    int iChecks = 0;
    quint64 qui64Check_Bytes = 0;
    bool bLoss_Seen = false;
    bool bLoss_Placed = false;
    quint64 qui64Loss_Offset = 0;
    int iFiles = 0;          // data.data and its continuations
    QStringList qslStale;    // continuations of an earlier fill that could not be removed, with why
};

class cFill_Check;
class cOperator;
class cWrite_Outcome;

// The fill's status, reason, errno, words and files from how its writing ended: nothing but
// the outcome decides them.
cFill_Result oFill_Status(const cWrite_Outcome &oOutcome);

class cData
{
public:
    quint64 qui64Pattern = 0;
    QString qsPattern;
    quint64 qui64Data_Count = 0;

    void vGet_Properties(quint64 qui64Clusters_Free_Count, int iCluster_Size);
    QString qsText_Data(quint64 qui64Value) const;
    // Writes the fill into the volume of oVolume until it is full; shows progress through
    // the operator and tells it nothing else: what it did is in oResult.
    // With pCheck, what is written is read back now and then; at the first loss the operator
    // is asked whether to stop.
    void vWrite_Data(cVolume oVolume, cOperator &oOperator, cFill_Result &oResult,
                     cFill_Check *pCheck = nullptr) const;
    // The same for a caller that has only the volume: progress and questions go to the
    // default operator (the window's in a widget program), a failure is told through it.
    void vWrite_Data(cVolume oVolume);

private:
    quint64 qui64Calc_Pattern(quint64 qui64Value) const;
};

#endif // FUNCTIONS_DATA_H
