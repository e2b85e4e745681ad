#ifndef ZELMORA_METERIDENTITY_H
#define ZELMORA_METERIDENTITY_H

// How the hot-plug notifiers tell the meter from every other HID device: from
// the event alone (on removal the device is gone and cannot be asked), with
// the vendor and product ids the meter link opens it by. Plain C++, so that
// both platforms' rules build and are tested everywhere.

// Linux: a hidraw node's device path, ".../<HID device>/hidraw/hidrawN". Only
// the node's HID parent decides, which the kernel names
// "<bus>:<vendor>:<product>.<instance>" in hexadecimal; no other component of
// the path (a hub, a bridge) counts.
bool isMeterHidrawPath(const char *devpath);

// Windows: a device interface's name, such as
// \\?\HID#VID_1A86&PID_E429#7&1a2b3c4d&0&0000#{4d1e55b2-...}; matched in
// either case.
bool isMeterInterfaceName(const wchar_t *name);

#endif
