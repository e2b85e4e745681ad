#include "worksession.h"

#include <map>

namespace {

struct Served {
    std::mutex mutex;
    std::map<const QObject *, WorkSession *> sessions;
};

Served &served()
{
    static Served instance;
    return instance;
}

} // namespace

WorkSession::~WorkSession()
{
    Served &all = served();
    std::lock_guard<std::mutex> lock(all.mutex);
    for (auto it = all.sessions.begin(); it != all.sessions.end();)
        it = it->second == this ? all.sessions.erase(it) : std::next(it);
}

void WorkSession::serve(const QObject *worker)
{
    Served &all = served();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.sessions[worker] = this;
}

WorkSession *WorkSession::servedBy(const QObject *worker)
{
    Served &all = served();
    std::lock_guard<std::mutex> lock(all.mutex);
    const auto it = all.sessions.find(worker);
    return it == all.sessions.end() ? nullptr : it->second;
}

WorkSession::Request::Request(const QObject *worker, Work kind)
    : session(servedBy(worker))
    , ticket(session ? session->takeRequest(kind) : NEVER)
{
}

bool WorkSession::Request::mayTouchDevice() const
{
    return !session || session->mayTouchDevice(ticket);
}

void WorkSession::Request::report(Result which) const
{
    if (session)
        session->reportResult(which, ticket);
}

void WorkSession::fileRequest(Work kind)
{
    std::lock_guard<std::mutex> lock(mutex);
    (kind == Work::Poll ? pollFiled : decodeFiled) = true;
}

void WorkSession::requestEmitted(Work kind)
{
    std::lock_guard<std::mutex> lock(mutex);
    bool &filed = kind == Work::Poll ? pollFiled : decodeFiled;
    requests(kind).push_back(filed ? next++ : NEVER);
    filed = false;
}

void WorkSession::endPolling()
{
    std::lock_guard<std::mutex> lock(mutex);
    pollsFrom = next;
}

void WorkSession::beginPolling()
{
    std::lock_guard<std::mutex> lock(mutex);
    pollsFrom = next;
    pollResultsFrom = next;
}

void WorkSession::beginAnew()
{
    std::lock_guard<std::mutex> lock(mutex);
    pollsFrom = next;
    pollResultsFrom = next;
    decodeResultsFrom = next;
}

WorkSession::Ticket WorkSession::now()
{
    std::lock_guard<std::mutex> lock(mutex);
    return next++;
}

WorkSession::Ticket WorkSession::takeRequest(Work kind)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Ticket> &waiting = requests(kind);
    if (waiting.empty())
        return NEVER;
    const Ticket ticket = waiting.front();
    waiting.pop_front();
    return ticket;
}

bool WorkSession::mayTouchDevice(Ticket ticket) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return ticket != NEVER && ticket >= pollsFrom;
}

void WorkSession::reportResult(Result which, Ticket ticket)
{
    std::lock_guard<std::mutex> lock(mutex);
    results(which).push_back(ticket);
}

bool WorkSession::takeResult(Result which, Ticket &ticket)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Ticket> &arrived = results(which);
    ticket = NEVER;
    if (!arrived.empty()) {
        ticket = arrived.front();
        arrived.pop_front();
    }
    return wanted(which, ticket);
}

bool WorkSession::stillWanted(Result which, Ticket ticket)
{
    std::lock_guard<std::mutex> lock(mutex);
    return wanted(which, ticket);
}

std::deque<WorkSession::Ticket> &WorkSession::results(Result which)
{
    switch (which) {
    case Result::PollStatus:
        return statusResults;
    case Result::Sample:
        return sampleResults;
    case Result::Records:
        break;
    }
    return recordsResults;
}

bool WorkSession::wanted(Result which, Ticket ticket) const
{
    const Ticket from = which == Result::Records ? decodeResultsFrom : pollResultsFrom;
    return ticket != NEVER && ticket >= from;
}
