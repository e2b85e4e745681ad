#include "udevmonitor.h"

#include "meteridentity.h"

#include <QSocketNotifier>

#include <cstring>
#include <libudev.h>
#include <unistd.h>

UdevHidMonitor::UdevHidMonitor(QObject *parent)
    : QObject(parent)
{
    context = udev_new();
    if (!context)
        return;
    // Where a udev daemon runs, its events come after the device node got
    // its permissions; listening to the kernel then would race the rules.
    // Without a daemon (containers, minimal systems) only the kernel speaks.
    const char *source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    monitor = udev_monitor_new_from_netlink(context, source);
    if (!monitor)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0) {
        return;
    }
    notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UdevHidMonitor::readEvents);
}

UdevHidMonitor::~UdevHidMonitor()
{
    delete notifier;
    if (monitor)
        udev_monitor_unref(monitor);
    if (context)
        udev_unref(context);
}

void UdevHidMonitor::readEvents()
{
    // The socket is non-blocking: drain everything that is queued.
    while (struct udev_device *device = udev_monitor_receive_device(monitor)) {
        const char *action = udev_device_get_action(device);
        const bool meter = isMeterHidrawPath(udev_device_get_devpath(device));
        const bool added = meter && action && std::strcmp(action, "add") == 0;
        const bool gone = meter && action && std::strcmp(action, "remove") == 0;
        udev_device_unref(device);
        if (added)
            emit arrived();
        else if (gone)
            emit removed();
    }
}
