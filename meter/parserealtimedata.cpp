#include "parserealtimedata.h"

#include "hidguard.h"
#include "protocol.h"
#include "worksession.h"

#include <array>

ParseRealTimeData::ParseRealTimeData(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<hid_device *>("hid_device*");
}

namespace {

// One command written, one reply read into a zero-filled buffer; the read's
// result as hidapi gives it.
int exchange(hid_device *handle, unsigned char code, std::array<unsigned char, INPUT_REPORT_SIZE> &reply,
             int replySize)
{
    const auto command = commandReport(code);
    hid_write(handle, command.data(), command.size());
    return hid_read_timeout(handle, reply.data(), static_cast<size_t>(replySize), REPLY_TIMEOUT_MS);
}

} // namespace

void ParseRealTimeData::doRealTimeWork(hid_device *handle)
{
    const WorkSession::Request request(this, WorkSession::Work::Poll);
    // The window may have closed or replaced the handle, or ended the session,
    // while this request waited; then the handle must not be touched at all.
    // The window draws that line before it waits for the guard, so checking
    // here, under the guard, cannot miss it.
    auto guard = HidGuard::acquire();
    if (!HidGuard::isPollable(handle) || !request.mayTouchDevice())
        return;
    std::array<unsigned char, INPUT_REPORT_SIZE> readingReply{};
    std::array<unsigned char, INPUT_REPORT_SIZE> rangeReply{};
    hid_init();
    const int rA = exchange(handle, CMD_GET_READING, readingReply, READING_REPLY_SIZE);
    const int rB = exchange(handle, CMD_GET_RANGE, rangeReply, RANGE_REPLY_SIZE);
    // A read that timed out means a silent or vanished meter, and the window
    // closes the handle once it hears of it. Requests already queued with this
    // handle would each wait two more seconds for nothing and hold that close
    // up, so from now on they find it retired.
    if (rA == 0 || rB == 0)
        HidGuard::retire(handle);

    // The results leave before the guard does: whatever this poll says is
    // queued to the window before the window's next HID step.
    request.report(WorkSession::Result::PollStatus);
    emit signalUsb(rA, rB);
    if (rA < 0 || rB < 0)
        return;

    QStringList modeList;
    QStringList rangeList;
    QStringList valueList;
    if (!decodeSample(readingReply.data(), rangeReply.data(), modeList, rangeList, valueList))
        return;
    request.report(WorkSession::Result::Sample);
    emit finish(modeList, rangeList, valueList);
}

namespace {

QString unitText(int unitCode)
{
    switch (unitCode) {
    case 0:
        return ParseRealTimeData::tr("μΩ");
    case 1:
        return ParseRealTimeData::tr("mΩ");
    case 2:
        return ParseRealTimeData::tr("Ω");
    case 4:
        return ParseRealTimeData::tr("kΩ");
    default:
        return QString();
    }
}

QString rangeText(int rangeCode)
{
    switch (rangeCode) {
    case 1:
        return ParseRealTimeData::tr("100kΩ");
    case 2:
        return ParseRealTimeData::tr("10kΩ");
    case 3:
        return ParseRealTimeData::tr("1kΩ");
    case 4:
        return ParseRealTimeData::tr("100Ω");
    case 5:
        return ParseRealTimeData::tr("10Ω");
    case 6:
        return ParseRealTimeData::tr("1Ω");
    case 7:
        return ParseRealTimeData::tr("100mΩ");
    case 8:
        return ParseRealTimeData::tr("10mΩ");
    case 9:
        return ParseRealTimeData::tr("1mΩ");
    case 10:
        return ParseRealTimeData::tr("100μΩ");
    default:
        // Still one entry: the row shows an empty range rather than no row.
        return QString("");
    }
}

} // namespace

bool ParseRealTimeData::decodeSample(const unsigned char *readingReply, const unsigned char *rangeReply,
                                     QStringList &modeList, QStringList &rangeList,
                                     QStringList &valueList)
{
    QStringList values;
    if (acceptReadingReply(readingReply)) {
        const ReadingCell cell = readingCellOf(readingReply);
        const float value = scaledValue(cell);
        if (isOverload(value)) {
            values << tr("OL");
        } else {
            const int unitCode = unitCodeOf(cell);
            if (!isListedUnit(unitCode))
                return false;
            values << liveNumberText(value, decimalsOf(cell)) + unitText(unitCode);
        }
    }

    QStringList modes;
    QStringList ranges;
    if (acceptRangeReply(rangeReply)) {
        modes << (rangeIsAutomatic(rangeReply) ? tr("自动") : tr("手动"));
        ranges << rangeText(rangeCodeOf(rangeReply));
    }

    modeList = modes;
    rangeList = ranges;
    valueList = values;
    return true;
}
