#include "win32devicenotify.h"

#include <dbt.h>

const GUID GUID_DEVINTERFACE_HID_VALUE = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32,
              "the device-interface filter is 32 bytes");

bool registerHidInterfaceNotifications(HWND window, const GUID &classGuid)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    ZeroMemory(&filter, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = classGuid;
    filter.dbcc_name[0] = L'\0';
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
}

HidDeviceChange hidDeviceChangeOf(const MSG *message)
{
    if (message == nullptr || message->message != WM_DEVICECHANGE)
        return HidDeviceChange::None;
    switch (message->wParam) {
    case DBT_DEVICEARRIVAL:
        return HidDeviceChange::Arrival;
    case DBT_DEVICEREMOVECOMPLETE:
        return HidDeviceChange::Removal;
    default:
        return HidDeviceChange::None;
    }
}
