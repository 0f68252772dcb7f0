#include "Functions_Map.h"

#include "Functions_Files.h"
#include "Functions_Report.h"
#include "Functions_Text.h"

#include <QBuffer>
#include <QPainter>

namespace {

const int iMargin = 12;
const int iAxis_Width = 80; // the offsets of the rows, left of the grid
const int iColumns = 32;
const int iCell_Width = 24;
const int iCell_Height = 12;
const int iGrid_Left = iMargin + iAxis_Width;
const int iGrid_Width = iColumns * iCell_Width; // also the strip's width
const int iGrid_Top = iMargin + 24 + 20 + 16;
const int iStrip_Height = 24;
const QRgb qrgbBackground = 0xfff4f4f4;

int iRows(const cRead_Result &oResult)
{
    return (oResult.qvRegion_Hits.size() + iColumns - 1) / iColumns;
}

int iLegend_Top(const cRead_Result &oResult)
{
    return iGrid_Top + qMax(1, iRows(oResult)) * iCell_Height + 10;
}

int iStrip_Title_Top(const cRead_Result &oResult)
{
    return iLegend_Top(oResult) + 48;
}

quint64 qui64Region_Length(const cRead_Result &oResult, const int iRegion)
{
    const quint64 qui64First = quint64(iRegion) * oResult.qui64Region_Bytes;
    return qMin(oResult.qui64Region_Bytes, (oResult.qui64Bytes_Count & ~7ULL) - qui64First);
}

quint64 qui64At(const QVector<quint64> &qvValues, const int i)
{
    return qvValues.value(i, 0);
}

quint64 qui64Bucket_Size(const cVerdict &oVerdict, const int iBucket)
{
    const quint64 qui64First = quint64(iBucket) * oVerdict.qui64Strip_Bucket;
    return qMin(oVerdict.qui64Strip_Bucket, oVerdict.qui64Words - qui64First);
}

int iStrip_Bucket_At(const cRead_Result &oResult, const QPoint &qpAt)
{
    const QRect qrStrip = qrMap_Strip(oResult);
    const int iBuckets = oResult.oVerdict.qvStrip_Found.size();
    if (iBuckets == 0 || !qrStrip.contains(qpAt))
        return -1;
    return int(qint64(qpAt.x() - qrStrip.left()) * iBuckets / iGrid_Width);
}

int iRegion_At(const cRead_Result &oResult, const QPoint &qpAt)
{
    if (qpAt.x() < iGrid_Left || qpAt.x() >= iGrid_Left + iGrid_Width || qpAt.y() < iGrid_Top)
        return -1;
    const int iRegion = ((qpAt.y() - iGrid_Top) / iCell_Height) * iColumns + (qpAt.x() - iGrid_Left) / iCell_Width;
    return iRegion < oResult.qvRegion_Hits.size() ? iRegion : -1;
}

void vLegend(QPainter &qPainter, int iX, const int iY, const QList<QPair<QRgb, QString>> &qlItems)
{
    for (const auto &qpItem : qlItems) {
        qPainter.fillRect(iX, iY, 14, 14, QColor::fromRgba(qpItem.first));
        qPainter.setPen(Qt::darkGray);
        qPainter.drawRect(iX, iY, 13, 13);
        qPainter.setPen(Qt::black);
        QRect qrUsed;
        qPainter.drawText(QRect(iX + 20, iY - 3, 400, 20), Qt::AlignLeft | Qt::AlignVCenter, qpItem.second, &qrUsed);
        iX = qrUsed.right() + 20;
    }
}

void vDraw_Axes(QPainter &qPainter, const cRead_Result &oResult)
{
    qPainter.setPen(Qt::darkGray);
    for (int iRow = 0; iRow < iRows(oResult); iRow += 4)
        qPainter.drawText(QRect(iMargin, iGrid_Top + iRow * iCell_Height - 4, iAxis_Width - 6, 20),
                          Qt::AlignRight | Qt::AlignTop,
                          qsSize_Text(quint64(iRow) * iColumns * oResult.qui64Region_Bytes));
    for (int iColumn = 0; iColumn < iColumns; iColumn += 8)
        qPainter.drawText(QRect(iGrid_Left + iColumn * iCell_Width, iGrid_Top - 16, 8 * iCell_Width, 16),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          "+" + qsSize_Text(quint64(iColumn) * oResult.qui64Region_Bytes));
    qPainter.setPen(Qt::black);
}

void vDraw_Strip(QPainter &qPainter, const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    const QRect qrStrip = qrMap_Strip(oResult);
    const QString qsTitle = oVerdict.qui64Words == 0
                                ? QString("Индексы файла заполнения: файла нет")
                                : QString("Индексы файла заполнения 0 … %1 (слева направо): найдено %2 из %3")
                                      .arg(qsCount_Text(oVerdict.qui64Words - 1), qsCount_Text(oVerdict.qui64Found),
                                           qsCount_Text(oVerdict.qui64Words));
    qPainter.drawText(QRect(iGrid_Left, iStrip_Title_Top(oResult), iGrid_Width, 20), Qt::AlignLeft | Qt::AlignVCenter,
                      qsTitle);
    const int iBuckets = oVerdict.qvStrip_Found.size();
    if (iBuckets == 0)
        qPainter.fillRect(qrStrip, QColor::fromRgba(qrgbMap_None));
    for (int b = 0; b < iBuckets; ++b) {
        const int iX0 = qrStrip.left() + b * iGrid_Width / iBuckets;
        const int iX1 = qrStrip.left() + (b + 1) * iGrid_Width / iBuckets;
        qPainter.fillRect(QRect(iX0, qrStrip.top(), iX1 - iX0, qrStrip.height()),
                          QColor::fromRgba(qrgbMap_Bucket(oResult, b)));
    }
    vLegend(qPainter, iGrid_Left, qrStrip.bottom() + 10,
            {{qrgbMap_Found_Color(oVerdict), oVerdict.oLayout.bPlaced && !oVerdict.oLayout.bInferred
                                                ? "на своих местах"
                                                : "найдены (место не проверено)"},
             {qrgbMap_Displaced, "не на своих местах"},
             {qrgbStrip_Partly, "найдены частично"},
             {qrgbMap_Missing, "не найдены"},
             {qrgbMap_Unread, "не прочитаны"}});
}

} // namespace

QRgb qrgbMap_Found_Color(const cVerdict &oVerdict)
{
    return oVerdict.oLayout.bPlaced && !oVerdict.oLayout.bInferred ? qrgbMap_In_Place : qrgbMap_Found;
}

QRgb qrgbMap_Region(const cRead_Result &oResult, const int iRegion)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    if (qui64At(oResult.qvRegion_Bad, iRegion) > 0)
        return qrgbMap_Bad;
    if (qui64At(oResult.qvRegion_Done, iRegion) < qui64Region_Length(oResult, iRegion))
        return qrgbMap_Unread;
    if (qui64At(oVerdict.qvRegion_Missing, iRegion) > 0 || qui64At(oVerdict.qvRegion_Changed, iRegion) > 0)
        return qrgbMap_Missing; // a changed word is lost to whoever reads it
    if (qui64At(oVerdict.qvRegion_Displaced, iRegion) > 0)
        return qrgbMap_Displaced;
    if (oVerdict.oLayout.bPlaced ? qui64At(oVerdict.qvRegion_In_Place, iRegion) > 0
                                 : qui64At(oResult.qvRegion_Hits, iRegion) > 0)
        return qrgbMap_Found_Color(oVerdict);
    return qui64At(oVerdict.qvRegion_Stray, iRegion) > 0 ? qrgbMap_Stray : qrgbMap_None;
}

QRgb qrgbMap_Bucket(const cRead_Result &oResult, const int iBucket)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    const quint64 qui64Size = qui64Bucket_Size(oVerdict, iBucket);
    const quint64 qui64Found = qui64At(oVerdict.qvStrip_Found, iBucket);
    const quint64 qui64Displaced = qui64At(oVerdict.qvStrip_Displaced, iBucket);
    const quint64 qui64Missing = qui64At(oVerdict.qvStrip_Missing, iBucket);
    if (qui64Found >= qui64Size)
        return qrgbMap_Found_Color(oVerdict);
    if (qui64Missing == 0)
        return qui64Displaced > 0 ? qrgbMap_Displaced : qrgbMap_Unread;
    return qui64Found + qui64Displaced == 0 ? qrgbMap_Missing : qrgbStrip_Partly;
}

QRect qrMap_Cell(const int iRegion)
{
    return QRect(iGrid_Left + (iRegion % iColumns) * iCell_Width, iGrid_Top + (iRegion / iColumns) * iCell_Height,
                 iCell_Width, iCell_Height);
}

QRect qrMap_Strip(const cRead_Result &oResult)
{
    return QRect(iGrid_Left, iStrip_Title_Top(oResult) + 22, iGrid_Width, iStrip_Height);
}

QString qsMap_Tip(const cRead_Result &oResult, const QPoint &qpAt)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    const int iRegion = iRegion_At(oResult, qpAt);
    if (iRegion >= 0) {
        const quint64 qui64First = quint64(iRegion) * oResult.qui64Region_Bytes;
        const quint64 qui64Length = qui64Region_Length(oResult, iRegion);
        QStringList qslLines;
        qslLines << QString("Регион %1: %2").arg(iRegion).arg(qsByte_Range_Text(qui64First, qui64First + qui64Length));
        qslLines << QString("Слов заполнения: %1 из %2")
                        .arg(qsCount_Text(qui64At(oResult.qvRegion_Hits, iRegion)), qsCount_Text(qui64Length / 8));
        if (oVerdict.oLayout.bInferred)
            qslLines << QString("Слова файла здесь: найдены %1 (их место выведено из найденного, не проверено)")
                            .arg(qsCount_Text(qui64At(oVerdict.qvRegion_In_Place, iRegion)));
        else if (oVerdict.oLayout.bPlaced)
            qslLines << QString("Слова файла здесь: на месте %1, лежат в другом месте %2, не найдены %3")
                            .arg(qsCount_Text(qui64At(oVerdict.qvRegion_In_Place, iRegion)),
                                 qsCount_Text(qui64At(oVerdict.qvRegion_Displaced, iRegion)),
                                 qsCount_Text(qui64At(oVerdict.qvRegion_Missing, iRegion)));
        if (qui64At(oVerdict.qvRegion_Changed, iRegion) > 0)
            qslLines << "С изменёнными битами: " + qsCount_Text(qui64At(oVerdict.qvRegion_Changed, iRegion));
        qslLines << "Прочие слова заполнения: " + qsCount_Text(qui64At(oVerdict.qvRegion_Stray, iRegion));
        qslLines << "Нечитаемых байт: " + qsCount_Text(qui64At(oResult.qvRegion_Bad, iRegion));
        if (qui64At(oResult.qvRegion_Done, iRegion) < qui64Length)
            qslLines << "Регион прочитан не полностью.";
        return qslLines.join("\n");
    }
    const int iBucket = iStrip_Bucket_At(oResult, qpAt);
    if (iBucket >= 0) {
        const quint64 qui64First = quint64(iBucket) * oVerdict.qui64Strip_Bucket;
        const quint64 qui64Size = qui64Bucket_Size(oVerdict, iBucket);
        return QString("Индексы %1 … %2\nНайдены: %3, не на своих местах: %4, не найдены: %5, не прочитаны: %6")
            .arg(qsCount_Text(qui64First), qsCount_Text(qui64First + qui64Size - 1),
                 qsCount_Text(qui64At(oVerdict.qvStrip_Found, iBucket)),
                 qsCount_Text(qui64At(oVerdict.qvStrip_Displaced, iBucket)),
                 qsCount_Text(qui64At(oVerdict.qvStrip_Missing, iBucket)),
                 qsCount_Text(qui64At(oVerdict.qvStrip_Not_Read, iBucket)));
    }
    return QString();
}

QString qsMap_Title(const cRead_Result &oResult)
{
    return QString("Носитель %1 — %2 — чтение %3")
        .arg(oResult.qsDevice, qsVerdict_Short(oResult.oVerdict.eValue), oResult.qdtRead.toString("dd.MM.yyyy HH:mm"));
}

QImage qimgMap_Render(const cRead_Result &oResult)
{
    const QRect qrStrip = qrMap_Strip(oResult);
    QImage qimgResult(iGrid_Left + iGrid_Width + iMargin, qrStrip.bottom() + 1 + 34 + iMargin, QImage::Format_ARGB32);
    qimgResult.fill(qrgbBackground);
    QPainter qPainter(&qimgResult);
    QFont qFont = qPainter.font();
    qFont.setPointSize(9);
    QFont qFont_Bold = qFont;
    qFont_Bold.setBold(true);
    qFont_Bold.setPointSize(11);
    qPainter.setFont(qFont_Bold);
    qPainter.drawText(QRect(iMargin, iMargin, iAxis_Width + iGrid_Width, 24), Qt::AlignLeft | Qt::AlignVCenter,
                      qsMap_Title(oResult));
    qPainter.setFont(qFont);
    qPainter.drawText(QRect(iMargin, iMargin + 24, iAxis_Width + iGrid_Width, 20), Qt::AlignLeft | Qt::AlignVCenter,
                      QString("%1: %2 по %3; слева смещение начала строки, сверху — смещение в строке")
                          .arg(qsBytes_Text(oResult.qui64Bytes_Count))
                          .arg(qsCount_Text(oResult.qvRegion_Hits.size()) + " " +
                               qsPlural(oResult.qvRegion_Hits.size(), "область", "области", "областей"))
                          .arg(qsSize_Text(oResult.qui64Region_Bytes)));
    vDraw_Axes(qPainter, oResult);
    for (int r = 0; r < oResult.qvRegion_Hits.size(); ++r) {
        const QRect qrCell = qrMap_Cell(r);
        qPainter.fillRect(qrCell, QColor(0xb0, 0xb0, 0xb0)); // the grid lines
        qPainter.fillRect(qrCell.adjusted(1, 1, -1, -1), QColor::fromRgba(qrgbMap_Region(oResult, r)));
    }
    const cFill_Layout &oLayout = oResult.oVerdict.oLayout;
    vLegend(qPainter, iGrid_Left, iLegend_Top(oResult),
            {{qrgbMap_Found_Color(oResult.oVerdict), oLayout.bPlaced && !oLayout.bInferred
                                                         ? "слова файла на своих местах"
                                                     : oLayout.bPlaced ? "слова файла (место выведено из найденного)"
                                                                       : "слова заполнения (место не проверено)"},
             {qrgbMap_Displaced, "слова файла лежат не здесь"},
             {qrgbMap_Missing, "слова файла не найдены"}});
    vLegend(qPainter, iGrid_Left, iLegend_Top(oResult) + 20,
            {{qrgbMap_Stray, "прочие слова заполнения"},
             {qrgbMap_None, "нет слов заполнения"},
             {qrgbMap_Bad, "нечитаемо"},
             {qrgbMap_Unread, "не прочитано"}});
    vDraw_Strip(qPainter, oResult);
    return qimgResult;
}

bool bSave_Png(const QImage &qimgPicture, const QString &qsPath, QString *pqsError)
{
    QByteArray qbaPng;
    QBuffer qBuffer(&qbaPng);
    if (!qBuffer.open(QIODevice::WriteOnly) || !qimgPicture.save(&qBuffer, "PNG")) {
        *pqsError = "не удалось составить PNG";
        return false;
    }
    return bSave_File(qsPath, qbaPng, pqsError);
}
