// The window as a person sees it right after start-up, before any meter
// traffic: texts, ranges, tables, button looks, menus and the clear action.
#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QtTest>

#include "mainwindow.h"
#include "parsereadbackdata.h"
#include "parserealtimedata.h"
#include "virtualmeter.h"

#include <type_traits>

// The workers' entry points are plain members connected by pointer, outside
// the meta-objects: code written against them relies on their exact types.
static_assert(std::is_same<decltype(&ParseRealTimeData::doRealTimeWork), void (ParseRealTimeData::*)(hid_device *)>::value,
              "doRealTimeWork(hid_device*)");
static_assert(std::is_same<decltype(&ParseReadBackData::doReadBackWork),
                           void (ParseReadBackData::*)(const std::vector<unsigned char> &, int)>::value,
              "doReadBackWork(const std::vector<unsigned char>&, int)");

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { VirtualMeter::reset(); }

    void windowOpensWaitingWithoutTraffic()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        auto *connect = w.findChild<QLineEdit *>("connectEdit");
        QCOMPARE(connect->text(), QString::fromUtf8("等待连接\u00B7\u00B7\u00B7"));
        QCOMPARE(connect->styleSheet(), QStringLiteral("color:black;"));
        QVERIFY(!w.isDeviceConnected());
        QVERIFY(!w.isSampling());
        QCOMPARE(w.meterHandle(), nullptr);

        // Only hid_init reached the HID layer, and neither worker's thread started.
        const auto calls = VirtualMeter::callLog();
        QVERIFY(!calls.empty());
        for (const auto &call : calls)
            QCOMPARE(QString::fromStdString(call.function), QStringLiteral("hid_init"));
        QVERIFY(!w.liveWorker()->thread()->isRunning());
        QVERIFY(!w.storedWorker()->thread()->isRunning());
    }

    // Their texts, in both languages, are checked where the language is.
    void captionsAreReadOnlyAndCentred()
    {
        MainWindow w;
        for (const char *name : {"sampleEdit", "modeEdit", "backEdit", "realEdit", "numEdit", "numSavedEdit"}) {
            auto *edit = w.findChild<QLineEdit *>(name);
            QVERIFY2(edit && edit->isReadOnly() && edit->alignment() == Qt::AlignCenter, name);
        }
    }

    void intervalSpinBox()
    {
        MainWindow w;
        auto *spin = w.findChild<QSpinBox *>("spinBox");
        QCOMPARE(spin->value(), 500);
        QCOMPARE(spin->minimum(), 100);
        QCOMPARE(spin->maximum(), 5000);
        QCOMPARE(spin->singleStep(), 50);
        // Changing the interval before any meter was opened touches nothing.
        VirtualMeter::clearLog();
        spin->setValue(1000);
        QVERIFY(!w.isSampling());
        QVERIFY(VirtualMeter::callLog().empty());
    }

    void tablesStartEmpty()
    {
        MainWindow w;
        auto *live = w.findChild<QTableView *>("tableView");
        auto *stored = w.findChild<QTableView *>("backTableView");
        QCOMPARE(live->model(), w.liveModel());
        QCOMPARE(stored->model(), w.storedModel());
        QCOMPARE(w.liveModel()->rowCount(), 0);
        QCOMPARE(w.storedModel()->rowCount(), 0);
        for (QTableView *view : {live, stored}) {
            QVERIFY(view->verticalHeader()->isHidden());
            QVERIFY(view->horizontalHeader()->stretchLastSection());
            QCOMPARE(view->horizontalHeader()->minimumSectionSize(), 100);
            for (int c = 0; c < view->model()->columnCount(); ++c)
                QCOMPARE(view->horizontalHeader()->sectionResizeMode(c), QHeaderView::ResizeToContents);
        }
        QCOMPARE(live->textElideMode(), Qt::ElideLeft);
        QCOMPARE(stored->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(w.findChild<QProgressBar *>("progressBar")->value(), 0);
    }

    void buttonsAndStatusStyles()
    {
        MainWindow w;
        QCOMPARE(w.findChild<QPushButton *>("readbackBtn")->styleSheet(),
                 QStringLiteral("QPushButton{image: url(:/start.png);}"));
        QCOMPARE(w.findChild<QPushButton *>("pushButton")->styleSheet(),
                 QStringLiteral("QPushButton{ image: url(:/stop.png); }"));
        for (const char *name : {"readbackBtn", "pushButton", "saveRealBtn", "saveBackBtn"})
            QVERIFY(w.findChild<QPushButton *>(name)->text().isEmpty());
        QCOMPARE(w.findChild<QPushButton *>("saveRealBtn")->styleSheet(), QStringLiteral("image: url(:/save.png);"));
        QCOMPARE(w.statusBar()->styleSheet(), QStringLiteral("color: rgb(0, 170, 0);\n"));
        const QString field = QStringLiteral("font: 25 11pt \"Microsoft YaHei UI Light\";");
        QCOMPARE(w.findChild<QLineEdit *>("connectEdit")->styleSheet().isEmpty(), false);
        QCOMPARE(w.findChild<QLineEdit *>("realEdit")->styleSheet(), field);
        QCOMPARE(w.findChild<QProgressBar *>("progressBar")->styleSheet(), field);
        // The style sheet's weight 25 on CSS's scale, as each Qt keeps it:
        // Qt 5 divides by 8 into its 0-99 scale, Qt 6 keeps CSS's 1-1000.
        auto *realEdit = w.findChild<QLineEdit *>("realEdit");
        realEdit->ensurePolished();
        QCOMPARE(int(realEdit->font().weight()), QT_VERSION_MAJOR == 5 ? 3 : 25);
    }

    void metaObjectOrder()
    {
        const QStringList expected = {
            "signalArrival()",
            "startRealTimeWork(hid_device*)",
            "startReadBackWork(std::vector<unsigned char>,int)",
            "handleRealTimeFinish(QStringList,QStringList,QStringList)",
            "handleReadBackFinish(QStringList,bool)",
            "on_clearAct_triggered()",
            "on_closeAct_triggered()",
            "on_readbackBtn_clicked()",
            "on_ChineseAct_triggered()",
            "on_EnglishAct_triggered()",
            "readRealTimeData()",
            "on_exitAct_triggered()",
            "on_saveBackBtn_clicked()",
            "on_saveRealBtn_clicked()",
            "on_spinBox_valueChanged(int)",
            "on_pushButton_clicked()",
            "usbChecker(int,int)",
        };
        const QMetaObject &mo = MainWindow::staticMetaObject;
        // Each Qt writes the signatures in its own normal form (Qt 6 says uchar).
        QStringList normalized;
        for (const QString &signature : expected)
            normalized << QString::fromLatin1(QMetaObject::normalizedSignature(signature.toLatin1().constData()));
        QStringList actual;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            actual << QString::fromLatin1(mo.method(i).methodSignature());
        QCOMPARE(actual, normalized);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(mo.method(mo.methodOffset() + i).methodType(), QMetaMethod::Signal);
        QCOMPARE(mo.method(mo.methodOffset() + 3).access(), QMetaMethod::Public);
        QCOMPARE(mo.method(mo.methodOffset() + 5).access(), QMetaMethod::Private);
    }

    // Results reach the window's slots by the connections code can find and
    // undo: each worker's signal to the slot itself, not to a go-between.
    void workersAnswerTheWindowsOwnSlots()
    {
        MainWindow w;
        QVERIFY(QObject::disconnect(w.liveWorker(), &ParseRealTimeData::signalUsb, &w, nullptr));
        QVERIFY(QObject::disconnect(w.liveWorker(), &ParseRealTimeData::finish, &w, &MainWindow::handleRealTimeFinish));
        QVERIFY(QObject::disconnect(w.storedWorker(), &ParseReadBackData::finish, &w, &MainWindow::handleReadBackFinish));
    }

    void windowRefusesToShrink()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(961, 650));
        w.resize(500, 300);
        QVERIFY(w.width() >= 961);
        QVERIFY(w.height() >= 650);
        w.resize(1200, 800);
        QCOMPARE(w.size(), QSize(1200, 800));
    }

    void noContextMenuOnToolBarOrWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QSignalSpy requested(&w, &QWidget::customContextMenuRequested);
        for (QWidget *target : {static_cast<QWidget *>(w.findChild<QToolBar *>("toolBar")),
                                static_cast<QWidget *>(&w)}) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(target, &event);
            QCOMPARE(QApplication::activePopupWidget(), nullptr);
        }
        // Both requests reached the window and were left unanswered.
        QCOMPARE(requested.count(), 2);
    }

    void toolBarAndMenuContents()
    {
        MainWindow w;
        auto *toolBar = w.findChild<QToolBar *>("toolBar");
        QCOMPARE(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(w.toolBarArea(toolBar), Qt::TopToolBarArea);
        QStringList texts, tips, names;
        for (QAction *a : toolBar->actions()) {
            texts << a->text();
            tips << a->toolTip();
            names << a->objectName();
            QVERIFY(!a->icon().isNull());
        }
        QCOMPARE(names, QStringList({"clearAct", "closeAct", "exitAct"}));
        QCOMPARE(texts, QString::fromUtf8("清除 关闭 退出").split(' '));
        QCOMPARE(tips, QString::fromUtf8("清除数据 断开设备连接 退出程序").split(' '));

        const auto menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 1);
        QCOMPARE(menus.first()->text(), QString::fromUtf8("语言"));
        QMenu *menu = menus.first()->menu();
        QStringList entries, entryTips;
        for (QAction *a : menu->actions()) {
            entries << a->text();
            entryTips << a->toolTip();
            QVERIFY(!a->icon().isNull());
        }
        QCOMPARE(entries, QString::fromUtf8("中文 英文").split(' '));
        QCOMPARE(entryTips, QString::fromUtf8("中文界面 英文界面").split(' '));
    }

    void clearActionResetsCountersAndTables()
    {
        MainWindow w;
        w.handleRealTimeFinish({QString::fromUtf8("自动")}, {QString::fromUtf8("10mΩ")},
                               {QString::fromUtf8("12.345mΩ")});
        w.storedModel()->appendRow(new QStandardItem("1"));
        QCOMPARE(w.liveModel()->rowCount(), 1);
        QCOMPARE(w.findChild<QLineEdit *>("numEdit")->text(), QStringLiteral("1"));
        QCOMPARE(w.findChild<QLineEdit *>("modeEdit")->text(), QString::fromUtf8("自动"));
        w.findChild<QProgressBar *>("progressBar")->setValue(66);

        w.findChild<QAction *>("clearAct")->trigger();

        QCOMPARE(w.liveModel()->rowCount(), 0);
        QCOMPARE(w.storedModel()->rowCount(), 0);
        QCOMPARE(w.liveModel()->columnCount(), 5); // the headers stay
        QCOMPARE(w.liveModel()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("序号"));
        QCOMPARE(w.findChild<QLineEdit *>("numEdit")->text(), QStringLiteral("0"));
        QCOMPARE(w.findChild<QLineEdit *>("numSavedEdit")->text(), QStringLiteral("0"));
        QCOMPARE(w.findChild<QLineEdit *>("modeEdit")->text(), QString::fromUtf8("测量模式"));
        QCOMPARE(w.findChild<QProgressBar *>("progressBar")->value(), 0);

        // The next accepted reading is row 1 again.
        w.handleRealTimeFinish({QString::fromUtf8("手动")}, {QString::fromUtf8("1Ω")}, {QString::fromUtf8("0.4Ω")});
        QCOMPARE(w.liveModel()->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(w.findChild<QLineEdit *>("numEdit")->text(), QStringLiteral("1"));
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
