#ifndef FUNCTIONS_MAP_H
#define FUNCTIONS_MAP_H

#include "Functions_Reader.h"

#include <QDialog>
#include <QImage>
#include <QRgb>

// Shades of the device map.
const QRgb qrgbMap_None = 0xffd9d9d9;   // a region without fill words
const QRgb qrgbMap_Some = 0xfff2c14e;   // some of its words are fill words
const QRgb qrgbMap_All = 0xff2e9e44;    // all of them are
const QRgb qrgbMap_Bad = 0xff7b3294;    // some bytes could not be read
const QRgb qrgbMap_Unread = 0xffffffff; // not reached (the read was interrupted)
const QRgb qrgbStrip_Found = 0xff2e9e44;
const QRgb qrgbStrip_Partly = 0xfff2c14e;
const QRgb qrgbStrip_Missing = 0xffd62728;

// What the map shows of one read; a copy, so the picture outlives the next read.
class cMap_Data
{
public:
    cMap_Data() = default;
    explicit cMap_Data(const cRead_Result &oResult);

    QString qsDevice;
    quint64 qui64Bytes_Count = 0;
    quint64 qui64Region_Bytes = 0;
    QVector<quint64> qvRegion_Hits, qvRegion_Bad, qvRegion_Done;
    QString qsFill_Path;
    quint64 qui64Fill_Words = 0;
    quint64 qui64Fill_Found = 0;
    quint64 qui64Distinct = 0;
    quint64 qui64Strip_End = 0;
    quint64 qui64Strip_Bucket = 0;
    QVector<quint64> qvStrip_Found;
};

QImage qimgMap_Render(const cMap_Data &oMap);
// Where things are in the picture.
QRect qrMap_Cell(const cMap_Data &oMap, const int iRegion);
QRect qrMap_Strip(const cMap_Data &oMap);
int iMap_Region_At(const cMap_Data &oMap, const QPoint &qpAt); // -1 outside the grid
// The hover text for a point of the picture; empty outside the grid and the strip.
QString qsMap_Tip(const cMap_Data &oMap, const QPoint &qpAt);

// The window that shows the map, with hover texts and saving as PNG.
class cMap_Window : public QDialog
{
    Q_OBJECT

public:
    cMap_Window(const cRead_Result &oResult, QWidget *parent = nullptr);
    const QImage &qimgPicture() const { return qimgMap; }

private:
    void vSave();

    cMap_Data oMap;
    QImage qimgMap;
};

#endif // FUNCTIONS_MAP_H
