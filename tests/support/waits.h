#ifndef ZELMORA_TESTS_WAITS_H
#define ZELMORA_TESTS_WAITS_H

// Waiting for events rather than for time.

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QThread>

// The limit of a wait for something that is bound to happen: running out
// means it never did, however loaded the machine. Qt's own QTRY_* give up
// after 5 s, which a busy single core can spend under the sanitizers.
constexpr int NEVER_MS = 60000;

// Returns once `thread` has worked off every call queued to it so far; what
// those calls reported then waits in this thread's queue.
inline void drain(QThread *thread)
{
    QObject probe;
    probe.moveToThread(thread);
    QThread *here = QThread::currentThread();
    QMetaObject::invokeMethod(&probe, [&] { probe.moveToThread(here); }, Qt::BlockingQueuedConnection);
}

// Holds the calling thread until `done()`, for a gate on a state that no
// signal tells of, and whose owner may be about to wait for the holder (the
// session's line, moved by a thread that then waits for the HID guard).
// Looks again each millisecond; false only when it never came.
template <typename Condition>
bool holdUntil(Condition done)
{
    QDeadlineTimer never(NEVER_MS);
    while (!done()) {
        if (never.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return true;
}

#define TRY_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, NEVER_MS)
#define TRY_VERIFY(expression) QTRY_VERIFY_WITH_TIMEOUT(expression, NEVER_MS)

#endif
