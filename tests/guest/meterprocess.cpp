#include "meterprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// Keeps the window's event loop turning while waiting: hot-plug events,
// queued worker results and the meter's own output all arrive through it.
template <typename Condition>
bool spinUntil(Condition done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        // A start sequence can hold the event loop for seconds; what arrived
        // meanwhile still counts.
        const bool last = deadline.hasExpired();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (last)
            return done();
        QThread::msleep(5);
    }
    return true;
}

} // namespace

MeterProcess::MeterProcess(QObject *parent) : QObject(parent)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process, &QProcess::readyReadStandardOutput, this, &MeterProcess::collect);
}

MeterProcess::~MeterProcess()
{
    quit(2000);
}

bool MeterProcess::start(const QStringList &arguments, int timeoutMs)
{
    process.start(QStringLiteral("uhid-meter"), arguments);
    if (!process.waitForStarted(timeoutMs))
        return false;
    return waitForEvent(QStringLiteral("ready"), 0, timeoutMs);
}

bool MeterProcess::send(const QString &line, int timeoutMs)
{
    const int from = mark();
    process.write(line.toUtf8() + '\n');
    const QString ok = QStringLiteral("ok ") + line;
    const QString refused = QStringLiteral("error ") + line;
    spinUntil([&] { return events.indexOf(ok, from) >= 0 || events.indexOf(refused, from) >= 0; },
              timeoutMs);
    return events.indexOf(ok, from) >= 0;
}

bool MeterProcess::waitForEvent(const QString &prefix, int fromMark, int timeoutMs)
{
    return spinUntil([&] { return find(prefix, fromMark) >= 0; }, timeoutMs);
}

void MeterProcess::drain()
{
    while (process.waitForReadyRead(100)) {
    }
    collect();
}

void MeterProcess::quit(int timeoutMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(timeoutMs);
}

int MeterProcess::count(const QString &prefix, int fromMark) const
{
    int n = 0;
    for (int i = fromMark; i < events.size(); ++i) {
        if (events.at(i).startsWith(prefix))
            ++n;
    }
    return n;
}

void MeterProcess::collect()
{
    partialLine += process.readAllStandardOutput();
    int newline;
    while ((newline = partialLine.indexOf('\n')) >= 0) {
        events << QString::fromUtf8(partialLine.left(newline));
        partialLine.remove(0, newline + 1);
    }
}

int MeterProcess::find(const QString &prefix, int fromMark) const
{
    for (int i = fromMark; i < events.size(); ++i) {
        if (events.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}
