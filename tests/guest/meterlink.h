#ifndef ZELMORA_GUEST_METERLINK_H
#define ZELMORA_GUEST_METERLINK_H

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStringList>

class QThread;

// Speaks the UHID meter's line protocol: control lines go to it, its events
// are collected while the event loop runs. The Linux window test runs the
// meter as its child; under Wine, where a Windows program cannot hold a Unix
// program's pipes, the guest runs it with its input and output on two files
// in a folder, and this side appends to one and reads the other.
class MeterLink : public QObject
{
    Q_OBJECT

public:
    explicit MeterLink(QObject *parent = nullptr);
    ~MeterLink() override;

    bool startProcess(const QStringList &arguments, int timeoutMs);
    // The folder holds "control" (appended to) and "events" (read).
    bool attachFiles(const QString &folder, int timeoutMs);

    // Sends one control line and waits until the meter says it took effect.
    bool send(const QString &line, int timeoutMs = 5000);
    // Waits for an event line that starts with prefix, among those after mark.
    bool waitForEvent(const QString &prefix, int mark, int timeoutMs);
    void quit(int timeoutMs);
    // Takes in every line the meter has written so far, even while the event
    // loop was held up (the window's destructor, a start sequence).
    void drain();
    // Once every poll asked of `poller` so far has ended and what it reported
    // has reached this thread, the meter tells every command written until
    // then: counts read after this are complete, however slow the machine.
    bool settle(QThread *poller);

    // Event positions, to look only at what happened after a given moment.
    int mark() const { return events.size(); }
    int count(const QString &prefix, int fromMark = 0) const;
    QStringList eventsSince(int fromMark) const { return events.mid(fromMark); }

private:
    void collect();
    void takeLines(const QByteArray &bytes);
    int find(const QString &prefix, int fromMark) const;
    template <typename Condition>
    bool spinUntil(Condition done, int timeoutMs);

    QProcess process;
    QFile control;
    QFile eventFile;
    QByteArray partialLine;
    QStringList events;
};

#endif
