#include "meterlink.h"
#include "../support/waits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

// Keeps the window's event loop turning while waiting: hot-plug events,
// queued worker results and the meter's own output all arrive through it.
template <typename Condition>
bool MeterLink::spinUntil(Condition done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        if (done())
            return true;
        // A start sequence can hold the event loop for seconds; what arrived
        // meanwhile still counts.
        const bool last = deadline.hasExpired();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (last) {
            collect();
            return done();
        }
        QThread::msleep(5);
    }
}

MeterLink::MeterLink(QObject *parent) : QObject(parent)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process, &QProcess::readyReadStandardOutput, this, &MeterLink::collect);
}

MeterLink::~MeterLink()
{
    quit(2000);
}

bool MeterLink::startProcess(const QStringList &arguments, int timeoutMs)
{
    process.start(QStringLiteral("uhid-meter"), arguments);
    if (!process.waitForStarted(timeoutMs))
        return false;
    return waitForEvent(QStringLiteral("ready"), 0, timeoutMs);
}

bool MeterLink::attachFiles(const QString &folder, int timeoutMs)
{
    const QDir dir(folder);
    control.setFileName(dir.filePath(QStringLiteral("control")));
    eventFile.setFileName(dir.filePath(QStringLiteral("events")));
    if (!control.open(QIODevice::WriteOnly | QIODevice::Append) || !eventFile.open(QIODevice::ReadOnly))
        return false;
    return waitForEvent(QStringLiteral("ready"), 0, timeoutMs);
}

bool MeterLink::send(const QString &line, int timeoutMs)
{
    const int from = mark();
    const QByteArray bytes = line.toUtf8() + '\n';
    if (control.isOpen()) {
        control.write(bytes);
        control.flush();
    } else {
        process.write(bytes);
    }
    const QString ok = QStringLiteral("ok ") + line;
    const QString refused = QStringLiteral("error ") + line;
    spinUntil([&] { return events.indexOf(ok, from) >= 0 || events.indexOf(refused, from) >= 0; },
              timeoutMs);
    return events.indexOf(ok, from) >= 0;
}

bool MeterLink::waitForEvent(const QString &prefix, int fromMark, int timeoutMs)
{
    return spinUntil([&] { return find(prefix, fromMark) >= 0; }, timeoutMs);
}

void MeterLink::drain()
{
    if (!control.isOpen()) {
        while (process.waitForReadyRead(100)) {
        }
    }
    collect();
}

void MeterLink::quit(int timeoutMs)
{
    if (control.isOpen()) {
        // The guest ends the meter itself once the test is over.
        control.close();
        eventFile.close();
        return;
    }
    if (process.state() == QProcess::NotRunning)
        return;
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(timeoutMs);
}

int MeterLink::count(const QString &prefix, int fromMark) const
{
    int n = 0;
    for (int i = fromMark; i < events.size(); ++i) {
        if (events.at(i).startsWith(prefix))
            ++n;
    }
    return n;
}

void MeterLink::collect()
{
    if (eventFile.isOpen())
        takeLines(eventFile.readAll());
    else
        takeLines(process.readAllStandardOutput());
}

void MeterLink::takeLines(const QByteArray &bytes)
{
    partialLine += bytes;
    int newline;
    while ((newline = partialLine.indexOf('\n')) >= 0) {
        events << QString::fromUtf8(partialLine.left(newline));
        partialLine.remove(0, newline + 1);
    }
}

int MeterLink::find(const QString &prefix, int fromMark) const
{
    for (int i = fromMark; i < events.size(); ++i) {
        if (events.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}

bool MeterLink::settle(QThread *poller)
{
    if (poller && poller->isRunning())
        ::drain(poller);
    QCoreApplication::sendPostedEvents();
    return send(QStringLiteral("sync"));
}
