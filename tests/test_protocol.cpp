// The wire format: command bytes, reply acceptance, the records frame and the
// reading cell, checked against hand-written byte strings.

#include "protocol.h"
#include "support/recordsframe.h"

#include <QtTest>

#include <vector>

Q_DECLARE_METATYPE(ReadingCell)

namespace {

using Bytes = std::vector<unsigned char>;

ReadingCell cell(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3)
{
    return {b0, b1, b2, b3};
}

// A 64-byte reply report with the given bytes set, the rest zero.
Bytes report(std::initializer_list<std::pair<int, unsigned char>> bytes)
{
    Bytes buf(INPUT_REPORT_SIZE, 0);
    for (const auto &entry : bytes)
        buf[static_cast<std::size_t>(entry.first)] = entry.second;
    return buf;
}

std::vector<ReadingCell> distinctCells(int n)
{
    std::vector<ReadingCell> cells;
    for (int r = 0; r < n; ++r)
        cells.push_back(cell(static_cast<unsigned char>(r), static_cast<unsigned char>(r + 100), 0x01, 0x04));
    return cells;
}

QByteArray fixedFromInteger(unsigned long long scaled, int decimals)
{
    unsigned long long power = 1;
    for (int i = 0; i < decimals; ++i)
        power *= 10;
    return QByteArray::number(scaled / power) + '.'
           + QByteArray::number(scaled % power).rightJustified(decimals, '0');
}

template<typename Check>
void forEveryCell(Check check)
{
    const unsigned char divisorCodes[] = {0x00, 0x02, 0x04, 0x08};
    const unsigned char decimalsCodes[] = {0x10, 0x20, 0x30};
    for (int flag = 0; flag <= 1; ++flag)
        for (unsigned char divisor : divisorCodes)
            for (unsigned char decimals : decimalsCodes)
                for (int raw = 0; raw <= 0xFFFF; ++raw) {
                    const ReadingCell c = cell(static_cast<unsigned char>(raw & 0xFF),
                                               static_cast<unsigned char>(raw >> 8),
                                               static_cast<unsigned char>(decimals | 0x01),
                                               static_cast<unsigned char>((flag << 4) | divisor));
                    if (!check(c))
                        return;
                }
}


// Exact decimal text of a non-negative float with `decimals` digits, ties
// rounded up, computed with integers only.
QByteArray exactFixed(float value, int decimals)
{
    int exponent = 0;
    const float mantissa = std::frexp(value, &exponent);
    unsigned __int128 numerator = static_cast<unsigned __int128>(std::ldexp(mantissa, 24));
    int binaryExponent = exponent - 24;
    unsigned __int128 scale = 1; // value = numerator / scale
    for (; binaryExponent > 0; --binaryExponent)
        numerator *= 2;
    for (; binaryExponent < 0; ++binaryExponent) {
        numerator *= 5; // x / 2 = 5x / 10
        scale *= 10;
    }
    for (int i = 0; i < decimals; ++i)
        numerator *= 10;
    const unsigned __int128 scaled = (numerator + scale / 2) / scale;
    return fixedFromInteger(static_cast<unsigned long long>(scaled), decimals);
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commandsAreSevenBytesWithOnlyTheCodeDiffering_data();
    void commandsAreSevenBytesWithOnlyTheCodeDiffering();

    void replyAcceptance_data();
    void replyAcceptance();

    void recordCountDecidesTheDownload_data();
    void recordCountDecidesTheDownload();

    void reportsReadForRecords_data();
    void reportsReadForRecords();
    void reportsReadAlwaysHoldTheWholeFrame();

    void framePositionSkipsCountBytes_data();
    void framePositionSkipsCountBytes();

    void cellExamples_data();
    void cellExamples();
    void liveTextIsTheRoundedWholeNumberForEveryCell();
    void storedTextIsTheExactValueRoundedForEveryCell();

    void twoRecordFrameLayout();
    void thirtyRecordsAcrossReportBoundaries();
    void recordsFrameAcceptance_data();
    void recordsFrameAcceptance();
    void closingWordIsComparedAsSixteenBits();
    void cellsBeyondTheBufferAreRefused();
};

// ---- Commands ------------------------------------------------------------------

void TestProtocol::commandsAreSevenBytesWithOnlyTheCodeDiffering_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("reading") << int(CMD_GET_READING);
    QTest::newRow("records") << int(CMD_GET_RECORDS);
    QTest::newRow("record count") << int(CMD_GET_RECORD_COUNT);
    QTest::newRow("range") << int(CMD_GET_RANGE);
}

void TestProtocol::commandsAreSevenBytesWithOnlyTheCodeDiffering()
{
    QFETCH(int, code);
    const auto bytes = commandReport(static_cast<unsigned char>(code));
    const std::array<unsigned char, 7> expected = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00,
                                                   static_cast<unsigned char>(code)};
    QCOMPARE(bytes.size(), std::size_t(7));
    QVERIFY(bytes == expected);
}

// ---- Short replies ---------------------------------------------------------------

void TestProtocol::replyAcceptance_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("readResult");
    QTest::addColumn<bool>("accepted");

    auto bytes = [](const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size())); };
    const Bytes reading = report({{1, 0xAB}, {2, 0xCD}, {5, 0x52}, {6, 0x39}, {7, 0x30}, {8, 0x01}, {9, 0x04}});
    const Bytes range = report({{1, 0xAB}, {2, 0xCD}, {5, 0x54}, {6, 0x0A}, {7, 1}, {8, 8}});
    const Bytes count = report({{1, 0xAB}, {2, 0xCD}, {5, 0x54}, {6, 0x08}, {7, 3}});

    QTest::newRow("reading") << "reading" << bytes(reading) << 12 << true;
    Bytes noSecondHeader = reading;
    noSecondHeader[2] = 0x00;
    QTest::newRow("reading without 0xCD") << "reading" << bytes(noSecondHeader) << 12 << true;
    Bytes badHeader = reading;
    badHeader[1] = 0xAA;
    QTest::newRow("reading wrong header") << "reading" << bytes(badHeader) << 12 << false;
    Bytes statusType = reading;
    statusType[5] = 0x54;
    QTest::newRow("reading with status type") << "reading" << bytes(statusType) << 12 << false;
    QTest::newRow("reading zero-filled") << "reading" << bytes(Bytes(64, 0)) << 0 << false;

    QTest::newRow("range") << "range" << bytes(range) << 11 << true;
    Bytes echoCount = range;
    echoCount[6] = 0x08;
    QTest::newRow("range echoing 0x08") << "range" << bytes(echoCount) << 11 << false;
    Bytes readingType = range;
    readingType[5] = 0x52;
    QTest::newRow("range with reading type") << "range" << bytes(readingType) << 11 << false;
    Bytes rangeHeader = range;
    rangeHeader[1] = 0x00;
    QTest::newRow("range wrong header") << "range" << bytes(rangeHeader) << 11 << false;

    QTest::newRow("count") << "count" << bytes(count) << 11 << true;
    Bytes echoRange = count;
    echoRange[6] = 0x0A;
    QTest::newRow("count echoing 0x0A") << "count" << bytes(echoRange) << 11 << true;
    Bytes echoNothing = count;
    echoNothing[6] = 0x00;
    QTest::newRow("count echoing nothing") << "count" << bytes(echoNothing) << 11 << true;
    QTest::newRow("count with time-out result") << "count" << bytes(count) << 0 << false;
    QTest::newRow("count with error result") << "count" << bytes(count) << -1 << false;
    Bytes countHeader = count;
    countHeader[1] = 0xCD;
    QTest::newRow("count wrong header") << "count" << bytes(countHeader) << 11 << false;
    Bytes countType = count;
    countType[5] = 0x53;
    QTest::newRow("count wrong type") << "count" << bytes(countType) << 11 << false;
}

void TestProtocol::replyAcceptance()
{
    QFETCH(QString, reply);
    QFETCH(QByteArray, bytes);
    QFETCH(int, readResult);
    QFETCH(bool, accepted);
    // Exactly the bytes a read of that reply asks for, so that a look beyond
    // them shows under the address sanitizer.
    const int size = reply == "reading" ? READING_REPLY_SIZE : reply == "range" ? RANGE_REPLY_SIZE
                                                                                : RECORD_COUNT_REPLY_SIZE;
    const Bytes buf(bytes.begin(), bytes.begin() + size);
    if (reply == "reading")
        QCOMPARE(acceptReadingReply(buf.data()), accepted);
    else if (reply == "range")
        QCOMPARE(acceptRangeReply(buf.data()), accepted);
    else
        QCOMPARE(acceptRecordCountReply(buf.data(), readResult), accepted);
}

void TestProtocol::recordCountDecidesTheDownload_data()
{
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("download");
    QTest::addColumn<int>("reports");
    QTest::newRow("499") << 0xF3 << 0x01 << 499 << true << 34;
    QTest::newRow("500") << 0xF4 << 0x01 << 500 << false << 34;
    QTest::newRow("0") << 0x00 << 0x00 << 0 << false << 1;
    QTest::newRow("1") << 0x01 << 0x00 << 1 << true << 1;
    QTest::newRow("256") << 0x00 << 0x01 << 256 << true << 18;
    QTest::newRow("65535") << 0xFF << 0xFF << 65535 << false << 4370;
}

void TestProtocol::recordCountDecidesTheDownload()
{
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, count);
    QFETCH(bool, download);
    QFETCH(int, reports);
    const Bytes full = report({{1, 0xAB}, {5, 0x54}, {7, static_cast<unsigned char>(low)},
                               {8, static_cast<unsigned char>(high)}});
    const Bytes buf(full.begin(), full.begin() + RECORD_COUNT_REPLY_SIZE);
    QVERIFY(acceptRecordCountReply(buf.data(), RECORD_COUNT_REPLY_SIZE));
    QCOMPARE(recordCountOf(buf.data()), count);
    QCOMPARE(isDownloadableCount(count), download);
    QCOMPARE(recordsReportCount(count), reports);
}

// ---- Records frame -------------------------------------------------------------

void TestProtocol::reportsReadForRecords_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("reports");
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("13") << 13 << 1;
    QTest::newRow("14 needs a second report") << 14 << 2;
    QTest::newRow("15") << 15 << 2;
    QTest::newRow("29") << 29 << 2;
    QTest::newRow("30") << 30 << 3;
    QTest::newRow("45 reads one more than it needs") << 45 << 4;
    QTest::newRow("499") << 499 << 34;
    QTest::newRow("negative") << -1 << 0;
}

void TestProtocol::reportsReadForRecords()
{
    QFETCH(int, n);
    QFETCH(int, reports);
    QCOMPARE(recordsReportCount(n), reports);
}

void TestProtocol::reportsReadAlwaysHoldTheWholeFrame()
{
    for (int n = 0; n <= 65535; ++n) {
        const long long frameBytes = 4LL * n + 9;
        const int reports = recordsReportCount(n);
        if (reports * 63LL < frameBytes || reports < 1 + n / 15)
            QFAIL(qPrintable(QString("n = %1 reads %2 reports").arg(n).arg(reports)));
    }
}

void TestProtocol::framePositionSkipsCountBytes_data()
{
    QTest::addColumn<int>("frameByte");
    QTest::addColumn<int>("index");
    QTest::newRow("first") << 0 << 1;
    QTest::newRow("last of report 0") << 62 << 63;
    QTest::newRow("first of report 1") << 63 << 65;
    QTest::newRow("last of report 1") << 125 << 127;
    QTest::newRow("first of report 2") << 126 << 129;
    QTest::newRow("499 records' closing word") << 4 * 499 + 8 << 2036;
}

void TestProtocol::framePositionSkipsCountBytes()
{
    QFETCH(int, frameByte);
    QFETCH(int, index);
    QCOMPARE(framePos(std::size_t(frameByte)), std::size_t(index));
}

// ---- Reading cell --------------------------------------------------------------

void TestProtocol::cellExamples_data()
{
    QTest::addColumn<ReadingCell>("bytes");
    QTest::addColumn<bool>("overload");
    QTest::addColumn<int>("unitCode");
    QTest::addColumn<QString>("live");
    QTest::addColumn<QString>("stored");

    QTest::newRow("12.345 mOhm") << cell(0x39, 0x30, 0x01, 0x04) << false << 1 << "12.345" << "12.345";
    QTest::newRow("single-precision half goes up live") << cell(0x25, 0x4E, 0x01, 0x08) << false << 1 << "2.001"
                                                        << "2.000";
    QTest::newRow("0.35 Ohm") << cell(0x23, 0x00, 0x12, 0x02) << false << 2 << "0.4" << "0.3";
    QTest::newRow("overload by divisor 10") << cell(0xF8, 0x2A, 0x00, 0x01) << true << 0 << "" << "";
    QTest::newRow("overload with bit 16, unlisted unit") << cell(0xB0, 0xAD, 0x0F, 0x12) << true << 15 << ""
                                                         << "";
    QTest::newRow("bit 16 alone") << cell(0x00, 0x00, 0x22, 0x12) << false << 2 << "655.36" << "655.36";
    QTest::newRow("flag nibble 2 adds nothing") << cell(0x10, 0x27, 0x02, 0x28) << false << 2 << "1.000"
                                                << "1.000";
    QTest::newRow("largest value") << cell(0xFF, 0xFF, 0x14, 0x10) << false << 4 << "13107.1" << "13107.1";
    QTest::newRow("zero, micro-ohm") << cell(0x00, 0x00, 0x00, 0x00) << false << 0 << "0.000" << "0.000";
    QTest::newRow("divisor code 1 divides by 10") << cell(0x7B, 0x00, 0x21, 0x01) << false << 1 << "12.30"
                                                  << "12.30";
    QTest::newRow("divisor code 0xF divides by 10") << cell(0x7B, 0x00, 0x21, 0x0F) << false << 1 << "12.30"
                                                    << "12.30";
    QTest::newRow("decimals code 0xF shows 3") << cell(0x7B, 0x00, 0xF1, 0x04) << false << 1 << "0.123"
                                               << "0.123";
    QTest::newRow("exact tie 0.25 to 1 decimal") << cell(0x19, 0x00, 0x12, 0x02) << false << 2 << "0.3" << "0.3";
    QTest::newRow("1100 with 2 decimals is still OL") << cell(0xF8, 0x2A, 0x21, 0x00) << true << 1 << "" << "";
    QTest::newRow("unit 3 is unlisted") << cell(0x39, 0x30, 0x03, 0x04) << false << 3 << "12.345" << "12.345";
}

void TestProtocol::cellExamples()
{
    QFETCH(ReadingCell, bytes);
    QFETCH(bool, overload);
    QFETCH(int, unitCode);
    QFETCH(QString, live);
    QFETCH(QString, stored);

    const float value = scaledValue(bytes);
    QCOMPARE(isOverload(value), overload);
    QCOMPARE(unitCodeOf(bytes), unitCode);
    QCOMPARE(isListedUnit(unitCode), unitCode == 0 || unitCode == 1 || unitCode == 2 || unitCode == 4);
    if (overload)
        return;
    QCOMPARE(liveNumberText(value, decimalsOf(bytes)), live);
    QCOMPARE(storedNumberText(value, decimalsOf(bytes)), stored);
}

void TestProtocol::liveTextIsTheRoundedWholeNumberForEveryCell()
{
    int failures = 0;
    forEveryCell([&](const ReadingCell &c) {
        const float value = scaledValue(c);
        const int decimals = decimalsOf(c);
        const float factor = decimals == 1 ? 10.0f : decimals == 2 ? 100.0f : 1000.0f;
        const double product = static_cast<double>(value * factor);
        auto whole = static_cast<unsigned long long>(product);
        if (product - static_cast<double>(whole) >= 0.5)
            ++whole;
        const QByteArray expected = fixedFromInteger(whole, decimals);
        if (liveNumberText(value, decimals) != QLatin1String(expected)) {
            qWarning("cell %02x %02x %02x %02x: %s, expected %s", c[0], c[1], c[2], c[3],
                     qPrintable(liveNumberText(value, decimals)), expected.constData());
            return ++failures < 10;
        }
        return true;
    });
    QCOMPARE(failures, 0);
}

void TestProtocol::storedTextIsTheExactValueRoundedForEveryCell()
{
    int failures = 0;
    forEveryCell([&](const ReadingCell &c) {
        const float value = scaledValue(c);
        const int decimals = decimalsOf(c);
        const QByteArray expected = exactFixed(value, decimals);
        if (storedNumberText(value, decimals) != QLatin1String(expected)) {
            qWarning("cell %02x %02x %02x %02x: %s, expected %s", c[0], c[1], c[2], c[3],
                     qPrintable(storedNumberText(value, decimals)), expected.constData());
            return ++failures < 10;
        }
        return true;
    });
    QCOMPARE(failures, 0);
}

// ---- Records frame -------------------------------------------------------------

void TestProtocol::twoRecordFrameLayout()
{
    // Byte by byte as the meter sends it: count byte, header, two length
    // bytes, type, two unexamined bytes, two cells, closing word 13.
    Bytes buf(64, 0);
    const unsigned char bytes[] = {0x11, 0xAB, 0xCD, 0x11, 0x00, 0x53, 0x02, 0x00, 0x39, 0x30, 0x01,
                                   0x04, 0x23, 0x00, 0x12, 0x02, 0x0D, 0x00};
    std::copy(std::begin(bytes), std::end(bytes), buf.begin());

    QVERIFY(acceptRecordsHeader(buf.data(), buf.size()));
    QVERIFY(acceptRecordsClosingWord(buf.data(), buf.size(), 2));
    ReadingCell first{};
    ReadingCell second{};
    QVERIFY(recordCell(buf.data(), buf.size(), 0, first));
    QVERIFY(recordCell(buf.data(), buf.size(), 1, second));
    QVERIFY(first == cell(0x39, 0x30, 0x01, 0x04));
    QVERIFY(second == cell(0x23, 0x00, 0x12, 0x02));
}

void TestProtocol::thirtyRecordsAcrossReportBoundaries()
{
    // Every buffer byte holds its own index (mod 256), so a cell read shows
    // exactly which indices it came from.
    Bytes buf(3 * 64);
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<unsigned char>(i);
    buf[1] = 0xAB;
    buf[2] = 0xCD;
    buf[5] = 0x53;
    buf[130] = 4 * 30 + 5;
    buf[131] = 0x00;

    QVERIFY(acceptRecordsClosingWord(buf.data(), buf.size(), 30));
    ReadingCell atBoundary{};
    QVERIFY(recordCell(buf.data(), buf.size(), 14, atBoundary));
    QVERIFY(atBoundary == cell(65, 66, 67, 68));
    ReadingCell straddling{};
    QVERIFY(recordCell(buf.data(), buf.size(), 29, straddling));
    QVERIFY(straddling == cell(125, 126, 127, 129));

    buf[131] = 0x01;
    QVERIFY(!acceptRecordsClosingWord(buf.data(), buf.size(), 30));
}

void TestProtocol::recordsFrameAcceptance_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("index");   // buffer byte to change, or -1
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("closing"); // closing word written
    QTest::addColumn<int>("size");    // buffer bytes kept, -1 for all reports
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("closingOk");

    QTest::newRow("1 record") << 1 << -1 << 0 << 9 << -1 << true << true;
    QTest::newRow("0 records, closing 5") << 0 << -1 << 0 << 5 << -1 << true << true;
    QTest::newRow("index 2 is 0xCE") << 1 << 2 << 0xCE << 9 << -1 << false << true;
    QTest::newRow("index 1 wrong") << 1 << 1 << 0xAC << 9 << -1 << false << true;
    QTest::newRow("index 5 is a status type") << 1 << 5 << 0x54 << 9 << -1 << false << true;
    QTest::newRow("closing 4n + 4") << 10 << -1 << 0 << 44 << -1 << true << false;
    QTest::newRow("closing high byte set") << 10 << -1 << 0 << 45 + 256 << -1 << true << false;
    QTest::newRow("14 records, closing in report 1") << 14 << -1 << 0 << 61 << -1 << true << true;
    QTest::newRow("20 records in one report") << 20 << -1 << 0 << 85 << 64 << true << false;
    QTest::newRow("closing high byte one past the end") << 1 << -1 << 0 << 9 << 13 << true << false;
    QTest::newRow("closing low byte at the end") << 1 << -1 << 0 << 9 << 12 << true << false;
    QTest::newRow("5 bytes only") << 1 << -1 << 0 << 9 << 5 << false << false;
    QTest::newRow("empty buffer") << 1 << -1 << 0 << 9 << 0 << false << false;
    QTest::newRow("negative count") << -1 << -1 << 0 << 1 << -1 << true << false;
}

void TestProtocol::recordsFrameAcceptance()
{
    QFETCH(int, n);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(int, closing);
    QFETCH(int, size);
    QFETCH(bool, header);
    QFETCH(bool, closingOk);

    Bytes full = recordsBuffer(distinctCells(std::max(n, 0)), std::max(recordsReportCount(n), 1), closing);
    if (index >= 0)
        full[std::size_t(index)] = static_cast<unsigned char>(value);
    // A copy of exactly `size` bytes: the sanitizer sees any look past it.
    const Bytes buf(full.begin(), size < 0 ? full.end() : full.begin() + size);
    QCOMPARE(acceptRecordsHeader(buf.data(), buf.size()), header);
    QCOMPARE(acceptRecordsClosingWord(buf.data(), buf.size(), n), closingOk);
}

void TestProtocol::closingWordIsComparedAsSixteenBits()
{
    // 4n + 5 = 65541 does not fit the word; the meter sends its low 16 bits.
    const int n = 16384;
    const Bytes buf = recordsBuffer(distinctCells(n), recordsReportCount(n), 5);
    QVERIFY(acceptRecordsHeader(buf.data(), buf.size()));
    QVERIFY(acceptRecordsClosingWord(buf.data(), buf.size(), n));
    QVERIFY(!acceptRecordsClosingWord(buf.data(), buf.size(), n - 1));
}

void TestProtocol::cellsBeyondTheBufferAreRefused()
{
    const Bytes buf = recordsBuffer(distinctCells(13), 1, 57);
    ReadingCell last{};
    QVERIFY(recordCell(buf.data(), buf.size(), 12, last));
    QVERIFY(last == cell(12, 112, 0x01, 0x04));

    ReadingCell untouched = cell(1, 2, 3, 4);
    QVERIFY(!recordCell(buf.data(), buf.size(), 14, untouched)); // frame bytes 63-66: report 1
    QVERIFY(!recordCell(buf.data(), buf.size(), -1, untouched));
    QVERIFY(!recordCell(buf.data(), buf.size(), 1 << 30, untouched));
    QVERIFY(untouched == cell(1, 2, 3, 4));
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "test_protocol.moc"
