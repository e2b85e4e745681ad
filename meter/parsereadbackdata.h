#ifndef ZELMORA_PARSEREADBACKDATA_H
#define ZELMORA_PARSEREADBACKDATA_H

#include <QObject>
#include <QStringList>

#include <vector>

// Turns the concatenated reports of one records transfer into one text per
// stored record. Touches no device; lives in its own thread.
class ParseReadBackData : public QObject
{
    Q_OBJECT

public:
    explicit ParseReadBackData(QObject *parent = nullptr);

    // One decode of n = total_num records; always ends in exactly one finish.
    void doReadBackWork(const std::vector<unsigned char> &read_buf, int total_num);

    // Outcome of the most recent decode.
    bool lastReadOk;

signals:
    void finish(QStringList resistanceValues, bool readSuccess);
};

#endif
