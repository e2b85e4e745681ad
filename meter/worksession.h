#ifndef ZELMORA_WORKSESSION_H
#define ZELMORA_WORKSESSION_H

// Which requests to the workers still count. The window files a ticket with
// every poll and every decode it asks for, in the order it emits them, and a
// worker takes the ticket of the request it starts from the front of the same
// queue: queued calls are delivered in order, so each request meets its own.
//
// Two lines are drawn across the tickets. A stop or a close ends sampling:
// polls filed before it must not touch the device any more. A new beginning
// (a start, an interval change, a reset) ends the session: in addition,
// nothing filed before it may reach the window. The window draws a line before
// it waits for the HID guard, and a poll checks its ticket under the guard, so
// no scheduling lets an old poll through after the line.

#include <cstdint>

namespace WorkSession {

using Ticket = std::uint64_t;

enum class Queue { Polls, Decodes };

// The window, right before it emits a request.
void file(Queue queue);

// The worker, as a request starts: its ticket, which also becomes this
// thread's current one. A request nobody filed (a worker driven directly)
// belongs to no session and always counts.
Ticket take(Queue queue);

// The ticket of the request running on this thread; results are reported
// with it.
Ticket current();

// The worker of that queue is gone with requests still waiting for it (its
// thread stopped first): their tickets go too, or the next worker's requests
// would meet them.
void dropWaiting(Queue queue);

// Polls filed so far never touch the device.
void endPolling();

// Nothing filed so far touches the device or reaches the window.
void beginAnew();

// A poll checks this with the HID guard held.
bool mayTouchDevice(Ticket ticket);

// The window checks this as a result arrives.
bool resultsWanted(Ticket ticket);

} // namespace WorkSession

#endif
