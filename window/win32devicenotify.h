#ifndef ZELMORA_WIN32DEVICENOTIFY_H
#define ZELMORA_WIN32DEVICENOTIFY_H

// The Win32 side of hot-plug, free of Qt so that it can be compile-checked
// with a cross compiler on its own.
#ifndef NOMINMAX
#define NOMINMAX // keep std::min and std::max usable wherever this is included
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// {4D1E55B2-F16F-11CF-88CB-001111000030}: the HID device-interface class.
extern const GUID GUID_DEVINTERFACE_HID_VALUE;

enum class HidDeviceChange { None, Arrival, Removal };

// Asks Windows to send WM_DEVICECHANGE for every interface of the given
// class to the window. The notification handle is neither kept nor released.
bool registerHidInterfaceNotifications(HWND window, const GUID &classGuid);

// What a window message says about the meter: only WM_DEVICECHANGE with
// DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE counts, and only for a device
// interface that isMeterInterfaceName() takes for the meter. Any other HID
// device coming or going (a headset, a mouse's receiver) is None: it must not
// touch the log.
HidDeviceChange hidDeviceChangeOf(const MSG *message);

#endif
