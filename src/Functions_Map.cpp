#include "Functions_Map.h"

#include "Functions_Core.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

const int iMargin = 12;
const int iColumns = 32;
const int iCell_Width = 32;
const int iCell_Height = 16;
const int iGrid_Width = iColumns * iCell_Width; // also the strip's width
const int iGrid_Top = iMargin + 48;
const int iStrip_Height = 28;
const QRgb qrgbBackground = 0xfff4f4f4;

int iRows(const cMap_Data &oMap)
{
    return (oMap.qvRegion_Hits.size() + iColumns - 1) / iColumns;
}

int iLegend_Top(const cMap_Data &oMap)
{
    return iGrid_Top + qMax(1, iRows(oMap)) * iCell_Height + 10;
}

int iStrip_Title_Top(const cMap_Data &oMap)
{
    return iLegend_Top(oMap) + 34;
}

quint64 qui64Region_Length(const cMap_Data &oMap, const int iRegion)
{
    const quint64 qui64First = quint64(iRegion) * oMap.qui64Region_Bytes;
    const quint64 qui64Scanned = oMap.qui64Bytes_Count & ~7ULL;
    return qMin(oMap.qui64Region_Bytes, qui64Scanned - qui64First);
}

QRgb qrgbRegion(const cMap_Data &oMap, const int iRegion)
{
    const quint64 qui64Length = qui64Region_Length(oMap, iRegion);
    if (oMap.qvRegion_Bad[iRegion] > 0)
        return qrgbMap_Bad;
    if (oMap.qvRegion_Done[iRegion] < qui64Length)
        return qrgbMap_Unread;
    const quint64 qui64Hits = oMap.qvRegion_Hits[iRegion];
    if (qui64Hits == 0)
        return qrgbMap_None;
    return qui64Hits >= qui64Length / 8 ? qrgbMap_All : qrgbMap_Some;
}

quint64 qui64Bucket_Size(const cMap_Data &oMap, const int iBucket)
{
    const quint64 qui64First = quint64(iBucket) * oMap.qui64Strip_Bucket;
    return qMin(oMap.qui64Strip_Bucket, oMap.qui64Strip_End - qui64First);
}

QRgb qrgbBucket(const cMap_Data &oMap, const int iBucket)
{
    const quint64 qui64Found = oMap.qvStrip_Found[iBucket];
    if (qui64Found == 0)
        return qrgbStrip_Missing;
    return qui64Found >= qui64Bucket_Size(oMap, iBucket) ? qrgbStrip_Found : qrgbStrip_Partly;
}

// Pixel columns [x0, x1) of a strip bucket.
QPair<int, int> qpBucket_Columns(const cMap_Data &oMap, const int iBucket)
{
    const int iBuckets = oMap.qvStrip_Found.size();
    const QRect qrStrip = qrMap_Strip(oMap);
    return qMakePair(qrStrip.left() + iBucket * iGrid_Width / iBuckets,
                     qrStrip.left() + (iBucket + 1) * iGrid_Width / iBuckets);
}

int iStrip_Bucket_At(const cMap_Data &oMap, const QPoint &qpAt)
{
    const QRect qrStrip = qrMap_Strip(oMap);
    if (oMap.qvStrip_Found.isEmpty() || !qrStrip.contains(qpAt))
        return -1;
    return int(qint64(qpAt.x() - qrStrip.left()) * oMap.qvStrip_Found.size() / iGrid_Width);
}

QString qsMiB(const quint64 qui64Bytes)
{
    return QString::number(double(qui64Bytes) / 1048576.0, 'f', 1) + " МиБ";
}

void vLegend(QPainter &qPainter, int iX, const int iY, const QList<QPair<QRgb, QString>> &qlItems)
{
    for (const auto &qpItem : qlItems) {
        qPainter.fillRect(iX, iY, 14, 14, QColor::fromRgba(qpItem.first));
        qPainter.setPen(Qt::darkGray);
        qPainter.drawRect(iX, iY, 13, 13);
        qPainter.setPen(Qt::black);
        const QRect qrText(iX + 20, iY - 3, 300, 20);
        QRect qrUsed;
        qPainter.drawText(qrText, Qt::AlignLeft | Qt::AlignVCenter, qpItem.second, &qrUsed);
        iX = qrUsed.right() + 24;
    }
}

} // namespace

cMap_Data::cMap_Data(const cRead_Result &oResult)
    : qsDevice(oResult.qsDevice), qui64Bytes_Count(oResult.qui64Bytes_Count),
      qui64Region_Bytes(oResult.qui64Region_Bytes), qvRegion_Hits(oResult.qvRegion_Hits),
      qvRegion_Bad(oResult.qvRegion_Bad), qvRegion_Done(oResult.qvRegion_Done), qsFill_Path(oResult.qsFill_Path),
      qui64Fill_Words(oResult.qui64Fill_Words), qui64Fill_Found(oResult.qui64Fill_Found),
      qui64Distinct(oResult.qui64Distinct), qui64Strip_End(oResult.qui64Strip_End),
      qui64Strip_Bucket(oResult.qui64Strip_Bucket), qvStrip_Found(oResult.qvStrip_Found)
{
}

QRect qrMap_Cell(const cMap_Data &oMap, const int iRegion)
{
    Q_UNUSED(oMap);
    return QRect(iMargin + (iRegion % iColumns) * iCell_Width, iGrid_Top + (iRegion / iColumns) * iCell_Height,
                 iCell_Width, iCell_Height);
}

QRect qrMap_Strip(const cMap_Data &oMap)
{
    return QRect(iMargin, iStrip_Title_Top(oMap) + 24, iGrid_Width, iStrip_Height);
}

int iMap_Region_At(const cMap_Data &oMap, const QPoint &qpAt)
{
    if (qpAt.x() < iMargin || qpAt.x() >= iMargin + iGrid_Width || qpAt.y() < iGrid_Top)
        return -1;
    const int iRegion = ((qpAt.y() - iGrid_Top) / iCell_Height) * iColumns + (qpAt.x() - iMargin) / iCell_Width;
    return iRegion < oMap.qvRegion_Hits.size() ? iRegion : -1;
}

QString qsMap_Tip(const cMap_Data &oMap, const QPoint &qpAt)
{
    const int iRegion = iMap_Region_At(oMap, qpAt);
    if (iRegion >= 0) {
        const quint64 qui64First = quint64(iRegion) * oMap.qui64Region_Bytes;
        const quint64 qui64Length = qui64Region_Length(oMap, iRegion);
        return QString("Регион %1: байты %2 … %3\nСлов заполнения: %4 из %5\nНечитаемых байт: %6%7")
            .arg(iRegion)
            .arg(qui64First)
            .arg(qui64First + qui64Length - 1)
            .arg(oMap.qvRegion_Hits[iRegion])
            .arg(qui64Length / 8)
            .arg(oMap.qvRegion_Bad[iRegion])
            .arg(oMap.qvRegion_Done[iRegion] < qui64Length ? "\nРегион прочитан не полностью." : "");
    }
    const int iBucket = iStrip_Bucket_At(oMap, qpAt);
    if (iBucket >= 0) {
        const quint64 qui64First = quint64(iBucket) * oMap.qui64Strip_Bucket;
        const quint64 qui64Size = qui64Bucket_Size(oMap, iBucket);
        return QString("Индексы %1 … %2\nНайдено: %3 из %4")
            .arg(qui64First)
            .arg(qui64First + qui64Size - 1)
            .arg(oMap.qvStrip_Found[iBucket])
            .arg(qui64Size);
    }
    return QString();
}

QImage qimgMap_Render(const cMap_Data &oMap)
{
    const QRect qrStrip = qrMap_Strip(oMap);
    QImage qimgResult(iGrid_Width + 2 * iMargin, qrStrip.bottom() + 1 + 34 + iMargin, QImage::Format_ARGB32);
    qimgResult.fill(qrgbBackground);
    QPainter qPainter(&qimgResult);
    QFont qFont = qPainter.font();
    qFont.setPointSize(10);
    qPainter.setFont(qFont);

    QFont qFont_Bold = qFont;
    qFont_Bold.setBold(true);
    qFont_Bold.setPointSize(12);
    qPainter.setFont(qFont_Bold);
    qPainter.drawText(QRect(iMargin, iMargin, iGrid_Width, 24), Qt::AlignLeft | Qt::AlignVCenter,
                      QString("Носитель %1: %2 байт (%3)").arg(oMap.qsDevice).arg(oMap.qui64Bytes_Count).arg(qsMiB(oMap.qui64Bytes_Count)));
    qPainter.setFont(qFont);
    qPainter.drawText(QRect(iMargin, iMargin + 24, iGrid_Width, 20), Qt::AlignLeft | Qt::AlignVCenter,
                      QString("Регионов: %1 по %2 байт; доля слов заполнения в каждом")
                          .arg(oMap.qvRegion_Hits.size())
                          .arg(oMap.qui64Region_Bytes));

    for (int r = 0; r < oMap.qvRegion_Hits.size(); ++r) {
        const QRect qrCell = qrMap_Cell(oMap, r);
        qPainter.fillRect(qrCell, QColor(0xb0, 0xb0, 0xb0)); // the grid lines
        qPainter.fillRect(qrCell.adjusted(1, 1, -1, -1), QColor::fromRgba(qrgbRegion(oMap, r)));
    }
    vLegend(qPainter, iMargin, iLegend_Top(oMap),
            {{qrgbMap_None, "нет слов заполнения"},
             {qrgbMap_Some, "частично"},
             {qrgbMap_All, "только слова заполнения"},
             {qrgbMap_Bad, "есть нечитаемые байты"},
             {qrgbMap_Unread, "не прочитано"}});

    const QString qsStrip_Title =
        oMap.qsFill_Path.isEmpty()
            ? QString("Отслеживаемые индексы 0 … %1: найдено %2").arg(qint64(oMap.qui64Strip_End) - 1).arg(oMap.qui64Distinct)
            : QString("Файл заполнения %1: индексы 0 … %2, найдено %3 из %4")
                  .arg(oMap.qsFill_Path)
                  .arg(qint64(oMap.qui64Fill_Words) - 1)
                  .arg(oMap.qui64Fill_Found)
                  .arg(oMap.qui64Fill_Words);
    qPainter.drawText(QRect(iMargin, iStrip_Title_Top(oMap), iGrid_Width, 20), Qt::AlignLeft | Qt::AlignVCenter,
                      qsStrip_Title);
    if (oMap.qvStrip_Found.isEmpty()) {
        qPainter.drawText(qrStrip, Qt::AlignCenter, "Нет отслеживаемых индексов.");
    } else {
        for (int b = 0; b < oMap.qvStrip_Found.size(); ++b) {
            const QPair<int, int> qpColumns = qpBucket_Columns(oMap, b);
            qPainter.fillRect(QRect(qpColumns.first, qrStrip.top(), qpColumns.second - qpColumns.first, qrStrip.height()),
                              QColor::fromRgba(qrgbBucket(oMap, b)));
        }
    }
    vLegend(qPainter, iMargin, qrStrip.bottom() + 12,
            {{qrgbStrip_Found, "найдены"}, {qrgbStrip_Partly, "найдены частично"}, {qrgbStrip_Missing, "не найдены"}});
    return qimgResult;
}

namespace {

// Shows the picture and answers hovering with the text for the point under the mouse.
class cMap_View : public QLabel
{
public:
    cMap_View(const cMap_Data &oData, const QImage &qimgPicture, QWidget *parent)
        : QLabel(parent), oMap(oData)
    {
        setPixmap(QPixmap::fromImage(qimgPicture));
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

protected:
    bool event(QEvent *qEvent) override
    {
        if (qEvent->type() == QEvent::ToolTip) {
            auto *qHelp = static_cast<QHelpEvent *>(qEvent);
            const QString qsTip = qsMap_Tip(oMap, qHelp->pos());
            if (qsTip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(qHelp->globalPos(), qsTip, this);
            return true;
        }
        return QLabel::event(qEvent);
    }

private:
    const cMap_Data &oMap;
};

} // namespace

cMap_Window::cMap_Window(const cRead_Result &oResult, QWidget *parent)
    : QDialog(parent), oMap(oResult), qimgMap(qimgMap_Render(oMap))
{
    setWindowTitle("Карта носителя " + oMap.qsDevice);
    auto *qLayout = new QVBoxLayout(this);
    auto *qScroll = new QScrollArea(this);
    qScroll->setWidget(new cMap_View(oMap, qimgMap, qScroll));
    qScroll->setWidgetResizable(false);
    qLayout->addWidget(qScroll);
    auto *qButtons = new QHBoxLayout;
    auto *qSave = new QPushButton("Сохранить PNG…", this);
    qSave->setObjectName("pushButton_Save");
    auto *qClose = new QPushButton("Закрыть", this);
    qButtons->addStretch();
    qButtons->addWidget(qSave);
    qButtons->addWidget(qClose);
    qLayout->addLayout(qButtons);
    connect(qSave, &QPushButton::clicked, this, &cMap_Window::vSave);
    connect(qClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(qimgMap.width() + 48, qMin(qimgMap.height() + 90, 900));
}

void cMap_Window::vSave()
{
    const QString qsPath = QFileDialog::getSaveFileName(this, "Сохранить карту", "map.png", "PNG (*.png)");
    if (qsPath.isEmpty())
        return;
    if (!qimgMap.save(qsPath, "PNG"))
        iMessageBox("Ошибка!", QString("Не удалось сохранить карту в %1.").arg(qsPath), 3, iMsgBox_OK_Button, 0, 0, "");
}
