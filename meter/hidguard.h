#ifndef ZELMORA_HIDGUARD_H
#define ZELMORA_HIDGUARD_H

// hidapi is not thread-safe on a handle, and the one meter handle is used by
// the window's thread and the live poller. Every HID call sequence (a whole
// poll, each window-side exchange, open, close, hid_init) runs while holding
// this process-wide guard, and the guard remembers which handle is the open
// one so that a poll queued with a handle closed in the meantime can tell.

#include <hidapi.h>

#include <cstdint>
#include <mutex>

namespace HidGuard {

// Held for a whole HID call sequence. Recursive, so an open inside a locked
// sequence is fine.
std::unique_lock<std::recursive_mutex> acquire();

// The same, for a thread that takes the guard again and again (the poller,
// with a backlog of queued polls): a thread already waiting for the guard goes
// first, so that a close is not held up behind every queued poll. Never call
// it while already holding the guard: it would wait for a waiter that waits
// for this thread.
std::unique_lock<std::recursive_mutex> acquireBehindWaiters();

// The caller holds the lock. Records the one open handle (null clears it).
void markOpen(hid_device *handle);

// The caller holds the lock. Forgets the handle if it is the open one.
void markClosed(hid_device *handle);

// The caller holds the lock. False for null and for any handle other than the
// one last marked open.
bool isOpen(hid_device *handle);

// Each poll request carries the ticket current when it was made. A stop, a
// close or a reset retires every ticket handed out so far, so a request that
// waited in the queue, or for the guard, finds out under the guard that it
// comes from before and does nothing. That holds however the threads were
// scheduled, and also when hidapi hands out a new handle at the old address.
std::uint64_t pollTicket(); // any thread, lock or not
void retirePolls();         // the caller holds the lock

// The caller holds the lock. The handle is the open one and the ticket has
// not been retired.
bool pollMayRun(hid_device *handle, std::uint64_t ticket);

} // namespace HidGuard

#endif
