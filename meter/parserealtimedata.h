#ifndef ZELMORA_PARSEREALTIMEDATA_H
#define ZELMORA_PARSEREALTIMEDATA_H

#include <QObject>
#include <QStringList>

#include <hidapi.h>

#include "hidmetatype.h"

// Takes one live sample per request: the reading exchange and the range
// exchange, back to back, then the three display texts. Lives in its own
// thread; requests arrive queued, results leave as signals.
class ParseRealTimeData : public QObject
{
    Q_OBJECT

public:
    // Also registers hid_device* with the meta-type system, so that whoever
    // creates the worker can queue requests to it right away.
    explicit ParseRealTimeData(QObject *parent = nullptr);

    // One poll on the handle the request carries, holding the HID guard for
    // its exchanges. A handle polls may no longer use, or a request from
    // before a stop, a close or a new beginning (WorkSession), is not touched
    // and nothing is emitted.
    void doRealTimeWork(hid_device *handle);

    // Decodes the two replies of a poll (12 and 11 bytes) into the three lists.
    // False when the sample is lost altogether (a reading with an unlisted
    // unit), in which case the lists are left empty.
    static bool decodeSample(const unsigned char *readingReply, const unsigned char *rangeReply,
                             QStringList &modeList, QStringList &rangeList, QStringList &valueList);

signals:
    void finish(QStringList, QStringList, QStringList);
    void signalUsb(int, int);
};

#endif
