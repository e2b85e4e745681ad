// The start sequence's record-count handshake and the stored-record
// download: how many reports are read, what the table and counters show,
// and what the user is told when the transfer or the decoding fails.
#include "support/windowdriver.h"

#include <QProgressBar>
#include <QSignalSpy>

#include <QSemaphore>
#include <QTranslator>

using namespace WindowDriver;
using VirtualMeter::FaultKind;
using VirtualMeter::fault;

namespace {
// Holds the decoder's thread at its first text lookup until released, so that
// the user can act while a decode runs.
struct DecoderHold : QTranslator {
    DecoderHold() { QCoreApplication::installTranslator(this); }
    ~DecoderHold() override { QCoreApplication::removeTranslator(this); }
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *, const char *, int) const override
    {
        if (qstrcmp(context, "ParseReadBackData") == 0 && decoder.testAndSetOrdered(nullptr, QThread::currentThread())) {
            entered.release();
            release.acquire();
        }
        return QString();
    }
    // Lets the decoder go; returns once its thread has worked off every decode
    // queued so far, so that their results wait for this thread.
    void finishDecodes()
    {
        release.release();
        drain(decoder.loadAcquire());
    }
    mutable QAtomicPointer<QThread> decoder;
    mutable QSemaphore entered, release;
};

const QString TRANSFER_FAILED = QString::fromUtf8("数据传输失败");
const QString DECODE_FAILED = QString::fromUtf8("数据传输失败！请重新点击开始按钮。");
} // namespace

class StartSequenceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLikeMain(); }
    void init() { VirtualMeter::reset(); }
    void cleanup() { verifyMeterNeverMisused(); }

    void recordCounts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("reports");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("13 fit one report") << 13 << 1;
        QTest::newRow("14 need two") << 14 << 2;
        QTest::newRow("15") << 15 << 2;
        QTest::newRow("30") << 30 << 3;
        QTest::newRow("45 reads one spare") << 45 << 4;
        QTest::newRow("499 the most") << 499 << 34;
        QTest::newRow("500 too many") << 500 << 0;
    }

    void recordCounts()
    {
        QFETCH(int, count);
        QFETCH(int, reports);
        VirtualMeter::setStoredRecords(records(count));
        MessageBoxCatcher boxes;
        MainWindow w;
        start(w);

        QCOMPARE(connection(w), QString::fromUtf8("已连接"));
        QVERIFY(w.isSampling());
        QCOMPARE(w.storedRecordCount(), count);
        QCOMPARE(readsOf(64), reports);
        QCOMPARE(VirtualMeter::commandsWritten(0x07), reports > 0 ? 1 : 0);
        if (reports == 0) {
            QCOMPARE(w.storedModel()->rowCount(), 0);
            QCOMPARE(text(w, "numSavedEdit"), QStringLiteral("0"));
            return;
        }
        QCOMPARE(status(w), QString::fromUtf8("接收本地数据"));
        TRY_COMPARE(w.storedModel()->rowCount(), count);
        QCOMPARE(text(w, "numSavedEdit"), QString::number(count));
        QCOMPARE(w.findChild<QProgressBar *>("progressBar")->value(), 100);
        QVERIFY(boxes.seen.isEmpty());
        QStandardItemModel *m = w.storedModel();
        for (int r : {0, count / 2, count - 1}) {
            QCOMPARE(m->item(r, 0)->text(), QString::number(r + 1));
            QCOMPARE(m->item(r, 1)->text(), QString::asprintf("%d.%03dmΩ", (r + 1) / 1000, (r + 1) % 1000));
            QCOMPARE(m->item(r, 1)->textAlignment(), Qt::AlignCenter);
            QVERIFY(!m->item(r, 1)->isEditable());
        }
    }

    void progressPassesThirds()
    {
        VirtualMeter::setStoredRecords(records(3));
        MainWindow w;
        QSignalSpy progress(w.findChild<QProgressBar *>("progressBar"), &QProgressBar::valueChanged);
        start(w);
        TRY_COMPARE(w.storedModel()->rowCount(), 3);
        QList<int> values;
        for (const auto &args : progress)
            values << args.first().toInt();
        values.removeAll(0);
        QCOMPARE(values, QList<int>({33, 66, 100}));
    }

    void negativeLastReadWarnsAndKeepsSampling()
    {
        VirtualMeter::setStoredRecords(records(20));
        VirtualMeter::failNext(0x07, fault(FaultKind::Error));
        MessageBoxCatcher boxes;
        MainWindow w;
        QSignalSpy decodes(&w, &MainWindow::startReadBackWork);
        start(w);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.first().title, QString::fromUtf8("错误"));
        QCOMPARE(boxes.seen.first().text, TRANSFER_FAILED);
        QCOMPARE(boxes.seen.first().buttons, int(QMessageBox::Ok));
        QVERIFY(w.isSampling());
        QCOMPARE(decodes.size(), 0); // so no row can come
        QCOMPARE(w.storedModel()->rowCount(), 0);
    }

    void middleTimeoutDoesNotStopTheTransfer()
    {
        // 30 records: three reports; the second read times out once, the
        // rest of the frame arrives one read late and the last block lacks
        // the closing word, so the decoder refuses the frame.
        VirtualMeter::setStoredRecords(records(30));
        VirtualMeter::failNext(0x07, fault(FaultKind::Stall, 1));
        MessageBoxCatcher boxes;
        MainWindow w;
        start(w);
        QCOMPARE(readsOf(64), 3);
        TRY_COMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.first().text, DECODE_FAILED);
        QVERIFY(!boxes.sawText(TRANSFER_FAILED));
        QVERIFY(looksIdle(w));
        QVERIFY(w.isSampling()); // the decoder's failure does not stop live sampling
        QCOMPARE(w.storedModel()->rowCount(), 0);
    }

    void spareReportTimingOutIsNormal()
    {
        VirtualMeter::setStoredRecords(records(45));
        MessageBoxCatcher boxes;
        MainWindow w;
        start(w);
        QCOMPARE(readsOf(64), 4);
        TRY_COMPARE(w.storedModel()->rowCount(), 45);
        QVERIFY(boxes.seen.isEmpty());
    }

    void corruptFrameWarnsDecodeFailure_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("header") << int(FaultKind::WrongHeader);
        QTest::newRow("second header byte") << int(FaultKind::WrongSecondHeader);
        QTest::newRow("type") << int(FaultKind::WrongType);
        QTest::newRow("closing word") << int(FaultKind::WrongClosingWord);
    }

    void corruptFrameWarnsDecodeFailure()
    {
        QFETCH(int, kind);
        VirtualMeter::setStoredRecords(records(10));
        VirtualMeter::failNext(0x07, fault(FaultKind(kind)));
        MessageBoxCatcher boxes;
        MainWindow w;
        start(w);
        TRY_COMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.first().title, QString::fromUtf8("错误"));
        QCOMPARE(boxes.seen.first().text, DECODE_FAILED);
        QVERIFY(looksIdle(w));
        QCOMPARE(w.storedModel()->rowCount(), 0);
        QCOMPARE(text(w, "numSavedEdit"), QStringLiteral("0"));
    }

    void countFromHandshakeNotFromValues()
    {
        // The handshake says 5, the frame carries 5 valid records; a later
        // count override shows that the rows follow the handshake's count.
        VirtualMeter::setStoredRecords(records(5));
        MainWindow w;
        start(w);
        TRY_COMPARE(w.storedModel()->rowCount(), 5);
        QCOMPARE(text(w, "numSavedEdit"), QStringLiteral("5"));
    }

    // A decode still running when a new beginning comes: a start or a reset
    // drops it (no warning over the new beginning, no old rows refilling it),
    // an interval change lets it fill its table, and a replug while its
    // warning is open leaves the new session's buttons alone.
    void aDecodeOnItsWayMeetsABeginning_data()
    {
        QTest::addColumn<QString>("beginning");
        QTest::newRow("reset") << "reset";
        QTest::newRow("start") << "start";
        QTest::newRow("interval change") << "interval change";
        QTest::newRow("arrival while its warning is open") << "arrival in the warning";
    }

    void aDecodeOnItsWayMeetsABeginning()
    {
        QFETCH(QString, beginning);
        DecoderHold hold;
        std::vector<VirtualMeter::Cell> failing = records(3);
        failing[1][2] = 0x03; // an unlisted unit: the decode fails at its second record
        // The interval change is the one beginning this decode survives: there it is a good one.
        VirtualMeter::setStoredRecords(beginning == "interval change" ? records(3) : failing);
        MessageBoxCatcher boxes;
        MainWindow w;
        if (beginning == "arrival in the warning")
            boxes.whileOpen = [&w] { w.handleDeviceArrival(); };
        start(w);
        QVERIFY(hold.entered.tryAcquire(1, NEVER_MS));
        VirtualMeter::setStoredRecords(records(2));
        if (beginning == "reset")
            disconnectAction(w);
        else if (beginning == "start")
            start(w);
        else if (beginning == "interval change")
            spinBox(w)->setValue(1000);
        hold.finishDecodes();
        QCoreApplication::processEvents();
        if (beginning == "reset") {
            QVERIFY(boxes.seen.isEmpty());
            QVERIFY(looksIdle(w));
            QCOMPARE(w.storedModel()->rowCount(), 0);
            QCOMPARE(text(w, "numSavedEdit"), QString::fromUtf8("数据总数"));
            return;
        }
        if (beginning == "arrival in the warning")
            QVERIFY(boxes.sawText(DECODE_FAILED));
        else
            QVERIFY(boxes.seen.isEmpty());
        QVERIFY(looksRunning(w));
        QVERIFY(w.isSampling());
        const int rows = beginning == "interval change" ? 3 : 2;
        TRY_COMPARE(w.storedModel()->rowCount(), rows);
        QCOMPARE(text(w, "numSavedEdit"), QString::number(rows));
        QCOMPARE(w.findChild<QProgressBar *>("progressBar")->value(), 100);
        QVERIFY(looksRunning(w));
    }

    void removalDuringTransferIsHandledAfterIt()
    {
        VirtualMeter::setStoredRecords(records(60));
        MessageBoxCatcher boxes;
        MainWindow w;
        VirtualMeter::onCommandTaken([&w](unsigned char command) {
            if (command != 0x07)
                return;
            VirtualMeter::setPlugged(false);
            // The system's removal notice waits in the GUI thread's queue
            // while the transfer blocks it.
            QMetaObject::invokeMethod(&w, [&w] { w.handleDeviceRemoval(); }, Qt::QueuedConnection);
        });
        start(w);
        QVERIFY(boxes.sawText(TRANSFER_FAILED));
        TRY_VERIFY(!w.isSampling());
        QCOMPARE(connection(w), QString::fromUtf8("未打开设备"));
        QVERIFY(looksIdle(w));
    }
};

QTEST_MAIN(StartSequenceTest)
#include "test_startsequence.moc"
