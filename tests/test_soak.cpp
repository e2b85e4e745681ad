// A long random run of user and device events against the real window and
// workers: starts, stops, interval changes, clears, disconnects, plugging,
// unplugging, and a meter that is silent, slow, wrong or failing. Afterwards
// nothing crashed, no HID call reached a closed handle, no two exchanges were
// mixed, and the live table holds every accepted reading exactly once.
#include "support/windowdriver.h"

#include "parserealtimedata.h"
#include "protocol.h"

#include <QSpinBox>

#include <algorithm>
#include <atomic>
#include <random>

using namespace WindowDriver;
using VirtualMeter::FaultKind;
using VirtualMeter::fault;

namespace {

// Every reading the meter gives is different: k thousandths of a milliohm.
std::atomic<int> readingCounter{0};

void nextReading()
{
    const int k = (readingCounter.fetch_add(1) % 131000) + 1;
    const bool high = k > 65535;
    const int low = high ? k - 65536 : k;
    VirtualMeter::setReading({static_cast<unsigned char>(low & 0xFF), static_cast<unsigned char>(low >> 8), 0x01,
                              static_cast<unsigned char>(high ? 0x14 : 0x04)});
}

struct Sample {
    std::uint64_t endSequence;
    QString mode, range, value;
};

// Rebuilds, from the meter's log, every poll the live worker made and keeps
// those whose replies make a complete sample: what the window must show.
QList<Sample> acceptedSamples(std::thread::id guiThread)
{
    QList<Sample> samples;
    std::array<unsigned char, 64> reading{}, range{};
    int readingResult = 0;
    bool haveReading = false;
    for (const auto &call : VirtualMeter::callLog()) {
        if (call.thread == guiThread || call.function != "hid_read_timeout")
            continue;
        if (call.length == READING_REPLY_SIZE) {
            reading.fill(0);
            std::copy(call.bytes.begin(), call.bytes.end(), reading.begin());
            readingResult = call.result;
            haveReading = true;
        } else if (call.length == RANGE_REPLY_SIZE && haveReading) {
            haveReading = false;
            range.fill(0);
            std::copy(call.bytes.begin(), call.bytes.end(), range.begin());
            if (readingResult < 0 || call.result < 0)
                continue;
            QStringList modes, ranges, values;
            if (!ParseRealTimeData::decodeSample(reading.data(), range.data(), modes, ranges, values))
                continue;
            if (modes.isEmpty() || ranges.isEmpty() || values.isEmpty())
                continue;
            samples << Sample{call.sequence, modes.first(), ranges.first(), values.first()};
        }
    }
    return samples;
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLikeMain(); }

    void randomEvents()
    {
        VirtualMeter::reset();
        VirtualMeter::setLogCapacity(5000000);
        VirtualMeter::setReadingProvider(nextReading);
        nextReading();

        const unsigned seed = qEnvironmentVariableIsSet("ZELMORA_SOAK_SEED")
                                  ? qEnvironmentVariableIntValue("ZELMORA_SOAK_SEED")
                                  : 20261208u;
        const int events = qEnvironmentVariableIsSet("ZELMORA_SOAK_EVENTS")
                               ? qEnvironmentVariableIntValue("ZELMORA_SOAK_EVENTS")
                               : 2500;
        qInfo("seed %u, %d events", seed, events);
        std::mt19937 random(seed);
        auto pick = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };

        MessageBoxCatcher boxes;
        MainWindow w;
        w.show();
        const std::thread::id gui = std::this_thread::get_id();
        std::uint64_t epochStart = 0; // log position of the last emptying of the live table
        int checkpoints = 0;
        int maxRows = 0;

        auto lastSequence = [] {
            const auto log = VirtualMeter::callLog();
            return log.empty() ? std::uint64_t(0) : log.back().sequence;
        };

        // A new beginning drops a reading still on its way to the window, as
        // it belongs to before; the polls after it belong to the new session.
        // So it may have dropped the polls that ended from the last check (which
        // delivered everything ended before it) to the log's position once the
        // beginning has returned, and no other.
        std::uint64_t delivered = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> beginnings;
        auto droppedByABeginning = [&](const Sample &s) {
            return std::any_of(beginnings.begin(), beginnings.end(), [&](const auto &b) {
                return s.endSequence >= b.first && s.endSequence < b.second;
            });
        };

        // The live table must be the accepted samples in order, each once,
        // covering everything accepted since it was last emptied except what
        // a new beginning dropped on its way.
        auto checkTable = [&](const char *when) {
            // Every poll asked for ends, and what it reported reaches the window.
            finishPolls(w);
            const std::uint64_t before = delivered = lastSequence();
            const QList<Sample> accepted = acceptedSamples(gui);
            QStandardItemModel *m = w.liveModel();
            const int rows = m->rowCount();
            maxRows = std::max(maxRows, rows);
            auto verifyShownOrDropped = [&](int from, int to) {
                for (int i = from; i < to; ++i) {
                    const Sample &s = accepted[i];
                    if (s.endSequence < epochStart || s.endSequence > before || droppedByABeginning(s))
                        continue;
                    QVERIFY2(false, qPrintable(QString("%1: accepted %2 is not in the table").arg(when, s.value)));
                }
            };
            int next = 0;
            for (int r = 0; r < rows; ++r) {
                const QString value = m->item(r, 4)->text();
                int at = next;
                while (at < accepted.size() && accepted[at].value != value)
                    ++at;
                QVERIFY2(at < accepted.size(),
                         qPrintable(QString("%1: row %2 shows %3, never accepted after row %4")
                                        .arg(when).arg(r + 1).arg(value).arg(r)));
                verifyShownOrDropped(next, at);
                if (QTest::currentTestFailed())
                    return;
                const Sample &s = accepted[at];
                QCOMPARE(m->item(r, 2)->text(), s.mode);
                QCOMPARE(m->item(r, 3)->text(), s.range);
                QCOMPARE(m->item(r, 0)->text(), QString::number(r + 1));
                next = at + 1;
            }
            verifyShownOrDropped(next, accepted.size());
            verifyMeterNeverMisused();
            ++checkpoints;
        };
        auto beginning = [&](auto action) {
            action();
            beginnings.emplace_back(delivered, lastSequence() + 1);
            // The new session's first poll, at once: it is no reading of before.
            if (pick(2) == 0)
                tick(w);
        };

        // Emptying the table starts a new run of expected rows.
        auto emptying = [&](const char *what, auto action) {
            checkTable(what);
            if (QTest::currentTestFailed())
                return;
            epochStart = lastSequence() + 1;
            action();
        };

        const unsigned char commands[] = {0x05, 0x0A, 0x08, 0x07};
        for (int e = 0; e < events && !QTest::currentTestFailed(); ++e) {
            const unsigned char command = commands[pick(4)];
            switch (pick(40)) {
            case 0:
            case 1:
                // Start keeps the live rows; only the stored table is emptied.
                if (pick(3) == 0)
                    VirtualMeter::setStoredRecords(records(pick(60)));
                beginning([&] { start(w); });
                break;
            case 2:
            case 3:
                stop(w);
                break;
            case 4:
            case 5:
                beginning([&] { spinBox(w)->setValue(100 + 50 * pick(99)); });
                break;
            case 6:
                emptying("clear", [&] { clear(w); });
                break;
            case 7:
                emptying("disconnect", [&] { disconnectAction(w); });
                break;
            case 15:
                // The meter's own return keeps the log, like a start.
                VirtualMeter::setPlugged(true);
                beginning([&] { w.handleDeviceArrival(); });
                break;
            case 16:
                VirtualMeter::setPlugged(false);
                w.handleDeviceRemoval();
                break;
            case 8:
                VirtualMeter::failNext(command, fault(FaultKind::NoAnswer));
                break;
            case 9: {
                const FaultKind garbage[] = {FaultKind::WrongHeader, FaultKind::WrongSecondHeader,
                                             FaultKind::WrongType, FaultKind::WrongEcho,
                                             FaultKind::WrongClosingWord, FaultKind::ShortReport};
                VirtualMeter::failNext(command, fault(garbage[pick(6)]));
                break;
            }
            case 10: {
                // One report of noise: a meter that sent more reports than it
                // was asked for would have every later reply misread.
                std::vector<std::vector<unsigned char>> reports(1);
                for (auto &report : reports) {
                    report.resize(1 + pick(64));
                    for (auto &byte : report)
                        byte = static_cast<unsigned char>(pick(256));
                    if (pick(2) == 0 && report.size() > 5) {
                        report[1] = 0xAB; // often enough past the first check
                        report[5] = static_cast<unsigned char>(0x52 + pick(3));
                    }
                }
                VirtualMeter::failNext(command, VirtualMeter::customReply(reports));
                break;
            }
            case 11:
                VirtualMeter::failNext(command, fault(FaultKind::Slow, 2 + pick(25)));
                break;
            case 12:
                VirtualMeter::failNext(command, fault(FaultKind::Error));
                break;
            case 13:
                VirtualMeter::setRange(static_cast<unsigned char>(pick(2)), static_cast<unsigned char>(pick(12)));
                break;
            case 14:
                checkTable("check");
                break;
            default:
                for (int t = pick(4); t >= 0; --t)
                    tick(w);
                break;
            }
            QTest::qWait(pick(4)); // random pacing, in which the sample timer runs
        }
        if (QTest::currentTestFailed())
            return;

        VirtualMeter::clearFaults();
        VirtualMeter::setPlugged(true);
        checkTable("end");
        qInfo("%d checkpoints, %d polls answered, at most %d rows, %d message boxes answered", checkpoints,
              readingCounter.load(), maxRows, int(boxes.seen.size()));
        QVERIFY(checkpoints > 30);
        QVERIFY(readingCounter.load() > 500);
        QVERIFY(maxRows > 20);
    }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
