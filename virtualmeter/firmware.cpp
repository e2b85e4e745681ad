// The meter's side of the protocol: which input reports answer which command.

#include "model.h"

#include <algorithm>

namespace VirtualMeter {

namespace {

// Packs frame bytes into input reports: a count byte, then up to 63 frame bytes.
std::deque<Report> packFrame(const std::vector<unsigned char> &frame)
{
    std::deque<Report> reports;
    for (std::size_t start = 0; start < frame.size(); start += FRAME_BYTES_IN_REPORT) {
        const std::size_t chunk = std::min<std::size_t>(FRAME_BYTES_IN_REPORT, frame.size() - start);
        Report report;
        report.bytes[0] = static_cast<unsigned char>(chunk);
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(start), chunk, report.bytes.begin() + 1);
        reports.push_back(report);
    }
    return reports;
}

std::vector<unsigned char> frameStart(std::size_t frameLength, unsigned char type)
{
    return {HEADER_0, HEADER_1, static_cast<unsigned char>(frameLength & 0xFF),
            static_cast<unsigned char>((frameLength >> 8) & 0xFF), type};
}

std::vector<unsigned char> readingFrame(const MeterState &meter)
{
    auto frame = frameStart(9, TYPE_READING);
    frame.insert(frame.end(), meter.reading.begin(), meter.reading.end());
    return frame;
}

std::vector<unsigned char> statusFrame(unsigned char echoed, unsigned char first, unsigned char second)
{
    auto frame = frameStart(8, TYPE_STATUS);
    frame.push_back(echoed);
    frame.push_back(first);
    frame.push_back(second);
    return frame;
}

std::vector<unsigned char> recordsFrame(const MeterState &meter, bool wrongClosingWord)
{
    const std::size_t n = meter.records.size();
    auto frame = frameStart(4 * n + 9, TYPE_RECORDS);
    frame.push_back(static_cast<unsigned char>(n & 0xFF));
    frame.push_back(static_cast<unsigned char>((n >> 8) & 0xFF));
    for (const Cell &cell : meter.records)
        frame.insert(frame.end(), cell.begin(), cell.end());
    const std::size_t closing = (4 * n + (wrongClosingWord ? 4 : 5)) & 0xFFFF;
    frame.push_back(static_cast<unsigned char>(closing & 0xFF));
    frame.push_back(static_cast<unsigned char>(closing >> 8));
    return frame;
}

std::deque<Report> customReports(const Fault &fault)
{
    std::deque<Report> reports;
    for (const auto &bytes : fault.reports) {
        Report report;
        report.length = std::min<std::size_t>(bytes.size(), report.bytes.size());
        std::copy_n(bytes.begin(), report.length, report.bytes.begin());
        reports.push_back(report);
    }
    return reports;
}

} // namespace

Exchange buildReply(unsigned char code, const MeterState &meter, const Fault &fault)
{
    Exchange exchange;
    if (fault.kind == FaultKind::NoAnswer)
        return exchange;
    if (fault.kind == FaultKind::Custom) {
        exchange.pending = customReports(fault);
        return exchange;
    }

    const int count = std::clamp(meter.recordCount, 0, 0xFFFF);
    switch (code) {
    case GET_READING:
        exchange.pending = packFrame(readingFrame(meter));
        break;
    case GET_RANGE:
        exchange.pending = packFrame(statusFrame(GET_RANGE, meter.rangeMode, meter.rangeCode));
        break;
    case GET_RECORD_COUNT:
        exchange.pending = packFrame(statusFrame(GET_RECORD_COUNT, static_cast<unsigned char>(count & 0xFF),
                                                 static_cast<unsigned char>(count >> 8)));
        break;
    case GET_RECORDS:
        exchange.pending = packFrame(recordsFrame(meter, fault.kind == FaultKind::WrongClosingWord));
        break;
    default:
        return exchange;
    }

    if (exchange.pending.empty())
        return exchange;
    Report &first = exchange.pending.front();
    switch (fault.kind) {
    case FaultKind::WrongHeader:
        first.bytes[1] = 0xAC;
        break;
    case FaultKind::WrongSecondHeader:
        first.bytes[2] = 0xCE;
        break;
    case FaultKind::WrongType:
        first.bytes[5] ^= 0x01;
        break;
    case FaultKind::WrongEcho:
        if (first.bytes[5] == TYPE_STATUS)
            first.bytes[6] = first.bytes[6] == GET_RANGE ? GET_RECORD_COUNT : GET_RANGE;
        break;
    case FaultKind::ShortReport:
        std::fill(first.bytes.begin() + 4, first.bytes.end(), 0);
        first.length = 4;
        break;
    case FaultKind::Error:
        // Nothing is queued either, so a correct next command is no violation.
        exchange.errorReads = true;
        exchange.pending.clear();
        break;
    case FaultKind::Slow:
        exchange.slowMs = std::max(0, fault.param);
        break;
    case FaultKind::Stall:
        exchange.stallAt = fault.param;
        break;
    default:
        break;
    }
    return exchange;
}

} // namespace VirtualMeter
