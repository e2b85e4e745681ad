#ifndef ZELMORA_VIRTUALMETER_MODEL_H
#define ZELMORA_VIRTUALMETER_MODEL_H

// Private to the virtual meter: the state behind the control API and the
// hid_* functions, guarded by one mutex.

#include "virtualmeter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

struct hid_device_ {
    int id;
};

namespace VirtualMeter {

// The firmware's own view of the wire format, written out independently of
// the program's protocol code so that a mistake there cannot hide here.
constexpr unsigned short VENDOR_ID = 0x1A86;
constexpr unsigned short PRODUCT_ID = 0xE429;
constexpr unsigned char HEADER_0 = 0xAB;
constexpr unsigned char HEADER_1 = 0xCD;
constexpr unsigned char GET_READING = 0x05;
constexpr unsigned char GET_RECORDS = 0x07;
constexpr unsigned char GET_RECORD_COUNT = 0x08;
constexpr unsigned char GET_RANGE = 0x0A;
constexpr unsigned char TYPE_READING = 0x52;
constexpr unsigned char TYPE_RECORDS = 0x53;
constexpr unsigned char TYPE_STATUS = 0x54;
constexpr std::size_t FRAME_BYTES_IN_REPORT = 63;

struct Report {
    std::array<unsigned char, 64> bytes{};
    std::size_t length = 64;
};

// What the meter is set to answer; copied out to build a reply.
struct MeterState {
    Cell reading{{0x39, 0x30, 0x01, 0x04}};
    unsigned char rangeMode = 1;
    unsigned char rangeCode = 8;
    std::vector<Cell> records;
    int recordCount = 0;
};

// One command's reply as it is being read.
struct Exchange {
    std::deque<Report> pending;
    bool errorReads = false;
    int slowMs = 0;       // real delay before the first report, 0 when none
    int stallAt = -1;     // report index whose read times out once
    int delivered = 0;
};

struct HandleState {
    bool open = true;
    int plugGeneration = 0;
    bool nonblocking = false;
    Exchange exchange;
};

struct Model {
    std::mutex mutex;
    // A handle closed: a slow answer on it stops waiting.
    std::condition_variable handleGone;

    bool plugged = true;
    int plugGeneration = 0;
    MeterState meter;
    std::map<unsigned char, std::deque<Fault>> nextFaults;
    std::map<unsigned char, Fault> persistentFaults;
    std::function<void()> readingProvider;
    std::function<void(unsigned char)> commandTaken;

    // Handles are never freed, so a stale pointer stays recognisable.
    std::deque<std::unique_ptr<hid_device_>> handleStorage;
    std::map<const hid_device *, HandleState> handles;

    std::deque<Call> log;
    std::size_t logCapacity = 100000;
    std::uint64_t nextSequence = 1;
    int callsInside = 0;
    std::map<unsigned char, int> writes;

    int closedHandleCalls = 0;
    int unknownHandleCalls = 0;
    int interleavedCommands = 0;
    int concurrentCalls = 0;

    std::atomic<std::int64_t> clockMs{0};
};

Model &model();

// Builds the input reports answering one command, with the fault applied.
// Unknown codes get no answer.
Exchange buildReply(unsigned char code, const MeterState &meter, const Fault &fault);

} // namespace VirtualMeter

#endif
