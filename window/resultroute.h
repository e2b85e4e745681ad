#ifndef ZELMORA_RESULTROUTE_H
#define ZELMORA_RESULTROUTE_H

#include <QMetaObject>
#include <QObject>

#include "worksession.h"

// Connects a worker's result signal to a slot of the window: the result
// travels queued to the window's thread with the ticket of the request that
// produced it, and the slot runs only if that request's session has not
// ended by the time it arrives. The check runs on the window's thread, where
// every new beginning happens, so no scheduling of the workers can slip an
// old result past it; everything else queued to the window is left alone.
template <typename Worker, typename Window, typename... Args>
void routeResults(Worker *worker, void (Worker::*signal)(Args...), Window *window, void (Window::*slot)(Args...))
{
    QObject::connect(
        worker, signal, worker,
        [window, slot](Args... args) {
            const WorkSession::Ticket ticket = WorkSession::current();
            QMetaObject::invokeMethod(
                window,
                [window, slot, ticket, args...] {
                    if (WorkSession::resultsWanted(ticket))
                        (window->*slot)(args...);
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

#endif
