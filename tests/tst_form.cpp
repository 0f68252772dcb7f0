// The window's wiring: each button reaches its own slot, and batch mode prints the poll's
// values under the window's own captions.
#include "Functions_Steps.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class tst_Form : public QObject
{
    Q_OBJECT

private slots:
    void slotsByName_data();
    void slotsByName();
    void batchCaptions();
};

void tst_Form::slotsByName_data()
{
    QTest::addColumn<QString>("qsButton");
    QTest::addColumn<QByteArray>("qbaSlot");
    QTest::newRow("poll") << "pushButton_Properties" << QByteArray(SLOT(on_pushButton_Properties_clicked()));
    QTest::newRow("fill") << "pushButton_Write" << QByteArray(SLOT(on_pushButton_Write_clicked()));
    QTest::newRow("read") << "pushButton_Read" << QByteArray(SLOT(on_pushButton_Read_clicked()));
}

void tst_Form::slotsByName()
{
    QFETCH(QString, qsButton);
    QFETCH(QByteArray, qbaSlot);
    MainWindow oWindow;
    auto *qButton = oWindow.findChild<QPushButton *>(qsButton);
    QVERIFY(qButton);
    // disconnect() succeeds only for a connection that exists, exactly once.
    QVERIFY(QObject::disconnect(qButton, SIGNAL(clicked()), &oWindow, qbaSlot.constData()));
    QVERIFY(!QObject::disconnect(qButton, SIGNAL(clicked()), &oWindow, qbaSlot.constData()));
}

void tst_Form::batchCaptions()
{
    // Batch mode prints the values under the window's own captions.
    const QStringList qslNames = {"label_Drive_Name",
                                  "label_Drive_Sector_Size",
                                  "label_Drive_Sectors_Count",
                                  "label_Drive_Bytes_Count",
                                  "label_Volume_Name",
                                  "label_Volume_Cluster_Size",
                                  "label_Volume_Clusters_Count",
                                  "label_Volume_Bytes_Count",
                                  "label_Volume_Clusters_Free_Count",
                                  "label_Volume_Bytes_Free_Count",
                                  "label_Data_Pattern",
                                  "label_Data_Pattern_Text"};
    MainWindow oWindow;
    QStringList qslForm;
    for (const QString &qsName : qslNames)
        qslForm << oWindow.findChild<QLabel *>(qsName)->text();
    QCOMPARE(qslPoll_Captions(), qslForm);
}

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
