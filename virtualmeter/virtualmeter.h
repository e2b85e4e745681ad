#ifndef ZELMORA_VIRTUALMETER_H
#define ZELMORA_VIRTUALMETER_H

// A model of the meter's firmware behind hidapi's C functions, for the tests
// and the demo program. Link zelmora_virtualmeter instead of hidapi; it also
// provides pauseMs(), which advances a simulated clock instead of sleeping.
//
// The meter
//   A default meter is plugged in, shows the reading 39 30 01 04 (12.345 mΩ)
//   in automatic mode on range 8 and holds no stored records. Each command
//   written with hid_write queues the 64-byte input reports of its reply; each
//   hid_read_timeout of k bytes returns the first k bytes of the next queued
//   report and drops the rest, as Linux hidraw does. With nothing queued a
//   read times out: it returns 0 at once and the simulated clock advances by
//   the time-out. The records reply is split into 63 frame bytes per report,
//   each report starting with a count byte.
//
// Faults
//   A fault changes the reply to one command. failNext() arms it for the next
//   time that command is written (several queue up in order); failAlways()
//   applies it to every answer until clearFaults(). A one-shot fault wins over
//   a persistent one.
//
// The log and the violations
//   Every hid_* call is logged with its thread, handle, bytes and result.
//   Violations are counted, never crashed on: a call on a handle already
//   closed (or never opened), a command written while replies of the previous
//   command are still queued, and a call entering while another hid_* call is
//   still inside (observable while a slow answer is being waited for, which
//   is when a real hidapi would race).
//
// Threads
//   Every function here and every hid_* function may be called from any
//   thread; the model has its own mutex (it never touches the program's HID
//   guard). Slow answers wait for real with that mutex released, until their
//   time or until their handle is closed (the read then fails).

#include <hidapi.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace VirtualMeter {

using Cell = std::array<unsigned char, 4>;

enum class FaultKind {
    None,
    NoAnswer,          // nothing is queued; the reads time out
    WrongHeader,       // report byte 1 is 0xAC instead of 0xAB
    WrongSecondHeader, // report byte 2 is 0xCE instead of 0xCD
    WrongType,         // report byte 5, the reply type, has its low bit flipped
    WrongEcho,         // status replies: byte 6 echoes the other status code
    WrongClosingWord,  // records reply: the closing word reads 4n + 4
    ShortReport,       // the first report carries only its first 4 bytes
    Error,             // every read of the exchange returns -1
    Slow,              // the first report arrives after `param` real milliseconds;
                       // a read with a shorter time-out gets 0 and the reply is lost
    Stall,             // records reply: the read due to deliver report `param`
                       // times out once, then delivery resumes with that report
    Custom,            // the reply is exactly the given reports, each up to 64 bytes
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int param = 0;
    std::vector<std::vector<unsigned char>> reports; // for Custom: each up to 64 bytes
};

// Back to the default meter: plugged, default reading, no records, no faults,
// empty log, violation counters and simulated clock at 0, no provider. Handles
// issued before stay known, so a stale one is still recognised as closed.
void reset();

// Unplugged: hid_open returns null, hid_enumerate finds nothing, and every
// call on a handle opened before fails with -1. Plugging in again does not
// revive old handles; the meter must be opened anew.
void setPlugged(bool plugged);
bool isPlugged();

// The current reading and range; cheap, callable from any thread at any time.
void setReading(const Cell &cell);
void setRange(unsigned char mode, unsigned char code);

// Called, outside the model's mutex, each time the reading command is
// answered; it may call setReading/setRange to move the reading along.
// An empty function removes it.
void setReadingProvider(std::function<void()> provider);

// Called, outside the model's mutex, with each command's code once the meter
// has taken it in and before any of its reply is read: a test can act at that
// point (unplug, say) however fast or slow the caller runs on.
void onCommandTaken(std::function<void(unsigned char)> hook);

// The stored records; also sets the reported record count to their number.
void setStoredRecords(const std::vector<Cell> &records);
// Overrides only the count reported by the record-count reply (0 ... 65535);
// the records reply still carries the stored list.
void setRecordCount(int count);

void failNext(unsigned char command, const Fault &fault);
void failAlways(unsigned char command, const Fault &fault);
void clearFaults();

// Shorthands.
inline Fault fault(FaultKind kind, int param = 0) { return Fault{kind, param, {}}; }
inline Fault customReply(std::vector<std::vector<unsigned char>> reports)
{
    return Fault{FaultKind::Custom, 0, std::move(reports)};
}

// ---- Observing ------------------------------------------------------------------

struct Call {
    std::uint64_t sequence = 0;      // order of entry into the meter
    std::thread::id thread;
    hid_device *handle = nullptr;
    std::string function;            // "hid_write", "hid_read_timeout", ...
    std::vector<unsigned char> bytes; // written, or delivered by a read
    std::size_t length = 0;          // length argument of a write or read
    int timeoutMs = 0;               // of hid_read_timeout
    int result = 0;
    std::int64_t simulatedMs = 0;    // simulated clock when the call returned
};

std::vector<Call> callLog();
void clearLog();
// The log keeps the most recent entries only (default 100000), so a demo can
// run for hours.
void setLogCapacity(std::size_t entries);

// Writes of each command code so far (cheap; not limited by the log capacity).
int commandsWritten(unsigned char command);

int closedHandleCalls();      // any call on a handle that was closed (double close included)
int unknownHandleCalls();     // calls on null (except hid_close(null)) or a never-issued handle
int interleavedCommands();    // commands written with replies still queued
int concurrentCalls();        // calls entering while another hid_* call is still inside
int totalViolations();

int openHandleCount();        // handles opened and not closed
int callsInProgress();        // hid_* calls inside the meter right now (a slow read, say)

// The simulated clock: advanced by pauseMs, by reads that time out (by their
// time-out) and by slow answers (by their delay).
std::int64_t simulatedMs();

} // namespace VirtualMeter

#endif
