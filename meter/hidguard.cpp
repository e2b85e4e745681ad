#include "hidguard.h"

namespace {

struct Guard {
    std::recursive_mutex mutex;
    // Only read or written with `mutex` held.
    hid_device *pollable = nullptr;
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
    return std::unique_lock<std::recursive_mutex>(guard().mutex);
}

void makePollable(hid_device *handle)
{
    guard().pollable = handle;
}

void retire(hid_device *handle)
{
    if (guard().pollable == handle)
        guard().pollable = nullptr;
}

bool isPollable(hid_device *handle)
{
    return handle != nullptr && handle == guard().pollable;
}

} // namespace HidGuard
