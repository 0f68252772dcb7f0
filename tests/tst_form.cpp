// The main window as built by its form: tree, looks, and the wiring of the buttons.
#include "Functions_Records.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include <cstddef>
#include <cstring>

class tst_Form : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tree_data();
    void tree();
    void geometry_data();
    void geometry();
    void window();
    void focusChain();
    void slotsByName_data();
    void slotsByName();
    void batchCaptions();

private:
    QMainWindow *qWindow = nullptr;
    Ui::MainWindow oUi;
};

void tst_Form::init()
{
    qWindow = new QMainWindow;
    oUi.setupUi(qWindow);
}

void tst_Form::cleanup()
{
    delete qWindow;
}

// name, member offset, class, parent object, containing layout, point size (0: a layout), text
#define ROW(m, c, p, l, pt, t)                                                                           \
    QTest::newRow(#m) << QString(#m) << int(offsetof(Ui_MainWindow, m)) << c << p << l << pt << QString(t)
#define LAYOUT(m, c, p) ROW(m, c, p, p, 0, "")
#define SECTION_ROW(w, h, cap, text, val, vcls, cont)                                                        \
    LAYOUT(w, "QVBoxLayout", sl);                                                                            \
    LAYOUT(h, "QHBoxLayout", #w);                                                                            \
    ROW(cap, "QLabel", cont, #h, 14, text);                                                                  \
    ROW(val, vcls, cont, #h, 14, vcls == QString("QLabel") ? "-" : "")

void tst_Form::tree_data()
{
    QTest::addColumn<QString>("qsName");
    QTest::addColumn<int>("iOffset");
    QTest::addColumn<QString>("qsClass");
    QTest::addColumn<QString>("qsParent");
    QTest::addColumn<QString>("qsLayout");
    QTest::addColumn<int>("iPoint_Size");
    QTest::addColumn<QString>("qsText");
    const QString qsPattern = "Паттерн 11...10\nдля свободного места\n";
    ROW(centralwidget, "QWidget", "MainWindow", "", 0, "");
    ROW(verticalLayoutWidget, "QWidget", "centralwidget", "", 0, "");
    ROW(verticalLayout, "QVBoxLayout", "verticalLayoutWidget", "", 0, "");
    QString sl = "verticalLayout";
    LAYOUT(verticalLayout_2, "QVBoxLayout", sl);
    ROW(label_Drive, "QLabel", "verticalLayoutWidget", "verticalLayout_2", 16, "Носитель:");
    SECTION_ROW(verticalLayout_4, horizontalLayout_2, label_Drive_Name, "Системное имя", label_Drive_Name_Value, "QLabel", "verticalLayoutWidget");
    SECTION_ROW(verticalLayout_3, horizontalLayout, label_Drive_Sector_Size, "Размер сектора", label_Drive_Sector_Size_Value, "QLabel", "verticalLayoutWidget");
    SECTION_ROW(verticalLayout_5, horizontalLayout_3, label_Drive_Sectors_Count, "Количество секторов", label_Drive_Sectors_Count_Value, "QLabel", "verticalLayoutWidget");
    SECTION_ROW(verticalLayout_6, horizontalLayout_4, label_Drive_Bytes_Count, "Объём носителя", label_Drive_Bytes_Count_Value, "QLabel", "verticalLayoutWidget");
    ROW(verticalLayoutWidget_7, "QWidget", "centralwidget", "", 0, "");
    ROW(verticalLayout_7, "QVBoxLayout", "verticalLayoutWidget_7", "", 0, "");
    sl = "verticalLayout_7";
    LAYOUT(verticalLayout_8, "QVBoxLayout", sl);
    ROW(label_Drive_2, "QLabel", "verticalLayoutWidget_7", "verticalLayout_8", 16, "Раздел:");
    SECTION_ROW(verticalLayout_9, horizontalLayout_5, label_Volume_Name, "Системное имя", label_Volume_Name_Value, "QLabel", "verticalLayoutWidget_7");
    SECTION_ROW(verticalLayout_10, horizontalLayout_6, label_Volume_Cluster_Size, "Размер кластера", label_Volume_Cluster_Size_Value, "QLabel", "verticalLayoutWidget_7");
    SECTION_ROW(verticalLayout_11, horizontalLayout_7, label_Volume_Clusters_Count, "Количество кластеров", label_Volume_Clusters_Count_Value, "QLabel", "verticalLayoutWidget_7");
    SECTION_ROW(verticalLayout_12, horizontalLayout_8, label_Volume_Bytes_Count, "Объём раздела", label_Volume_Bytes_Count_Value, "QLabel", "verticalLayoutWidget_7");
    SECTION_ROW(verticalLayout_13, horizontalLayout_9, label_Volume_Clusters_Free_Count, "Количество свободных кластеров", label_Volume_Clusters_Free_Count_Value, "QLabel", "verticalLayoutWidget_7");
    SECTION_ROW(verticalLayout_14, horizontalLayout_10, label_Volume_Bytes_Free_Count, "Количество свободного места", label_Volume_Bytes_Free_Count_Value, "QLabel", "verticalLayoutWidget_7");
    ROW(verticalLayoutWidget_8, "QWidget", "centralwidget", "", 0, "");
    ROW(verticalLayout_15, "QVBoxLayout", "verticalLayoutWidget_8", "", 0, "");
    sl = "verticalLayout_15";
    LAYOUT(verticalLayout_16, "QVBoxLayout", sl);
    ROW(label_Drive_3, "QLabel", "verticalLayoutWidget_8", "verticalLayout_16", 16, "Данные");
    SECTION_ROW(verticalLayout_17, horizontalLayout_11, label_Data_Pattern, qsPattern + "(числом)", textEdit_Data_Pattern_Value, "QTextEdit", "verticalLayoutWidget_8");
    SECTION_ROW(verticalLayout_18, horizontalLayout_12, label_Data_Pattern_Text, qsPattern + "(текстом)", textEdit_Data_Pattern_Text_Value, "QTextEdit", "verticalLayoutWidget_8");
    const int iDefault = QApplication::font().pointSize(); // the buttons keep the default font
    ROW(pushButton_Properties, "QPushButton", "centralwidget", "", iDefault, "1. Опрос");
    ROW(pushButton_Read, "QPushButton", "centralwidget", "", iDefault, "3. Чтение");
    ROW(pushButton_Write, "QPushButton", "centralwidget", "", iDefault, "2. Заполнение");
}

// The layout that holds qObject as an item, if any.
static QLayout *qContaining_Layout(QObject *qRoot, QObject *qObject)
{
    for (QLayout *qLayout : qRoot->findChild<QWidget *>("centralwidget")->findChildren<QLayout *>())
        for (int i = 0; i < qLayout->count(); ++i) {
            QLayoutItem *qItem = qLayout->itemAt(i);
            if (qItem->widget() == qObject || qItem->layout() == qObject)
                return qLayout;
        }
    return nullptr;
}

void tst_Form::tree()
{
    QFETCH(QString, qsName);
    QFETCH(int, iOffset);
    QFETCH(QString, qsClass);
    QFETCH(QString, qsParent);
    QFETCH(QString, qsLayout);
    QFETCH(int, iPoint_Size);
    QFETCH(QString, qsText);

    // 64 pointer members, declared in this table's order; siblings made in the same order.
    static int iLast_Offset;
    static QMap<QString, int> qmLast_Child;
    if (QTest::currentDataTag() == QLatin1String("centralwidget")) {
        QCOMPARE(int(sizeof(Ui_MainWindow)), 64 * int(sizeof(void *)));
        iLast_Offset = -int(sizeof(void *));
        qmLast_Child.clear();
    }
    QCOMPARE(iOffset, iLast_Offset + int(sizeof(void *)));
    iLast_Offset = iOffset;

    void *pMember = nullptr;
    std::memcpy(&pMember, reinterpret_cast<const char *>(&oUi) + iOffset, sizeof pMember);
    QObject *qObject = qWindow->findChild<QObject *>(qsName);
    QVERIFY2(qObject, qPrintable("no object named " + qsName));
    QCOMPARE(pMember, static_cast<void *>(qObject));
    QCOMPARE(QString(qObject->metaObject()->className()), qsClass);
    QCOMPARE(qObject->parent()->objectName(), qsParent);
    const int iChild = qObject->parent()->children().indexOf(qObject);
    QVERIFY2(iChild > qmLast_Child.value(qsParent, -1), "made out of order among its siblings");
    qmLast_Child[qsParent] = iChild;
    QLayout *qHolder = qContaining_Layout(qWindow, qObject);
    QCOMPARE(qHolder ? qHolder->objectName() : QString(), qsLayout);

    if (iPoint_Size == 0 || qsClass == "QWidget")
        return;
    auto *qWidget = static_cast<QWidget *>(qObject);
    QCOMPARE(qWidget->font().pointSize(), iPoint_Size);
    if (auto *qLabel = qobject_cast<QLabel *>(qWidget)) {
        QCOMPARE(qLabel->text(), qsText);
        QCOMPARE(int(qLabel->alignment()), int(Qt::AlignCenter));
    } else if (auto *qEdit = qobject_cast<QTextEdit *>(qWidget)) {
        QCOMPARE(qEdit->toPlainText(), qsText);
        QVERIFY(!qEdit->isReadOnly());
    } else {
        QCOMPARE(qobject_cast<QPushButton *>(qWidget)->text(), qsText);
    }
}

void tst_Form::geometry_data()
{
    QTest::addColumn<QString>("qsName");
    QTest::addColumn<QRect>("qrExpected");
    QTest::newRow("drive") << "verticalLayoutWidget" << QRect(0, 0, 801, 167);
    QTest::newRow("partition") << "verticalLayoutWidget_7" << QRect(0, 190, 801, 235);
    QTest::newRow("data") << "verticalLayoutWidget_8" << QRect(0, 450, 801, 419);
    QTest::newRow("poll") << "pushButton_Properties" << QRect(10, 960, 271, 33);
    QTest::newRow("read") << "pushButton_Read" << QRect(550, 960, 241, 33);
    QTest::newRow("fill") << "pushButton_Write" << QRect(340, 960, 151, 33);
}

void tst_Form::geometry()
{
    QFETCH(QString, qsName);
    QFETCH(QRect, qrExpected);
    qWindow->resize(1200, 1300); // a larger window leaves them where they are
    qWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(qWindow));
    QCOMPARE(qWindow->findChild<QWidget *>(qsName)->geometry(), qrExpected);
}

void tst_Form::window()
{
    MainWindow oWindow;
    QCOMPARE(oWindow.windowTitle(), QString("MainWindow"));
    QCOMPARE(oWindow.size(), QSize(800, 1000));
    QCOMPARE(oWindow.objectName(), QString("MainWindow"));
    QVERIFY(!oWindow.findChild<QMenuBar *>());
    QVERIFY(!oWindow.findChild<QStatusBar *>());
    QVERIFY(!oWindow.findChild<QToolBar *>());
}

void tst_Form::focusChain()
{
    QStringList qslButtons;
    QWidget *qWidget = qWindow;
    do {
        qWidget = qWidget->nextInFocusChain();
        if (qobject_cast<QPushButton *>(qWidget))
            qslButtons << qWidget->objectName();
    } while (qWidget != qWindow);
    QCOMPARE(qslButtons, QStringList({"pushButton_Properties", "pushButton_Read", "pushButton_Write"}));
}

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
    const QStringList qslNames = {"label_Drive_Name", "label_Drive_Sector_Size", "label_Drive_Sectors_Count",
                                  "label_Drive_Bytes_Count", "label_Volume_Name", "label_Volume_Cluster_Size",
                                  "label_Volume_Clusters_Count", "label_Volume_Bytes_Count",
                                  "label_Volume_Clusters_Free_Count", "label_Volume_Bytes_Free_Count",
                                  "label_Data_Pattern", "label_Data_Pattern_Text"};
    QStringList qslForm;
    for (const QString &qsName : qslNames)
        qslForm << qWindow->findChild<QLabel *>(qsName)->text();
    QCOMPARE(qslPoll_Captions(), qslForm);
}

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
