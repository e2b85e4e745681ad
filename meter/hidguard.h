#ifndef ZELMORA_HIDGUARD_H
#define ZELMORA_HIDGUARD_H

// hidapi is not thread-safe on a handle, and the one meter handle is used by
// the window's thread and the live poller. Every HID call sequence (a whole
// poll, each window-side exchange, open, close, hid_init) runs while holding
// this process-wide guard, and the guard remembers which handle polls may
// use: the open one, until it is closed or a poll found the meter silent on
// it, so that a poll queued with such a handle can tell. Which polls still
// count at all is WorkSession's to say.

#include <hidapi.h>

#include <mutex>

namespace HidGuard {

// Held for a whole HID call sequence. Recursive, so an open inside a locked
// sequence is fine.
std::unique_lock<std::recursive_mutex> acquire();

// The caller holds the lock. The handle just opened is the one polls may use
// (null: none).
void makePollable(hid_device *handle);

// The caller holds the lock. Polls may no longer use the handle: it is being
// closed, or its meter went silent and the window will close it.
void retire(hid_device *handle);

// The caller holds the lock. False for null and for any handle other than the
// one last made pollable, or once it was retired.
bool isPollable(hid_device *handle);

} // namespace HidGuard

#endif
