#ifndef ZELMORA_HIDGUARD_H
#define ZELMORA_HIDGUARD_H

// hidapi is not thread-safe on a handle, and the one meter handle is used by
// the window's thread and the live poller. Every HID call sequence (a whole
// poll, each window-side exchange, open, close, hid_init) runs while holding
// this process-wide guard, and the guard remembers which handle is the open
// one so that a poll queued with a handle closed in the meantime can tell.
// Which polls still count at all is WorkSession's to say.

#include <hidapi.h>

#include <mutex>

namespace HidGuard {

// Held for a whole HID call sequence. Recursive, so an open inside a locked
// sequence is fine.
std::unique_lock<std::recursive_mutex> acquire();

// The caller holds the lock. Records the one open handle (null clears it).
void markOpen(hid_device *handle);

// The caller holds the lock. Forgets the handle if it is the open one.
void markClosed(hid_device *handle);

// The caller holds the lock. False for null and for any handle other than the
// one last marked open.
bool isOpen(hid_device *handle);

} // namespace HidGuard

#endif
