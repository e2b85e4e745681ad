// Construction, destruction and the window's initial state.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QHeaderView>
#include <QThread>
#include <QTimer>

#include "hidguard.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , realTimeModel(nullptr)
    , readBackModel(nullptr)
    , hidHandle(nullptr)
    , deviceConnected(false)
    , lastIoResult(0)
    , sampleTimer(nullptr)
    , realTimeThread(nullptr)
    , readBackThread(nullptr)
    , realTimeWorker(nullptr)
    , readBackWorker(nullptr)
    , storedCount(0)
#ifdef Q_OS_WIN
    , hidClassGuid(GUID_DEVINTERFACE_HID_VALUE)
#else
    , hotplugMonitor(nullptr)
#endif
{
    ui->setupUi(this);
    initWindowState();

    sampleTimer = new QTimer(this);

    registerDeviceNotifications();
    setUpLiveSampling();
    setUpReadBack();
}

MainWindow::~MainWindow()
{
    shutDownLiveSampling();
    shutDownReadBack();
    delete ui;
}

bool MainWindow::isSampling() const
{
    return sampleTimer && sampleTimer->isActive();
}

void MainWindow::initWindowState()
{
    {
        auto lock = HidGuard::acquire();
        hid_init();
    }
    setWindowTitle(tr("Zelmora"));
    showConnection(tr("等待连接···"), "color:black;");
    ui->sampleEdit->setText(tr("采样间隔："));
    ui->spinBox->setRange(100, 5000);
    ui->spinBox->setValue(500);
    ui->modeEdit->setText(tr("测量模式"));
    ui->backEdit->setText(tr("读取本地数据"));
    ui->realEdit->setText(tr("读取实时数据"));
    ui->numEdit->setText(tr("数据总数"));
    ui->numSavedEdit->setText(tr("数据总数"));

    // Fresh models: the previous ones and their rows go with their parent.
    QStandardItemModel *oldLive = realTimeModel;
    QStandardItemModel *oldStored = readBackModel;

    realTimeModel = new QStandardItemModel(this);
    realTimeModel->setColumnCount(5);
    ui->tableView->setModel(realTimeModel);
    realTimeModel->setHorizontalHeaderLabels(
        {tr("序号"), tr("时间"), tr("模式"), tr("量程"), tr("电阻值")});
    ui->tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    readBackModel = new QStandardItemModel(this);
    readBackModel->setColumnCount(2);
    ui->backTableView->setModel(readBackModel);
    readBackModel->setHorizontalHeaderLabels({tr("序号"), tr("电阻值")});
    ui->backTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    delete oldLive;
    delete oldStored;

    ui->progressBar->setValue(0);
    applyPreset(PRESET_IDLE);
}

void MainWindow::applyPreset(const ButtonPreset &preset)
{
    ui->readbackBtn->setStyleSheet(QString::fromLatin1(preset.startStyle));
    ui->pushButton->setStyleSheet(QString::fromLatin1(preset.stopStyle));
}

void MainWindow::showConnection(const QString &text, const char *styleSheet)
{
    ui->connectEdit->setText(text);
    ui->connectEdit->setStyleSheet(QString::fromLatin1(styleSheet));
}

void MainWindow::on_clearAct_triggered()
{
    ui->numEdit->setText(tr("0"));
    ui->numSavedEdit->setText(tr("0"));
    ui->modeEdit->setText(tr("测量模式"));
    ui->progressBar->setValue(0);
    realTimeModel->removeRows(0, realTimeModel->rowCount());
    readBackModel->removeRows(0, readBackModel->rowCount());
}

void MainWindow::on_exitAct_triggered()
{
    QCoreApplication::quit();
}
