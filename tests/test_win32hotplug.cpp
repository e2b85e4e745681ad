// Hot-plug the Windows way: WM_DEVICECHANGE sent to the window's own HWND
// reaches nativeEvent, which runs the arrival or the removal sequence.
// SendMessageW, because Windows (and Wine) refuse to post these messages: their
// wParam marks a message whose lParam is a pointer.
#include "support/windowdriver.h"

#include "win32devicenotify.h"

#include <dbt.h>

using namespace WindowDriver;

namespace {
const QString CONNECTED = QString::fromUtf8("已连接");
const QString NOT_OPEN = QString::fromUtf8("未打开设备");

// What Windows hands over with an interface arriving or leaving.
LRESULT sendDeviceChange(MainWindow &w, WPARAM change)
{
    DEV_BROADCAST_DEVICEINTERFACE_W broadcast;
    ZeroMemory(&broadcast, sizeof(broadcast));
    broadcast.dbcc_size = sizeof(broadcast);
    broadcast.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.dbcc_classguid = GUID_DEVINTERFACE_HID_VALUE;
    return SendMessageW(reinterpret_cast<HWND>(w.winId()), WM_DEVICECHANGE, change,
                        reinterpret_cast<LPARAM>(&broadcast));
}
} // namespace

class Win32HotplugTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLikeMain(); }
    void init() { VirtualMeter::reset(); }
    void cleanup() { verifyMeterNeverMisused(); }

    void windowRegistersForHidInterfaces()
    {
        MainWindow w;
        QVERIFY(registerHidInterfaceNotifications(reinterpret_cast<HWND>(w.winId()),
                                                  GUID_DEVINTERFACE_HID_VALUE));
    }

    void deviceChangeMessages_data()
    {
        QTest::addColumn<quintptr>("change");
        QTest::addColumn<bool>("meterPlugged");
        QTest::newRow("arrival") << quintptr(DBT_DEVICEARRIVAL) << true;
        QTest::newRow("arrival of something else, meter absent") << quintptr(DBT_DEVICEARRIVAL) << false;
        QTest::newRow("removal") << quintptr(DBT_DEVICEREMOVECOMPLETE) << true;
        QTest::newRow("removal asked for, not done") << quintptr(DBT_DEVICEQUERYREMOVE) << true;
        QTest::newRow("device tree changed") << quintptr(DBT_DEVNODES_CHANGED) << true;
    }

    void deviceChangeMessages()
    {
        QFETCH(quintptr, change);
        QFETCH(bool, meterPlugged);
        VirtualMeter::setStoredRecords(records(3));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        start(w);
        QTRY_COMPARE(w.storedModel()->rowCount(), 3);
        tick(w);
        QTRY_COMPARE(liveRows(w), 1);
        hid_device *before = w.meterHandle();
        VirtualMeter::setPlugged(meterPlugged);
        VirtualMeter::clearLog();
        const int countsBefore = VirtualMeter::commandsWritten(0x08);

        sendDeviceChange(w, WPARAM(change));

        const auto log = VirtualMeter::callLog();
        if (change == DBT_DEVICEARRIVAL) {
            // Cleared, then the arrival's own handshake and the whole start sequence.
            QCOMPARE(text(w, "numEdit"), QStringLiteral("0"));
            if (!meterPlugged) {
                QCOMPARE(liveRows(w), 0);
                QCOMPARE(connection(w), NOT_OPEN);
                QCOMPARE(connectionStyle(w), QStringLiteral("color:red;"));
                QVERIFY(looksIdle(w));
                QVERIFY(!w.isSampling());
                return;
            }
            QCOMPARE(VirtualMeter::commandsWritten(0x08) - countsBefore, 2);
            QCOMPARE(connection(w), CONNECTED);
            QVERIFY(looksRunning(w));
            QVERIFY(w.isSampling());
            QCOMPARE(VirtualMeter::openHandleCount(), 1);
            QTRY_COMPARE(w.storedModel()->rowCount(), 3);
            QCOMPARE(liveRows(w), 0);
            tick(w);
            QTRY_COMPARE(liveRows(w), 1);
            QCOMPARE(w.liveModel()->item(0, 0)->text(), QStringLiteral("1"));
        } else if (change == DBT_DEVICEREMOVECOMPLETE) {
            QVERIFY(!w.isSampling());
            QCOMPARE(connection(w), NOT_OPEN);
            QCOMPARE(connectionStyle(w), QStringLiteral("color:red;"));
            QVERIFY(looksIdle(w));
            QCOMPARE(status(w), QString());
            // Nothing reaches the meter; the handle stays held, the rows stay.
            QVERIFY(log.empty());
            QCOMPARE(w.meterHandle(), before);
            QCOMPARE(liveRows(w), 1);
            QCOMPARE(w.storedModel()->rowCount(), 3);
        } else {
            QVERIFY(log.empty());
            QVERIFY(w.isSampling());
            QVERIFY(looksRunning(w));
            QCOMPARE(connection(w), CONNECTED);
            QCOMPARE(w.meterHandle(), before);
            QCOMPARE(liveRows(w), 1);
            QCOMPARE(w.storedModel()->rowCount(), 3);
        }
    }
};

QTEST_MAIN(Win32HotplugTest)
#include "test_win32hotplug.moc"
