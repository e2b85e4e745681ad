#ifndef ZELMORA_UDEVMONITOR_H
#define ZELMORA_UDEVMONITOR_H

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

// Linux hot-plug: reports the meter's hidraw node appearing or disappearing,
// on the thread that owns the monitor. Every other HID device (a headset's
// buttons, a mouse's receiver) is passed over: it has nothing to do with the
// log, and acting on it would clear the tables or stop sampling.
class UdevHidMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UdevHidMonitor(QObject *parent = nullptr);
    ~UdevHidMonitor() override;

    // False when no netlink monitor could be set up; hot-plug is then absent.
    bool isActive() const { return notifier != nullptr; }

signals:
    void arrived();
    void removed();

private:
    void readEvents();

    struct udev *context = nullptr;
    struct udev_monitor *monitor = nullptr;
    QSocketNotifier *notifier = nullptr;
};

#endif
