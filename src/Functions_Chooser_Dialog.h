#ifndef FUNCTIONS_CHOOSER_DIALOG_H
#define FUNCTIONS_CHOOSER_DIALOG_H

#include "Functions_Chooser.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

// The window that comes before the main one under --choose: the media with their partitions,
// USB first; the user picks a stick or one of its partitions. A partition gives its whole
// device (the read scans all of it) and its mount point; the system's disk needs a second yes.
class cChooser_Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit cChooser_Dialog(QWidget *parent = nullptr);
    // Shows this list instead of asking the system again (also what "Обновить" ends in).
    void vShow_Devices(const QVector<cDevice_Entry> &qvList, const QString &qsNote);
    QString qsDevice() const { return qsChosen_Device; }
    QString qsVolume() const { return qsChosen_Volume; }
    // What was chosen, in words, for the window that checks it.
    QString qsTarget() const { return qsChosen_Target; }

private:
    void vRefresh();
    void vChoose();
    bool bMount(const cDevice_Entry &oEntry, const bool bPartition, QString *pqsMount);
    // Mounts through UDisks2 on a thread of its own, a busy sign shown and «Отмена» offered;
    // false with an empty reason when cancelled.
    bool bMount_Off_Dialog(const QString &qsObject, QString *pqsMount, QString *pqsError);

    QTreeWidget *qTree;
    QLabel *qLabel_Note;
    QPushButton *qButton_Choose;
    QVector<cDevice_Entry> qvDevices;
    QString qsChosen_Device, qsChosen_Volume, qsChosen_Target;
};

#endif // FUNCTIONS_CHOOSER_DIALOG_H
