// Opening and closing the meter, hot-plug, lost-meter detection and the
// disconnect action. Every HID call sequence holds the process-wide guard,
// so the live poller can never be inside an exchange on the same handle.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <cstring>

#include "hidguard.h"
#include "parserealtimedata.h"
#include "protocol.h"

#ifndef Q_OS_WIN
#include "udevmonitor.h"
#endif

bool MainWindow::openMeter()
{
    auto lock = HidGuard::acquire();
    if (hidHandle)
        closeMeter();
    hidHandle = hid_open(METER_VENDOR_ID, METER_PRODUCT_ID, nullptr);
    if (hidHandle) {
        HidGuard::markOpen(hidHandle);
        hid_set_nonblocking(hidHandle, 1);
    }
    return hidHandle != nullptr;
}

void MainWindow::closeMeter()
{
    // Taking the guard waits for a poll inside its exchanges (the poller lets
    // a waiting closer go first); polls requested before the close then find
    // their ticket retired and do nothing, even if hidapi hands out the next
    // handle at the same address.
    auto lock = HidGuard::acquire();
    if (hidHandle) {
        HidGuard::markClosed(hidHandle);
        HidGuard::retirePolls();
        hid_close(hidHandle);
    }
    hidHandle = nullptr;
}

void MainWindow::dropPollsRequestedSoFar()
{
    // Under the guard no poll is running, and a poll emits its results before
    // it lets the guard go: whatever a poll requested before now will report
    // is either queued to this window already, and removed here, or will never
    // be reported, as its ticket is retired. A stored-record result still
    // queued goes the same way: it would refill the table just emptied.
    auto lock = HidGuard::acquire();
    HidGuard::retirePolls();
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

int MainWindow::recordCountExchange(unsigned char *reply)
{
    auto lock = HidGuard::acquire();
    const auto command = commandReport(CMD_GET_RECORD_COUNT);
    lastIoResult = hid_write(hidHandle, command.data(), command.size());
    std::memset(reply, 0, RECORD_COUNT_REPLY_SIZE);
    lastIoResult = hid_read_timeout(hidHandle, reply, RECORD_COUNT_REPLY_SIZE, REPLY_TIMEOUT_MS);
    return lastIoResult;
}

bool MainWindow::registerDeviceNotifications()
{
#ifdef Q_OS_WIN
    return registerHidInterfaceNotifications(reinterpret_cast<HWND>(winId()), hidClassGuid);
#else
    hotplugMonitor = new UdevHidMonitor(this);
    connect(hotplugMonitor, &UdevHidMonitor::arrived, this, &MainWindow::handleDeviceArrival);
    connect(hotplugMonitor, &UdevHidMonitor::removed, this, &MainWindow::handleDeviceRemoval);
    return hotplugMonitor->isActive();
#endif
}

#ifdef Q_OS_WIN
bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(eventType);
    Q_UNUSED(result);
    switch (hidDeviceChangeOf(static_cast<const MSG *>(message))) {
    case HidDeviceChange::Arrival:
        handleDeviceArrival();
        break;
    case HidDeviceChange::Removal:
        handleDeviceRemoval();
        break;
    case HidDeviceChange::None:
        break;
    }
    return false;
}
#endif

void MainWindow::handleDeviceArrival()
{
    on_clearAct_triggered();
    if (openMeter()) {
        // The answer is not examined, only read, so that it cannot be taken
        // for the reply to the next command.
        unsigned char reply[RECORD_COUNT_REPLY_SIZE];
        recordCountExchange(reply);
        deviceConnected = true;
    }
    emit signalArrival();
}

void MainWindow::handleDeviceRemoval()
{
    if (sampleTimer->isActive())
        sampleTimer->stop();
    showConnection(tr("未打开设备"), "color:red;");
    applyPreset(PRESET_IDLE);
    ui->statusbar->showMessage(tr(""), 0);
}

void MainWindow::usbChecker(int readingResult, int rangeResult)
{
    if (readingResult != 0 && rangeResult != 0)
        return;
    if (sampleTimer->isActive()) {
        sampleTimer->stop();
        closeMeter();
    }
    showConnection(tr("未打开设备"), "color:red;");
    applyPreset(PRESET_IDLE);
    ui->statusbar->showMessage(tr(""), 0);
}

void MainWindow::on_closeAct_triggered()
{
    ui->statusbar->showMessage(tr(""), 0);
    const bool wasSampling = sampleTimer->isActive();
    initWindowState();
    if (sampleTimer->isActive()) {
        sampleTimer->stop();
        if (deviceConnected) {
            closeMeter();
            deviceConnected = false;
        }
    } else if (wasSampling) {
        // Putting the spin box back to 500 ran an interval change whose
        // reopen failed: the meter is already closed, and it is let go of
        // just as if the reopen had worked.
        deviceConnected = false;
    }
    // That interval change runs whenever the meter was ever opened, sampling
    // or not, and a failed reopen paints "not opened" over the reset: the
    // action ends in the waiting look whatever state it started from.
    showConnection(tr("等待连接···"), "color:black;");
    applyPreset(PRESET_IDLE);
    // The reset is what the user sees from now on: a poll requested before it
    // must not add a row to the emptied table or paint a timed-out meter over
    // the waiting look.
    dropPollsRequestedSoFar();
}
