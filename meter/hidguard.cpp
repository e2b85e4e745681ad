#include "hidguard.h"

namespace {

struct Guard {
    std::recursive_mutex mutex;
    // Only read or written with `mutex` held.
    hid_device *openHandle = nullptr;
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

} // namespace HidGuard
