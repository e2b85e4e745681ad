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

// What Windows hands over with an interface arriving or leaving: the
// broadcast with the interface's name, or, for an empty name, a broadcast of
// another kind that names no interface at all.
LRESULT sendDeviceChange(MainWindow &w, WPARAM change, const QString &name)
{
    // DWORDs keep the broadcast aligned; the name runs past the structure.
    std::vector<DWORD> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) / sizeof(DWORD) + name.size() + 1, 0);
    auto *broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(buffer.data());
    broadcast->dbcc_size = DWORD(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t));
    broadcast->dbcc_devicetype = name.isEmpty() ? DBT_DEVTYP_PORT : DBT_DEVTYP_DEVICEINTERFACE;
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
        QVERIFY(registerHidInterfaceNotifications(reinterpret_cast<HWND>(w.winId()),
                                                  GUID_DEVINTERFACE_HID_VALUE));
    }

    void deviceChangeMessages_data()
    {
        QTest::addColumn<quintptr>("change");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("meterPlugged");
        const quintptr arrival = DBT_DEVICEARRIVAL;
        const quintptr removal = DBT_DEVICEREMOVECOMPLETE;
        const QString headset = QStringLiteral("\\\\?\\HID#VID_0D8C&PID_0012&MI_03#8&1c2d3e4f&0&0000#{4d1e55b2-f16f-11cf-88cb-111100000030}");
        QTest::newRow("arrival") << arrival << METER_INTERFACE << true;
        QTest::newRow("arrival, meter gone again") << arrival << METER_INTERFACE << false;
        QTest::newRow("removal, name in lower case") << removal << METER_INTERFACE.toLower() << true;
        // Nothing the user asked for: the log and the connection stay.
        QTest::newRow("another HID device arrives") << arrival << headset << true;
        QTest::newRow("another HID device leaves") << removal << headset << true;
        QTest::newRow("arrival naming no interface") << arrival << QString() << true;
        QTest::newRow("removal naming no interface") << removal << QString() << true;
        QTest::newRow("removal asked for, not done") << quintptr(DBT_DEVICEQUERYREMOVE) << METER_INTERFACE << true;
        QTest::newRow("device tree changed") << quintptr(DBT_DEVNODES_CHANGED) << METER_INTERFACE << true;
    }

    void deviceChangeMessages()
    {
        QFETCH(quintptr, change);
        QFETCH(QString, name);
        QFETCH(bool, meterPlugged);
        const bool meter = name.contains(QLatin1String("1A86&PID_E429"), Qt::CaseInsensitive);
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

        sendDeviceChange(w, WPARAM(change), name);

        const auto log = VirtualMeter::callLog();
        if (meter && change == DBT_DEVICEARRIVAL) {
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
        } else if (meter && change == DBT_DEVICEREMOVECOMPLETE) {
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
