// The one meter handle shared by the window's thread and the live poller:
// exchanges never interleave, and a closed handle is never touched.

#include "guardedmeter.h"
#include "parserealtimedata.h"
#include "support/waits.h"
#include "virtualmeter.h"

#include <QtTest>

#include <thread>

namespace {

using VirtualMeter::FaultKind;

class Driver : public QObject
{
    Q_OBJECT
signals:
    void startRealTimeWork(hid_device *);
};

bool logHasWrite(unsigned char code, std::thread::id thread)
{
    for (const auto &call : VirtualMeter::callLog()) {
        if (call.function == "hid_write" && call.thread == thread && call.bytes.size() == 7 && call.bytes[6] == code)
            return true;
    }
    return false;
}

// The window's record-count handshake.
int recordCountExchange(hid_device *handle)
{
    auto guard = HidGuard::acquire();
    const auto command = commandReport(CMD_GET_RECORD_COUNT);
    hid_write(handle, command.data(), command.size());
    unsigned char reply[RECORD_COUNT_REPLY_SIZE] = {};
    return hid_read_timeout(handle, reply, sizeof reply, REPLY_TIMEOUT_MS);
}

// The window's records transfer.
void recordsExchange(hid_device *handle, int n)
{
    auto guard = HidGuard::acquire();
    const auto command = commandReport(CMD_GET_RECORDS);
    hid_write(handle, command.data(), command.size());
    std::vector<unsigned char> buffer(std::size_t(recordsReportCount(n)) * INPUT_REPORT_SIZE, 0);
    for (int i = 0; i < recordsReportCount(n); ++i)
        hid_read_timeout(handle, buffer.data() + i * INPUT_REPORT_SIZE, INPUT_REPORT_SIZE, REPLY_TIMEOUT_MS);
}

// The window's reopen: the held handle is closed first.
hid_device *reopen(hid_device *handle, WorkSession *session)
{
    closeGuardedMeter(handle, session);
    return openGuardedMeter();
}

} // namespace

class TestHidGuard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void onlyTheLastOpenedHandleIsOpen();
    void closeWaitsForAPollInProgress();
    void queuedPollsWithAClosedHandleTouchNothing_data();
    void queuedPollsWithAClosedHandleTouchNothing();
    void pollWithAHandleTheGuardNeverSawTouchesNothing();
    void noInterleavingUnderConcurrentPollsAndWindowExchanges();

private:
    void drainWorker();
    std::thread::id workerThreadId();

    Driver driver;
    QThread *thread = nullptr;
    ParseRealTimeData *worker = nullptr;
    WorkSession *session = nullptr;
    QList<QPair<int, int>> usb;
    int samples = 0;
};

void TestHidGuard::init()
{
    VirtualMeter::reset();
    usb.clear();
    samples = 0;
    thread = new QThread;
    worker = new ParseRealTimeData;
    worker->moveToThread(thread);
    // The poller serves a session, as the window's does.
    session = new WorkSession;
    session->serve(worker);
    session->countRequests(&driver, &Driver::startRealTimeWork, WorkSession::Work::Poll);
    connect(&driver, &Driver::startRealTimeWork, worker, &ParseRealTimeData::doRealTimeWork);
    connect(worker, &ParseRealTimeData::signalUsb, this, [this](int a, int b) { usb << qMakePair(a, b); });
    connect(worker, &ParseRealTimeData::finish, this, [this] { ++samples; });
    thread->start();
}

void TestHidGuard::cleanup()
{
    thread->quit();
    thread->wait();
    delete worker;
    delete thread;
    driver.disconnect();
    delete session;
    auto guard = HidGuard::acquire();
    HidGuard::makePollable(nullptr);
}

void TestHidGuard::drainWorker()
{
    QMetaObject::invokeMethod(worker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
}

std::thread::id TestHidGuard::workerThreadId()
{
    std::thread::id id;
    QMetaObject::invokeMethod(worker, [&id] { id = std::this_thread::get_id(); }, Qt::BlockingQueuedConnection);
    return id;
}

void TestHidGuard::onlyTheLastOpenedHandleIsOpen()
{
    hid_device *first = openGuardedMeter();
    hid_device *second = hid_open(METER_VENDOR_ID, METER_PRODUCT_ID, nullptr);
    auto guard = HidGuard::acquire();
    QVERIFY(HidGuard::isPollable(first));
    QVERIFY(!HidGuard::isPollable(nullptr));
    HidGuard::retire(second); // not the open one: changes nothing
    QVERIFY(HidGuard::isPollable(first));
    HidGuard::makePollable(second);
    QVERIFY(!HidGuard::isPollable(first));
    QVERIFY(HidGuard::isPollable(second));
    HidGuard::retire(second);
    QVERIFY(!HidGuard::isPollable(second));
    hid_close(first);
    hid_close(second);
}

void TestHidGuard::closeWaitsForAPollInProgress()
{
    const int slowMs = 300;
    VirtualMeter::failNext(CMD_GET_READING, VirtualMeter::fault(FaultKind::Slow, slowMs));
    hid_device *handle = openGuardedMeter();
    const auto workerId = workerThreadId();
    QElapsedTimer sincePoll;
    sincePoll.start();
    requestPoll(driver, handle, session);
    TRY_VERIFY(logHasWrite(CMD_GET_READING, workerId));

    closeGuardedMeter(handle, session);
    QVERIFY2(sincePoll.elapsed() >= slowMs, "the close did not wait for the slow answer");

    const auto log = VirtualMeter::callLog();
    QCOMPARE(log.back().function, std::string("hid_close"));
    QCOMPARE(log[log.size() - 2].function, std::string("hid_read_timeout"));
    QVERIFY(log[log.size() - 2].thread == workerId);
    drainWorker();
    QCOMPARE(usb, (QList<QPair<int, int>>{qMakePair(12, 11)}));
    QCOMPARE(samples, 1);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

void TestHidGuard::queuedPollsWithAClosedHandleTouchNothing_data()
{
    QTest::addColumn<bool>("closerGetsTheGuard");
    QTest::newRow("reopened") << true;
    // The window ends sampling before it waits for the guard: however long it
    // is kept from the guard, the poller has nothing left to run.
    QTest::newRow("closer held before the guard") << false;
}

void TestHidGuard::queuedPollsWithAClosedHandleTouchNothing()
{
    QFETCH(bool, closerGetsTheGuard);
    hid_device *handle = openGuardedMeter();
    const auto workerId = workerThreadId();
    VirtualMeter::clearLog();
    // The first poll is held inside its exchange until sampling has ended.
    QSemaphore entered;
    const WorkSession::Ticket beforeThePolls = session->now();
    VirtualMeter::setReadingProvider([&] {
        entered.release();
        holdUntil([&] { return !session->mayTouchDevice(beforeThePolls); });
    });
    for (int i = 0; i < 3; ++i)
        requestPoll(driver, handle, session);
    QVERIFY(entered.tryAcquire(1, NEVER_MS));

    // The polls still queued carry the old handle, which must not reach the
    // meter, nor be confused with the new one.
    hid_device *replacement = nullptr;
    if (closerGetsTheGuard) {
        replacement = reopen(handle, session);
        QVERIFY(replacement != nullptr && replacement != handle);
    } else {
        session->endPolling();
    }
    drainWorker();

    int workerCalls = 0;
    for (const auto &call : VirtualMeter::callLog()) {
        if (call.thread == workerId) {
            ++workerCalls;
            QVERIFY(call.function == "hid_init" || call.handle == handle);
        }
    }
    QCOMPARE(workerCalls, 5);
    QCOMPARE(usb.size(), 1);
    QCOMPARE(samples, 1);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
    closeGuardedMeter(replacement ? replacement : handle, session);
}

void TestHidGuard::pollWithAHandleTheGuardNeverSawTouchesNothing()
{
    hid_device *unrecorded = hid_open(METER_VENDOR_ID, METER_PRODUCT_ID, nullptr);
    QVERIFY(unrecorded != nullptr);
    VirtualMeter::clearLog();
    requestPoll(driver, unrecorded, session);
    requestPoll(driver, nullptr, session);
    drainWorker();
    QVERIFY(VirtualMeter::callLog().empty());
    QVERIFY(usb.isEmpty());
    QCOMPARE(samples, 0);
    hid_close(unrecorded);

    // The open handle, but asked for before a reset: the request is stale
    // even where hidapi hands out the same address again.
    hid_device *handle = openGuardedMeter();
    // The poller is held until the reset, or it could serve the request first.
    QSemaphore held;
    QMetaObject::invokeMethod(worker, [&held] { held.acquire(); });
    session->fileRequest(WorkSession::Work::Poll);
    emit driver.startRealTimeWork(handle);
    session->beginAnew();
    held.release();
    VirtualMeter::clearLog();
    // Two requests nobody filed, ahead of a filed one: they do not run, and
    // do not take its ticket.
    emit driver.startRealTimeWork(handle);
    emit driver.startRealTimeWork(handle);
    requestPoll(driver, handle, session);
    drainWorker();
    QCOMPARE(usb.size(), 1);
    QCOMPARE(int(VirtualMeter::commandsWritten(CMD_GET_READING)), 1);
    closeGuardedMeter(handle, session);
}

void TestHidGuard::noInterleavingUnderConcurrentPollsAndWindowExchanges()
{
    // Slow answers keep each side inside its exchanges for a while, so that
    // without the guard the other side would run into them.
    VirtualMeter::failAlways(CMD_GET_READING, VirtualMeter::fault(FaultKind::Slow, 1));
    VirtualMeter::failAlways(CMD_GET_RECORD_COUNT, VirtualMeter::fault(FaultKind::Slow, 1));
    VirtualMeter::setStoredRecords(std::vector<VirtualMeter::Cell>(20, {0x39, 0x30, 0x01, 0x04}));
    const auto workerId = workerThreadId();
    hid_device *handle = openGuardedMeter();
    VirtualMeter::clearLog();

    const int rounds = 60;
    for (int round = 0; round < rounds; ++round) {
        requestPoll(driver, handle, session);
        requestPoll(driver, handle, session);
        QCOMPARE(recordCountExchange(handle), RECORD_COUNT_REPLY_SIZE);
        if (round % 3 == 0)
            recordsExchange(handle, 20);
        if (round % 10 == 9) {
            // Polls requested just before a reopen find their handle replaced.
            auto guard = HidGuard::acquire();
            requestPoll(driver, handle, session);
            requestPoll(driver, handle, session);
            handle = reopen(handle, session);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    drainWorker();
    closeGuardedMeter(handle, session);

    QCOMPARE(VirtualMeter::closedHandleCalls(), 0);
    QCOMPARE(VirtualMeter::unknownHandleCalls(), 0);
    QCOMPARE(VirtualMeter::interleavedCommands(), 0);
    QCOMPARE(VirtualMeter::concurrentCalls(), 0);

    // Every exchange reads its reply on the thread that wrote it, and a poll's
    // two exchanges follow each other with nothing in between.
    const auto log = VirtualMeter::callLog();
    int polls = 0;
    int switches = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (i > 0 && log[i].thread != log[i - 1].thread)
            ++switches;
        if (log[i].function == "hid_write") {
            QVERIFY(i + 1 < log.size());
            QVERIFY(log[i + 1].function == "hid_read_timeout" && log[i + 1].thread == log[i].thread);
        }
        if (log[i].thread == workerId && log[i].function == "hid_init") {
            ++polls;
            QVERIFY(i + 4 < log.size());
            for (std::size_t k = i + 1; k <= i + 4; ++k)
                QVERIFY(log[k].thread == workerId && log[k].handle == log[i + 1].handle);
        }
    }
    QCOMPARE(usb.size(), polls);
    QVERIFY2(polls > 0 && polls <= 2 * rounds, "stale polls must have been skipped after the reopens");
    QVERIFY2(switches > 20, "the threads never took turns; the stress proved nothing");
}

QTEST_GUILESS_MAIN(TestHidGuard)
#include "test_hidguard.moc"
