// The virtual meter the other tests rely on: its reports, its faults and the
// violations it must notice. A detector that never fires would make the guard
// tests pass for nothing.

#include "pause.h"
#include "support/waits.h"
#include "virtualmeter.h"

#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(std::vector<unsigned char>)

namespace {

using Bytes = std::vector<unsigned char>;
using VirtualMeter::FaultKind;

const Bytes READING = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x05};
const Bytes RECORDS = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x07};
const Bytes COUNT = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x08};
const Bytes RANGE = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x0A};

int write(hid_device *handle, const Bytes &command)
{
    return hid_write(handle, command.data(), command.size());
}

// One read into a zero-filled 64-byte buffer; the buffer keeps what came.
int read(hid_device *handle, Bytes &buffer, std::size_t length = 64, int timeoutMs = 1000)
{
    buffer.assign(64, 0);
    return hid_read_timeout(handle, buffer.data(), length, timeoutMs);
}

Bytes prefix(const Bytes &buffer, std::size_t length)
{
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
}

hid_device *openMeter()
{
    return hid_open(0x1A86, 0xE429, nullptr);
}

} // namespace

class TestVirtualMeter : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void answersEachCommand_data();
    void answersEachCommand();
    void shortReadDropsTheRestOfTheReport();
    void recordsComeAs63FrameBytesPerReport_data();
    void recordsComeAs63FrameBytesPerReport();
    void faults_data();
    void faults();
    void oneShotFaultsComeFirstAndPass();
    void slowAnswerTakesRealTime();
    void unpluggedMeter();
    void detectsMisuse();
    void detectsACallWhileAnotherIsInside();
    void clockAdvancesWithPausesAndTimeouts();
    void readingProviderMovesTheReading();
};

void TestVirtualMeter::init()
{
    VirtualMeter::reset();
}

void TestVirtualMeter::answersEachCommand_data()
{
    QTest::addColumn<Bytes>("command");
    QTest::addColumn<Bytes>("report");
    QTest::newRow("reading") << READING << Bytes{9, 0xAB, 0xCD, 9, 0, 0x52, 0x39, 0x30, 0x01, 0x04, 0, 0};
    QTest::newRow("range") << RANGE << Bytes{8, 0xAB, 0xCD, 8, 0, 0x54, 0x0A, 1, 8, 0, 0};
    QTest::newRow("record count") << COUNT << Bytes{8, 0xAB, 0xCD, 8, 0, 0x54, 0x08, 0xF3, 0x01, 0, 0};
    QTest::newRow("records") << RECORDS
                             << Bytes{17, 0xAB, 0xCD, 17, 0, 0x53, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 0, 0};
}

void TestVirtualMeter::answersEachCommand()
{
    QFETCH(Bytes, command);
    QFETCH(Bytes, report);
    VirtualMeter::setStoredRecords({{1, 2, 3, 4}, {5, 6, 7, 8}});
    if (command == COUNT)
        VirtualMeter::setRecordCount(499);
    hid_device *handle = openMeter();
    QCOMPARE(write(handle, command), 7);
    Bytes buffer;
    QCOMPARE(read(handle, buffer), 64);
    QCOMPARE(prefix(buffer, report.size()), report);
    QCOMPARE(read(handle, buffer), 0);
    QCOMPARE(VirtualMeter::commandsWritten(command[6]), 1);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

void TestVirtualMeter::shortReadDropsTheRestOfTheReport()
{
    hid_device *handle = openMeter();
    write(handle, READING);
    Bytes buffer;
    QCOMPARE(read(handle, buffer, 7), 7);
    QCOMPARE(buffer[6], 0x39);
    QCOMPARE(buffer[7], 0x00); // not delivered
    const auto before = VirtualMeter::simulatedMs();
    QCOMPARE(read(handle, buffer), 0);
    QCOMPARE(VirtualMeter::simulatedMs() - before, std::int64_t(1000));
    // The next command starts clean: nothing of the first reply was left.
    write(handle, RANGE);
    QCOMPARE(VirtualMeter::interleavedCommands(), 0);
}

void TestVirtualMeter::recordsComeAs63FrameBytesPerReport_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("reports");
    QTest::newRow("13") << 13 << 1;
    QTest::newRow("14") << 14 << 2;
    QTest::newRow("45") << 45 << 3;
    QTest::newRow("499") << 499 << 32;
    QTest::newRow("65535") << 65535 << 4162;
}

void TestVirtualMeter::recordsComeAs63FrameBytesPerReport()
{
    QFETCH(int, n);
    QFETCH(int, reports);
    std::vector<VirtualMeter::Cell> cells;
    for (int r = 0; r < n; ++r)
        cells.push_back({static_cast<unsigned char>(r), static_cast<unsigned char>(r >> 8), 0x01, 0x04});
    VirtualMeter::setStoredRecords(cells);
    hid_device *handle = openMeter();
    write(handle, RECORDS);

    Bytes frame;
    Bytes buffer;
    for (int i = 0; i < reports; ++i) {
        QCOMPARE(read(handle, buffer), 64);
        frame.insert(frame.end(), buffer.begin() + 1, buffer.begin() + 1 + buffer[0]);
        if (i + 1 < reports)
            QCOMPARE(int(buffer[0]), 63);
    }
    QCOMPARE(read(handle, buffer), 0);
    QCOMPARE(frame.size(), std::size_t(4 * n + 9));
    QCOMPARE(prefix(frame, 5), (Bytes{0xAB, 0xCD, static_cast<unsigned char>((4 * n + 9) & 0xFF),
                                      static_cast<unsigned char>(((4 * n + 9) >> 8) & 0xFF), 0x53}));
    for (int r = 0; r < n; r += 97)
        QCOMPARE(Bytes(frame.begin() + 7 + 4 * r, frame.begin() + 11 + 4 * r), (Bytes(cells[r].begin(), cells[r].end())));
    const int closing = (4 * n + 5) & 0xFFFF;
    QCOMPARE(int(frame[4 * n + 7]) + 256 * frame[4 * n + 8], closing);
}

void TestVirtualMeter::faults_data()
{
    QTest::addColumn<Bytes>("command");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("index"); // byte of the first report to check, or -1
    QTest::addColumn<int>("value");

    QTest::newRow("no answer") << READING << int(FaultKind::NoAnswer) << 0 << 1 << 0x00;
    QTest::newRow("wrong header") << READING << int(FaultKind::WrongHeader) << 64 << 1 << 0xAC;
    QTest::newRow("wrong second header") << READING << int(FaultKind::WrongSecondHeader) << 64 << 2 << 0xCE;
    QTest::newRow("wrong type") << READING << int(FaultKind::WrongType) << 64 << 5 << 0x53;
    QTest::newRow("wrong echo on range") << RANGE << int(FaultKind::WrongEcho) << 64 << 6 << 0x08;
    QTest::newRow("wrong echo on count") << COUNT << int(FaultKind::WrongEcho) << 64 << 6 << 0x0A;
    QTest::newRow("short report") << RANGE << int(FaultKind::ShortReport) << 4 << 5 << 0x00;
    QTest::newRow("error") << COUNT << int(FaultKind::Error) << -1 << -1 << 0;
    QTest::newRow("wrong closing word") << RECORDS << int(FaultKind::WrongClosingWord) << 64 << 12 << 4 * 1 + 4;
}

void TestVirtualMeter::faults()
{
    QFETCH(Bytes, command);
    QFETCH(int, kind);
    QFETCH(int, result);
    QFETCH(int, index);
    QFETCH(int, value);
    VirtualMeter::setStoredRecords({{1, 2, 3, 4}});
    VirtualMeter::failNext(command[6], VirtualMeter::fault(FaultKind(kind)));
    hid_device *handle = openMeter();
    write(handle, command);
    Bytes buffer;
    QCOMPARE(read(handle, buffer), result);
    if (index >= 0)
        QCOMPARE(int(buffer[std::size_t(index)]), value);
    // Whatever the fault, the next command is not seen as interleaved.
    write(handle, command);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

void TestVirtualMeter::oneShotFaultsComeFirstAndPass()
{
    VirtualMeter::failAlways(0x05, VirtualMeter::fault(FaultKind::WrongType));
    VirtualMeter::failNext(0x05, VirtualMeter::fault(FaultKind::NoAnswer));
    VirtualMeter::failNext(0x05, VirtualMeter::customReply({{0x00, 0xAB, 0x00, 0x00, 0x00, 0x52, 0x77}}));
    hid_device *handle = openMeter();
    Bytes buffer;
    write(handle, READING);
    QCOMPARE(read(handle, buffer), 0);
    write(handle, READING);
    QCOMPARE(read(handle, buffer), 7);
    QCOMPARE(buffer[6], 0x77);
    for (int i = 0; i < 2; ++i) {
        write(handle, READING);
        QCOMPARE(read(handle, buffer), 64);
        QCOMPARE(buffer[5], 0x53);
    }
    VirtualMeter::clearFaults();
    write(handle, READING);
    QCOMPARE(read(handle, buffer), 64);
    QCOMPARE(buffer[5], 0x52);
}

void TestVirtualMeter::slowAnswerTakesRealTime()
{
    hid_device *handle = openMeter();
    Bytes buffer;
    VirtualMeter::failNext(0x05, VirtualMeter::fault(FaultKind::Slow, 60));
    QElapsedTimer timer;
    timer.start();
    write(handle, READING);
    QCOMPARE(read(handle, buffer, 12), 12);
    QVERIFY(timer.elapsed() >= 60);

    // Slower than the read waits: nothing, and the late reply is gone.
    VirtualMeter::failNext(0x05, VirtualMeter::fault(FaultKind::Slow, 80));
    write(handle, READING);
    QCOMPARE(read(handle, buffer, 12, 20), 0);
    QCOMPARE(read(handle, buffer, 12, 20), 0);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

void TestVirtualMeter::unpluggedMeter()
{
    hid_device *handle = openMeter();
    VirtualMeter::setPlugged(false);
    QVERIFY(openMeter() == nullptr);
    QVERIFY(hid_enumerate(0x1A86, 0xE429) == nullptr);
    Bytes buffer;
    QCOMPARE(write(handle, READING), -1);
    QCOMPARE(read(handle, buffer), -1);

    VirtualMeter::setPlugged(true);
    QCOMPARE(write(handle, READING), -1); // the old handle stays dead
    hid_device_info *found = hid_enumerate(0x1A86, 0xE429);
    QVERIFY(found != nullptr);
    QCOMPARE(found->product_id, 0xE429);
    hid_free_enumeration(found);
    hid_device *fresh = openMeter();
    QVERIFY(fresh != nullptr && fresh != handle);
    QCOMPARE(write(fresh, READING), 7);
    hid_close(handle);
    hid_close(fresh);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
    QCOMPARE(VirtualMeter::openHandleCount(), 0);
}

void TestVirtualMeter::detectsMisuse()
{
    hid_device *handle = openMeter();
    Bytes buffer;
    write(handle, READING);
    write(handle, RANGE);
    QCOMPARE(VirtualMeter::interleavedCommands(), 1);
    // The kernel would have kept both replies, in order.
    QCOMPARE(read(handle, buffer), 64);
    QCOMPARE(buffer[5], 0x52);
    QCOMPARE(read(handle, buffer), 64);
    QCOMPARE(buffer[5], 0x54);

    hid_close(handle);
    QCOMPARE(write(handle, READING), -1);
    QCOMPARE(read(handle, buffer), -1);
    hid_close(handle);
    QCOMPARE(VirtualMeter::closedHandleCalls(), 3);

    hid_close(nullptr); // hidapi ignores it
    QCOMPARE(VirtualMeter::unknownHandleCalls(), 0);
    QCOMPARE(write(nullptr, READING), -1);
    QCOMPARE(VirtualMeter::unknownHandleCalls(), 1);

    const auto log = VirtualMeter::callLog();
    QCOMPARE(log.back().function, std::string("hid_write"));
    QCOMPARE(log.back().result, -1);
    QVERIFY(log.back().bytes == READING);
    QVERIFY(log.back().thread == std::this_thread::get_id());
}

void TestVirtualMeter::detectsACallWhileAnotherIsInside()
{
    hid_device *handle = openMeter();
    // An answer that would take a minute: the close ends the wait.
    VirtualMeter::failNext(0x05, VirtualMeter::fault(FaultKind::Slow, 60000));
    write(handle, READING);
    int result = 0;
    std::thread reader([&] {
        Bytes buffer;
        result = read(handle, buffer, 12, -1);
    });
    // Close under the reader once it is inside its wait.
    TRY_VERIFY(VirtualMeter::callsInProgress() == 1);
    hid_close(handle);
    reader.join();
    QCOMPARE(VirtualMeter::concurrentCalls(), 1);
    QCOMPARE(VirtualMeter::closedHandleCalls(), 1);
    QCOMPARE(result, -1);
}

void TestVirtualMeter::clockAdvancesWithPausesAndTimeouts()
{
    QCOMPARE(VirtualMeter::simulatedMs(), std::int64_t(0));
    QElapsedTimer timer;
    timer.start();
    pauseMs(800);
    QCOMPARE(VirtualMeter::simulatedMs(), std::int64_t(800));
    hid_device *handle = openMeter();
    Bytes buffer;
    read(handle, buffer, 64, 1000);
    QCOMPARE(VirtualMeter::simulatedMs(), std::int64_t(1800));
    // 1.8 s simulated without waiting for them; a real wait would take at least that.
    QVERIFY(timer.elapsed() < 1800);
}

void TestVirtualMeter::readingProviderMovesTheReading()
{
    int polls = 0;
    VirtualMeter::setReadingProvider([&polls] {
        ++polls;
        VirtualMeter::setReading({static_cast<unsigned char>(polls), 0, 0x01, 0x04});
    });
    hid_device *handle = openMeter();
    Bytes buffer;
    for (int i = 1; i <= 3; ++i) {
        write(handle, READING);
        read(handle, buffer, 12);
        QCOMPARE(int(buffer[6]), i);
    }
    write(handle, RANGE);
    read(handle, buffer, 11);
    QCOMPARE(polls, 3);
}

QTEST_GUILESS_MAIN(TestVirtualMeter)
#include "test_virtualmeter.moc"
