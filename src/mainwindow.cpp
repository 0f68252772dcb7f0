#include "mainwindow.h"

#include "Functions_Core.h"
#include "Functions_Map.h"
#include "ui_mainwindow.h"

cDrive oDrive;
cVolume oVolume;
cData oData;

namespace {

// The read tracks at most this many indexes (1.4 GiB of bits).
const quint64 qui64Max_Table = 12000000000ULL;

QString qsSeconds(const qint64 qi64Ms)
{
    return QString::number(double(qi64Ms) / 1000.0, 'f', 2) + " с";
}

} // namespace

bool bPoll_Records(const QString &qsDrive_Path, const QString &qsVolume_Path)
{
    oVolume.vGet_Properties(qsVolume_Path);
    const bool bDrive_Opened = oDrive.bGet_Properties(qsDrive_Path);
    oData.vGet_Properties(oVolume.qui64Clusters_Count, oVolume.iCluster_Size);
    return bDrive_Opened;
}

QStringList qslPoll_Values()
{
    return {oDrive.qsDrive_Name,
            QString::number(oDrive.iSector_Size, 10),
            QString::number(oDrive.qui64Sectors_Count, 10),
            QString::number(oDrive.qui64Bytes_Count, 10),
            oVolume.qsVolume_Name,
            QString::number(oVolume.iCluster_Size, 10),
            QString::number(oVolume.qui64Clusters_Count, 10),
            QString::number(oVolume.qui64Bytes_Count, 10),
            QString::number(oVolume.qui64Clusters_Free_Count, 10),
            QString::number(oVolume.qui64Bytes_Free_Count, 10),
            QString::number(oData.qui64Pattern, 10),
            oData.qsPattern};
}

bool bFill_Records()
{
    const cVolume oVolume_Copy = oVolume;
    oData.vWrite_Data(oVolume_Copy);
    const eFill_Status eStatus = oData.oFill_Result.eStatus;
    return eStatus == eFill_Complete || eStatus == eFill_Full || eStatus == eFill_Too_Large;
}

bool bRead_Records()
{
    // The last poll's pattern, and no index that poll's volume could not have held.
    oDrive.vRead_Data(oData.qui64Pattern, qMin(qui64Max_Table, oData.qui64Data_Count));
    cRead_Result &oResult = oDrive.oRead_Result;
    vCompare_With_Volume(oResult, oVolume.qsVolume_Name);
    return oResult.eStatus == eRead_Done;
}

QString qsFill_Heading(const cFill_Result &oResult)
{
    switch (oResult.eStatus) {
    case eFill_Cancelled:
        return "Заполнение прервано.";
    case eFill_Error:
        return "Ошибка!";
    default:
        return "Заполнение завершено.";
    }
}

QString qsFill_Summary(const cFill_Result &oResult)
{
    const quint64 i = oResult.qui64Words_Written;
    QString qsReason;
    switch (oResult.eStatus) {
    case eFill_Complete:
        qsReason = "записаны все слова.";
        break;
    case eFill_Full:
        qsReason = QString("раздел заполнен на слове %1.").arg(i);
        break;
    case eFill_Too_Large:
        qsReason = QString("достигнут предельный размер файла для этой файловой системы на слове %1.").arg(i);
        break;
    case eFill_Cancelled:
        qsReason = QString("прервано оператором на слове %1.").arg(i);
        break;
    default:
        qsReason = QString("ошибка записи на слове %1: %2.").arg(i).arg(oResult.qsError);
        break;
    }
    return QString("Файл: %1.\n"
                   "Записано слов: %2 из %3 (%4 байт из %5).\n"
                   "Остановка: %6\n"
                   "Время: %7, %8.")
        .arg(oResult.qsPath)
        .arg(i)
        .arg(oResult.qui64Words_Total)
        .arg(i * 8)
        .arg(oResult.qui64Words_Total * 8)
        .arg(qsReason, qsSeconds(oResult.qi64Elapsed_Ms), qsRate_Text(i * 8, oResult.qi64Elapsed_Ms));
}

QString qsRead_Heading(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Cancelled ? "Чтение прервано." : "Чтение завершено.";
}

QString qsRead_Summary(const cRead_Result &oResult)
{
    QStringList qslLines;
    qslLines << QString("Носитель: %1, %2 байт.").arg(oResult.qsDevice).arg(oResult.qui64Bytes_Count);
    qslLines << QString("Прочитано: %1 байт из %2, не удалось прочитать: %3 байт.")
                    .arg(oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad)
                    .arg(oResult.qui64Bytes_Count)
                    .arg(oResult.qui64Bytes_Bad);
    if (oResult.eStatus == eRead_Cancelled)
        qslLines << "Чтение прервано оператором: результат относится к прочитанной части.";
    qslLines << QString("Время: %1, %2.")
                    .arg(qsSeconds(oResult.qi64Elapsed_Ms), qsRate_Text(oResult.qui64Bytes_Done, oResult.qi64Elapsed_Ms));
    if (oResult.qui64Table_Count == 0)
        qslLines << "Отслеживаемых индексов нет.";
    else
        qslLines << QString("Отслеживаемые индексы: 0 … %1 (паттерн %2).")
                        .arg(oResult.qui64Table_Count - 1)
                        .arg(oResult.qui64Pattern);
    qslLines << QString("Найдено различных индексов: %1, всего совпадений: %2, повторов: %3.")
                    .arg(oResult.qui64Distinct)
                    .arg(oResult.qui64Hits)
                    .arg(oResult.qui64Hits - oResult.qui64Distinct);
    if (!oResult.qsFill_Path.isEmpty()) {
        const double dPercent = oResult.qui64Fill_Words == 0
                                    ? 100.0
                                    : 100.0 * double(oResult.qui64Fill_Found) / double(oResult.qui64Fill_Words);
        QString qsLine = QString("Файл заполнения %1: найдено %2 из %3 слов (%4 %).")
                             .arg(oResult.qsFill_Path)
                             .arg(oResult.qui64Fill_Found)
                             .arg(oResult.qui64Fill_Words)
                             .arg(dPercent, 0, 'f', 2);
        if (oResult.qui64Fill_Tracked < oResult.qui64Fill_Words)
            qsLine += QString(" Отслеживаются только первые %1 слов.").arg(oResult.qui64Fill_Tracked);
        qslLines << qsLine;
        if (!oResult.qvMissing.isEmpty()) {
            QStringList qslRanges;
            for (const auto &qpRange : oResult.qvMissing)
                qslRanges << (qpRange.first == qpRange.second ? QString::number(qpRange.first)
                                                              : QString("%1 … %2").arg(qpRange.first).arg(qpRange.second));
            const quint64 qui64Missing = oResult.qui64Fill_Tracked - oResult.qui64Fill_Found;
            qslLines << QString("Не найдены индексы: %1%2 (всего %3).")
                            .arg(qslRanges.join(", "), qslRanges.size() >= 8 ? ", …" : "")
                            .arg(qui64Missing);
        }
    }
    if (oResult.iOn_Device == 0)
        qslLines << QString("Внимание: раздел не лежит на носителе %1, найти на нём слова заполнения нельзя.")
                        .arg(oResult.qsDevice);
    return qslLines.join("\n");
}

MainWindow::MainWindow(QWidget *parent, const QString &qsDrive, const QString &qsVolume)
    : QMainWindow(parent), ui(new Ui::MainWindow), qsDrive_Path(qsDrive), qsVolume_Path(qsVolume)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::on_pushButton_Properties_clicked()
{
    bPoll_Records(qsDrive_Path, qsVolume_Path);
    const QStringList qslValues = qslPoll_Values();
    ui->label_Drive_Name_Value->setText(qslValues[0]);
    ui->label_Drive_Sector_Size_Value->setText(qslValues[1]);
    ui->label_Drive_Sectors_Count_Value->setText(qslValues[2]);
    ui->label_Drive_Bytes_Count_Value->setText(qslValues[3]);
    ui->label_Volume_Name_Value->setText(qslValues[4]);
    ui->label_Volume_Cluster_Size_Value->setText(qslValues[5]);
    ui->label_Volume_Clusters_Count_Value->setText(qslValues[6]);
    ui->label_Volume_Bytes_Count_Value->setText(qslValues[7]);
    ui->label_Volume_Clusters_Free_Count_Value->setText(qslValues[8]);
    ui->label_Volume_Bytes_Free_Count_Value->setText(qslValues[9]);
    ui->textEdit_Data_Pattern_Value->setText(qslValues[10]);
    ui->textEdit_Data_Pattern_Text_Value->setText(qslValues[11]);
}

void MainWindow::on_pushButton_Write_clicked()
{
    bFill_Records();
    const cFill_Result &oResult = oData.oFill_Result;
    // A fill that never started has told the operator why already.
    if (oResult.eStatus == eFill_No_Poll || oResult.eStatus == eFill_Open_Failed || oResult.eStatus == eFill_Not_Run)
        return;
    iMessageBox(qsFill_Heading(oResult), qsFill_Summary(oResult), oResult.eStatus == eFill_Error ? 3 : 1,
                iMsgBox_OK_Button, 0, 0, "");
}

void MainWindow::on_pushButton_Read_clicked()
{
    bRead_Records();
    const cRead_Result &oResult = oDrive.oRead_Result;
    if (oResult.eStatus != eRead_Done && oResult.eStatus != eRead_Cancelled)
        return;
    if (iMessageBox(qsRead_Heading(oResult), qsRead_Summary(oResult), 1, iMsgBox_OK_Button, 0, 0, "Карта") == 0) {
        auto *qMap = new cMap_Window(oResult, this);
        qMap->setAttribute(Qt::WA_DeleteOnClose);
        qMap->show();
    }
}
