// Runs the tool's own fill and read once and prints what they took, for bench/run.sh.
//   bench_io pattern VOLUME_DIR              -> PATTERN WORD_COUNT
//   bench_io fill VOLUME_DIR                 -> seconds bytes MB/s
//   bench_io read DEVICE direct|buffered PATTERN WORD_COUNT
//                                            -> seconds bytes MB/s peak_rss_KiB table_KiB distinct
#include "Functions_Core.h"
#include "Functions_Data.h"
#include "Functions_Drive.h"

#include <QCoreApplication>

#include <cstdio>
#include <sys/resource.h>

namespace {

cData oPattern_Of(const QString &qsVolume)
{
    cVolume oVolume;
    oVolume.vGet_Properties(qsVolume);
    cData oData;
    oData.vGet_Properties(oVolume.qui64Clusters_Count, oVolume.iCluster_Size);
    return oData;
}

long lPeak_Rss_KiB()
{
    struct rusage strUsage;
    getrusage(RUSAGE_SELF, &strUsage);
    return strUsage.ru_maxrss;
}

int iUsage()
{
    std::fprintf(stderr, "usage: bench_io pattern DIR | fill DIR | read DEVICE direct|buffered PATTERN COUNT\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication qApplication(argc, argv); // no widgets: the operations report on stderr
    vSet_Quiet(true);
    const QStringList qslArguments = QCoreApplication::arguments().mid(1);
    if (qslArguments.size() == 2 && qslArguments[0] == "pattern") {
        const cData oData = oPattern_Of(qslArguments[1]);
        std::printf("%llu %llu\n", oData.qui64Pattern, oData.qui64Data_Count);
        return 0;
    }
    if (qslArguments.size() == 2 && qslArguments[0] == "fill") {
        QString qsVolume = qslArguments[1];
        if (!qsVolume.endsWith('/'))
            qsVolume += '/';
        cData oData = oPattern_Of(qsVolume);
        cVolume oVolume;
        oVolume.vGet_Properties(qsVolume);
        oData.vWrite_Data(oVolume);
        const cFill_Result &oResult = oData.oFill_Result;
        const quint64 qui64Bytes = oResult.qui64Words_Written * 8;
        const double dSeconds = double(oResult.qi64Elapsed_Ms) / 1000.0;
        std::printf("%.3f %llu %.1f\n", dSeconds, qui64Bytes, double(qui64Bytes) / 1e6 / dSeconds);
        return oResult.eStatus == eFill_Full || oResult.eStatus == eFill_Complete ? 0 : 1;
    }
    if (qslArguments.size() == 5 && qslArguments[0] == "read") {
        vSet_Read_Mode(qslArguments[2] == "buffered" ? eRead_Buffered : eRead_Direct);
        cDrive oDrive;
        if (!oDrive.bGet_Properties(qslArguments[1]))
            return 1;
        const quint64 qui64Count = qslArguments[4].toULongLong();
        oDrive.vRead_Data(qslArguments[3].toULongLong(), qui64Count);
        const cRead_Result &oResult = oDrive.oRead_Result;
        const double dSeconds = double(oResult.qi64Elapsed_Ms) / 1000.0;
        std::printf("%.3f %llu %.1f %ld %llu %llu\n", dSeconds, oResult.qui64Bytes_Done,
                    double(oResult.qui64Bytes_Done) / 1e6 / dSeconds, lPeak_Rss_KiB(),
                    quint64(oResult.vecRuns.size() * sizeof(cRun) / 1024), oResult.qui64Distinct);
        return oResult.eStatus == eRead_Done ? 0 : 1;
    }
    return iUsage();
}
