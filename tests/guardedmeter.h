#ifndef ZELMORA_TESTS_GUARDEDMETER_H
#define ZELMORA_TESTS_GUARDEDMETER_H

// Opening and closing the meter the way the window does: under the HID guard,
// telling the guard which handle is the open one.

#include "hidguard.h"
#include "protocol.h"
#include "worksession.h"

#include <QObject>

#include <hidapi.h>

inline hid_device *openGuardedMeter()
{
    auto guard = HidGuard::acquire();
    hid_device *handle = hid_open(METER_VENDOR_ID, METER_PRODUCT_ID, nullptr);
    if (handle != nullptr)
        hid_set_nonblocking(handle, 1);
    HidGuard::makePollable(handle);
    return handle;
}

// With the session the poller serves, sampling ends first, as the window's does.
inline void closeGuardedMeter(hid_device *handle, WorkSession *session = nullptr)
{
    if (session)
        session->endPolling();
    auto guard = HidGuard::acquire();
    hid_close(handle);
    HidGuard::retire(handle);
}

// A poll request as the window makes it: filed with the session the poller
// serves, if it serves one, then emitted.
template <typename Driver>
void requestPoll(Driver &driver, hid_device *handle, WorkSession *session = nullptr)
{
    if (session)
        session->fileRequest(WorkSession::Work::Poll);
    emit driver.startRealTimeWork(handle);
}

#endif
