// Live acquisition: the start sequence, the sample tick, stop, the interval
// change and the rows of the live table.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QHeaderView>
#include <QThread>
#include <QTimer>

#include "parserealtimedata.h"
#include "pause.h"
#include "protocol.h"
#include "worksession.h"

void MainWindow::setUpLiveSampling()
{
    realTimeThread = new QThread;
    realTimeWorker = new ParseRealTimeData;
    realTimeWorker->moveToThread(realTimeThread);
    connect(realTimeThread, &QThread::finished, realTimeThread, &QObject::deleteLater);

    session.serve(realTimeWorker);
    session.countRequests(this, &MainWindow::startRealTimeWork, WorkSession::Work::Poll);

    connect(sampleTimer, &QTimer::timeout, this, &MainWindow::readRealTimeData);
    connect(realTimeWorker, &ParseRealTimeData::signalUsb, this, &MainWindow::usbChecker);
    connect(this, &MainWindow::startRealTimeWork, realTimeWorker, &ParseRealTimeData::doRealTimeWork);
    connect(realTimeWorker, &ParseRealTimeData::finish, this, &MainWindow::handleRealTimeFinish);
    connect(this, &MainWindow::signalArrival, this, &MainWindow::on_readbackBtn_clicked);
}

void MainWindow::shutDownLiveSampling()
{
    realTimeThread->quit();
    realTimeThread->wait();
    // The thread deletes itself once its finished signal is delivered; the
    // worker has no parent and goes here, after its last poll returned.
    delete realTimeWorker;
    realTimeWorker = nullptr;
}

void MainWindow::on_readbackBtn_clicked()
{
    // Whatever an earlier poll or decode still has to say belongs to what the
    // user just started over: a late time-out would stop the sampling this
    // sequence starts, an old decode would refill the table it empties.
    session.beginAnew();
    if (deviceConnected) {
        on_pushButton_clicked();
        pauseMs(800);
    }
    applyPreset(PRESET_RUNNING);
    readBackModel->removeRows(0, readBackModel->rowCount());
    ui->progressBar->setValue(0);
    ui->numSavedEdit->setText(tr("0"));

    if (!openMeter()) {
        showConnection(tr("未打开设备"), "color:red;");
        applyPreset(PRESET_IDLE);
        return;
    }

    unsigned char reply[RECORD_COUNT_REPLY_SIZE];
    const int result = recordCountExchange(reply);
    // A reply that arrived but is not a status frame is treated like no
    // reply: the meter did not answer the handshake, so nothing runs.
    if (result <= 0 || !acceptRecordCountReply(reply, result)) {
        showConnection(tr("未连接"), "color:red;");
        applyPreset(PRESET_IDLE);
        return;
    }

    deviceConnected = true;
    storedCount = recordCountOf(reply);
    showConnection(tr("已连接"), "color:green;");

    if (!sampleTimer->isActive())
        sampleTimer->start(ui->spinBox->value());

    if (isDownloadableCount(storedCount))
        transferStoredRecords();
}

void MainWindow::readRealTimeData()
{
    if (!deviceConnected)
        return;
    ui->statusbar->showMessage(tr("接收实时数据"), 0);
    requestPoll();
    if (!realTimeThread->isRunning())
        realTimeThread->start(QThread::InheritPriority);
}

void MainWindow::requestPoll()
{
    session.fileRequest(WorkSession::Work::Poll);
    emit startRealTimeWork(hidHandle);
}

static QStandardItem *tableCell(const QString &text)
{
    auto *item = new QStandardItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setEditable(false);
    return item;
}

void MainWindow::handleRealTimeFinish(QStringList modeList, QStringList rangeList, QStringList valueList)
{
    if (!resultCounts(WorkSession::Result::Sample))
        return;
    if (modeList.isEmpty() || rangeList.isEmpty() || valueList.isEmpty())
        return;

    ui->modeEdit->setText(modeList.first());
    const int row = realTimeModel->rowCount();
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // The row goes in finished: an empty row filled cell by cell would make
    // the size-to-contents header measure the table again for every cell.
    realTimeModel->appendRow({tableCell(QString::number(row + 1)), tableCell(time),
                              tableCell(modeList.first()), tableCell(rangeList.first()),
                              tableCell(valueList.first())});
    // Inserted rows do not make the header measure again by themselves, so
    // a column that is too narrow for the new row is sized to its contents
    // here; that is rare, as the rows of one column look alike.
    QHeaderView *header = ui->tableView->horizontalHeader();
    for (int column = 0; column < realTimeModel->columnCount(); ++column) {
        const int needed = ui->tableView->sizeHintForIndex(realTimeModel->index(row, column)).width();
        if (needed > header->sectionSize(column))
            ui->tableView->resizeColumnToContents(column);
    }
    ui->tableView->scrollToBottom();
    ui->numEdit->setText(QString::number(row + 1));
}

void MainWindow::on_pushButton_clicked()
{
    if (!sampleTimer->isActive())
        return;
    applyPreset(PRESET_STOPPED);
    sampleTimer->stop();
    closeMeter();
    ui->statusbar->showMessage(tr("停止"), 0);
}

void MainWindow::on_spinBox_valueChanged(int arg1)
{
    if (!deviceConnected)
        return;
    // Sampling starts over at the new interval: no poll from before it counts.
    // The stored records the meter already sent are not sampling's, and
    // their decode still fills its table.
    session.beginPolling();
    if (sampleTimer->isActive()) {
        sampleTimer->stop();
        closeMeter();
    }
    pauseMs(600);
    if (!openMeter()) {
        // Without a meter nothing samples; say so instead of looking busy.
        showConnection(tr("未打开设备"), "color:red;");
        applyPreset(PRESET_IDLE);
        return;
    }
    sampleTimer->start(arg1);
    applyPreset(PRESET_RUNNING);
}
