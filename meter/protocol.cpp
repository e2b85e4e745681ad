#include "protocol.h"

#include <cmath>

std::array<unsigned char, COMMAND_REPORT_SIZE> commandReport(unsigned char code)
{
    // Report number 0 (the device uses no numbered reports), 5 frame bytes
    // follow: header, length 5 low byte first, code.
    return {0x00, 0x05, FRAME_HEADER_0, FRAME_HEADER_1, 0x05, 0x00, code};
}

bool acceptReadingReply(const unsigned char *buf)
{
    return buf[1] == FRAME_HEADER_0 && buf[5] == REPLY_READING;
}

bool acceptRangeReply(const unsigned char *buf)
{
    // Status replies carry nothing but the echoed code to tell them apart.
    return buf[1] == FRAME_HEADER_0 && buf[5] == REPLY_STATUS && buf[6] == CMD_GET_RANGE;
}

bool acceptRecordCountReply(const unsigned char *buf, int readResult)
{
    return readResult > 0 && buf[1] == FRAME_HEADER_0 && buf[5] == REPLY_STATUS;
}

int recordCountOf(const unsigned char *buf)
{
    return buf[8] * 256 + buf[7];
}

bool isDownloadableCount(int count)
{
    return count >= 1 && count <= MAX_STORED_RECORDS;
}

bool rangeIsAutomatic(const unsigned char *rangeReply)
{
    return rangeReply[7] != 0;
}

int rangeCodeOf(const unsigned char *rangeReply)
{
    return rangeReply[8];
}

int recordsReportCount(int n)
{
    if (n < 0)
        return 0;
    const long long frameBytes = 4LL * n + 9;
    const long long needed = (frameBytes + FRAME_BYTES_PER_REPORT - 1) / FRAME_BYTES_PER_REPORT;
    const long long byRule = 1LL + n / 15;
    return static_cast<int>(byRule < needed ? needed : byRule);
}

std::size_t framePos(std::size_t u)
{
    return u + 1 + u / FRAME_BYTES_PER_REPORT;
}

namespace {

// Reads frame byte u, or reports that it lies beyond the buffer.
bool frameByte(const unsigned char *buf, std::size_t size, std::size_t u, unsigned char &out)
{
    const std::size_t index = framePos(u);
    if (index >= size)
        return false;
    out = buf[index];
    return true;
}

} // namespace

bool acceptRecordsHeader(const unsigned char *buf, std::size_t size)
{
    return size > 5 && buf[1] == FRAME_HEADER_0 && buf[2] == FRAME_HEADER_1
           && buf[5] == REPLY_RECORDS;
}

bool acceptRecordsClosingWord(const unsigned char *buf, std::size_t size, int n)
{
    // n may come straight from the meter or from anywhere else; the frame
    // positions are computed wide so that no count can wrap them.
    const long long lowPos = 4LL * n + 7;
    if (lowPos < 0)
        return false;
    unsigned char low = 0;
    unsigned char high = 0;
    if (!frameByte(buf, size, static_cast<std::size_t>(lowPos), low)
        || !frameByte(buf, size, static_cast<std::size_t>(lowPos) + 1, high))
        return false;
    const unsigned expected = static_cast<unsigned>((4LL * n + 5) & 0xFFFF);
    return (high * 256u + low) == expected;
}

bool recordCell(const unsigned char *buf, std::size_t size, int r, ReadingCell &cell)
{
    if (r < 0)
        return false;
    ReadingCell found{};
    const std::size_t first = 7 + 4 * static_cast<std::size_t>(r);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!frameByte(buf, size, first + i, found[i]))
            return false;
    }
    cell = found;
    return true;
}

ReadingCell readingCellOf(const unsigned char *readingReply)
{
    return {readingReply[6], readingReply[7], readingReply[8], readingReply[9]};
}

namespace {

float divisorOf(unsigned char scaleByte)
{
    switch (scaleByte & 0x0F) {
    case 8:
        return 10000.0f;
    case 4:
        return 1000.0f;
    case 2:
        return 100.0f;
    default:
        return 10.0f;
    }
}

} // namespace

float scaledValue(const ReadingCell &cell)
{
    float raw = static_cast<float>(cell[1] * 256 + cell[0]);
    if ((cell[3] >> 4) == 1)
        raw += 65536.0f;
    return raw / divisorOf(cell[3]);
}

bool isOverload(float value)
{
    return value == OVERLOAD_VALUE;
}

int decimalsOf(const ReadingCell &cell)
{
    switch (cell[2] >> 4) {
    case 1:
        return 1;
    case 2:
        return 2;
    default:
        return 3;
    }
}

int unitCodeOf(const ReadingCell &cell)
{
    return cell[2] & 0x0F;
}

bool isListedUnit(int unitCode)
{
    return unitCode == 0 || unitCode == 1 || unitCode == 2 || unitCode == 4;
}

QString liveNumberText(float value, int decimals)
{
    const float factor = decimals == 1 ? 10.0f : decimals == 2 ? 100.0f : 1000.0f;
    // The product stays single precision on purpose: that is where 2000.4999
    // becomes 2000.5 and then rounds up.
    const float scaled = value * factor;
    const double whole = std::round(static_cast<double>(scaled));
    return QString::number(whole / static_cast<double>(factor), 'f', decimals);
}

QString storedNumberText(float value, int decimals)
{
    return QString::number(static_cast<double>(value), 'f', decimals);
}
