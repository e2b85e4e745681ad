// The program's fixed pauses with the real clock (Sleep on Windows) instead
// of the virtual meter's simulated one: the meter gets its quiet time before
// it is opened again.
#include "support/windowdriver.h"

#include <QElapsedTimer>

using namespace WindowDriver;

class RealPauseTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLikeMain(); }
    void init() { VirtualMeter::reset(); }
    void cleanup() { verifyMeterNeverMisused(); }

    void pausesBeforeReopening_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("recordCountsWritten");
        QTest::newRow("start while sampling") << "start" << 800 << 1;
        QTest::newRow("interval change") << "interval" << 600 << 0;
        // The arrival's own handshake, then the start sequence's after the pause.
        QTest::newRow("device arrival") << "arrival" << 800 << 2;
    }

    void pausesBeforeReopening()
    {
        QFETCH(QString, event);
        QFETCH(int, pauseMs);
        QFETCH(int, recordCountsWritten);
        MainWindow w;
        start(w);
        QVERIFY(w.isSampling());
        const int countsBefore = VirtualMeter::commandsWritten(0x08);

        QElapsedTimer elapsed;
        elapsed.start();
        if (event == "start")
            start(w);
        else if (event == "interval")
            spinBox(w)->setValue(1000);
        else
            w.handleDeviceArrival();
        const qint64 took = elapsed.elapsed();

        QVERIFY2(took >= pauseMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
        // The virtual meter answers at once, so the pause alone took the time.
        QCOMPARE(VirtualMeter::simulatedMs(), qint64(0));
        QVERIFY(w.isSampling());
        QVERIFY(looksRunning(w));
        QCOMPARE(VirtualMeter::commandsWritten(0x08) - countsBefore, recordCountsWritten);
        QCOMPARE(VirtualMeter::openHandleCount(), 1);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
    }
};

QTEST_MAIN(RealPauseTest)
#include "test_realpause.moc"
