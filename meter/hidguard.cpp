#include "hidguard.h"

#include <atomic>
#include <condition_variable>

namespace {

struct Guard {
    std::recursive_mutex mutex;

    // Threads blocked on `mutex`; a mutex hands itself to whoever asks first
    // after a release, which would let the poller take it back every time.
    std::mutex waitersMutex;
    std::condition_variable noWaiters;
    int waiters = 0;

    // Only read or written with `mutex` held.
    hid_device *openHandle = nullptr;
    // Written with `mutex` held; read by the window without it when it makes
    // a request, hence atomic.
    std::atomic<std::uint64_t> ticket{0};
};

Guard &guard()
{
    static Guard instance;
    return instance;
}

} // namespace

namespace HidGuard {

std::unique_lock<std::recursive_mutex> acquire()
{
    Guard &g = guard();
    // Free, or already held by this thread.
    std::unique_lock<std::recursive_mutex> lock(g.mutex, std::try_to_lock);
    if (lock.owns_lock())
        return lock;

    {
        std::lock_guard<std::mutex> count(g.waitersMutex);
        ++g.waiters;
    }
    lock.lock();
    {
        std::lock_guard<std::mutex> count(g.waitersMutex);
        --g.waiters;
    }
    g.noWaiters.notify_all();
    return lock;
}

std::unique_lock<std::recursive_mutex> acquireBehindWaiters()
{
    Guard &g = guard();
    {
        std::unique_lock<std::mutex> count(g.waitersMutex);
        g.noWaiters.wait(count, [&g] { return g.waiters == 0; });
    }
    return acquire();
}

void markOpen(hid_device *handle)
{
    guard().openHandle = handle;
}

void markClosed(hid_device *handle)
{
    if (guard().openHandle == handle)
        guard().openHandle = nullptr;
}

bool isOpen(hid_device *handle)
{
    return handle != nullptr && handle == guard().openHandle;
}

std::uint64_t pollTicket()
{
    return guard().ticket.load();
}

void retirePolls()
{
    ++guard().ticket;
}

bool pollMayRun(hid_device *handle, std::uint64_t ticket)
{
    return isOpen(handle) && ticket == guard().ticket.load();
}

} // namespace HidGuard
