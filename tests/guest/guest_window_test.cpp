// The window with the real hidapi (hidraw backend) against the UHID meter, on
// the real kernel HID stack inside the test machine. Arrival and removal reach
// the window through its own Linux hot-plug monitor, from kernel uevents.
//
// The functions run in order on one window and one meter, as a person at the
// bench would: plug in, sample, download, lose the meter's answers, unplug in
// the middle of a poll, plug in again.

#include "udevmonitor.h"
#include "windowfixture.h"

#include <QProgressBar>
#include <QSocketNotifier>
#include <QPushButton>
#include <QScopeGuard>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <vector>

namespace {

const QString NO_ANSWER = QStringLiteral("未连接");
const QString WAITING = QStringLiteral("等待连接···");

// Software emulation makes everything several times slower than on a PC.
constexpr int SETTLE_MS = 20000;

} // namespace

class GuestWindowTest : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void windowStartsWaitingForTheMeter();
    void arrivalOfTheMeterStartsSamplingAndDownload();
    void liveSamplingAppendsOneRowPerReading();
    void startButtonDownloadsStoredRecords_data();
    void startButtonDownloadsStoredRecords();
    void silentMeterStopsSamplingAndClosesTheMeter();
    void silentMeterAtStartShowsNoAnswer();
    void answeringMeterStartsAgainFromTheButton();
    void intervalChangeReopensTheMeter();
    void otherDeviceArrivingMidPollChangesNothing();
    void otherDeviceLeavingChangesNothing();
    void unplugDuringPollStopsSampling();
    void replugKeepsTheLogAndSamplesOn();
    void unplugDuringEachExchangeLeavesTheWindowWorking_data();
    void unplugDuringEachExchangeLeavesTheWindowWorking();
    void unplugDuringArrivalHandshakeEndsNotOpened();
    void unplugDuringDownloadWarnsAndStops();
    void replugWhileTheWarningIsOpen();
    void plugInAfterAllThatWorksAsOnTheFirstDay();

private:
    void clickStart();
    void checkForeignDeviceLeftAlone(int mark, const QSignalSpy &removals, QSignalSpy &uevents);
    QSocketNotifier *hotplugSocket() const;
    static int openHidrawDescriptors();
    void watchEventLoop();

    QTimer eventLoopWatch;
    // How long the window's thread went without turning its event loop.
    QElapsedTimer sinceLastTurn;
    qint64 longestStallMs = 0;
};

void GuestWindowTest::initTestCase()
{
    // What main() registers so that stored records cross to the decoder.
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");

    // Every turn of the event loop: measure how long the last one was ago,
    // and close a warning box as a person would; left open it would block the
    // window's thread for good. Each box is noted, and one that no function
    // expected fails the function that caused it.
    connect(&eventLoopWatch, &QTimer::timeout, this, &GuestWindowTest::watchEventLoop);
    eventLoopWatch.start(20);
    sinceLastTurn.start();

    QVERIFY2(meter.startProcess({QStringLiteral("--unplugged")}, 10000), "the UHID meter did not start");
    window = std::make_unique<MainWindow>();
    window->show();
}

void GuestWindowTest::init()
{
    longestStallMs = 0;
    sinceLastTurn.restart();
}

void GuestWindowTest::cleanup()
{
    qInfo("longest stall of the window's event loop: %lld ms", longestStallMs);
    checkMeterAndBoxes();
}

void GuestWindowTest::cleanupTestCase()
{
    qInfo("meter commands over the whole run: 05 x%d, 0A x%d, 08 x%d, 07 x%d", meter.count("command 05"),
          meter.count("command 0A"), meter.count("command 08"), meter.count("command 07"));
    // Close the window while a poll waits for a late answer: the destructor
    // must let it finish, and afterwards nothing may reach the meter.
    QVERIFY(meter.send(QStringLiteral("delay 700")));
    const int mark = meter.mark();
    QVERIFY(meter.waitForEvent(QStringLiteral("command 05"), mark, SETTLE_MS));
    QElapsedTimer timer;
    timer.start();
    window.reset();
    qInfo("window destroyed in %lld ms, with a poll in flight", timer.elapsed());
    QVERIFY(meter.settle(nullptr));
    const int commands = meter.count("command");
    // What could still come would come from a thread the window left behind:
    // a while to show itself (a slow machine only makes it harder to see).
    QTest::qWait(2000);
    QCOMPARE(meter.count("command"), commands);
    meter.quit(5000);
}

void GuestWindowTest::windowStartsWaitingForTheMeter()
{
    QCOMPARE(connectionText(), WAITING);
    QVERIFY(!window->isSampling());
    QVERIFY(!window->isDeviceConnected());
    QCOMPARE(meter.count("command"), 0);
}

void GuestWindowTest::arrivalOfTheMeterStartsSamplingAndDownload()
{
    QVERIFY(meter.send(QStringLiteral("records 30")));
    const int mark = meter.mark();
    QVERIFY(meter.send(QStringLiteral("plug")));

    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), CONNECTED, SETTLE_MS);
    QCOMPARE(connectionStyle(), QStringLiteral("color:green;"));
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 30, SETTLE_MS);
    QString problem;
    QVERIFY2(checkStoredRows(30, &problem), qPrintable(problem));
    QCOMPARE(text("numSavedEdit"), QStringLiteral("30"));
    // One handshake from the arrival itself, one from the start sequence it runs.
    QCOMPARE(meter.count("command 08", mark), 2);
    QCOMPARE(meter.count("command 07", mark), 1);
}

void GuestWindowTest::liveSamplingAppendsOneRowPerReading()
{
    QVERIFY(window->isSampling());
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= 4, SETTLE_MS);
    QVERIFY(meter.settle(window->pollerThread()));
    const int rows = window->liveModel()->rowCount();
    QString problem;
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
    QCOMPARE(text("numEdit"), QString::number(rows));
    QCOMPARE(text("modeEdit"), QStringLiteral("自动"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("接收实时数据"));
    // Every accepted reading took one reading and one range exchange.
    QVERIFY(meter.count("command 05") >= rows);
    QVERIFY(meter.count("command 0A") >= rows);
    // The polls run on their own thread: the window never waits for them.
    QVERIFY2(longestStallMs < 1000, qPrintable(QStringLiteral("stalled %1 ms").arg(longestStallMs)));
}

void GuestWindowTest::startButtonDownloadsStoredRecords_data()
{
    QTest::addColumn<int>("records");
    QTest::newRow("none") << 0;
    QTest::newRow("thirty, three reports") << 30;
    QTest::newRow("the most the meter holds, 34 reports") << 499;
}

void GuestWindowTest::startButtonDownloadsStoredRecords()
{
    QFETCH(int, records);
    QVERIFY(meter.send(QStringLiteral("records %1").arg(records)));
    const int liveRowsBefore = window->liveModel()->rowCount();
    const int mark = meter.mark();

    QElapsedTimer timer;
    timer.start();
    clickStart();
    qInfo("start sequence with %d records held the window for %lld ms", records, timer.elapsed());

    QCOMPARE(connectionText(), CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), records, SETTLE_MS);
    // The start sequence wrote all it was going to while the click lasted.
    QVERIFY(meter.settle(window->pollerThread()));
    QCOMPARE(window->storedModel()->rowCount(), records);
    QString problem;
    QVERIFY2(checkStoredRows(records, &problem), qPrintable(problem));
    QCOMPARE(text("numSavedEdit"), QString::number(records));
    QCOMPARE(widget<QProgressBar>("progressBar")->value(), records > 0 ? 100 : 0);
    QCOMPARE(meter.count("command 07", mark), records > 0 ? 1 : 0);

    // Sampling goes on, and the live rows survive the restart.
    QVERIFY(window->isSampling());
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() > liveRowsBefore, SETTLE_MS);
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
}

void GuestWindowTest::silentMeterStopsSamplingAndClosesTheMeter()
{
    QVERIFY(window->isSampling());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(meter.send(QStringLiteral("silent on")));

    // The first poll that times out stops everything.
    QTRY_VERIFY_WITH_TIMEOUT(!window->isSampling(), SETTLE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), NOT_OPENED, SETTLE_MS);
    QCOMPARE(connectionStyle(), QStringLiteral("color:red;"));
    QTRY_COMPARE_WITH_TIMEOUT(window->meterHandle(), static_cast<hid_device *>(nullptr), SETTLE_MS);
    QCOMPARE(window->statusBar()->currentMessage(), QString());
    qInfo("a silent meter was given up after %lld ms", timer.elapsed());

    // Polls still queued when the timer stopped may time out as well; once
    // they are done, nothing more reaches the meter (a while to show itself).
    QVERIFY(meter.settle(window->pollerThread()));
    const int rows = window->liveModel()->rowCount();
    const int commands = meter.count("command");
    QTest::qWait(2000);
    QCOMPARE(window->liveModel()->rowCount(), rows);
    QCOMPARE(meter.count("command"), commands);
}

void GuestWindowTest::silentMeterAtStartShowsNoAnswer()
{
    clickStart();
    QCOMPARE(connectionText(), NO_ANSWER);
    QCOMPARE(connectionStyle(), QStringLiteral("color:red;"));
    QVERIFY(!window->isSampling());
    // Once every poll has ended and reported, sampling's timer is still
    // stopped: nothing is left that could start it again.
    QVERIFY(meter.settle(window->pollerThread()));
    QVERIFY(!window->isSampling());
}

void GuestWindowTest::answeringMeterStartsAgainFromTheButton()
{
    QVERIFY(meter.send(QStringLiteral("silent off")));
    QVERIFY(meter.send(QStringLiteral("records 30")));
    const int rows = window->liveModel()->rowCount();
    clickStart();
    QCOMPARE(connectionText(), CONNECTED);
    QVERIFY(window->isSampling());
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= rows + 2, SETTLE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 30, SETTLE_MS);
    QString problem;
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
}

void GuestWindowTest::intervalChangeReopensTheMeter()
{
    QVERIFY(window->isSampling());
    const int mark = meter.mark();
    widget<QSpinBox>("spinBox")->setValue(300);
    QVERIFY(window->isSampling());
    QCOMPARE(connectionText(), CONNECTED);
    // The handle really went back to the kernel and a new one was opened.
    QVERIFY(meter.waitForEvent(QStringLiteral("closed"), mark, SETTLE_MS));
    QVERIFY(meter.waitForEvent(QStringLiteral("opened"), mark, SETTLE_MS));
    const int rows = window->liveModel()->rowCount();
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= rows + 2, SETTLE_MS);
    widget<QSpinBox>("spinBox")->setValue(500);
    QVERIFY(window->isSampling());
    QString problem;
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
}

void GuestWindowTest::otherDeviceArrivingMidPollChangesNothing()
{
    // Another HID device (a headset's buttons, say) arrives while the live
    // worker waits for a late answer: it is none of the log's business.
    QVERIFY(window->isSampling());
    QVERIFY(meter.send(QStringLiteral("delay 600")));
    const int mark = meter.mark();
    QVERIFY(meter.waitForEvent(QStringLiteral("command 05"), mark, SETTLE_MS));
    QSignalSpy removals(window->liveModel(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy uevents(hotplugSocket(), &QSocketNotifier::activated);
    QVERIFY(meter.send(QStringLiteral("other plug")));
    QVERIFY(meter.send(QStringLiteral("delay 0")));
    QVERIFY(meter.waitForEvent(QStringLiteral("other plugged"), mark, SETTLE_MS));
    checkForeignDeviceLeftAlone(mark, removals, uevents);
}

void GuestWindowTest::otherDeviceLeavingChangesNothing()
{
    const int mark = meter.mark();
    QSignalSpy removals(window->liveModel(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy uevents(hotplugSocket(), &QSocketNotifier::activated);
    QVERIFY(meter.send(QStringLiteral("other unplug")));
    QVERIFY(meter.waitForEvent(QStringLiteral("other unplugged"), mark, SETTLE_MS));
    checkForeignDeviceLeftAlone(mark, removals, uevents);
}

QSocketNotifier *GuestWindowTest::hotplugSocket() const
{
    auto *monitor = window->findChild<UdevHidMonitor *>();
    auto *socket = monitor ? monitor->findChild<QSocketNotifier *>() : nullptr;
    if (!socket)
        qFatal("the window has no hot-plug monitor listening");
    return socket;
}

void GuestWindowTest::checkForeignDeviceLeftAlone(int mark, const QSignalSpy &removals, QSignalSpy &uevents)
{
    // The monitor read the device's uevent (it hears of hidraw nodes only) and,
    // in the same turn of the event loop, passed it over; rows go on arriving.
    QTRY_VERIFY2_WITH_TIMEOUT(!uevents.isEmpty(), "the monitor never heard of the other device", SETTLE_MS);
    const int rows = window->liveModel()->rowCount();
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= rows + 3, SETTLE_MS);
    QVERIFY(window->isSampling());
    QCOMPARE(connectionText(), CONNECTED);
    QCOMPARE(connectionStyle(), QStringLiteral("color:green;"));
    QCOMPARE(removals.size(), 0);
    QString problem;
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
    QVERIFY2(checkStoredRows(30, &problem), qPrintable(problem));
    // Only polls reached the meter, on the handle it already had.
    meter.drain();
    QCOMPARE(meter.count("command", mark), meter.count("command 05", mark) + meter.count("command 0A", mark));
    QCOMPARE(meter.count("opened", mark), 0);
    QCOMPARE(meter.count("closed", mark), 0);
}

void GuestWindowTest::unplugDuringPollStopsSampling()
{
    QVERIFY(window->isSampling());
    // Late answers keep a poll inside hid_read_timeout long enough to pull
    // the meter out from under it.
    QVERIFY(meter.send(QStringLiteral("delay 600")));
    const int mark = meter.mark();
    QVERIFY(meter.waitForEvent(QStringLiteral("command 05"), mark, SETTLE_MS));
    QVERIFY(meter.send(QStringLiteral("unplug")));
    QVERIFY(meter.send(QStringLiteral("delay 0")));

    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), NOT_OPENED, SETTLE_MS);
    QCOMPARE(connectionStyle(), QStringLiteral("color:red;"));
    QVERIFY(!window->isSampling());
    QCOMPARE(window->statusBar()->currentMessage(), QString());

    // Whatever polls were queued run into the vanished device and add nothing
    // (a while to show itself).
    QVERIFY(meter.settle(window->pollerThread()));
    const int rows = window->liveModel()->rowCount();
    QTest::qWait(2000);
    QCOMPARE(window->liveModel()->rowCount(), rows);
    QVERIFY(!window->isSampling());
    // Handling the removal does not wait for the poll that was cut off.
    QVERIFY2(longestStallMs < 1000, qPrintable(QStringLiteral("stalled %1 ms").arg(longestStallMs)));
}

void GuestWindowTest::replugKeepsTheLogAndSamplesOn()
{
    // The cable was bumped: the readings taken so far are the user's, and
    // sampling goes on by itself, numbered after them.
    QVERIFY(meter.send(QStringLiteral("records 30")));
    const int mark = meter.mark();
    const int heldBefore = window->liveModel()->rowCount();
    const QStringList firstRow = TableChecks::rowTexts(window->liveModel(), 0);
    QSignalSpy removals(window->liveModel(), &QAbstractItemModel::rowsRemoved);
    QVERIFY(meter.send(QStringLiteral("plug")));

    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), CONNECTED, SETTLE_MS);
    QCOMPARE(connectionStyle(), QStringLiteral("color:green;"));
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 30, SETTLE_MS);
    QString problem;
    QVERIFY2(checkStoredRows(30, &problem), qPrintable(problem));
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= heldBefore + 3, SETTLE_MS);
    QVERIFY2(TableChecks::logWasKept(window->liveModel(), removals, heldBefore, firstRow, &problem),
             qPrintable(problem));
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
    QCOMPARE(text("numEdit"), QString::number(window->liveModel()->rowCount()));
    QCOMPARE(meter.count("command 08", mark), 2);
}

void GuestWindowTest::unplugDuringEachExchangeLeavesTheWindowWorking_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("waiting for the reading") << QStringLiteral("05");
    QTest::newRow("waiting for the range") << QStringLiteral("0A");
    QTest::newRow("the reading again, on a fresh device node") << QStringLiteral("05");
    QTest::newRow("the range again") << QStringLiteral("0A");
}

void GuestWindowTest::unplugDuringEachExchangeLeavesTheWindowWorking()
{
    // The meter vanishes the moment the live worker has written the command
    // and waits for the answer; then it is plugged in again.
    QFETCH(QString, code);
    QVERIFY(window->isSampling());
    QVERIFY(meter.send(QStringLiteral("unplug on ") + code));
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), NOT_OPENED, SETTLE_MS);
    QVERIFY(!window->isSampling());

    QVERIFY(meter.send(QStringLiteral("plug")));
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), CONNECTED, SETTLE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);
    const int rows = window->liveModel()->rowCount();
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() > rows, SETTLE_MS);
}

void GuestWindowTest::unplugDuringArrivalHandshakeEndsNotOpened()
{
    QSignalSpy removals(window->findChild<UdevHidMonitor *>(), &UdevHidMonitor::removed);
    QVERIFY(meter.send(QStringLiteral("unplug")));
    QTRY_COMPARE_WITH_TIMEOUT(removals.size(), 1, SETTLE_MS);
    QCOMPARE(connectionText(), NOT_OPENED);
    // The arrival opens the meter and asks for the record count; the meter
    // leaves right then, so the start sequence that follows finds nothing.
    QVERIFY(meter.send(QStringLiteral("unplug on 08")));
    const int mark = meter.mark();
    QVERIFY(meter.send(QStringLiteral("plug")));
    QVERIFY(meter.waitForEvent(QStringLiteral("unplugged"), mark, SETTLE_MS));
    // Then the window has handled the arrival and the removal that followed.
    QTRY_COMPARE_WITH_TIMEOUT(removals.size(), 2, SETTLE_MS);
    QVERIFY(meter.settle(window->pollerThread()));
    QCOMPARE(connectionText(), NOT_OPENED);
    QVERIFY(!window->isSampling());
    QCOMPARE(meter.count("command 08", mark), 1);
}

void GuestWindowTest::unplugDuringDownloadWarnsAndStops()
{
    QVERIFY(meter.send(QStringLiteral("records 499")));
    QVERIFY(meter.send(QStringLiteral("plug")));
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 499, SETTLE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);

    // Gone as the records are asked for: every read of the transfer fails.
    QVERIFY(meter.send(QStringLiteral("unplug on 07")));
    clickStart();
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), NOT_OPENED, SETTLE_MS);
    QVERIFY(!window->isSampling());
    QCOMPARE(window->storedModel()->rowCount(), 0);
    const QStringList boxes = takeMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QStringLiteral("错误: 数据传输失败")), qPrintable(boxes.first()));
}

void GuestWindowTest::replugWhileTheWarningIsOpen()
{
    QVERIFY(meter.send(QStringLiteral("plug")));
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 499, SETTLE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);

    // The transfer fails and its warning opens; while it is open the meter
    // leaves and comes back, and the arrival runs the whole start sequence
    // from inside the warning's event loop: the warning stays open until the
    // window has handled it.
    QVERIFY(meter.send(QStringLiteral("replug on 07 300")));
    const int mark = meter.mark();
    QSignalSpy arrivals(window->findChild<UdevHidMonitor *>(), &UdevHidMonitor::arrived);
    QDeadlineTimer never(SETTLE_MS);
    boxMayClose = [&] { return !arrivals.isEmpty() || never.hasExpired(); };
    const auto ungate = qScopeGuard([this] { boxMayClose = nullptr; });
    clickStart();
    QVERIFY2(!arrivals.isEmpty(), "the meter never came back while the warning was open");
    QVERIFY(meter.waitForEvent(QStringLiteral("plugged"), mark, SETTLE_MS));
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 499, SETTLE_MS);
    QCOMPARE(connectionText(), CONNECTED);
    QVERIFY(window->isSampling());
    QString problem;
    QVERIFY2(checkStoredRows(499, &problem), qPrintable(problem));
    const QStringList boxes = takeMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QStringLiteral("错误: 数据传输失败")), qPrintable(boxes.first()));
    const int rows = window->liveModel()->rowCount();
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() > rows, SETTLE_MS);
}

void GuestWindowTest::plugInAfterAllThatWorksAsOnTheFirstDay()
{
    QVERIFY(meter.send(QStringLiteral("unplug")));
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), NOT_OPENED, SETTLE_MS);
    QVERIFY(meter.send(QStringLiteral("records 30")));
    const int heldBefore = window->liveModel()->rowCount();
    const QStringList firstRow = TableChecks::rowTexts(window->liveModel(), 0);
    QSignalSpy removals(window->liveModel(), &QAbstractItemModel::rowsRemoved);
    QVERIFY(meter.send(QStringLiteral("plug")));
    QTRY_COMPARE_WITH_TIMEOUT(connectionText(), CONNECTED, SETTLE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(window->isSampling(), SETTLE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(window->storedModel()->rowCount(), 30, SETTLE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(window->liveModel()->rowCount() >= heldBefore + 2, SETTLE_MS);
    QString problem;
    QVERIFY2(TableChecks::logWasKept(window->liveModel(), removals, heldBefore, firstRow, &problem),
             qPrintable(problem));
    QVERIFY2(checkStoredRows(30, &problem), qPrintable(problem));
    QVERIFY2(checkLiveRows(&problem), qPrintable(problem));
    // Every replaced handle was closed: only the current one is held.
    QCOMPARE(openHidrawDescriptors(), 1);
}

void GuestWindowTest::clickStart()
{
    widget<QPushButton>("readbackBtn")->click();
}

int GuestWindowTest::openHidrawDescriptors()
{
    int count = 0;
    const QFileInfoList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System);
    for (const QFileInfo &fd : descriptors) {
        if (fd.symLinkTarget().startsWith(QLatin1String("/dev/hidraw")))
            ++count;
    }
    return count;
}

void GuestWindowTest::watchEventLoop()
{
    longestStallMs = qMax(longestStallMs, sinceLastTurn.restart());
    watchBoxes();
}

QTEST_MAIN(GuestWindowTest)
#include "guest_window_test.moc"
