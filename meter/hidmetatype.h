#ifndef ZELMORA_HIDMETATYPE_H
#define ZELMORA_HIDMETATYPE_H

// hid_device is opaque, so Qt must be told that a pointer to it is a plain
// value before it can be queued to the live worker's thread.

#include <QMetaType>

#include <hidapi.h>

Q_DECLARE_OPAQUE_POINTER(hid_device *)
Q_DECLARE_METATYPE(hid_device *)

#endif
