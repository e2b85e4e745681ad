// Opening and closing the meter, hot-plug, lost-meter detection and the
// disconnect action. Every HID call sequence holds the process-wide guard,
// so the live poller can never be inside an exchange on the same handle.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QTimer>

#include <cstring>

#include "hidguard.h"
#include "parsereadbackdata.h"
#include "parserealtimedata.h"
#include "protocol.h"
#include "worksession.h"

#ifndef Q_OS_WIN
#include "udevmonitor.h"
#endif

bool MainWindow::openMeter()
{
    // Closed outside the guard, so that sampling ends before the guard is
    // waited for (see closeMeter).
    if (hidHandle)
        closeMeter();
    auto lock = HidGuard::acquire();
    hidHandle = hid_open(METER_VENDOR_ID, METER_PRODUCT_ID, nullptr);
    if (hidHandle) {
        HidGuard::makePollable(hidHandle);
        hid_set_nonblocking(hidHandle, 1);
    }
    return hidHandle != nullptr;
}

void MainWindow::closeMeter()
{
    // Sampling ends before the guard is asked for: once the window holds it,
    // polls requested so far can only find their ticket too old, even if
    // hidapi hands out the next handle at the same address. A poll inside
    // its exchanges is waited for and still reports.
    session.endPolling();
    auto lock = HidGuard::acquire();
    if (hidHandle) {
        HidGuard::retire(hidHandle);
        hid_close(hidHandle);
    }
    hidHandle = nullptr;
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
bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, NativeEventResult *result)
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
    // The meter came back (a bumped cable, a hub reset, a PC waking up): the
    // log the user has not saved yet stays, and sampling goes on numbering
    // after it. The start sequence below begins anew, so nothing from before
    // the arrival reaches the window.
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
    // Polls still queued would only meet a meter that is gone; the one in
    // progress reports what it got.
    session.endPolling();
    showConnection(tr("未打开设备"), "color:red;");
    applyPreset(PRESET_IDLE);
    ui->statusbar->showMessage(tr(""), 0);
}

bool MainWindow::resultCounts(WorkSession::Result which, WorkSession::Ticket *ticket)
{
    // A result a worker sent carries its request's ticket; the window's own
    // calls of its slots belong to the moment they are made.
    const QObject *from = sender();
    const bool fromWorker = from && (from == realTimeWorker || from == readBackWorker);
    WorkSession::Ticket taken = 0;
    bool counts = true;
    if (fromWorker)
        counts = session.takeResult(which, taken);
    else
        taken = session.now();
    if (ticket)
        *ticket = taken;
    return counts;
}

void MainWindow::usbChecker(int readingResult, int rangeResult)
{
    if (!resultCounts(WorkSession::Result::PollStatus))
        return;
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
    // The reset is what the user sees from now on: a poll or a decode
    // requested before it must not add a row to the emptied tables or paint a
    // timed-out meter over the waiting look.
    session.beginAnew();
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
}
