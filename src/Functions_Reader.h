#ifndef FUNCTIONS_READER_H
#define FUNCTIONS_READER_H

#include "Functions_Table.h"
#include "Functions_Results.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

#include <vector>


class cOperator;

// What a read covers: the whole device, or, after a fill that stopped when the medium lost
// data, everything up to where the fill wrote (whole) and a block of every few beyond it,
// enough to tell a limit from a wrap and to see what a cache holds.
class cRead_Plan
{
public:
    quint64 qui64Whole_To = ~quint64(0); // read whole up to this device offset
    int iSample_Every = 1;               // beyond it, one block of every this many
    bool bSampled() const { return iSample_Every > 1 && qui64Whole_To != ~quint64(0); }
};

// Reads the device qsDevice over qui64Bytes_Count bytes from offset 0 with a few threads
// and notes where every word pattern + i with i below qui64Data_Part lies. Fills oResult;
// shows progress through the operator and tells it nothing else. A cancelled read ends
// within a few seconds even when the device has stopped answering.
void vScan_Device(const QString &qsDrive_Name, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Part, cOperator &oOperator, cRead_Result &oResult,
                  const cRead_Plan &oPlan = cRead_Plan());

// Reads the words of each run's place again, past the page cache, into *pqvWords (in order;
// a word that cannot be read comes back as 0). False with the reason when the device could
// not be read at all.
bool bRead_Words(const QString &qsDevice, const std::vector<cRun> &vecWhere, QVector<quint64> *pqvWords,
                 QString *pqsError);

// Reads the start of qsDevice (up to qui64Bytes, stopping after about a second) past the page
// cache and times it, for an estimate of how long the whole read takes. False with the
// system's reason when nothing could be read.
bool bSample_Read_Rate(const QString &qsDevice, const quint64 qui64Bytes, quint64 *pqui64Read, qint64 *pqi64Ms,
                       QString *pqsError);

#endif // FUNCTIONS_READER_H
