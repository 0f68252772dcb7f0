#ifndef FUNCTIONS_DATA_H
#define FUNCTIONS_DATA_H

#include "Functions_Drive.h"

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
// ends: a stale one an earlier fill left is not part of this one.
QVector<cFill_Part> qvFill_Parts(const QString &qsVolume);
// The pattern the fill in the volume was written with: its first word (index 0), when that
// has the pattern's shape (ones above, zeros below). False when there is none.
bool bFill_Pattern(const QString &qsVolume, quint64 *pqui64Pattern);

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

private:
    quint64 qui64Calc_Pattern(quint64 qui64Value) const;
};

#endif // FUNCTIONS_DATA_H
