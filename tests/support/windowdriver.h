#ifndef ZELMORA_TESTS_WINDOWDRIVER_H
#define ZELMORA_TESTS_WINDOWDRIVER_H

// What the window tests share: pressing the window's controls by name,
// simulated ticks, and answering the message boxes the window pops up.

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <functional>

#include "mainwindow.h"
#include "virtualmeter.h"
#include "waits.h"

namespace WindowDriver {

// What main() registers before the window exists.
inline void registerLikeMain()
{
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");
}

inline void invoke(MainWindow &w, const char *slot)
{
    QVERIFY2(QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection), slot);
}

inline void start(MainWindow &w) { invoke(w, "on_readbackBtn_clicked"); }
inline void stop(MainWindow &w) { invoke(w, "on_pushButton_clicked"); }
inline void disconnectAction(MainWindow &w) { invoke(w, "on_closeAct_triggered"); }
inline void clear(MainWindow &w) { invoke(w, "on_clearAct_triggered"); }
// One tick of the sample timer, without waiting for the timer.
inline void tick(MainWindow &w) { invoke(w, "readRealTimeData"); }

// Withholds the sample timer's ticks while the blocker lives: the window
// samples on (the timer runs, isSampling() says so), but only the test's
// tick()s poll, so a machine slow enough for the timer to fire adds no row
// to those the test counts. The timer is the window's only timer of its own.
inline QSignalBlocker holdSampleTimer(MainWindow &w)
{
    const QList<QTimer *> timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    if (timers.size() != 1)
        qFatal("the window has %d timers of its own; which one samples?", int(timers.size()));
    return QSignalBlocker(timers.first());
}

inline QString text(MainWindow &w, const char *lineEdit) { return w.findChild<QLineEdit *>(lineEdit)->text(); }
inline QString connection(MainWindow &w) { return text(w, "connectEdit"); }
inline QString connectionStyle(MainWindow &w) { return w.findChild<QLineEdit *>("connectEdit")->styleSheet(); }
inline QString startStyle(MainWindow &w) { return w.findChild<QPushButton *>("readbackBtn")->styleSheet(); }
inline QString stopStyle(MainWindow &w) { return w.findChild<QPushButton *>("pushButton")->styleSheet(); }
inline QString status(MainWindow &w) { return w.statusBar()->currentMessage(); }
inline QSpinBox *spinBox(MainWindow &w) { return w.findChild<QSpinBox *>("spinBox"); }
inline int liveRows(MainWindow &w) { return w.liveModel()->rowCount(); }

inline bool looksIdle(MainWindow &w)
{
    return startStyle(w) == QLatin1String(START_STYLE_IDLE) && stopStyle(w) == QLatin1String(STOP_STYLE_IDLE);
}
inline bool looksRunning(MainWindow &w)
{
    return startStyle(w) == QLatin1String(START_STYLE_ACTIVE) && stopStyle(w) == QLatin1String(STOP_STYLE_IDLE);
}
inline bool looksStopped(MainWindow &w)
{
    return startStyle(w) == QLatin1String(START_STYLE_IDLE) && stopStyle(w) == QLatin1String(STOP_STYLE_ACTIVE);
}

// Whatever a test did, the meter never saw a call on a closed or unknown
// handle, nor two exchanges mixed up.
inline void verifyMeterNeverMisused()
{
    QCOMPARE(VirtualMeter::closedHandleCalls(), 0);
    QCOMPARE(VirtualMeter::unknownHandleCalls(), 0);
    QCOMPARE(VirtualMeter::interleavedCommands(), 0);
    QCOMPARE(VirtualMeter::concurrentCalls(), 0);
}

// Every poll asked for so far has ended, and what it reported has reached the window.
inline void finishPolls(MainWindow &w)
{
    if (w.pollerThread() && w.pollerThread()->isRunning())
        drain(w.pollerThread());
    QCoreApplication::sendPostedEvents();
}

// Answers every message box that opens while it lives, remembering title and
// text, so that a modal warning never blocks a test.
class MessageBoxCatcher : public QObject
{
public:
    struct Seen {
        QString title;
        QString text;
        int buttons;
    };

    MessageBoxCatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { answer(); });
        timer.start();
    }

    QList<Seen> seen;
    // Runs once, inside the first box's own event loop, before it is answered.
    std::function<void()> whileOpen;

    bool sawText(const QString &t) const
    {
        for (const Seen &s : seen) {
            if (s.text == t)
                return true;
        }
        return false;
    }

private:
    void answer()
    {
        if (whileOpen && boxOpen()) {
            const std::function<void()> then = std::move(whileOpen);
            whileOpen = nullptr;
            then();
        }
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            seen << Seen{box->windowTitle(), box->text(), int(box->standardButtons())};
            box->done(QMessageBox::Ok);
        }
    }

    static bool boxOpen()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
                return true;
        }
        return false;
    }

    QTimer timer;
};

inline std::vector<VirtualMeter::Cell> records(int n)
{
    std::vector<VirtualMeter::Cell> cells;
    for (int i = 0; i < n; ++i) {
        // raw i+1 with divisor 1000 and 3 decimals in mΩ: record r reads (r+1)/1000 mΩ.
        const int raw = i + 1;
        cells.push_back({static_cast<unsigned char>(raw & 0xFF), static_cast<unsigned char>(raw >> 8), 0x01, 0x04});
    }
    return cells;
}

// Opens the meter through the start button and collects `readings` live rows
// and `stored` stored rows. The sample timer runs at 5 s, so rows come only
// from the ticks the test makes.
inline void connectWithRows(MainWindow &w, int readings, int stored)
{
    VirtualMeter::setStoredRecords(records(stored));
    spinBox(w)->setValue(5000);
    start(w);
    QVERIFY(w.isDeviceConnected());
    TRY_COMPARE(w.storedModel()->rowCount(), stored);
    for (int i = 0; i < readings; ++i) {
        tick(w);
        TRY_COMPARE(w.liveModel()->rowCount(), i + 1);
    }
}

inline int readsOf(unsigned int length)
{
    int count = 0;
    for (const auto &call : VirtualMeter::callLog()) {
        if (call.function == "hid_read_timeout" && call.length == length)
            ++count;
    }
    return count;
}

} // namespace WindowDriver

#endif
