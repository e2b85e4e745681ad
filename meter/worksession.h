#ifndef ZELMORA_WORKSESSION_H
#define ZELMORA_WORKSESSION_H

// Which requests a window made of its workers still count.
//
// Every request the window emits gets a ticket, in the order of emission, and
// the worker takes the ticket of the request it starts from the front of the
// same queue: queued calls are delivered in the order they were emitted, so
// each request meets its own. The window files a request right before it
// emits it; an emission nobody filed still queues a ticket, one that never
// counts, so a stray request can neither run nor shift the tickets of the
// requests after it. Results come back the same way: the worker puts its
// ticket on the queue of that result right before it emits the result, and
// the window's slot takes the front one as the result arrives.
//
// Lines drawn across the tickets, each by the window before it waits for the
// HID guard (a poll checks its ticket under the guard, so no scheduling lets
// an old poll through after a line):
//   endPolling()    a stop, a close, a removal: polls filed so far touch
//                   nothing; whatever the poll in progress says still counts.
//   beginPolling()  an interval change, a new polling session: in addition,
//                   results of those polls are dropped. Decodes go on.
//   beginAnew()     a start, a reset, a language change: in addition, results
//                   of every decode filed so far are dropped.
//
// Tickets belong to the window that files them, not to the process: a window
// hands its workers to its own session, and a worker finds the session it
// serves as a request starts.

#include <QObject>

#include <cstdint>
#include <deque>
#include <mutex>

class WorkSession
{
public:
    using Ticket = std::uint64_t;

    enum class Work { Poll, Decode };
    enum class Result { PollStatus, Sample, Records };

    WorkSession() = default;
    WorkSession(const WorkSession &) = delete;
    WorkSession &operator=(const WorkSession &) = delete;
    ~WorkSession();

    // The window: this worker's requests are ticketed here.
    void serve(const QObject *worker);
    // The session a worker serves; null for a worker driven on its own, whose
    // every request counts, as nobody ends its sessions.
    static WorkSession *servedBy(const QObject *worker);

    // The window: connects the signal that carries requests of this kind, so
    // that every emission of it gets a ticket. Made before the connection to
    // the worker, so the ticket is queued before the request is.
    template <typename Sender, typename... Args>
    void countRequests(Sender *sender, void (Sender::*signal)(Args...), Work kind)
    {
        QObject::connect(sender, signal, sender, [this, kind] { requestEmitted(kind); }, Qt::DirectConnection);
    }

    // The window, right before it emits a request: that emission counts.
    void fileRequest(Work kind);
    // Every emission of a request: the filed ticket, or one that never counts.
    void requestEmitted(Work kind);

    void endPolling();
    void beginPolling();
    void beginAnew();

    // A ticket for what the window handles itself at this moment, checked
    // against the lines drawn after it.
    Ticket now();
    // Whether a poll with this ticket may still touch the device.
    bool mayTouchDevice(Ticket ticket) const;

    // What a worker holds while it runs one request: the ticket it took as
    // the request started. A request with nothing queued for it does not
    // count; a worker that serves no session runs every request.
    class Request
    {
    public:
        Request(const QObject *worker, Work kind);
        // A poll checks this with the HID guard held.
        bool mayTouchDevice() const;
        // Right before the worker emits that result.
        void report(Result which) const;

    private:
        WorkSession *session;
        Ticket ticket;
    };

    // The window's slot, as a result arrives from the worker: the result's
    // ticket, and whether its session is still on.
    bool takeResult(Result which, Ticket &ticket);
    // Whether results of `ticket` still count, asked again after the window
    // waited (a message box runs its own event loop).
    bool stillWanted(Result which, Ticket ticket);

private:
    static constexpr Ticket NEVER = 0; // below every line

    Ticket takeRequest(Work kind);
    void reportResult(Result which, Ticket ticket);

    std::deque<Ticket> &requests(Work kind) { return kind == Work::Poll ? polls : decodes; }
    std::deque<Ticket> &results(Result which);
    bool wanted(Result which, Ticket ticket) const;

    mutable std::mutex mutex;
    Ticket next = 1;
    bool pollFiled = false;
    bool decodeFiled = false;
    std::deque<Ticket> polls;
    std::deque<Ticket> decodes;
    std::deque<Ticket> statusResults;
    std::deque<Ticket> sampleResults;
    std::deque<Ticket> recordsResults;
    // The first ticket that may still touch the device, whose poll results
    // still count, and whose decode results still count.
    Ticket pollsFrom = 1;
    Ticket pollResultsFrom = 1;
    Ticket decodeResultsFrom = 1;
};

#endif
