// How the window follows the meter: the connection states and their looks,
// hot-plug, lost meters, stop, interval changes and the disconnect action.
#include "support/windowdriver.h"

#include "protocol.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QSemaphore>
#include <QTableView>

#include "meteridentity.h"
#include "worksession.h"

using namespace WindowDriver;
using VirtualMeter::FaultKind;
using VirtualMeter::fault;

namespace {
const QString WAITING = QString::fromUtf8("等待连接\u00B7\u00B7\u00B7");
const QString CONNECTED = QString::fromUtf8("已连接");
const QString NO_ANSWER = QString::fromUtf8("未连接");
const QString NOT_OPEN = QString::fromUtf8("未打开设备");
} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLikeMain(); }
    void init() { VirtualMeter::reset(); }

    void cleanup() { verifyMeterNeverMisused(); }

    void startOutcomes_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<int>("countFault");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("style");
        QTest::addColumn<bool>("sampling");
        QTest::addColumn<bool>("handleHeld");
        QTest::addColumn<bool>("connected");

        QTest::newRow("meter answers") << true << int(FaultKind::None) << CONNECTED << "color:green;" << true << true << true;
        QTest::newRow("open fails") << false << int(FaultKind::None) << NOT_OPEN << "color:red;" << false << false << false;
        QTest::newRow("no reply") << true << int(FaultKind::NoAnswer) << NO_ANSWER << "color:red;" << false << true << false;
        QTest::newRow("error reply") << true << int(FaultKind::Error) << NO_ANSWER << "color:red;" << false << true << false;
        // Read but not a status frame: nothing runs, so nothing may look as if it ran.
        QTest::newRow("wrong header") << true << int(FaultKind::WrongHeader) << NO_ANSWER << "color:red;" << false << true << false;
        QTest::newRow("wrong type") << true << int(FaultKind::WrongType) << NO_ANSWER << "color:red;" << false << true << false;
        // The echoed code of the count reply is not examined.
        QTest::newRow("wrong echo accepted") << true << int(FaultKind::WrongEcho) << CONNECTED << "color:green;" << true << true << true;
        QTest::newRow("short report") << true << int(FaultKind::ShortReport) << NO_ANSWER << "color:red;" << false << true << false;
    }

    void startOutcomes()
    {
        QFETCH(bool, plugged);
        QFETCH(int, countFault);
        QFETCH(QString, line);
        QFETCH(QString, style);
        QFETCH(bool, sampling);
        QFETCH(bool, handleHeld);
        QFETCH(bool, connected);

        VirtualMeter::setPlugged(plugged);
        if (countFault != int(FaultKind::None))
            VirtualMeter::failNext(0x08, fault(FaultKind(countFault)));
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);

        QCOMPARE(connection(w), line);
        QCOMPARE(connectionStyle(w), style);
        QCOMPARE(w.isSampling(), sampling);
        QCOMPARE(w.meterHandle() != nullptr, handleHeld);
        QCOMPARE(w.isDeviceConnected(), connected);
        QVERIFY(sampling ? looksRunning(w) : looksIdle(w));
    }

    void samplingAppendsRowsWithCounters()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        QVERIFY(w.isSampling());
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        QCOMPARE(status(w), QString::fromUtf8("接收实时数据"));
        VirtualMeter::setRange(0, 5);
        VirtualMeter::setReading({0x23, 0x00, 0x12, 0x02});
        tick(w);
        TRY_COMPARE(liveRows(w), 2);

        QStandardItemModel *m = w.liveModel();
        QCOMPARE(m->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(m->item(0, 2)->text(), QString::fromUtf8("自动"));
        QCOMPARE(m->item(0, 3)->text(), QString::fromUtf8("10mΩ"));
        QCOMPARE(m->item(0, 4)->text(), QString::fromUtf8("12.345mΩ"));
        QCOMPARE(m->item(1, 0)->text(), QStringLiteral("2"));
        QCOMPARE(m->item(1, 2)->text(), QString::fromUtf8("手动"));
        QCOMPARE(m->item(1, 3)->text(), QString::fromUtf8("10Ω"));
        QCOMPARE(m->item(1, 4)->text(), QString::fromUtf8("0.4Ω"));
        QVERIFY(QDateTime::fromString(m->item(1, 1)->text(), "yyyy-MM-dd hh:mm:ss").isValid());
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(m->item(1, c)->textAlignment(), Qt::AlignCenter);
            QVERIFY(!m->item(1, c)->isEditable());
        }
        QCOMPARE(text(w, "numEdit"), QStringLiteral("2"));
        QCOMPARE(text(w, "modeEdit"), QString::fromUtf8("手动"));

        // Every column is wide enough for what was appended to it.
        auto *view = w.findChild<QTableView *>("tableView");
        for (int c = 0; c < 5; ++c) {
            const int needed = view->sizeHintForIndex(m->index(1, c)).width();
            QVERIFY2(view->horizontalHeader()->sectionSize(c) >= needed, qPrintable(QString::number(c)));
        }
    }

    void rejectedRepliesAddNoRow_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("kind");
        QTest::newRow("reading header") << 0x05 << int(FaultKind::WrongHeader);
        QTest::newRow("reading type") << 0x05 << int(FaultKind::WrongType);
        QTest::newRow("range echo") << 0x0A << int(FaultKind::WrongEcho);
        QTest::newRow("range header") << 0x0A << int(FaultKind::WrongHeader);
    }

    void rejectedRepliesAddNoRow()
    {
        QFETCH(int, command);
        QFETCH(int, kind);
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        VirtualMeter::failNext(static_cast<unsigned char>(command), fault(FaultKind(kind)));
        tick(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 2);
        finishPolls(w);
        QCOMPARE(liveRows(w), 2);
        QCOMPARE(text(w, "numEdit"), QStringLiteral("2"));
        // A rejected reply is not a lost meter.
        QVERIFY(w.isSampling());
    }

    void pollTimeoutClosesButErrorDoesNot_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("stops");
        QTest::newRow("reading times out") << 0x05 << int(FaultKind::NoAnswer) << true;
        QTest::newRow("range times out") << 0x0A << int(FaultKind::NoAnswer) << true;
        QTest::newRow("reading error") << 0x05 << int(FaultKind::Error) << false;
        QTest::newRow("range error") << 0x0A << int(FaultKind::Error) << false;
    }

    void pollTimeoutClosesButErrorDoesNot()
    {
        QFETCH(int, command);
        QFETCH(int, kind);
        QFETCH(bool, stops);
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        VirtualMeter::failNext(static_cast<unsigned char>(command), fault(FaultKind(kind)));
        const int opened = VirtualMeter::openHandleCount();
        QCOMPARE(opened, 1);
        tick(w);
        finishPolls(w);
        QCOMPARE(w.isSampling(), !stops);
        if (stops) {
            QCOMPARE(connection(w), NOT_OPEN);
            QCOMPARE(connectionStyle(w), QStringLiteral("color:red;"));
            QVERIFY(looksIdle(w));
            QCOMPARE(status(w), QString());
            QCOMPARE(w.meterHandle(), nullptr);
            QCOMPARE(VirtualMeter::openHandleCount(), 0);
            QVERIFY(w.isDeviceConnected());
        } else {
            QCOMPARE(connection(w), CONNECTED);
            QVERIFY(looksRunning(w));
            QCOMPARE(liveRows(w), 0);
        }
    }

    void silentMeterIsPolledOnceNotOncePerQueuedTick()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        VirtualMeter::failAlways(0x05, fault(FaultKind::NoAnswer));
        const int before = VirtualMeter::commandsWritten(0x05);
        for (int i = 0; i < 4; ++i)
            tick(w);
        finishPolls(w);
        // The first time-out retires the handle: the queued polls do not each
        // wait out two more time-outs before the window can close it.
        QCOMPARE(VirtualMeter::commandsWritten(0x05) - before, 1);
        QVERIFY(!w.isSampling());
        QCOMPARE(connection(w), NOT_OPEN);
        QCOMPARE(w.meterHandle(), nullptr);
    }

    void stopKeepsConnectionAndRows()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        stop(w);
        QVERIFY(!w.isSampling());
        QVERIFY(looksStopped(w));
        QCOMPARE(connection(w), CONNECTED);
        QCOMPARE(status(w), QString::fromUtf8("停止"));
        QCOMPARE(w.meterHandle(), nullptr);
        QVERIFY(w.isDeviceConnected());
        QCOMPARE(liveRows(w), 1);

        // Stop while stopped changes nothing, not even the status bar.
        w.statusBar()->showMessage("marker");
        stop(w);
        QCOMPARE(status(w), QStringLiteral("marker"));
        QVERIFY(looksStopped(w));
    }

    void rowNumbersContinueAcrossStopAndStart()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        tick(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 2);
        stop(w);
        start(w);
        QVERIFY(w.isSampling());
        QCOMPARE(liveRows(w), 2);
        tick(w);
        TRY_COMPARE(liveRows(w), 3);
        QCOMPARE(w.liveModel()->item(2, 0)->text(), QStringLiteral("3"));
        clear(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        QCOMPARE(w.liveModel()->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(text(w, "numEdit"), QStringLiteral("1"));
    }

    void startWhileSamplingStopsPausesAndRestarts()
    {
        VirtualMeter::setStoredRecords(records(3));
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        TRY_COMPARE(w.storedModel()->rowCount(), 3);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        const auto before = VirtualMeter::simulatedMs();
        const int countsBefore = VirtualMeter::commandsWritten(0x08);
        start(w);
        // Stopped and paused 800 ms before the meter was opened again.
        QVERIFY(VirtualMeter::simulatedMs() - before >= 800);
        QCOMPARE(liveRows(w), 1);
        QCOMPARE(w.storedModel()->rowCount(), 0); // emptied, refilled by the decoder
        TRY_COMPARE(w.storedModel()->rowCount(), 3);
        QVERIFY(w.isSampling());
        QCOMPARE(VirtualMeter::commandsWritten(0x08) - countsBefore, 1);
    }

    void intervalChangeReopensAtNewInterval()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        hid_device *first = w.meterHandle();
        const auto before = VirtualMeter::simulatedMs();
        spinBox(w)->setValue(1000);
        QVERIFY(VirtualMeter::simulatedMs() - before >= 600);
        QVERIFY(w.isSampling());
        QVERIFY(w.meterHandle() != nullptr);
        QVERIFY(w.meterHandle() != first);
        QVERIFY(looksRunning(w));
        QCOMPARE(connection(w), CONNECTED);
        QCOMPARE(VirtualMeter::commandsWritten(0x08), 1); // no new handshake
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
    }

    void intervalChangeAfterStopRestarts()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        stop(w);
        spinBox(w)->setValue(250);
        QVERIFY(w.isSampling());
        QVERIFY(looksRunning(w));
    }

    void intervalChangeWithFailedReopenShowsNotOpen()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        VirtualMeter::setPlugged(false);
        spinBox(w)->setValue(300);
        QVERIFY(!w.isSampling());
        QCOMPARE(w.meterHandle(), nullptr);
        QCOMPARE(connection(w), NOT_OPEN);
        QCOMPARE(connectionStyle(w), QStringLiteral("color:red;"));
        QVERIFY(looksIdle(w));
    }

    void removalWhileSamplingStopsAndKeepsHandle()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        w.handleDeviceRemoval();
        QVERIFY(!w.isSampling());
        QCOMPARE(connection(w), NOT_OPEN);
        QCOMPARE(connectionStyle(w), QStringLiteral("color:red;"));
        QVERIFY(looksIdle(w));
        QCOMPARE(status(w), QString());
        QVERIFY(w.meterHandle() != nullptr); // held until the next open closes it
        QVERIFY(w.isDeviceConnected());
        QCOMPARE(liveRows(w), 1);
        // The start button starts everything again.
        start(w);
        QVERIFY(w.isSampling());
        QCOMPARE(VirtualMeter::openHandleCount(), 1);
    }

    void unplugDuringPollReportsErrorsOnly()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        QSemaphore entered, leave; // the poll is held inside its exchange
        VirtualMeter::setReadingProvider([&] { entered.release(); leave.acquire(); });
        tick(w);
        QVERIFY(entered.tryAcquire(1, NEVER_MS));
        VirtualMeter::setPlugged(false);
        w.handleDeviceRemoval();
        leave.release();
        finishPolls(w);
        QVERIFY(!w.isSampling());
        QCOMPARE(connection(w), NOT_OPEN);
        QCOMPARE(liveRows(w), 0);
    }

    // A bumped cable, a hub reset or a PC waking up takes the meter away and
    // brings it back: the unsaved log stays and sampling goes on.
    void arrivalRestartsAndKeepsTheLog()
    {
        VirtualMeter::setStoredRecords(records(3));
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        TRY_COMPARE(w.storedModel()->rowCount(), 3);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        const QString firstTime = w.liveModel()->item(0, 1)->text();
        VirtualMeter::setStoredRecords(records(2));
        const int countsBefore = VirtualMeter::commandsWritten(0x08);
        w.handleDeviceArrival();
        QCOMPARE(liveRows(w), 1);
        QCOMPARE(w.liveModel()->item(0, 1)->text(), firstTime);
        QCOMPARE(text(w, "numEdit"), QStringLiteral("1"));
        QVERIFY(w.isSampling());
        QCOMPARE(connection(w), CONNECTED);
        // Once by the arrival itself, once by the start sequence it runs.
        QCOMPARE(VirtualMeter::commandsWritten(0x08) - countsBefore, 2);
        QCOMPARE(VirtualMeter::openHandleCount(), 1);
        // The stored records are the meter's: emptied and read again.
        QCOMPARE(w.storedModel()->rowCount(), 0);
        TRY_COMPARE(w.storedModel()->rowCount(), 2);
        tick(w);
        TRY_COMPARE(liveRows(w), 2);
        QCOMPARE(w.liveModel()->item(1, 0)->text(), QStringLiteral("2"));
        QCOMPARE(text(w, "numEdit"), QStringLiteral("2"));
    }

    // A poll still waiting for its answer when the user starts over: neither
    // its late row nor its time-out may reach the window after the new
    // beginning, which would show an old reading or stop the fresh sampling.
    void oldPollsNeverReachANewBeginning_data()
    {
        QTest::addColumn<QString>("beginning");
        QTest::addColumn<int>("answerMs"); // beyond 1000 the reading read times out
        for (const char *beginning : {"start", "interval change", "arrival"}) {
            QTest::addRow("%s, poll answers late", beginning) << QString(beginning) << 300;
            QTest::addRow("%s, poll times out", beginning) << QString(beginning) << 1500;
        }
    }

    void oldPollsNeverReachANewBeginning()
    {
        QFETCH(QString, beginning);
        QFETCH(int, answerMs);
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        VirtualMeter::failNext(0x05, fault(FaultKind::Slow, answerMs));
        tick(w);
        TRY_COMPARE(VirtualMeter::commandsWritten(0x05), 1); // the poll waits for its answer
        if (beginning == "start")
            start(w);
        else if (beginning == "interval change")
            spinBox(w)->setValue(4000);
        else
            w.handleDeviceArrival();
        // The poll reported before the window could close the meter under it,
        // so whatever it said is queued by now.
        QCoreApplication::processEvents();
        QCOMPARE(liveRows(w), 0);
        QVERIFY(w.isSampling());
        QCOMPARE(connection(w), CONNECTED);
        QVERIFY(looksRunning(w));
        QVERIFY(w.meterHandle() != nullptr);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        QCOMPARE(w.liveModel()->item(0, 0)->text(), QStringLiteral("1"));
    }

    // Linux hot-plug tells the meter from the event's device path alone:
    // on removal the device is gone from sysfs and cannot be asked.
    void meterIsToldFromTheDevicePath_data()
    {
        QTest::addColumn<QByteArray>("devpath");
        QTest::addColumn<bool>("meter");
        QTest::newRow("meter on USB")
            << QByteArray("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:1A86:E429.0007/hidraw/hidraw3") << true;
        QTest::newRow("meter through uhid")
            << QByteArray("/devices/virtual/misc/uhid/0003:1A86:E429.0001/hidraw/hidraw0") << true;
        // hid_open by the two ids opens it wherever it sits, so it is the meter.
        QTest::newRow("another bus, the meter's ids")
            << QByteArray("/devices/virtual/misc/uhid/0005:1A86:E429.0003/hidraw/hidraw2") << true;
        QTest::newRow("headset buttons")
            << QByteArray("/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.3/0003:0D8C:0012.0008/hidraw/hidraw4") << false;
        QTest::newRow("same vendor, other product")
            << QByteArray("/devices/virtual/misc/uhid/0003:1A86:E428.0002/hidraw/hidraw1") << false;
        QTest::newRow("ids only in a hub's name")
            << QByteArray("/devices/pci0000:00/1A86:E429/usb1/1-3/1-3:1.0/0003:046D:C52B.0009/hidraw/hidraw5") << false;
        QTest::newRow("the meter's name above the HID parent")
            << QByteArray("/devices/virtual/misc/uhid/0003:1A86:E429.0001/0003:046D:C52B.0009/hidraw/hidraw5") << false;
        QTest::newRow("bus not hexadecimal")
            << QByteArray("/devices/virtual/misc/uhid/00G3:1A86:E429.0001/hidraw/hidraw0") << false;
        QTest::newRow("not a hidraw node")
            << QByteArray("/devices/virtual/misc/uhid/0003:1A86:E429.0001/input/input7") << false;
        QTest::newRow("no path") << QByteArray() << false;
    }

    void meterIsToldFromTheDevicePath()
    {
        QFETCH(QByteArray, devpath);
        QFETCH(bool, meter);
        QCOMPARE(isMeterHidrawPath(devpath.isEmpty() ? nullptr : devpath.constData()), meter);
    }

    // Windows' rule, read here too: the interface name of the broadcast.
    void meterIsToldFromTheInterfaceName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("meter");
        QTest::newRow("Windows' spelling") << R"(\\?\HID#VID_1A86&PID_E429#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})" << true;
        QTest::newRow("lower case") << R"(\\?\hid#vid_1a86&pid_e429#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})" << true;
        QTest::newRow("same vendor, other product") << R"(\\?\HID#VID_1A86&PID_E428#7&1a2b&0&0000#{4d1e55b2})" << false;
        QTest::newRow("empty") << QString() << false;
    }

    void meterIsToldFromTheInterfaceName()
    {
        QFETCH(QString, name);
        QFETCH(bool, meter);
        QCOMPARE(isMeterInterfaceName(name.toStdWString().c_str()), meter);
    }

    void arrivalWithoutMeter()
    {
        VirtualMeter::setPlugged(false);
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        w.handleDeviceArrival();
        QCOMPARE(connection(w), NOT_OPEN);
        QVERIFY(!w.isDeviceConnected());
        QVERIFY(looksIdle(w));
    }

    void arrivalWithSilentMeterStillCountsAsConnected()
    {
        VirtualMeter::failAlways(0x08, fault(FaultKind::NoAnswer));
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        w.handleDeviceArrival();
        // The arrival's own reply is not examined; the start sequence's is.
        QVERIFY(w.isDeviceConnected());
        QCOMPARE(connection(w), NO_ANSWER);
        QVERIFY(!w.isSampling());
    }

    void usbCheckerAfterManualStopClosesNothingTwice()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        stop(w);
        QVERIFY(QMetaObject::invokeMethod(&w, "usbChecker", Qt::DirectConnection, Q_ARG(int, 0), Q_ARG(int, 11)));
        QCOMPARE(connection(w), NOT_OPEN);
        QVERIFY(looksIdle(w));
        QCOMPARE(status(w), QString());
        // cleanup() checks that no second hid_close reached the meter.
    }

    void disconnectWhileNotSamplingKeepsConnection()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        stop(w);
        tick(w); // no effect: not sampling is not the same as not connected
        disconnectAction(w);
        QCOMPARE(connection(w), WAITING);
        QCOMPARE(connectionStyle(w), QStringLiteral("color:black;"));
        QVERIFY(w.isDeviceConnected());
        QVERIFY(looksIdle(w));
    }

    // The meter was opened and the interval is not 500 ms, so the reset's
    // spin box runs an interval change (close, 600 ms, reopen) first; the
    // action ends in the waiting look whatever that reopen finds.
    void disconnectEndsInTheWaitingLook_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("meterStays");
        QTest::addColumn<bool>("connected");
        QTest::newRow("sampling, meter reopens at 500 ms") << "sampling" << true << false;
        QTest::newRow("sampling, meter gone") << "sampling" << false << false;
        // Not sampling: nothing to close, so the meter stays counted as opened.
        QTest::newRow("stopped, meter unplugged") << "stopped" << false << true;
        QTest::newRow("sampling, then removed") << "removed" << false << true;
        QTest::newRow("no answer, meter gone") << "no answer" << false << true;
        QTest::newRow("poll timed out, meter gone") << "timed out" << false << true;
        // A poll still out when the reset comes may not reach the window after
        // it: no row in the emptied table, no timed-out look over the waiting one.
        QTest::newRow("sampling, a late answer outstanding") << "poll answering late" << true << false;
        QTest::newRow("sampling, a silent meter's poll outstanding") << "poll timing out" << true << false;
    }

    void disconnectEndsInTheWaitingLook()
    {
        QFETCH(QString, before);
        QFETCH(bool, meterStays);
        QFETCH(bool, connected);
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        spinBox(w)->setValue(2000);
        QVERIFY(w.isSampling());
        if (before == "stopped") {
            stop(w);
        } else if (before == "removed") {
            VirtualMeter::setPlugged(false);
            w.handleDeviceRemoval();
        } else if (before == "no answer") {
            VirtualMeter::failNext(0x08, fault(FaultKind::NoAnswer));
            start(w);
            QCOMPARE(connection(w), NO_ANSWER);
        } else if (before == "timed out") {
            VirtualMeter::failNext(0x05, fault(FaultKind::NoAnswer));
            tick(w);
            finishPolls(w);
            QCOMPARE(connection(w), NOT_OPEN);
        } else if (before.startsWith("poll")) {
            // 300 ms comes within the read's time-out; 1500 ms does not.
            VirtualMeter::failNext(0x05, fault(FaultKind::Slow, before == "poll answering late" ? 300 : 1500));
            tick(w);
            TRY_COMPARE(VirtualMeter::commandsWritten(0x05), 1);
        }
        VirtualMeter::clearLog();
        VirtualMeter::setPlugged(meterStays);
        const auto pausedFrom = VirtualMeter::simulatedMs();
        disconnectAction(w);
        if (before.startsWith("poll"))
            finishPolls(w);
        QVERIFY(VirtualMeter::simulatedMs() - pausedFrom >= 600);
        QCOMPARE(connection(w), WAITING);
        QCOMPARE(connectionStyle(w), QStringLiteral("color:black;"));
        QVERIFY(looksIdle(w));
        QVERIFY(!w.isSampling());
        QCOMPARE(w.isDeviceConnected(), connected);
        QCOMPARE(w.meterHandle(), nullptr);
        QCOMPARE(VirtualMeter::openHandleCount(), 0);
        QCOMPARE(spinBox(w)->value(), 500);
        QCOMPARE(status(w), QString());
        QCOMPARE(liveRows(w), 0);
        if (connected)
            return;
        // Ticks and interval changes now do nothing at all: not even a poll
        // that would reach the meter only once the poller has run.
        VirtualMeter::clearLog();
        tick(w);
        spinBox(w)->setValue(700);
        finishPolls(w);
        for (const auto &call : VirtualMeter::callLog())
            QCOMPARE(call.function, std::string("hid_init"));
        QVERIFY(!w.isSampling());
    }

    void stopRetiresQueuedPollsAndWaitsForTheOneInProgress()
    {
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        start(w);
        // The first poll is held inside its exchange until the stop has
        // retired the polls; four more wait behind it.
        QSemaphore entered;
        std::atomic<bool> held{false}, retiredWhileHeld{false};
        WorkSession &session = w.workSession();
        // Below every poll the ticks below file: retired once polling ends.
        const WorkSession::Ticket beforeTheTicks = session.now();
        VirtualMeter::setReadingProvider([&] {
            if (held.exchange(true))
                return;
            entered.release();
            retiredWhileHeld = holdUntil([&] { return !session.mayTouchDevice(beforeTheTicks); });
        });
        for (int i = 0; i < 5; ++i)
            tick(w);
        QVERIFY(entered.tryAcquire(1, NEVER_MS));
        stop(w);
        finishPolls(w);
        QVERIFY2(retiredWhileHeld, "the stop waited for the poll in progress before it retired the queued ones");
        QCOMPARE(VirtualMeter::commandsWritten(0x0A), 1);
        // The close came after that poll's last answer was read, never during it.
        const auto log = VirtualMeter::callLog();
        QCOMPARE(log.back().function, std::string("hid_close"));
        QCOMPARE(log[log.size() - 2].function, std::string("hid_read_timeout"));
        QCOMPARE(log[log.size() - 2].result, int(RANGE_REPLY_SIZE));
        QCOMPARE(liveRows(w), 1); // the poll in progress still reports
    }
};

QTEST_MAIN(ConnectionTest)
#include "test_connection.moc"
