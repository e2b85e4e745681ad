// Hot-plug the Windows way: WM_DEVICECHANGE sent to the window's own HWND
// reaches nativeEvent, which runs the arrival or the removal sequence.
// SendMessageW, because Windows (and Wine) refuse to post these messages: their
// wParam marks a message whose lParam is a pointer.
#include "support/windowdriver.h"

#include "win32devicenotify.h"

#include <dbt.h>

#include <cstddef>
#include <vector>

using namespace WindowDriver;

namespace {
const QString CONNECTED = QString::fromUtf8("已连接");
const QString NOT_OPEN = QString::fromUtf8("未打开设备");

const QString METER_INTERFACE = QStringLiteral(
    "\\\\?\\HID#VID_1A86&PID_E429#7&2a3b4c5d&0&0000#{4d1e55b2-f16f-11cf-88cb-111100000030}");

// What Windows hands over with a device arriving or leaving: a broadcast of
// the given kind, its name running past the structure where an interface's
// name would be.
LRESULT sendDeviceChange(MainWindow &w, WPARAM change, DWORD deviceType, const QString &name)
{
    // DWORDs keep the broadcast aligned.
    std::vector<DWORD> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) / sizeof(DWORD) + name.size() + 1, 0);
    auto *broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(buffer.data());
    broadcast->dbcc_size = DWORD(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t));
    broadcast->dbcc_devicetype = deviceType;
    broadcast->dbcc_classguid = GUID_DEVINTERFACE_HID_VALUE;
    name.toWCharArray(broadcast->dbcc_name);
    return SendMessageW(reinterpret_cast<HWND>(w.winId()), WM_DEVICECHANGE, change,
                        reinterpret_cast<LPARAM>(broadcast));
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
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        QVERIFY(registerHidInterfaceNotifications(reinterpret_cast<HWND>(w.winId()),
                                                  GUID_DEVINTERFACE_HID_VALUE));
    }

    void deviceChangeMessages_data()
    {
        QTest::addColumn<quintptr>("change");
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("meterPlugged");
        QTest::addColumn<QString>("seen"); // what the window makes of it: arrival, removal or nothing
        const quintptr arrival = DBT_DEVICEARRIVAL;
        const quintptr removal = DBT_DEVICEREMOVECOMPLETE;
        const int interface = DBT_DEVTYP_DEVICEINTERFACE;
        const QString headset = QStringLiteral("\\\\?\\HID#VID_0D8C&PID_0012&MI_03#8&1c2d3e4f&0&0000#{4d1e55b2-f16f-11cf-88cb-111100000030}");
        QTest::newRow("arrival") << arrival << interface << METER_INTERFACE << true << "arrival";
        QTest::newRow("arrival, meter gone again") << arrival << interface << METER_INTERFACE << false << "arrival";
        QTest::newRow("removal, name in lower case") << removal << interface << METER_INTERFACE.toLower() << true << "removal";
        // Nothing the user asked for: the log and the connection stay.
        QTest::newRow("another HID device arrives") << arrival << interface << headset << true << "nothing";
        QTest::newRow("another HID device leaves") << removal << interface << headset << true << "nothing";
        // A broadcast of another kind names no interface, whatever its bytes
        // where an interface's name would be.
        QTest::newRow("arrival of a port spelling the meter's name")
            << arrival << int(DBT_DEVTYP_PORT) << METER_INTERFACE << true << "nothing";
        QTest::newRow("removal of a volume, no name") << removal << int(DBT_DEVTYP_VOLUME) << QString() << true << "nothing";
        QTest::newRow("removal asked for, not done")
            << quintptr(DBT_DEVICEQUERYREMOVE) << interface << METER_INTERFACE << true << "nothing";
        QTest::newRow("device tree changed") << quintptr(DBT_DEVNODES_CHANGED) << interface << METER_INTERFACE << true << "nothing";
    }

    void deviceChangeMessages()
    {
        QFETCH(quintptr, change);
        QFETCH(int, deviceType);
        QFETCH(QString, name);
        QFETCH(bool, meterPlugged);
        QFETCH(QString, seen);
        VirtualMeter::setStoredRecords(records(3));
        MainWindow w;
        const QSignalBlocker sampleTimerHeld = holdSampleTimer(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        start(w);
        TRY_COMPARE(w.storedModel()->rowCount(), 3);
        tick(w);
        TRY_COMPARE(liveRows(w), 1);
        hid_device *before = w.meterHandle();
        VirtualMeter::setPlugged(meterPlugged);
        VirtualMeter::clearLog();
        const int countsBefore = VirtualMeter::commandsWritten(0x08);

        sendDeviceChange(w, WPARAM(change), DWORD(deviceType), name);

        const auto log = VirtualMeter::callLog();
        if (seen == "arrival") {
            // The arrival's own handshake and the whole start sequence; the
            // live log stays.
            QCOMPARE(liveRows(w), 1);
            QCOMPARE(text(w, "numEdit"), QStringLiteral("1"));
            if (!meterPlugged) {
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
            TRY_COMPARE(w.storedModel()->rowCount(), 3);
            tick(w);
            TRY_COMPARE(liveRows(w), 2);
            QCOMPARE(w.liveModel()->item(1, 0)->text(), QStringLiteral("2"));
        } else if (seen == "removal") {
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
