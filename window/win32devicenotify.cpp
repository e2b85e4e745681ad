#include "win32devicenotify.h"

#include <dbt.h>

#include "meteridentity.h"

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
    if (message->wParam != DBT_DEVICEARRIVAL && message->wParam != DBT_DEVICEREMOVECOMPLETE)
        return HidDeviceChange::None;
    // With these two changes lParam points at the broadcast; one that names
    // no device interface cannot be the meter.
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(message->lParam);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return HidDeviceChange::None;
    if (!isMeterInterfaceName(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(header)->dbcc_name))
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
