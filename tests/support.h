#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

// Answers every modal message box that opens while it lives, so no test is left hanging.
// The handler decides how to end the box; the default presses its first button.
class cBox_Answerer : public QObject
{
public:
    explicit cBox_Answerer(std::function<void(QMessageBox *)> fAnswer = {});
    QStringList qslHeadings; // text() of each box answered
    QStringList qslMessages; // informativeText() of each box answered
    QList<int> qlIcons;

private:
    QTimer qTimer;
    std::function<void(QMessageBox *)> fHandler;
};

// Runs a command and returns its standard output, trimmed.
QString qsRun(const QString &qsProgram, const QStringList &qslArguments, int *piExit = nullptr);

// Empty when loop devices can be attached here, else why not.
QString qsLoop_Skip_Reason();
#define NEED_LOOP()                                                                                      \
    if (!qsLoop_Skip_Reason().isEmpty())                                                                 \
        QSKIP(qPrintable(qsLoop_Skip_Reason()));

// A loop device over a sparse image in a temporary directory, optionally with ext4 made on
// it and mounted. Everything is undone by exact name when it goes, even if a test failed.
class cLoop_Device
{
public:
    ~cLoop_Device();
    // Returns an error text, empty on success.
    QString qsCreate(const quint64 qui64Bytes, const int iSector_Size = 512, const bool bExt4 = false,
                     const QString &qsMount_Options = "defaults");
    // Unmounts, detaches and removes the device node, as when a disk is pulled out.
    void vUnplug();

    QTemporaryDir qTemp;
    QString qsImage;
    QString qsDevice;
    QString qsMount; // with a trailing slash, empty when not mounted

private:
    void vUnmount();
    bool bRemoved = false;
};

#endif // TESTS_SUPPORT_H
