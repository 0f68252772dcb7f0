#ifndef FUNCTIONS_MAP_H
#define FUNCTIONS_MAP_H

#include "Functions_Reader.h"

#include <QImage>
#include <QRgb>

// Shades of the device map. A region shows the worst that lies in it, in this order:
// unreadable, not read, missing, displaced, in place, stray, nothing.
const QRgb qrgbMap_None = 0xffd9d9d9;      // no fill words
const QRgb qrgbMap_In_Place = 0xff2e9e44;  // the file's words, where the file system put them
// The file's words where the read found them, when their places were only inferred from
// that: found, but no place was checked (a paler green, never "in place").
const QRgb qrgbMap_Found = 0xffa8d5b0;
const QRgb qrgbMap_Displaced = 0xffff7f0e; // the file's words belong here, but lie elsewhere
const QRgb qrgbMap_Missing = 0xffd62728;   // the file's words belong here and are found nowhere
const QRgb qrgbMap_Stray = 0xfff2c14e;     // fill words that are not the file's in place: remnants, copies
const QRgb qrgbMap_Bad = 0xff7b3294;       // some bytes could not be read
const QRgb qrgbMap_Unread = 0xffffffff;    // not reached (the read was interrupted)
const QRgb qrgbStrip_Partly = 0xfff4a6a6;  // some of the indexes are missing

// The shade of a device region, and of a bucket of the fill's index strip.
// The colour of the file's words found: in place where the file system told their places,
// the paler one where the places were inferred or not known.
QRgb qrgbMap_Found_Color(const cVerdict &oVerdict);
QRgb qrgbMap_Region(const cRead_Result &oResult, const int iRegion);
QRgb qrgbMap_Bucket(const cRead_Result &oResult, const int iBucket);

QImage qimgMap_Render(const cRead_Result &oResult);
// Where things are in the picture.
QRect qrMap_Cell(const int iRegion);
QRect qrMap_Strip(const cRead_Result &oResult);
// The hover text for a point of the picture; empty outside the grid and the strip.
QString qsMap_Tip(const cRead_Result &oResult, const QPoint &qpAt);
// The window's title: the device, the verdict and when it was read.
QString qsMap_Title(const cRead_Result &oResult);

// Saves a picture as PNG the way the tool saves every file (atomically, no links followed).
bool bSave_Png(const QImage &qimgPicture, const QString &qsPath, QString *pqsError);

#endif // FUNCTIONS_MAP_H
