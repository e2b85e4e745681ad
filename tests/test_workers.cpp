// The two workers in their own threads, answered by the virtual meter, their
// results delivered to this thread through queued signals.

#include "guardedmeter.h"
#include "parsereadbackdata.h"
#include "parserealtimedata.h"
#include "protocol.h"
#include "support/recordsframe.h"
#include "virtualmeter.h"

#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(std::vector<unsigned char>)
Q_DECLARE_METATYPE(VirtualMeter::Cell)

namespace {

using Bytes = std::vector<unsigned char>;
using VirtualMeter::Cell;
using VirtualMeter::FaultKind;

const QString OHM = QStringLiteral("Ω");
const QString MILLI_OHM = QStringLiteral("mΩ");

// Stands in for the window: the signals the workers are driven by.
class Driver : public QObject
{
    Q_OBJECT
signals:
    void startRealTimeWork(hid_device *);
    void startReadBackWork(const std::vector<unsigned char> &read_buf, int total_num);
};

// What reached this thread from the workers.
struct Received {
    QList<QPair<int, int>> usb;
    QList<QList<QStringList>> samples;
    QList<QPair<QStringList, bool>> decodes;
    bool offThread = false; // a result arrived on another thread
};

// Tags every translation with its context, to show which class looked it up.
class ContextTagger : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        return QString::fromUtf8(context) + ':' + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

// Texts of cells 00..: raw 7r + 1, 3 decimals, milli-ohm, divisor 1000.
Cell countingCell(int r)
{
    const int raw = 7 * r + 1;
    return {static_cast<unsigned char>(raw & 0xFF), static_cast<unsigned char>(raw >> 8), 0x01, 0x04};
}

QString countingText(int r)
{
    const int raw = 7 * r + 1;
    return QString("%1.%2").arg(raw / 1000).arg(raw % 1000, 3, 10, QChar('0')) + MILLI_OHM;
}

std::vector<Cell> countingCells(int n)
{
    std::vector<Cell> cells;
    for (int r = 0; r < n; ++r)
        cells.push_back(countingCell(r));
    return cells;
}

QStringList countingTexts(int n)
{
    QStringList texts;
    for (int r = 0; r < n; ++r)
        texts << countingText(r);
    return texts;
}

} // namespace

class TestWorkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void metaObjectsCarryOnlyTheirSignals();

    void livePoll_data();
    void livePoll();
    void pollWritesBothCommandsAndReadsShort();
    void textsAreLookedUpInTheWorkersContexts();

    void decode_data();
    void decode();
    void transferFromTheMeterDecodesInOrder_data();
    void transferFromTheMeterDecodesInOrder();

private:
    void connectReceivers();
    // Waits until both workers have finished everything queued to them, then
    // delivers what they emitted.
    void drainWorkers();
    std::thread::id workerThreadId();

    Driver driver;
    Received received;
    QThread *realTimeThread = nullptr;
    QThread *readBackThread = nullptr;
    ParseRealTimeData *realTimeWorker = nullptr;
    ParseReadBackData *readBackWorker = nullptr;
};

void TestWorkers::initTestCase()
{
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");
}

void TestWorkers::init()
{
    VirtualMeter::reset();
    received = Received{};
    realTimeThread = new QThread;
    readBackThread = new QThread;
    realTimeWorker = new ParseRealTimeData;
    readBackWorker = new ParseReadBackData;
    realTimeWorker->moveToThread(realTimeThread);
    readBackWorker->moveToThread(readBackThread);
    // Driven directly, serving no window's session: every request counts.
    connect(&driver, &Driver::startRealTimeWork, realTimeWorker, &ParseRealTimeData::doRealTimeWork);
    connect(&driver, &Driver::startReadBackWork, readBackWorker, &ParseReadBackData::doReadBackWork);
    connectReceivers();
    realTimeThread->start();
    readBackThread->start();
}

void TestWorkers::cleanup()
{
    realTimeThread->quit();
    readBackThread->quit();
    realTimeThread->wait();
    readBackThread->wait();
    delete realTimeWorker;
    delete readBackWorker;
    delete realTimeThread;
    delete readBackThread;
    driver.disconnect();
}

void TestWorkers::connectReceivers()
{
    QThread *here = QThread::currentThread();
    connect(realTimeWorker, &ParseRealTimeData::signalUsb, this, [this, here](int a, int b) {
        received.offThread |= QThread::currentThread() != here;
        received.usb << qMakePair(a, b);
    });
    connect(realTimeWorker, &ParseRealTimeData::finish, this,
            [this, here](QStringList mode, QStringList range, QStringList value) {
                received.offThread |= QThread::currentThread() != here;
                received.samples << QList<QStringList>{mode, range, value};
            });
    connect(readBackWorker, &ParseReadBackData::finish, this, [this, here](QStringList values, bool ok) {
        received.offThread |= QThread::currentThread() != here;
        received.decodes << qMakePair(values, ok);
    });
}

void TestWorkers::drainWorkers()
{
    QMetaObject::invokeMethod(realTimeWorker, [] {}, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(readBackWorker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
}

std::thread::id TestWorkers::workerThreadId()
{
    std::thread::id id;
    QMetaObject::invokeMethod(realTimeWorker, [&id] { id = std::this_thread::get_id(); },
                              Qt::BlockingQueuedConnection);
    return id;
}

void TestWorkers::metaObjectsCarryOnlyTheirSignals()
{
    const QMetaObject &live = ParseRealTimeData::staticMetaObject;
    QCOMPARE(live.className(), "ParseRealTimeData");
    QCOMPARE(live.methodCount() - live.methodOffset(), 2);
    QCOMPARE(live.method(live.methodOffset()).methodSignature(), QByteArray("finish(QStringList,QStringList,QStringList)"));
    QCOMPARE(live.method(live.methodOffset() + 1).methodSignature(), QByteArray("signalUsb(int,int)"));
    QCOMPARE(live.method(live.methodOffset()).methodType(), QMetaMethod::Signal);
    QCOMPARE(live.method(live.methodOffset() + 1).methodType(), QMetaMethod::Signal);
    QCOMPARE(live.propertyCount() - live.propertyOffset(), 0);

    const QMetaObject &stored = ParseReadBackData::staticMetaObject;
    QCOMPARE(stored.className(), "ParseReadBackData");
    QCOMPARE(stored.methodCount() - stored.methodOffset(), 1);
    const QMetaMethod finish = stored.method(stored.methodOffset());
    QCOMPARE(finish.methodSignature(), QByteArray("finish(QStringList,bool)"));
    QCOMPARE(finish.methodType(), QMetaMethod::Signal);
    QCOMPARE(finish.parameterNames(), (QList<QByteArray>{"resistanceValues", "readSuccess"}));
    QCOMPARE(stored.propertyCount() - stored.propertyOffset(), 0);
    QVERIFY(ParseReadBackData().lastReadOk);
}

// ---- Live poll -------------------------------------------------------------------

void TestWorkers::livePoll_data()
{
    QTest::addColumn<Cell>("reading");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("readingFault");
    QTest::addColumn<int>("rangeFault");
    QTest::addColumn<int>("rA");
    QTest::addColumn<int>("rB");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<QStringList>("ranges");
    QTest::addColumn<QStringList>("values");

    const Cell normal = {0x39, 0x30, 0x01, 0x04};
    const int none = int(FaultKind::None);
    const QStringList autoMode = {QStringLiteral("自动")};
    const QStringList tenMilli = {QStringLiteral("10mΩ")};
    const QStringList normalValue = {"12.345" + MILLI_OHM};
    const QStringList empty;

    QTest::newRow("normal") << normal << 1 << 8 << none << none << 12 << 11 << true << autoMode << tenMilli
                            << normalValue;
    QTest::newRow("single-precision half goes up") << Cell{0x25, 0x4E, 0x01, 0x08} << 1 << 8 << none << none << 12
                                                   << 11 << true << autoMode << tenMilli
                                                   << QStringList{"2.001" + MILLI_OHM};
    QTest::newRow("0.35 shows 0.4") << Cell{0x23, 0x00, 0x12, 0x02} << 1 << 8 << none << none << 12 << 11 << true
                                    << autoMode << tenMilli << QStringList{"0.4" + OHM};
    QTest::newRow("overload with unlisted unit") << Cell{0xB0, 0xAD, 0x0F, 0x12} << 1 << 8 << none << none << 12
                                                 << 11 << true << autoMode << tenMilli << QStringList{"OL"};
    QTest::newRow("micro-ohm") << Cell{0x39, 0x30, 0x00, 0x04} << 0 << 10 << none << none << 12 << 11 << true
                               << QStringList{QStringLiteral("手动")} << QStringList{QStringLiteral("100μΩ")}
                               << QStringList{QStringLiteral("12.345μΩ")};
    QTest::newRow("kilo-ohm") << Cell{0x39, 0x30, 0x24, 0x04} << 0x80 << 1 << none << none << 12 << 11 << true
                              << autoMode << QStringList{QStringLiteral("100kΩ")}
                              << QStringList{QStringLiteral("12.35kΩ")};
    QTest::newRow("range code 0") << normal << 1 << 0 << none << none << 12 << 11 << true << autoMode
                                  << QStringList{""} << normalValue;
    QTest::newRow("range code 11") << normal << 0 << 11 << none << none << 12 << 11 << true
                                   << QStringList{QStringLiteral("手动")} << QStringList{""} << normalValue;
    QTest::newRow("range reply echoing 0x08") << normal << 1 << 8 << none << int(FaultKind::WrongEcho) << 12 << 11
                                              << true << empty << empty << normalValue;
    QTest::newRow("range reply wrong type") << normal << 1 << 8 << none << int(FaultKind::WrongType) << 12 << 11
                                            << true << empty << empty << normalValue;
    QTest::newRow("reading wrong header") << normal << 1 << 8 << int(FaultKind::WrongHeader) << none << 12 << 11
                                          << true << autoMode << tenMilli << empty;
    QTest::newRow("reading without 0xCD is fine") << normal << 1 << 8 << int(FaultKind::WrongSecondHeader) << none
                                                  << 12 << 11 << true << autoMode << tenMilli << normalValue;
    QTest::newRow("reading wrong type") << normal << 1 << 8 << int(FaultKind::WrongType) << none << 12 << 11
                                        << true << autoMode << tenMilli << empty;
    QTest::newRow("reading short report") << normal << 1 << 8 << int(FaultKind::ShortReport) << none << 4 << 11
                                          << true << autoMode << tenMilli << empty;
    QTest::newRow("reading times out") << normal << 1 << 8 << int(FaultKind::NoAnswer) << none << 0 << 11 << true
                                       << autoMode << tenMilli << empty;
    QTest::newRow("range times out") << normal << 1 << 8 << none << int(FaultKind::NoAnswer) << 12 << 0 << true
                                     << empty << empty << normalValue;
    QTest::newRow("reading error") << normal << 1 << 8 << int(FaultKind::Error) << none << -1 << 11 << false
                                   << empty << empty << empty;
    QTest::newRow("range error") << normal << 1 << 8 << none << int(FaultKind::Error) << 12 << -1 << false << empty
                                 << empty << empty;
    QTest::newRow("unit code 3 loses the sample") << Cell{0x39, 0x30, 0x03, 0x04} << 1 << 8 << none << none << 12
                                                  << 11 << false << empty << empty << empty;
}

void TestWorkers::livePoll()
{
    QFETCH(Cell, reading);
    QFETCH(int, mode);
    QFETCH(int, range);
    QFETCH(int, readingFault);
    QFETCH(int, rangeFault);
    QFETCH(int, rA);
    QFETCH(int, rB);
    QFETCH(bool, finished);
    QFETCH(QStringList, modes);
    QFETCH(QStringList, ranges);
    QFETCH(QStringList, values);

    VirtualMeter::setReading(reading);
    VirtualMeter::setRange(static_cast<unsigned char>(mode), static_cast<unsigned char>(range));
    VirtualMeter::failNext(CMD_GET_READING, VirtualMeter::fault(FaultKind(readingFault)));
    VirtualMeter::failNext(CMD_GET_RANGE, VirtualMeter::fault(FaultKind(rangeFault)));
    hid_device *handle = openGuardedMeter();
    QVERIFY(handle != nullptr);

    requestPoll(driver, handle);
    drainWorkers();

    QCOMPARE(received.usb, (QList<QPair<int, int>>{qMakePair(rA, rB)}));
    QCOMPARE(received.samples.size(), finished ? 1 : 0);
    if (finished) {
        QCOMPARE(received.samples[0][0], modes);
        QCOMPARE(received.samples[0][1], ranges);
        QCOMPARE(received.samples[0][2], values);
    }
    QVERIFY(!received.offThread);
    closeGuardedMeter(handle);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

void TestWorkers::pollWritesBothCommandsAndReadsShort()
{
    hid_device *handle = openGuardedMeter();
    VirtualMeter::clearLog();
    requestPoll(driver, handle);
    drainWorkers();

    const auto worker = workerThreadId();
    const auto log = VirtualMeter::callLog();
    QCOMPARE(log.size(), std::size_t(5));
    const Bytes reading = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x05};
    const Bytes range = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, 0x0A};
    QCOMPARE(log[0].function, std::string("hid_init"));
    QCOMPARE(log[1].function, std::string("hid_write"));
    QVERIFY(log[1].bytes == reading);
    QCOMPARE(log[2].function, std::string("hid_read_timeout"));
    QCOMPARE(log[2].length, std::size_t(12));
    QCOMPARE(log[2].timeoutMs, 1000);
    QCOMPARE(log[3].function, std::string("hid_write"));
    QVERIFY(log[3].bytes == range);
    QCOMPARE(log[4].function, std::string("hid_read_timeout"));
    QCOMPARE(log[4].length, std::size_t(11));
    QCOMPARE(log[4].timeoutMs, 1000);
    for (const auto &call : log) {
        QVERIFY(call.thread == worker);
        if (call.function != "hid_init")
            QCOMPARE(call.handle, handle);
    }
    closeGuardedMeter(handle);
}

void TestWorkers::textsAreLookedUpInTheWorkersContexts()
{
    ContextTagger tagger;
    QCoreApplication::installTranslator(&tagger);
    VirtualMeter::setRange(0, 8);
    hid_device *handle = openGuardedMeter();
    requestPoll(driver, handle);
    drainWorkers();
    VirtualMeter::setReading({0xF8, 0x2A, 0x00, 0x01});
    requestPoll(driver, handle);
    std::vector<Cell> cells = {{0x39, 0x30, 0x01, 0x04}, {0xF8, 0x2A, 0x00, 0x01}};
    emit driver.startReadBackWork(recordsBuffer(cells, 1, 13), 2);
    drainWorkers();
    QCoreApplication::removeTranslator(&tagger);
    closeGuardedMeter(handle);

    QCOMPARE(received.samples.size(), 2);
    QCOMPARE(received.samples[0][0], QStringList{QStringLiteral("ParseRealTimeData:手动")});
    QCOMPARE(received.samples[0][1], QStringList{QStringLiteral("ParseRealTimeData:10mΩ")});
    QCOMPARE(received.samples[0][2], QStringList{QStringLiteral("12.345ParseRealTimeData:mΩ")});
    QCOMPARE(received.samples[1][2], QStringList{QStringLiteral("ParseRealTimeData:OL")});
    QCOMPARE(received.decodes.size(), 1);
    QCOMPARE(received.decodes[0].first,
             (QStringList{QStringLiteral("12.345ParseReadBackData:mΩ"), QStringLiteral("ParseReadBackData:OL")}));
}

// ---- Stored records --------------------------------------------------------------

void TestWorkers::decode_data()
{
    QTest::addColumn<Bytes>("buffer");
    QTest::addColumn<int>("n");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("success");

    QTest::newRow("one record") << recordsBuffer({{0x39, 0x30, 0x01, 0x04}}, 1, 9) << 1
                                << QStringList{"12.345" + MILLI_OHM} << true;
    QTest::newRow("formatted directly") << recordsBuffer({{0x25, 0x4E, 0x01, 0x08}, {0x23, 0x00, 0x12, 0x02}}, 1, 13)
                                        << 2 << QStringList{"2.000" + MILLI_OHM, "0.3" + OHM} << true;
    QTest::newRow("overloads") << recordsBuffer({{0xF8, 0x2A, 0x00, 0x01}, {0xB0, 0xAD, 0x0F, 0x12}}, 1, 13) << 2
                               << QStringList{"OL", "OL"} << true;
    QTest::newRow("bit 16 and flag nibble 2")
        << recordsBuffer({{0x00, 0x00, 0x22, 0x12}, {0x10, 0x27, 0x02, 0x28}}, 1, 13) << 2
        << QStringList{"655.36" + OHM, "1.000" + OHM} << true;
    QTest::newRow("30 records across two boundaries") << recordsBuffer(countingCells(30), 3, 125) << 30
                                                      << countingTexts(30) << true;
    QTest::newRow("499 records") << recordsBuffer(countingCells(499), 34, 2001) << 499 << countingTexts(499)
                                 << true;
    QTest::newRow("no records, closing 5") << recordsBuffer({}, 1, 5) << 0 << QStringList{} << true;

    Bytes secondHeader = recordsBuffer(countingCells(2), 1, 13);
    secondHeader[2] = 0xCE;
    QTest::newRow("index 2 is 0xCE") << secondHeader << 2 << QStringList{} << false;
    Bytes type = recordsBuffer(countingCells(2), 1, 13);
    type[5] = 0x54;
    QTest::newRow("status type") << type << 2 << QStringList{} << false;
    QTest::newRow("closing 4n + 4") << recordsBuffer(countingCells(10), 3, 44) << 10 << QStringList{} << false;
    QTest::newRow("count differs from the frame") << recordsBuffer(countingCells(10), 3, 45) << 9 << QStringList{}
                                                  << false;
    QTest::newRow("20 records in one report") << recordsBuffer(countingCells(20), 1, 85) << 20 << QStringList{}
                                              << false;
    QTest::newRow("negative count") << recordsBuffer({}, 1, 1) << -1 << QStringList{} << false;
    QTest::newRow("empty buffer") << Bytes{} << 1 << QStringList{} << false;

    std::vector<Cell> sixthUnlisted = countingCells(10);
    sixthUnlisted[5][2] = 0x03;
    QTest::newRow("unlisted unit in the sixth record") << recordsBuffer(sixthUnlisted, 1, 45) << 10
                                                       << countingTexts(5) << false;
    std::vector<Cell> overloadUnlisted = countingCells(3);
    overloadUnlisted[1] = {0xF8, 0x2A, 0x0F, 0x01};
    QTest::newRow("overload with unlisted unit is no error")
        << recordsBuffer(overloadUnlisted, 1, 17) << 3 << QStringList{countingText(0), "OL", countingText(2)}
        << true;
}

void TestWorkers::decode()
{
    QFETCH(Bytes, buffer);
    QFETCH(int, n);
    QFETCH(QStringList, values);
    QFETCH(bool, success);

    emit driver.startReadBackWork(buffer, n);
    drainWorkers();
    QCOMPARE(received.decodes.size(), 1);
    QCOMPARE(received.decodes[0].first, values);
    QCOMPARE(received.decodes[0].second, success);
    bool lastReadOk = !success;
    QMetaObject::invokeMethod(readBackWorker, [&] { lastReadOk = readBackWorker->lastReadOk; },
                              Qt::BlockingQueuedConnection);
    QCOMPARE(lastReadOk, success);
    QVERIFY(!received.offThread);
}

void TestWorkers::transferFromTheMeterDecodesInOrder_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("timeouts"); // reads the rule makes beyond the frame
    QTest::newRow("1") << 1 << 0;
    QTest::newRow("13") << 13 << 0;
    QTest::newRow("14") << 14 << 0;
    QTest::newRow("15") << 15 << 0;
    QTest::newRow("30") << 30 << 0;
    QTest::newRow("45") << 45 << 1;
    QTest::newRow("499") << 499 << 2;
}

void TestWorkers::transferFromTheMeterDecodesInOrder()
{
    QFETCH(int, n);
    QFETCH(int, timeouts);
    VirtualMeter::setStoredRecords(countingCells(n));
    hid_device *handle = openGuardedMeter();

    // The window's side of the transfer, block by block.
    const int reports = recordsReportCount(n);
    Bytes buffer(static_cast<std::size_t>(reports) * INPUT_REPORT_SIZE, 0);
    int lastResult = 0;
    const auto startMs = VirtualMeter::simulatedMs();
    {
        auto guard = HidGuard::acquire();
        const auto command = commandReport(CMD_GET_RECORDS);
        hid_write(handle, command.data(), command.size());
        for (int i = 0; i < reports; ++i)
            lastResult = hid_read_timeout(handle, buffer.data() + i * INPUT_REPORT_SIZE, INPUT_REPORT_SIZE,
                                          REPLY_TIMEOUT_MS);
    }
    QCOMPARE(lastResult, timeouts > 0 ? 0 : INPUT_REPORT_SIZE);
    QCOMPARE(VirtualMeter::simulatedMs() - startMs, std::int64_t(timeouts) * REPLY_TIMEOUT_MS);

    emit driver.startReadBackWork(buffer, n);
    drainWorkers();
    closeGuardedMeter(handle);
    QCOMPARE(received.decodes.size(), 1);
    QCOMPARE(received.decodes[0].first, countingTexts(n));
    QVERIFY(received.decodes[0].second);
    QCOMPARE(VirtualMeter::totalViolations(), 0);
}

QTEST_GUILESS_MAIN(TestWorkers)
#include "test_workers.moc"
