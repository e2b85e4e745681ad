// The two languages: every text after each switch, what a switch resets and
// when it does nothing, the export's dialogs in English, the mode texts of new
// readings, and translations on a worker thread during switches.
#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QScopeGuard>
#include <QMenu>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include "mainwindow.h"
#include "support/windowdriver.h"
#include "test_export_dialogs.h"
#include "virtualmeter.h"

namespace {

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

// As the user does it: the menu action, then the event loop delivers the
// language change that Qt posts to the window.
void choose(MainWindow &w, const char *action)
{
    w.findChild<QAction *>(action)->trigger();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QString headersOf(const QAbstractItemModel *model)
{
    QStringList texts;
    for (int c = 0; c < model->columnCount(); ++c)
        texts << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return texts.join('|');
}

// The text a person reads at `what`: an object name, or one of the few
// texts that belong to no named object of their own.
QString textAt(MainWindow &w, const QString &what)
{
    if (what == "window title")
        return w.windowTitle();
    if (what == "live headers")
        return headersOf(w.liveModel());
    if (what == "stored headers")
        return headersOf(w.storedModel());
    if (what == "spinBox suffix")
        return WindowDriver::spinBox(w)->suffix();
    if (what.endsWith(" tip"))
        return w.findChild<QAction *>(what.chopped(4))->toolTip();
    if (auto *action = w.findChild<QAction *>(what))
        return action->text();
    if (auto *menu = w.findChild<QMenu *>(what))
        return menu->title();
    if (auto *toolBar = w.findChild<QToolBar *>(what))
        return toolBar->windowTitle();
    if (auto *edit = w.findChild<QLineEdit *>(what))
        return edit->text();
    return QStringLiteral("<no %1>").arg(what);
}

using WindowDriver::connectWithRows;

} // namespace

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { WindowDriver::registerLikeMain(); }
    void init() { VirtualMeter::reset(); }

    void everyTextInBothLanguages_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        QTest::newRow("clear action") << "clearAct" << u("清除") << "clear";
        QTest::newRow("disconnect action") << "closeAct" << u("关闭") << "close";
        QTest::newRow("exit action") << "exitAct" << u("退出") << "exit";
        QTest::newRow("clear tool tip") << "clearAct tip" << u("清除数据") << "Clear data";
        QTest::newRow("disconnect tool tip") << "closeAct tip" << u("断开设备连接") << "Disconnect device";
        QTest::newRow("exit tool tip") << "exitAct tip" << u("退出程序") << "Exit program";
        QTest::newRow("language menu") << "menu" << u("语言") << "Language";
        QTest::newRow("Chinese action") << "ChineseAct" << u("中文") << "Chinese";
        QTest::newRow("English action") << "EnglishAct" << u("英文") << "English";
        QTest::newRow("tool bar title") << "toolBar" << "toolBar" << "toolBar";
        QTest::newRow("live caption") << "realEdit" << u("读取实时数据") << "Read real-time data";
        QTest::newRow("live count") << "numEdit" << u("数据总数") << "Data total";
        QTest::newRow("stored count") << "numSavedEdit" << u("数据总数") << "Data total";
        QTest::newRow("interval caption") << "sampleEdit" << u("采样间隔：") << "Sample interval:";
        QTest::newRow("mode caption") << "modeEdit" << u("测量模式") << "Measurement mode";
        QTest::newRow("stored caption") << "backEdit" << u("读取本地数据") << "Read local data";
        QTest::newRow("connection line") << "connectEdit" << u("等待连接\u00B7\u00B7\u00B7") << "Waiting to connect...";
        QTest::newRow("live headers") << "live headers" << u("序号|时间|模式|量程|电阻值")
                                      << "Number|Time|Mode|Range|Resistance value";
        QTest::newRow("stored headers") << "stored headers" << u("序号|电阻值") << "Number|Resistance value";
        QTest::newRow("spin box suffix") << "spinBox suffix" << "ms" << "ms";
        QTest::newRow("window title") << "window title" << "Zelmora" << "Zelmora";
    }

    void everyTextInBothLanguages()
    {
        QFETCH(QString, what);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        MainWindow w;
        QCOMPARE(textAt(w, what), chinese);
        choose(w, "EnglishAct");
        QCOMPARE(textAt(w, what), english);
        choose(w, "EnglishAct");
        QCOMPARE(textAt(w, what), english);
        choose(w, "ChineseAct");
        QCOMPARE(textAt(w, what), chinese);
    }

    void switchResetsTheWindowUnlessNothingChanges_data()
    {
        QTest::addColumn<bool>("startInEnglish");
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<bool>("resets");
        QTest::addColumn<QString>("waiting");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("meterStays");
        QTest::addColumn<bool>("connected");
        const QString chineseWaiting = u("等待连接\u00B7\u00B7\u00B7");
        const QString englishWaiting("Waiting to connect...");
        const QByteArray chinese("ChineseAct");
        const QByteArray english("EnglishAct");
        QTest::newRow("Chinese, 中文: nothing happens") << false << chinese << false << QString() << "sampling" << true << true;
        QTest::newRow("Chinese, 英文") << false << english << true << englishWaiting << "sampling" << true << false;
        QTest::newRow("English, 中文") << true << chinese << true << chineseWaiting << "sampling" << true << false;
        QTest::newRow("English, 英文 again") << true << english << true << englishWaiting << "sampling" << true << false;
        // The spin box goes back to 500 and its reopen fails: still the waiting look.
        QTest::newRow("Chinese, 英文, meter gone") << false << english << true << englishWaiting << "sampling" << false << false;
        // Not sampling when the switch comes: nothing is closed, and the
        // meter stays counted as opened, however the reopen went.
        QTest::newRow("Chinese, 英文, after a removal") << false << english << true << englishWaiting << "removed" << false << true;
        QTest::newRow("English, 中文, stopped and unplugged") << true << chinese << true << chineseWaiting << "stopped" << false << true;
        QTest::newRow("Chinese, 英文, no answer") << false << english << true << englishWaiting << "no answer" << false << true;
        QTest::newRow("English, 英文 again, poll timed out") << true << english << true << englishWaiting << "timed out" << false << true;
        // A poll still out at the switch reaches nothing after it.
        QTest::newRow("Chinese, 英文, a late answer outstanding") << false << english << true << englishWaiting << "poll answering late" << true << false;
        QTest::newRow("English, 中文, a silent meter's poll outstanding") << true << chinese << true << chineseWaiting << "poll timing out" << true << false;
    }

    void switchResetsTheWindowUnlessNothingChanges()
    {
        QFETCH(bool, startInEnglish);
        QFETCH(QByteArray, action);
        QFETCH(bool, resets);
        QFETCH(QString, waiting);
        QFETCH(QString, before);
        QFETCH(bool, meterStays);
        QFETCH(bool, connected);
        MainWindow w;
        if (startInEnglish)
            choose(w, "EnglishAct");
        // At 5000 ms: the reset's spin box runs an interval change.
        connectWithRows(w, 3, 2);
        QVERIFY(w.isSampling());
        if (before == "stopped") {
            WindowDriver::stop(w);
        } else if (before == "removed") {
            VirtualMeter::setPlugged(false);
            w.handleDeviceRemoval();
        } else if (before == "no answer") {
            VirtualMeter::failNext(0x08, VirtualMeter::fault(VirtualMeter::FaultKind::NoAnswer));
            WindowDriver::start(w);
        } else if (before == "timed out") {
            VirtualMeter::failNext(0x05, VirtualMeter::fault(VirtualMeter::FaultKind::NoAnswer));
            WindowDriver::tick(w);
            WindowDriver::finishPolls(w);
        } else if (before.startsWith("poll")) {
            // 300 ms comes within the read's time-out; 1500 ms does not.
            const int written = VirtualMeter::commandsWritten(0x05);
            VirtualMeter::failNext(0x05, VirtualMeter::fault(VirtualMeter::FaultKind::Slow,
                                                             before == "poll answering late" ? 300 : 1500));
            WindowDriver::tick(w);
            TRY_COMPARE(VirtualMeter::commandsWritten(0x05), written + 1);
        }
        QCOMPARE(w.isSampling(), before == "sampling" || before.startsWith("poll"));
        w.statusBar()->showMessage("status before the switch", 0);
        const QString connectionBefore = WindowDriver::connection(w);
        const int interval = WindowDriver::spinBox(w)->value();
        VirtualMeter::setPlugged(meterStays);

        choose(w, action.constData());
        if (before.startsWith("poll"))
            WindowDriver::finishPolls(w);

        if (!resets) {
            QCOMPARE(w.liveModel()->rowCount(), 3);
            QCOMPARE(w.storedModel()->rowCount(), 2);
            QVERIFY(w.isSampling());
            QVERIFY(w.isDeviceConnected());
            QVERIFY(w.meterHandle() != nullptr);
            QVERIFY(WindowDriver::looksRunning(w));
            QCOMPARE(WindowDriver::connection(w), connectionBefore);
            QCOMPARE(WindowDriver::status(w), QStringLiteral("status before the switch"));
            QCOMPARE(WindowDriver::spinBox(w)->value(), interval);
            return;
        }
        QCOMPARE(w.liveModel()->rowCount(), 0);
        QCOMPARE(w.storedModel()->rowCount(), 0);
        QVERIFY(!w.isSampling());
        QCOMPARE(w.isDeviceConnected(), connected);
        QCOMPARE(w.meterHandle(), nullptr);
        QCOMPARE(VirtualMeter::openHandleCount(), 0);
        QVERIFY(WindowDriver::looksIdle(w));
        QCOMPARE(WindowDriver::connection(w), waiting);
        QCOMPARE(WindowDriver::connectionStyle(w), QStringLiteral("color:black;"));
        QCOMPARE(WindowDriver::status(w), QString());
        QCOMPARE(WindowDriver::spinBox(w)->value(), 500);
        QCOMPARE(VirtualMeter::totalViolations(), 0);
    }

    void exportDialogsInEnglish_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("empty table") << "empty";
        QTest::newRow("save dialog") << "cancel";
        QTest::newRow("question after saving") << "save";
        QTest::newRow("failed save") << "fail";
    }

    void exportDialogsInEnglish()
    {
        QFETCH(QString, scenario);
        QTemporaryDir directory;
        QVERIFY(QDir::setCurrent(directory.path()));
        // Windows cannot remove the working directory: leave it at the end.
        auto leave = qScopeGuard([] { QDir::setCurrent(QDir::tempPath()); });
        MainWindow w;
        choose(w, "EnglishAct");
        connectWithRows(w, 2, 0);
        if (scenario == "empty")
            WindowDriver::clear(w);

        DialogPlayer player;
        DesktopStandIn desktop;
        player.messageAnswer = QMessageBox::No;
        if (scenario == "save" || scenario == "fail") {
            player.fileAnswer = DialogPlayer::FileAnswer::Save;
            player.target = directory.filePath(scenario == "save" ? "english.xlsx" : "absent/english.xlsx");
        }
        WindowDriver::invoke(w, "on_saveRealBtn_clicked");

        if (scenario == "empty") {
            QCOMPARE(player.seen.size(), 1);
            QCOMPARE(player.seen.at(0).title, QStringLiteral("Note"));
            QCOMPARE(player.seen.at(0).text, QStringLiteral("No data!"));
            return;
        }
        QCOMPARE(player.count(SeenDialog::FileDialog), 1);
        const SeenDialog dialog = player.first(SeenDialog::FileDialog);
        // The catalogue leaves the caption untranslated on purpose.
        QCOMPARE(dialog.title, u("保存Excel文件"));
        QCOMPARE(dialog.nameFilters, QStringList{"Excel file(*.xlsx)"});
        QVERIFY2(dialog.proposedName.startsWith("Zelmodata_"), qPrintable(dialog.proposedName));
        if (scenario == "cancel") {
            QCOMPARE(player.seen.size(), 1);
            return;
        }
        QCOMPARE(player.count(SeenDialog::MessageBox), 1);
        const SeenDialog box = player.first(SeenDialog::MessageBox);
        if (scenario == "save") {
            QCOMPARE(box.title, QStringLiteral("Open file"));
            QCOMPARE(box.text, QStringLiteral("Do you want to open the saved file now?"));
            QCOMPARE(box.buttonTexts, (QStringList{"Yes", "No"}));
        } else {
            QCOMPARE(box.title, QStringLiteral("Error"));
            QCOMPARE(box.text, "The file could not be saved: " + QDir::toNativeSeparators(player.target));
        }
    }

    void modeOfNewReadingsFollowsTheLanguage_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<int>("modeByte");
        QTest::addColumn<QString>("mode");
        QTest::newRow("Chinese, automatic") << false << 1 << u("自动");
        QTest::newRow("Chinese, manual") << false << 0 << u("手动");
        QTest::newRow("English, automatic") << true << 1 << "Auto";
        QTest::newRow("English, manual") << true << 0 << "Manual";
    }

    void modeOfNewReadingsFollowsTheLanguage()
    {
        QFETCH(bool, english);
        QFETCH(int, modeByte);
        QFETCH(QString, mode);
        MainWindow w;
        if (english)
            choose(w, "EnglishAct");
        VirtualMeter::setRange(static_cast<unsigned char>(modeByte), 8);
        connectWithRows(w, 1, 0);
        QCOMPARE(w.liveModel()->item(0, 2)->text(), mode);
        QCOMPARE(WindowDriver::text(w, "modeEdit"), mode);
    }

    void rangeAndValueReadTheSameInBothLanguages()
    {
        MainWindow w;
        connectWithRows(w, 1, 0);
        const QString range = w.liveModel()->item(0, 3)->text();
        const QString value = w.liveModel()->item(0, 4)->text();
        QVERIFY(range.endsWith(u("Ω")));
        QVERIFY(value.endsWith(u("Ω")));

        choose(w, "EnglishAct");
        connectWithRows(w, 1, 0);
        QCOMPARE(w.liveModel()->item(0, 3)->text(), range);
        QCOMPARE(w.liveModel()->item(0, 4)->text(), value);
    }

    void workerTranslationsStaySoundDuringSwitches()
    {
        MainWindow w;
        std::atomic<bool> running{true};
        std::atomic<int> wrong{0};
        std::atomic<int> lookups{0};
        // As the decoders do on their threads, at any moment.
        std::thread worker([&] {
            while (running) {
                const QString mode = QCoreApplication::translate("ParseRealTimeData", "自动");
                const QString unit = QCoreApplication::translate("ParseReadBackData", "kΩ");
                if ((mode != u("自动") && mode != QLatin1String("Auto")) || unit != u("kΩ"))
                    ++wrong;
                ++lookups;
            }
        });
        for (int i = 0; i < 100; ++i)
            choose(w, i % 3 == 2 ? "ChineseAct" : "EnglishAct");
        running = false;
        worker.join();
        QCOMPARE(wrong.load(), 0);
        QVERIFY(lookups.load() > 0);
    }

    void everyStartIsChinese()
    {
        {
            MainWindow first;
            choose(first, "EnglishAct");
            QCOMPARE(textAt(first, "realEdit"), QStringLiteral("Read real-time data"));
        }
        MainWindow next;
        QCOMPARE(textAt(next, "realEdit"), u("读取实时数据"));
        QCOMPARE(textAt(next, "menu"), u("语言"));
        QCOMPARE(QCoreApplication::translate("ParseRealTimeData", "自动"), u("自动"));
    }
};

QTEST_MAIN(LanguageTest)
#include "test_language.moc"
