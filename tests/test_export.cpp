// The save buttons of the window, with their dialogs played from the test:
// when nothing happens, the notice for an empty table, cancelling, the
// question after saving, what the file holds, a save that fails, and a long
// save's progress, left to run, cancelled or ended by quitting.
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <utility>
#include <vector>

#include "mainwindow.h"
#include "support/windowdriver.h"
#include "tableworkbook.h"
#include "test_export_dialogs.h"
#include "test_export_filesizelimit.h"
#include "test_export_readback.h"
#include "virtualmeter.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

using WindowDriver::invoke;

using WindowDriver::connectWithRows;

void appendRows(QStandardItemModel *model, int rows)
{
    for (int r = 0; r < rows; ++r) {
        QList<QStandardItem *> items;
        for (int c = 0; c < model->columnCount(); ++c)
            items << new QStandardItem(QStringLiteral("%1/%2").arg(r).arg(c));
        model->appendRow(items);
    }
}

// The table as the user sees it at this moment.
ExpectedSheet snapshot(const QAbstractItemModel *model)
{
    ExpectedSheet sheet;
    for (int c = 0; c < model->columnCount(); ++c)
        sheet.header << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c)
            row << model->data(model->index(r, c), Qt::DisplayRole).toString();
        sheet.rows << row;
    }
    if (model->columnCount() >= 2)
        sheet.wideColumns << "B";
    if (model->columnCount() >= 5)
        sheet.wideColumns << "E";
    return sheet;
}

QStandardItemModel *tableOf(MainWindow &w, const QByteArray &slot)
{
    return slot == "on_saveRealBtn_clicked" ? w.liveModel() : w.storedModel();
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

// Processor time used so far by the calling thread, or by the whole process.
#ifdef Q_OS_WIN
double milliseconds(const FILETIME &t)
{
    return (double(t.dwHighDateTime) * 4294967296.0 + double(t.dwLowDateTime)) / 10000.0;
}
#endif

double threadCpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    return milliseconds(kernel) + milliseconds(user);
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1.0e6;
#endif
}

double processCpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return milliseconds(kernel) + milliseconds(user);
#else
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1.0e6;
#endif
}

// Where the save dialog should open: the user's Documents folder, or the
// home folder where there is none. On Linux the test makes a home of its own,
// with or without Documents; Windows keeps its known folder.
class HomeStandIn
{
public:
    explicit HomeStandIn(bool withDocuments)
    {
#ifdef Q_OS_WIN
        Q_UNUSED(withDocuments);
        expected = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
#else
        for (const char *name : {"HOME", "XDG_CONFIG_HOME"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
        expected = home.path();
        if (withDocuments) {
            expected = home.filePath("Documents");
            QDir().mkpath(expected);
        }
#endif
    }
    ~HomeStandIn()
    {
        for (const auto &[name, value] : saved)
            qputenv(name, value);
    }
    HomeStandIn(const HomeStandIn &) = delete;
    HomeStandIn &operator=(const HomeStandIn &) = delete;

    QString expected;

private:
    QTemporaryDir home;
    std::vector<std::pair<const char *, QByteArray>> saved;
};

// Holds a save once its rows are written, before the file is packed, until
// the test has done what it does there.
QSemaphore packingMayBegin;
void holdBeforePacking() { packingMayBegin.tryAcquire(1, NEVER_MS); }

} // namespace

class ExportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { WindowDriver::registerLikeMain(); }

    void cleanupTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        workDirectory.reset();
    }

    void init()
    {
        VirtualMeter::reset();
        // The save dialog starts in the working directory: a fresh, empty one.
        // Windows cannot remove the working directory: leave it first.
        QDir::setCurrent(QDir::tempPath());
        workDirectory.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(workDirectory->path()));
    }

    void doesNothingUnlessTheMeterWasOpened_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("disconnected");
        QTest::newRow("live, never opened") << QByteArray("on_saveRealBtn_clicked") << false;
        QTest::newRow("stored, never opened") << QByteArray("on_saveBackBtn_clicked") << false;
        QTest::newRow("live, after the disconnect action") << QByteArray("on_saveRealBtn_clicked") << true;
        QTest::newRow("stored, after the disconnect action") << QByteArray("on_saveBackBtn_clicked") << true;
    }

    void doesNothingUnlessTheMeterWasOpened()
    {
        QFETCH(QByteArray, slot);
        QFETCH(bool, disconnected);
        MainWindow w;
        if (disconnected) {
            connectWithRows(w, 2, 2);
            QVERIFY(w.isSampling());
            WindowDriver::disconnectAction(w);
        }
        QVERIFY(!w.isDeviceConnected());
        // Whatever the table shows.
        appendRows(tableOf(w, slot), 3);

        DialogPlayer player;
        DesktopStandIn desktop;
        invoke(w, slot.constData());
        QCoreApplication::processEvents();

        QCOMPARE(player.seen.size(), 0);
        QCOMPARE(desktop.opened.size(), 0);
        QCOMPARE(entriesOf(workDirectory->path()), QStringList());
    }

    void emptyTableShowsNoData_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::newRow("live table") << QByteArray("on_saveRealBtn_clicked");
        QTest::newRow("stored table") << QByteArray("on_saveBackBtn_clicked");
    }

    void emptyTableShowsNoData()
    {
        QFETCH(QByteArray, slot);
        MainWindow w;
        connectWithRows(w, 2, 2);
        WindowDriver::clear(w);

        DialogPlayer player;
        DesktopStandIn desktop;
        invoke(w, slot.constData());

        QCOMPARE(player.seen.size(), 1);
        const SeenDialog notice = player.seen.first();
        QCOMPARE(notice.kind, SeenDialog::MessageBox);
        QCOMPARE(notice.title, u("注意"));
        QCOMPARE(notice.text, u("无数据！"));
        QCOMPARE(notice.buttons, int(QMessageBox::Ok));
        QCOMPARE(notice.icon, int(QMessageBox::Information));
        QVERIFY(notice.hasParent);
        QCOMPARE(desktop.opened.size(), 0);
        QCOMPARE(entriesOf(workDirectory->path()), QStringList());
    }

    void cancelSavesNothingAndAsksNothing_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("unplugged");
        QTest::addColumn<bool>("documents"); // the home folder has a Documents folder
        QTest::addColumn<bool>("startedUnwritable");
        const QByteArray live("on_saveRealBtn_clicked");
        QTest::newRow("live table") << live << false << true << false;
        QTest::newRow("stored table") << QByteArray("on_saveBackBtn_clicked") << false << true << false;
        // A removal stops sampling but keeps the meter counted as opened.
        QTest::newRow("live table, meter unplugged") << live << true << true << false;
#ifndef Q_OS_WIN
        QTest::newRow("live table, home without Documents") << live << false << false << false;
#endif
        // As from a shortcut that starts the program in its installation folder.
        QTest::newRow("live table, started where no file can be made") << live << false << true << true;
    }

    void cancelSavesNothingAndAsksNothing()
    {
        QFETCH(QByteArray, slot);
        QFETCH(bool, unplugged);
        QFETCH(bool, documents);
        QFETCH(bool, startedUnwritable);
        HomeStandIn home(documents);
#ifdef Q_OS_WIN
        const QString unwritable = QStringLiteral("Z:/sys/kernel"); // Wine's view of Linux's sysfs
#else
        const QString unwritable = QStringLiteral("/sys/kernel");
#endif
        if (startedUnwritable && !QDir::setCurrent(unwritable))
            QSKIP("no folder here where no file can be made");
        MainWindow w;
        connectWithRows(w, 3, 2);
        if (unplugged) {
            VirtualMeter::setPlugged(false);
            w.handleDeviceRemoval();
        }

        DialogPlayer player;
        DesktopStandIn desktop;
        const QDateTime before = QDateTime::currentDateTime();
        invoke(w, slot.constData());
        const QDateTime after = QDateTime::currentDateTime();

        QCOMPARE(player.seen.size(), 1);
        const SeenDialog dialog = player.seen.first();
        QCOMPARE(dialog.kind, SeenDialog::FileDialog);
        QCOMPARE(dialog.title, u("保存Excel文件"));
        QCOMPARE(dialog.nameFilters, QStringList{u("Excel文件(*.xlsx)")});
        QCOMPARE(dialog.options, 0);
        QVERIFY(!dialog.hasParent);

        // "Zelmodata_" and the time the dialog was prepared, to the second.
        const QRegularExpressionMatch name =
            QRegularExpression("^Zelmodata_(\\d{8}_\\d{6})$").match(dialog.proposedName);
        QVERIFY2(name.hasMatch(), qPrintable(dialog.proposedName));
        const QDateTime proposed = QDateTime::fromString(name.captured(1), "yyyyMMdd_hhmmss");
        QVERIFY(proposed.isValid());
        QVERIFY(proposed >= before.addMSecs(-before.time().msec()));
        QVERIFY(proposed <= after);
        QCOMPARE(QDir(dialog.folder).canonicalPath(), QDir(home.expected).canonicalPath());

        QCOMPARE(desktop.opened.size(), 0);
        QCOMPARE(entriesOf(workDirectory->path()), QStringList());
    }

    void answerDecidesWhetherTheFileIsOpened_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("saveAs"); // as typed, relative to the working directory
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("existed"); // a file of the written name was there before
        const QByteArray live("on_saveRealBtn_clicked");
        const QByteArray stored("on_saveBackBtn_clicked");
        const QString plain("readings.xlsx");
        QTest::newRow("live, Yes") << live << int(QMessageBox::Yes) << true << plain << plain << false;
        QTest::newRow("live, No") << live << int(QMessageBox::No) << false << plain << plain << false;
        QTest::newRow("live, box closed") << live << int(QMessageBox::NoButton) << false << plain << plain << false;
        QTest::newRow("stored, Yes") << stored << int(QMessageBox::Yes) << true << plain << plain << false;
        QTest::newRow("stored, No") << stored << int(QMessageBox::No) << false << plain << plain << false;
        // Windows hands file names to narrow-character APIs in the system's
        // code page unless the program takes care.
        const QString chinese = u("电阻测量/实时读数 2026.xlsx");
        QTest::newRow("live, Chinese folder and name") << live << int(QMessageBox::Yes) << true << chinese
                                                       << chinese << false;
        // The desktop knows a workbook by its extension.
        QTest::newRow("live, typed without extension") << live << int(QMessageBox::Yes) << true
                                                       << "readings" << plain << false;
        QTest::newRow("live, without extension over an older workbook") << live << int(QMessageBox::No) << false
                                                                        << "readings" << plain << true;
    }

    void answerDecidesWhetherTheFileIsOpened()
    {
        QFETCH(QByteArray, slot);
        QFETCH(int, answer);
        QFETCH(bool, opens);
        QFETCH(QString, saveAs);
        QFETCH(QString, written);
        QFETCH(bool, existed);
        MainWindow w;
        connectWithRows(w, 3, 2);
        const ExpectedSheet atClick = snapshot(tableOf(w, slot));
        QCOMPARE(atClick.rows.size(), slot == "on_saveRealBtn_clicked" ? 3 : 2);

        DialogPlayer player;
        DesktopStandIn desktop;
        player.fileAnswer = DialogPlayer::FileAnswer::Save;
        player.target = QDir(workDirectory->path()).filePath(saveAs);
        const QString file = QDir(workDirectory->path()).filePath(written);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        if (existed) {
            QFile older(file);
            QVERIFY(older.open(QIODevice::WriteOnly));
            older.write("an older workbook");
        }
        player.messageAnswer = QMessageBox::StandardButton(answer);
        // A reading arrives while the dialog is open; it must not reach the file.
        bool ticked = false;
        player.readyToAnswer = [&] {
            if (!ticked) {
                ticked = true;
                WindowDriver::tick(w);
            }
            return w.liveModel()->rowCount() > 3;
        };
        invoke(w, slot.constData());

        QCOMPARE(player.count(SeenDialog::FileDialog), 1);
        QCOMPARE(player.count(SeenDialog::MessageBox), 1);
        // A save slow enough to show its progress shows no stray box.
        QCOMPARE(player.seen.size() - player.count(SeenDialog::Progress), 2);
        const SeenDialog question = player.first(SeenDialog::MessageBox);
        QCOMPARE(question.text, u("您想现在打开已保存的文件吗？"));
        QCOMPARE(question.title, u("打开文件"));
        QCOMPARE(question.buttons, int(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(question.defaultButton, int(QMessageBox::Yes));
        QCOMPARE(question.buttonTexts, (QStringList{u("是"), u("否")}));
        QCOMPARE(question.icon, int(QMessageBox::NoIcon));
        QVERIFY(!question.hasParent);

        // Replacing is asked about the name actually written, and only then.
        QCOMPARE(player.overwriteConfirmations, existed ? 1 : 0);
        if (opens)
            QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(file)});
        else
            QCOMPARE(desktop.opened.size(), 0);

        QCOMPARE(entriesOf(QFileInfo(file).path()), QStringList{QFileInfo(written).fileName()});
        QString error;
        const QJsonObject book = readWorkbook(file, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QString difference = differenceFromTable(book, atClick);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void failedSaveWarnsAndKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("disk full") << "disk full";
        QTest::newRow("read-only file") << "read-only";
        QTest::newRow("directory does not exist") << "missing directory";
#ifdef Q_OS_WIN
        QTest::newRow("held open by another program") << "held";
#endif
    }

    void failedSaveWarnsAndKeepsTheOldFile()
    {
        QFETCH(QString, how);
        if (how == "read-only" && readOnlyFilesAreWritableHere())
            QSKIP("this process may write a read-only file (root, or Wine run by root)");
        if (how == "disk full" && !fileSizeCanBeLimited())
            QSKIP("no way to fill the disk for this process alone here");
        MainWindow w;
        connectWithRows(w, 3, 0);

        QTemporaryDir directory;
        QString target = directory.filePath("kept.xlsx");
        const QByteArray before = QByteArray("the workbook saved yesterday\n").repeated(50);
        if (how == "missing directory") {
            target = directory.filePath("absent/kept.xlsx");
        } else {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        if (how == "read-only")
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner));
#ifdef Q_OS_WIN
        // As Excel holds a workbook it shows: reading and writing shared, deleting not.
        HANDLE held = INVALID_HANDLE_VALUE;
        if (how == "held") {
            held = CreateFileW(QDir::toNativeSeparators(target).toStdWString().c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
            QVERIFY(held != INVALID_HANDLE_VALUE);
        }
        const auto letGo = qScopeGuard([&] {
            if (held != INVALID_HANDLE_VALUE)
                CloseHandle(held);
        });
#endif
        const QStringList entriesBefore = entriesOf(directory.path());
        // Many rows, so that the workbook cannot fit under the size limit.
        for (int i = 0; i < 500; ++i)
            appendRows(w.liveModel(), 1);

        DialogPlayer player;
        DesktopStandIn desktop;
        player.fileAnswer = DialogPlayer::FileAnswer::Save;
        player.target = target;
        player.messageAnswer = QMessageBox::Yes; // would open the file if asked
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (how == "disk full")
                limit.reset(new FileSizeLimit(16 * 1024));
            invoke(w, "on_saveRealBtn_clicked");
        }

        QCOMPARE(player.count(SeenDialog::FileDialog), 1);
        QCOMPARE(player.count(SeenDialog::MessageBox), 1);
        const SeenDialog warning = player.first(SeenDialog::MessageBox);
        QCOMPARE(warning.title, u("错误"));
        QString reason;
        if (how == "held")
            reason = u("\n该文件正被其他程序使用，请关闭它后再保存。");
        QCOMPARE(warning.text, u("文件保存失败：") + QDir::toNativeSeparators(target) + reason);
        QCOMPARE(warning.buttons, int(QMessageBox::Ok));
        QCOMPARE(warning.icon, int(QMessageBox::Warning));
        QVERIFY(warning.hasParent);
        QCOMPARE(desktop.opened.size(), 0);

        QCOMPARE(entriesOf(directory.path()), entriesBefore);
        if (how != "missing directory") {
            QCOMPARE(player.overwriteConfirmations, 1);
            QCOMPARE(contentsOf(target), before);
        }
    }

    // A weekend's log takes seconds to save: the window shows how far it has
    // come, keeps taking readings, and lets the user stop or quit. The file
    // being packed cannot be cut off, so stopping and quitting wait for it.
    // The save is held before packing until the test has looked, so it lasts
    // as long as the test needs on any PC.
    void longSaveShowsProgressAndEnds_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("rows");
        QTest::newRow("left to run") << "run" << 1000;
        QTest::newRow("cancelled at once") << "cancel" << 1000;
        QTest::newRow("cancelled while the file is packed") << "cancel while packing" << 1000;
        // The dialog's own close button asks the same as Cancel, and hides nothing either.
        QTest::newRow("progress closed while the file is packed") << "dismiss while packing" << 1000;
        // Enough to pack for the waiting window's processor time to be measured against.
        QTest::newRow("exit action while the file is packed") << "exit while packing" << 100000;
        QTest::newRow("window closed while the file is packed") << "close while packing" << 100000;
    }

    void longSaveShowsProgressAndEnds()
    {
        QFETCH(QString, ending);
        QFETCH(int, rows);
        const bool packing = ending.endsWith("while packing");
        const bool quits = ending.startsWith("exit") || ending.startsWith("close");
        MainWindow w;
        connectWithRows(w, 3, 0);
        appendRows(w.liveModel(), rows);
        // Sampling goes on meanwhile: the table may have grown a little by the click.
        const int before = w.liveModel()->rowCount();
        const QString target = QDir(workDirectory->path()).filePath("weekend.xlsx");
        const QByteArray friday("the workbook saved on Friday");
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(friday);
        }

        DialogPlayer player;
        DesktopStandIn desktop;
        player.fileAnswer = DialogPlayer::FileAnswer::Save;
        player.target = target;
        // Yes would open the file, were the question asked after a cancel.
        player.messageAnswer = ending == "run" ? QMessageBox::No : QMessageBox::Yes;
        player.cpuClock = threadCpuMs;
        bool ended = false;
        double guiCpuAtEnd = 0;
        double allCpuAtEnd = 0;
        double watchCpuMs = 0;
        int rowsWhileSaving = 0;
        packingMayBegin.tryAcquire(packingMayBegin.available());
        SaveProgress::packingGate = holdBeforePacking;
        const auto ungate = qScopeGuard([] { SaveProgress::packingGate = nullptr; });
        bool released = false;
        const auto letPack = [&] {
            if (!std::exchange(released, true))
                packingMayBegin.release();
        };
        player.whileProgressShows = [&](QProgressDialog *dialog) {
            if (ending == "run") {
                if (rowsWhileSaving == 0)
                    WindowDriver::tick(w);
                rowsWhileSaving = w.liveModel()->rowCount();
                if (rowsWhileSaving > dialog->maximum() && dialog->value() == dialog->maximum())
                    letPack();
                return;
            }
            // Every row written: what is left is packing the file.
            if (ended || (packing && dialog->value() < dialog->maximum()))
                return;
            ended = true;
            guiCpuAtEnd = threadCpuMs();
            allCpuAtEnd = processCpuMs();
            player.ownCpuMs = watchCpuMs = 0;
            if (ending.startsWith("cancel"))
                dialog->findChild<QPushButton *>()->click();
            else if (ending.startsWith("dismiss"))
                dialog->close();
            else if (ending.startsWith("exit"))
                invoke(w, "on_exitAct_triggered");
            else
                w.close();
        };
        // Until the writer has removed its file beside the target, the
        // progress stays, modal, says that it is stopping and offers nothing;
        // the file is packed once that has been seen.
        int stoppingLooks = 0;
        QStringList wrongLooks;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &w, [&] {
            const double from = threadCpuMs();
            const auto count = qScopeGuard([&] { watchCpuMs += threadCpuMs() - from; });
            if (!ended || entriesOf(workDirectory->path()).size() < 2)
                return;
            auto *dialog = w.findChild<QProgressDialog *>();
            auto *cancel = dialog ? dialog->findChild<QPushButton *>() : nullptr;
            if (dialog && dialog->isVisible() && QApplication::activeModalWidget() == dialog
                && dialog->labelText() == u("正在取消…") && cancel && !cancel->isEnabled()) {
                ++stoppingLooks;
                letPack();
            } else if ((!quits || stoppingLooks > 0) && wrongLooks.size() < 5) // a quit reaches the save a moment later
                wrongLooks << (dialog && dialog->isVisible() ? dialog->labelText() : QStringLiteral("hidden"));
        });
        watch.start(5);

        if (quits) {
            // As in main(): the click comes from the application's event
            // loop, and quitting ends it once the save has returned.
            QTimer::singleShot(0, &w, [&] {
                invoke(w, "on_saveRealBtn_clicked");
                QCoreApplication::quit();
            });
            QCOMPARE(QCoreApplication::exec(), 0);
        } else {
            invoke(w, "on_saveRealBtn_clicked");
        }
        const double guiThreadCpuMs = threadCpuMs() - guiCpuAtEnd;
        const double otherCpuMs = processCpuMs() - allCpuAtEnd - guiThreadCpuMs;
        // The window's share of the GUI thread: this test's own timers take theirs.
        const double guiCpuMs = guiThreadCpuMs - player.ownCpuMs - watchCpuMs;
        watch.stop();

        QCOMPARE(player.count(SeenDialog::FileDialog), 1);
        QCOMPARE(player.count(SeenDialog::Progress), 1);
        const SeenDialog progress = player.first(SeenDialog::Progress);
        QCOMPARE(progress.title, u("保存文件"));
        QCOMPARE(progress.text, u("正在保存…"));
        QCOMPARE(progress.buttonTexts, QStringList{u("取消")});
        QVERIFY(progress.maximum >= before);
        QVERIFY(progress.hasParent);

        if (ending != "run") {
            QVERIFY2(ended, "the save was over before it could be ended");
            // Waiting for the writer is no reason to keep a processor busy.
            // Measured against the writer packing meanwhile, not the clock:
            // on a loaded machine a spinning thread gets only its share.
            if (quits)
                QVERIFY2(guiCpuMs < 0.25 * otherCpuMs + 20,
                         qPrintable(QStringLiteral("%1 ms of CPU waiting while the writer used %2 ms")
                                        .arg(guiCpuMs, 0, 'f', 0)
                                        .arg(otherCpuMs, 0, 'f', 0)));
            // No question, no warning, nothing left behind, the old file as it was.
            QCOMPARE(player.seen.size(), 2);
            QCOMPARE(desktop.opened.size(), 0);
            QCOMPARE(entriesOf(workDirectory->path()), QStringList{"weekend.xlsx"});
            QCOMPARE(contentsOf(target), friday);
            QVERIFY2(wrongLooks.isEmpty(), qPrintable(wrongLooks.join(", ")));
            if (packing)
                QVERIFY2(stoppingLooks > 0, "the file was packed before the watch looked");
            return;
        }

        // Left to run: readings keep arriving meanwhile, the file holds the
        // table as it was clicked, and the question follows.
        QCOMPARE(player.count(SeenDialog::MessageBox), 1);
        QCOMPARE(player.first(SeenDialog::MessageBox).text, u("您想现在打开已保存的文件吗？"));
        QVERIFY(player.highestProgress > 0);
        QCOMPARE(entriesOf(workDirectory->path()), QStringList{"weekend.xlsx"});
        QString error;
        const QJsonObject book = readWorkbook(target, &error, {QStringLiteral("--summary")});
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonObject sheet = book.value("sheets").toArray().at(0).toObject();
        const int saved = sheet.value("rowCount").toInt() - 1;
        QVERIFY(saved >= before);
        QCOMPARE(progress.maximum, saved);
        QCOMPARE(sheet.value("last").toArray().at(0).toString(), w.liveModel()->item(saved - 1, 0)->text());
        // A reading came while the progress showed, and it is not in the file.
        QVERIFY2(rowsWhileSaving > saved, "no reading arrived while the progress showed");
    }

private:
    std::unique_ptr<QTemporaryDir> workDirectory;
};

QTEST_MAIN(ExportTest)
#include "test_export.moc"
