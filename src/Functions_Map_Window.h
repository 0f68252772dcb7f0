#ifndef FUNCTIONS_MAP_WINDOW_H
#define FUNCTIONS_MAP_WINDOW_H

#include "Functions_Reader.h"

#include <QDialog>
#include <QImage>

// The window that keeps a read's result open: the map, the summary beside it, hover
// texts, and saving the picture and the report.
class cMap_Window : public QDialog
{
    Q_OBJECT

public:
    cMap_Window(const cRead_Result &oResult, QWidget *parent = nullptr);
    const QImage &qimgPicture() const { return qimgMap; }
    // The report as saved: the summary, then the JSON batch mode prints (.json: that alone).
    QByteArray qbaReport(const bool bJson) const;

private:
    void vSave_Picture();
    void vSave_Report();

    cRead_Result oRead; // a copy, so the window outlives the next read
    QImage qimgMap;
};

#endif // FUNCTIONS_MAP_WINDOW_H
