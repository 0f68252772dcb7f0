#include "Functions_Fill_Files.h"

#include "Functions_Files.h"

#include <QFile>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString qsFill_File_Name(const int iPart)
{
    return pcFill_File_Name + (iPart <= 1 ? QString() : "." + QString::number(iPart));
}

QString qsFill_File_Path(const QString &qsVolume, const int iPart)
{
    return qsVolume + qsFill_File_Name(iPart);
}

int iFill_Part_Of(const QString &qsName)
{
    return qsName == pcFill_File_Name ? 1 : iContinuation_Number(qsName);
}

int iContinuation_Number(const QString &qsName)
{
    const QString qsPrefix = QString(pcFill_File_Name) + ".";
    if (!qsName.startsWith(qsPrefix))
        return 0;
    const QString qsNumber = qsName.mid(qsPrefix.size());
    if (qsNumber.isEmpty() || qsNumber.size() > 9 || qsNumber[0] == '0')
        return 0;
    for (const QChar qcDigit : qsNumber)
        if (qcDigit < '0' || qcDigit > '9')
            return 0;
    const int iNumber = qsNumber.toInt();
    return iNumber >= 2 ? iNumber : 0;
}

bool bFirst_Word(const int iDir, const QByteArray &qbaName, quint64 *pqui64Word)
{
    const int iFD = openat(iDir, qbaName.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (iFD < 0)
        return false;
    uchar aucWord[8];
    int iError = 0;
    const bool bRead = qui64Read_Full(iFD, aucWord, 8, 0, &iError) == 8;
    close(iFD);
    if (bRead)
        *pqui64Word = qFromBigEndian<quint64>(aucWord);
    return bRead;
}

namespace {

bool bFirst_Word(const QString &qsPath, quint64 *pqui64Word)
{
    return bFirst_Word(AT_FDCWD, QFile::encodeName(qsPath), pqui64Word);
}

// A fill file starts with words that follow each other, ones in the top bit (a wrapping
// medium may have put later words of the fill there), or with zeros (a file without data,
// or a start the medium lost). Anything else is a file of the user's that has the name.
bool bFill_Shaped(const QString &qsPath)
{
    const int iFD = open(QFile::encodeName(qsPath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (iFD < 0)
        return true; // unreadable: the read tells
    uchar aucWords[32];
    int iError = 0;
    const quint64 qui64Words = qui64Read_Full(iFD, aucWords, sizeof aucWords, 0, &iError) / 8;
    close(iFD);
    bool bZeros = true, bSequence = qui64Words == 0 || (aucWords[0] & 0x80) != 0;
    for (quint64 w = 0; w < qui64Words; ++w) {
        const quint64 qui64Word = qFromBigEndian<quint64>(aucWords + 8 * w);
        bZeros = bZeros && qui64Word == 0;
        bSequence = bSequence && qui64Word == qFromBigEndian<quint64>(aucWords) + w;
    }
    return bZeros || bSequence;
}

} // namespace

QVector<cFill_Part> qvFill_Parts(const QString &qsVolume)
{
    QVector<cFill_Part> qvResult;
    quint64 qui64First = 0, qui64Pattern = 0, qui64Word = 0;
    struct stat strFile;
    for (int iPart = 1; !qsVolume.isEmpty(); ++iPart) {
        const QString qsPath = qsFill_File_Path(qsVolume, iPart);
        if (lstat(QFile::encodeName(qsPath).constData(), &strFile) != 0 || !S_ISREG(strFile.st_mode) ||
            (iPart == 1 && !bFill_Shaped(qsPath)))
            break;
        if (iPart == 1 && !bFirst_Word(qsPath, &qui64Pattern))
            qui64Pattern = 0; // an empty data.data has no continuation of its own
        else if (iPart > 1 && (qui64First == 0 || !bFirst_Word(qsPath, &qui64Word) ||
                               qui64Word != qui64Pattern + qui64First))
            break; // not where this fill's words go on: an earlier fill's
        qvResult.append({qsPath, qui64First, quint64(strFile.st_size) / 8});
        qui64First += quint64(strFile.st_size) / 8;
    }
    return qvResult;
}

bool bFill_Pattern(const QString &qsVolume, quint64 *pqui64Pattern)
{
    quint64 qui64Word = 0;
    if (qsVolume.isEmpty() || !bFirst_Word(qsFill_File_Path(qsVolume), &qui64Word))
        return false;
    // Ones in bits k+1 to 63 (k >= 0) and none below: the complement is 2^(k+1) - 1, odd.
    // Zeros (a file without data) are no pattern.
    const quint64 qui64Low = ~qui64Word;
    if (qui64Word == 0 || (qui64Low & 1) == 0 || (qui64Low & (qui64Low + 1)) != 0)
        return false;
    *pqui64Pattern = qui64Word;
    return true;
}
