// libFuzzer target over everything that reads bytes from the meter: the reply
// checks, the live decode (directly and through a poll against the virtual
// meter) and the stored-record decode with any record count.
//
// Input: byte 0 picks the target, the rest is its data.
//   0: records  - bytes 1-2 a signed record count, the rest the buffer
//   1: live     - 12 reading-reply bytes, then 11 range-reply bytes
//   2: status   - an 11-byte record-count reply and a read result byte

#include "guardedmeter.h"
#include "parsereadbackdata.h"
#include "parserealtimedata.h"
#include "protocol.h"
#include "virtualmeter.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Exactly `size` bytes on the heap, so that any look past them is caught.
std::vector<unsigned char> exactCopy(const uint8_t *data, std::size_t available, std::size_t size)
{
    std::vector<unsigned char> copy(size, 0);
    for (std::size_t i = 0; i < size && i < available; ++i)
        copy[i] = data[i];
    return copy;
}

void fuzzRecords(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return;
    const int n = static_cast<int16_t>(data[0] | (data[1] << 8));
    const std::vector<unsigned char> buffer(data + 2, data + size);

    static ParseReadBackData worker;
    QStringList values;
    bool success = false;
    int emitted = 0;
    const auto connection = QObject::connect(&worker, &ParseReadBackData::finish, [&](QStringList v, bool ok) {
        values = v;
        success = ok;
        ++emitted;
    });
    worker.doReadBackWork(buffer, n);
    QObject::disconnect(connection);

    require(emitted == 1);
    require(worker.lastReadOk == success);
    require(values.size() <= std::max(n, 0));
    if (success)
        require(values.size() == std::max(n, 0));
    if (acceptRecordsClosingWord(buffer.data(), buffer.size(), n))
        require(framePos(static_cast<std::size_t>(4LL * n + 8)) < buffer.size());
    if (acceptRecordsHeader(buffer.data(), buffer.size()))
        require(buffer.size() > 5);
}

void fuzzLiveDirect(const std::vector<unsigned char> &reading, const std::vector<unsigned char> &range)
{
    QStringList modes;
    QStringList ranges;
    QStringList values;
    const bool kept = ParseRealTimeData::decodeSample(reading.data(), range.data(), modes, ranges, values);
    require(modes.size() <= 1 && ranges.size() == modes.size() && values.size() <= 1);
    if (kept) {
        require(values.size() == (acceptReadingReply(reading.data()) ? 1 : 0));
        require(modes.size() == (acceptRangeReply(range.data()) ? 1 : 0));
    }
}

// The same replies delivered by the virtual meter to a real poll.
void fuzzLivePoll(const std::vector<unsigned char> &reading, const std::vector<unsigned char> &range)
{
    static ParseRealTimeData worker;
    static hid_device *handle = [] {
        VirtualMeter::setLogCapacity(64);
        return openGuardedMeter();
    }();
    VirtualMeter::failNext(CMD_GET_READING, VirtualMeter::customReply({reading}));
    VirtualMeter::failNext(CMD_GET_RANGE, VirtualMeter::customReply({range}));

    int usb = 0;
    int finished = 0;
    const auto usbConnection = QObject::connect(&worker, &ParseRealTimeData::signalUsb, [&](int a, int b) {
        require(a == static_cast<int>(reading.size()) && b == static_cast<int>(range.size()));
        ++usb;
    });
    const auto finishConnection = QObject::connect(&worker, &ParseRealTimeData::finish,
                                                   [&](QStringList, QStringList, QStringList) { ++finished; });
    worker.doRealTimeWork(handle);
    QObject::disconnect(usbConnection);
    QObject::disconnect(finishConnection);
    require(usb == 1 && finished <= 1);
    require(VirtualMeter::totalViolations() == 0);

    // A read that timed out retires the handle until the window reopens the
    // meter; stand in for that reopen so that the next input is polled too.
    auto guard = HidGuard::acquire();
    const bool timedOut = reading.empty() || range.empty();
    require(HidGuard::isPollable(handle) == !timedOut);
    HidGuard::makePollable(handle);
}

void fuzzLive(const uint8_t *data, std::size_t size)
{
    // Short inputs make short reports: the zero-filled rest must not pass.
    const std::size_t readingBytes = std::min<std::size_t>(size, READING_REPLY_SIZE);
    const std::size_t rangeBytes = std::min<std::size_t>(size - readingBytes, RANGE_REPLY_SIZE);
    fuzzLiveDirect(exactCopy(data, size, READING_REPLY_SIZE),
                   exactCopy(data + readingBytes, size - readingBytes, RANGE_REPLY_SIZE));
    fuzzLivePoll(std::vector<unsigned char>(data, data + readingBytes),
                 std::vector<unsigned char>(data + readingBytes, data + readingBytes + rangeBytes));
}

void fuzzStatus(const uint8_t *data, std::size_t size)
{
    const auto reply = exactCopy(data, size, RECORD_COUNT_REPLY_SIZE);
    const int readResult = size > RECORD_COUNT_REPLY_SIZE ? static_cast<int8_t>(data[RECORD_COUNT_REPLY_SIZE]) : 11;
    if (acceptRecordCountReply(reply.data(), readResult)) {
        const int count = recordCountOf(reply.data());
        require(count >= 0 && count <= 65535 && readResult > 0);
        if (isDownloadableCount(count))
            require(recordsReportCount(count) >= 1 && recordsReportCount(count) <= 34);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    switch (data[0] % 3) {
    case 0:
        fuzzRecords(data + 1, size - 1);
        break;
    case 1:
        fuzzLive(data + 1, size - 1);
        break;
    default:
        fuzzStatus(data + 1, size - 1);
        break;
    }
    return 0;
}
