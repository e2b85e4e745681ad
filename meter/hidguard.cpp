#include "hidguard.h"

namespace {

std::recursive_mutex &guardMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

// Only read or written with the guard held.
hid_device *openHandle = nullptr;

} // namespace

namespace HidGuard {

std::unique_lock<std::recursive_mutex> acquire()
{
    return std::unique_lock<std::recursive_mutex>(guardMutex());
}

void markOpen(hid_device *handle)
{
    openHandle = handle;
}

void markClosed(hid_device *handle)
{
    if (openHandle == handle)
        openHandle = nullptr;
}

bool isOpen(hid_device *handle)
{
    return handle != nullptr && handle == openHandle;
}

} // namespace HidGuard
