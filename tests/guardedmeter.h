#ifndef ZELMORA_TESTS_GUARDEDMETER_H
#define ZELMORA_TESTS_GUARDEDMETER_H

// Opening and closing the meter the way the window does: under the HID guard,
// telling the guard which handle is the open one.

#include "hidguard.h"
#include "protocol.h"

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
    auto guard = HidGuard::acquire();
    hid_close(handle);
    HidGuard::markClosed(handle);
    HidGuard::retirePolls();
}

// A poll request as the window makes it: with the ticket current now.
inline quint64 currentTicket() { return HidGuard::pollTicket(); }

#endif
