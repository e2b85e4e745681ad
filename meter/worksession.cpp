#include "worksession.h"

#include <atomic>
#include <deque>
#include <limits>
#include <mutex>

namespace {

constexpr WorkSession::Ticket UNFILED = std::numeric_limits<WorkSession::Ticket>::max();

struct Tickets {
    std::mutex mutex;
    std::deque<WorkSession::Ticket> polls;
    std::deque<WorkSession::Ticket> decodes;
    WorkSession::Ticket next = 0;

    // The first ticket that may still touch the device, and the first whose
    // results are still wanted. Read by the workers without the mutex.
    std::atomic<WorkSession::Ticket> pollsFrom{0};
    std::atomic<WorkSession::Ticket> resultsFrom{0};

    std::deque<WorkSession::Ticket> &queue(WorkSession::Queue which)
    {
        return which == WorkSession::Queue::Polls ? polls : decodes;
    }
};

Tickets &tickets()
{
    static Tickets instance;
    return instance;
}

thread_local WorkSession::Ticket runningHere = UNFILED;

} // namespace

namespace WorkSession {

void file(Queue queue)
{
    Tickets &t = tickets();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.queue(queue).push_back(t.next++);
}

Ticket take(Queue queue)
{
    Tickets &t = tickets();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::deque<Ticket> &waiting = t.queue(queue);
    runningHere = UNFILED;
    if (!waiting.empty()) {
        runningHere = waiting.front();
        waiting.pop_front();
    }
    return runningHere;
}

void dropWaiting(Queue queue)
{
    Tickets &t = tickets();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.queue(queue).clear();
}

Ticket current()
{
    return runningHere;
}

void endPolling()
{
    Tickets &t = tickets();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.pollsFrom = t.next;
}

void beginAnew()
{
    Tickets &t = tickets();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.pollsFrom = t.next;
    t.resultsFrom = t.next;
}

bool mayTouchDevice(Ticket ticket)
{
    return ticket >= tickets().pollsFrom.load();
}

bool resultsWanted(Ticket ticket)
{
    return ticket >= tickets().resultsFrom.load();
}

} // namespace WorkSession
