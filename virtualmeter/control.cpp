// The control and observation API of the virtual meter.

#include "model.h"

#include <algorithm>

namespace VirtualMeter {

Model &model()
{
    // Never destroyed: worker threads may still be inside a hid_* call while
    // static objects are torn down at exit.
    static Model *instance = new Model;
    return *instance;
}

namespace {

std::unique_lock<std::mutex> locked()
{
    return std::unique_lock<std::mutex>(model().mutex);
}

} // namespace

void reset()
{
    auto lock = locked();
    Model &m = model();
    m.plugged = true;
    ++m.plugGeneration;
    m.meter = MeterState{};
    m.nextFaults.clear();
    m.persistentFaults.clear();
    m.readingProvider = nullptr;
    m.commandTaken = nullptr;
    for (auto &entry : m.handles) {
        entry.second.open = false;
        entry.second.exchange = Exchange{};
    }
    m.handleGone.notify_all();
    m.log.clear();
    m.logCapacity = 100000;
    m.writes.clear();
    m.closedHandleCalls = 0;
    m.unknownHandleCalls = 0;
    m.interleavedCommands = 0;
    m.concurrentCalls = 0;
    m.clockMs = 0;
}

void setPlugged(bool plugged)
{
    auto lock = locked();
    Model &m = model();
    if (m.plugged && !plugged)
        ++m.plugGeneration;
    m.plugged = plugged;
}

bool isPlugged()
{
    auto lock = locked();
    return model().plugged;
}

void setReading(const Cell &cell)
{
    auto lock = locked();
    model().meter.reading = cell;
}

void setRange(unsigned char mode, unsigned char code)
{
    auto lock = locked();
    model().meter.rangeMode = mode;
    model().meter.rangeCode = code;
}

void setReadingProvider(std::function<void()> provider)
{
    auto lock = locked();
    model().readingProvider = std::move(provider);
}

void onCommandTaken(std::function<void(unsigned char)> hook)
{
    auto lock = locked();
    model().commandTaken = std::move(hook);
}

void setStoredRecords(const std::vector<Cell> &records)
{
    auto lock = locked();
    model().meter.records = records;
    model().meter.recordCount = static_cast<int>(std::min<std::size_t>(records.size(), 0xFFFF));
}

void setRecordCount(int count)
{
    auto lock = locked();
    model().meter.recordCount = std::clamp(count, 0, 0xFFFF);
}

void failNext(unsigned char command, const Fault &fault)
{
    auto lock = locked();
    model().nextFaults[command].push_back(fault);
}

void failAlways(unsigned char command, const Fault &fault)
{
    auto lock = locked();
    model().persistentFaults[command] = fault;
}

void clearFaults()
{
    auto lock = locked();
    model().nextFaults.clear();
    model().persistentFaults.clear();
}

std::vector<Call> callLog()
{
    auto lock = locked();
    std::vector<Call> calls(model().log.begin(), model().log.end());
    // Entries are appended when a call returns; order them by when it began.
    std::sort(calls.begin(), calls.end(), [](const Call &a, const Call &b) { return a.sequence < b.sequence; });
    return calls;
}

void clearLog()
{
    auto lock = locked();
    model().log.clear();
}

void setLogCapacity(std::size_t entries)
{
    auto lock = locked();
    model().logCapacity = std::max<std::size_t>(entries, 1);
    while (model().log.size() > model().logCapacity)
        model().log.pop_front();
}

int commandsWritten(unsigned char command)
{
    auto lock = locked();
    const auto found = model().writes.find(command);
    return found == model().writes.end() ? 0 : found->second;
}

int closedHandleCalls()
{
    auto lock = locked();
    return model().closedHandleCalls;
}

int unknownHandleCalls()
{
    auto lock = locked();
    return model().unknownHandleCalls;
}

int interleavedCommands()
{
    auto lock = locked();
    return model().interleavedCommands;
}

int concurrentCalls()
{
    auto lock = locked();
    return model().concurrentCalls;
}

int totalViolations()
{
    auto lock = locked();
    const Model &m = model();
    return m.closedHandleCalls + m.unknownHandleCalls + m.interleavedCommands + m.concurrentCalls;
}

int openHandleCount()
{
    auto lock = locked();
    return static_cast<int>(std::count_if(model().handles.begin(), model().handles.end(),
                                          [](const auto &entry) { return entry.second.open; }));
}

int callsInProgress()
{
    auto lock = locked();
    return model().callsInside;
}

std::int64_t simulatedMs()
{
    return model().clockMs.load();
}

} // namespace VirtualMeter
