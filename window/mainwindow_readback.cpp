// Stored-record download: the raw transfer on the GUI thread, decoding on
// its own thread, and the stored-record table.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QThread>

#include "hidguard.h"
#include "parsereadbackdata.h"
#include "protocol.h"
#include "worksession.h"

void MainWindow::setUpReadBack()
{
    readBackThread = new QThread;
    readBackWorker = new ParseReadBackData;
    readBackWorker->moveToThread(readBackThread);
    connect(readBackThread, &QThread::finished, readBackThread, &QObject::deleteLater);

    session.serve(readBackWorker);
    session.countRequests(this, &MainWindow::startReadBackWork, WorkSession::Work::Decode);

    connect(this, &MainWindow::startReadBackWork, readBackWorker, &ParseReadBackData::doReadBackWork);
    connect(readBackWorker, &ParseReadBackData::finish, this, &MainWindow::handleReadBackFinish);
}

void MainWindow::shutDownReadBack()
{
    readBackThread->quit();
    readBackThread->wait();
    delete readBackWorker;
    readBackWorker = nullptr;
}

void MainWindow::transferStoredRecords()
{
    std::vector<unsigned char> buffer(INPUT_REPORT_SIZE, 0);
    {
        auto lock = HidGuard::acquire();
        const auto command = commandReport(CMD_GET_RECORDS);
        lastIoResult = hid_write(hidHandle, command.data(), command.size());
        lastIoResult = hid_read_timeout(hidHandle, buffer.data(), INPUT_REPORT_SIZE, REPLY_TIMEOUT_MS);

        const int reports = recordsReportCount(storedCount);
        buffer.resize(static_cast<std::size_t>(reports) * INPUT_REPORT_SIZE, 0);
        for (int i = 1; i < reports; ++i) {
            lastIoResult = hid_read_timeout(hidHandle, buffer.data() + static_cast<std::size_t>(i) * INPUT_REPORT_SIZE,
                                            INPUT_REPORT_SIZE, REPLY_TIMEOUT_MS);
        }
    }

    // A block that timed out stays zero and the decoder judges the frame;
    // only an error on the last read means the transfer itself broke.
    if (lastIoResult < 0) {
        QMessageBox::warning(this, tr("错误"), tr("数据传输失败"), QMessageBox::Ok);
        return;
    }

    ui->statusbar->showMessage(tr("接收本地数据"), 0);
    requestDecode(buffer, storedCount);
    if (!readBackThread->isRunning())
        readBackThread->start(QThread::InheritPriority);
}

void MainWindow::requestDecode(const std::vector<unsigned char> &buffer, int count)
{
    session.fileRequest(WorkSession::Work::Decode);
    emit startReadBackWork(buffer, count);
}

void MainWindow::handleReadBackFinish(QStringList resistanceValues, bool readSuccess)
{
    WorkSession::Ticket ticket = 0;
    if (!resultCounts(WorkSession::Result::Records, &ticket))
        return;
    if (resistanceValues.isEmpty() || !readSuccess) {
        QMessageBox::warning(this, tr("错误"), tr("数据传输失败！请重新点击开始按钮。"), QMessageBox::Ok);
        // The box ran its own event loop: a replugged meter may have started
        // a new session meanwhile, whose buttons are not this decode's.
        if (!session.stillWanted(WorkSession::Result::Records, ticket))
            return;
        applyPreset(PRESET_IDLE);
        return;
    }

    ui->numSavedEdit->setText(QString::number(storedCount));
    readBackModel->setRowCount(storedCount);
    ui->backTableView->scrollToBottom();

    const int rows = readBackModel->rowCount();
    for (int i = 0; i < rows; ++i) {
        // The count comes from the meter's handshake; a shorter list leaves
        // the rest of the rows without a value rather than reading past it.
        const QString value = i < resistanceValues.size() ? resistanceValues.at(i) : QString();
        auto *number = new QStandardItem(QString::number(i + 1));
        auto *resistance = new QStandardItem(value);
        readBackModel->setItem(i, 0, number);
        readBackModel->setItem(i, 1, resistance);
        ui->progressBar->setValue(static_cast<int>(static_cast<float>(i + 1) / static_cast<float>(rows) * 100.0f));
        for (QStandardItem *item : {number, resistance}) {
            item->setTextAlignment(Qt::AlignCenter);
            item->setEditable(false);
        }
    }
}
