#ifndef ZELMORA_GUEST_METERPROCESS_H
#define ZELMORA_GUEST_METERPROCESS_H

#include <QObject>
#include <QProcess>
#include <QStringList>

// Runs the UHID meter as a child process and speaks its line protocol: control
// lines go to its standard input, its events are collected from its standard
// output while the event loop runs.
class MeterProcess : public QObject
{
    Q_OBJECT

public:
    explicit MeterProcess(QObject *parent = nullptr);
    ~MeterProcess() override;

    bool start(const QStringList &arguments, int timeoutMs);
    // Sends one control line and waits until the meter says it took effect.
    bool send(const QString &line, int timeoutMs = 5000);
    // Waits for an event line that starts with prefix, among those after mark.
    bool waitForEvent(const QString &prefix, int mark, int timeoutMs);
    void quit(int timeoutMs);
    // Takes in every line the meter has written so far, even while the event
    // loop was held up (the window's destructor, a start sequence).
    void drain();

    // Event positions, to look only at what happened after a given moment.
    int mark() const { return events.size(); }
    int count(const QString &prefix, int fromMark = 0) const;
    QStringList eventsSince(int fromMark) const { return events.mid(fromMark); }

private:
    void collect();
    int find(const QString &prefix, int fromMark) const;

    QProcess process;
    QByteArray partialLine;
    QStringList events;
};

#endif
