#include "parsereadbackdata.h"

#include "protocol.h"
#include "worksession.h"

ParseReadBackData::ParseReadBackData(QObject *parent)
    : QObject(parent)
    , lastReadOk(true)
{
}

namespace {

QString unitText(int unitCode)
{
    switch (unitCode) {
    case 0:
        return ParseReadBackData::tr("μΩ");
    case 1:
        return ParseReadBackData::tr("mΩ");
    case 2:
        return ParseReadBackData::tr("Ω");
    case 4:
        return ParseReadBackData::tr("kΩ");
    default:
        return QString();
    }
}

} // namespace

void ParseReadBackData::doReadBackWork(const std::vector<unsigned char> &read_buf, int total_num)
{
    const WorkSession::Request request(this, WorkSession::Work::Decode);
    const unsigned char *buf = read_buf.data();
    const std::size_t size = read_buf.size();

    if (!acceptRecordsHeader(buf, size) || !acceptRecordsClosingWord(buf, size, total_num)) {
        lastReadOk = false;
        request.report(WorkSession::Result::Records);
        emit finish(QStringList(), false);
        return;
    }
    lastReadOk = true;

    QStringList resistanceValues;
    for (int r = 0; r < total_num; ++r) {
        ReadingCell cell{};
        // The closing word lies beyond every cell, so a cell outside the
        // buffer means a frame that should not have passed; fail rather than
        // read past the end.
        if (!recordCell(buf, size, r, cell)) {
            lastReadOk = false;
            break;
        }
        const float value = scaledValue(cell);
        if (isOverload(value)) {
            resistanceValues << tr("OL");
            continue;
        }
        const int unitCode = unitCodeOf(cell);
        if (!isListedUnit(unitCode)) {
            lastReadOk = false;
            break;
        }
        resistanceValues << storedNumberText(value, decimalsOf(cell)) + unitText(unitCode);
    }
    request.report(WorkSession::Result::Records);
    emit finish(resistanceValues, lastReadOk);
}
