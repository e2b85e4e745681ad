#ifndef ZELMORA_MAINWINDOW_H
#define ZELMORA_MAINWINDOW_H

#include <QMainWindow>
#include <QStandardItemModel>
#include <QStringList>
#include <QTranslator>

#include <vector>

#include <hidapi.h>

#ifdef Q_OS_WIN
#include "win32devicenotify.h"
#endif

#include "buttonpresets.h"
#include "worksession.h"

class TableSnapshot;
enum class SaveOutcome;

class QThread;
class QTimer;
class Ui_MainWindow;
class ParseRealTimeData;
class ParseReadBackData;
class UdevHidMonitor;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
#ifdef Q_OS_WIN
    // What Windows message handlers write their result to.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    using NativeEventResult = qintptr;
#else
    using NativeEventResult = long;
#endif
#endif

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read-only views of the state the tests and the demo want to observe.
    bool isDeviceConnected() const { return deviceConnected; }
    bool isSampling() const;
    hid_device *meterHandle() const { return hidHandle; }
    QThread *pollerThread() const { return realTimeThread; }
    WorkSession &workSession() { return session; }
    int storedRecordCount() const { return storedCount; }
    QStandardItemModel *liveModel() const { return realTimeModel; }
    QStandardItemModel *storedModel() const { return readBackModel; }
    ParseRealTimeData *liveWorker() const { return realTimeWorker; }
    ParseReadBackData *storedWorker() const { return readBackWorker; }

    // Hot-plug entry points; the platform notifier calls them on the GUI thread.
    void handleDeviceArrival();
    void handleDeviceRemoval();

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, NativeEventResult *result) override;
#endif
    void changeEvent(QEvent *event) override;

signals:
    void signalArrival();
    void startRealTimeWork(hid_device *);
    void startReadBackWork(const std::vector<unsigned char> &read_buf, int total_num);

public slots:
    void handleRealTimeFinish(QStringList, QStringList, QStringList);
    void handleReadBackFinish(QStringList resistanceValues, bool readSuccess);

private slots:
    void on_clearAct_triggered();
    void on_closeAct_triggered();
    void on_readbackBtn_clicked();
    void on_ChineseAct_triggered();
    void on_EnglishAct_triggered();
    void readRealTimeData();
    void on_exitAct_triggered();
    void on_saveBackBtn_clicked();
    void on_saveRealBtn_clicked();
    void on_spinBox_valueChanged(int arg1);
    void on_pushButton_clicked();
    void usbChecker(int, int);

private:
    void initWindowState();
    void applyPreset(const ButtonPreset &preset);
    void showConnection(const QString &text, const char *styleSheet);
    bool openMeter();
    void closeMeter();
    bool registerDeviceNotifications();
    void setUpLiveSampling();
    void setUpReadBack();
    void shutDownLiveSampling();
    void shutDownReadBack();
    int recordCountExchange(unsigned char *reply);
    void requestPoll();
    void requestDecode(const std::vector<unsigned char> &buffer, int count);
    bool resultCounts(WorkSession::Result which, WorkSession::Ticket *ticket = nullptr);
    void transferStoredRecords();
    void saveToExcel(QStandardItemModel *model);
    SaveOutcome saveShowingProgress(const TableSnapshot &table, const QString &name);

    Ui_MainWindow *ui;
    QStandardItemModel *realTimeModel;
    QStandardItemModel *readBackModel;
    hid_device *hidHandle;
    bool deviceConnected;
    int lastIoResult;
    QTranslator translator;
    QTimer *sampleTimer;
    QThread *realTimeThread;
    QThread *readBackThread;
    ParseRealTimeData *realTimeWorker;
    ParseReadBackData *readBackWorker;
    int storedCount;
    // Which of the requests made of the workers still count; see worksession.h.
    WorkSession session;
#ifdef Q_OS_WIN
    GUID hidClassGuid;
#else
    UdevHidMonitor *hotplugMonitor;
#endif
};

#endif
