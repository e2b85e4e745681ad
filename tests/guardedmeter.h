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
    HidGuard::markOpen(handle);
    return handle;
}

inline void closeGuardedMeter(hid_device *handle)
{
    WorkSession::endPolling();
    auto guard = HidGuard::acquire();
    hid_close(handle);
    HidGuard::markClosed(handle);
}

// A poll request as the window makes it: its ticket filed, then the request.
template <typename Driver>
void requestPoll(Driver &driver, hid_device *handle)
{
    WorkSession::file(WorkSession::Queue::Polls);
    emit driver.startRealTimeWork(handle);
}

#endif
