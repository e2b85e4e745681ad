#ifndef ZELMORA_UDEVMONITOR_H
#define ZELMORA_UDEVMONITOR_H

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

// Linux hot-plug: reports every hidraw device that appears or disappears,
// on the thread that owns the monitor. Like the Windows broadcast it does
// not say which device it was.
class UdevHidMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UdevHidMonitor(QObject *parent = nullptr);
    ~UdevHidMonitor() override;

    // False when no netlink monitor could be set up; hot-plug is then absent.
    bool isActive() const { return notifier != nullptr; }
    // "udev" when a udev daemon runs (events after its rules applied), else "kernel".
    const char *eventSource() const { return source; }

signals:
    void arrived();
    void removed();

private:
    void readEvents();

    struct udev *context = nullptr;
    struct udev_monitor *monitor = nullptr;
    QSocketNotifier *notifier = nullptr;
    const char *source = "kernel";
};

#endif
