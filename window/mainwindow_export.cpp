// Saving either table to an .xlsx workbook and offering to open it.
#include "mainwindow.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <thread>

#include "tablesnapshot.h"
#include "tableworkbook.h"

namespace {
// A save that is over sooner shows no progress at all.
constexpr int PROGRESS_DELAY_MS = 500;
constexpr int PROGRESS_UPDATE_MS = 100;

// Where a save is proposed: the user's Documents folder, or the home folder
// where the system has none. Never the working folder: a shortcut starts the
// program in its installation folder, which a standard user cannot write.
QString saveFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

// A save that was asked to stop is still running: the writer cannot be cut
// off while it packs the file, and the target is only safe once it has given
// up. So the dialog stays until then; Escape and the window's close button
// ask the writer to stop, as Cancel does, and hide nothing.
class SaveProgressDialog : public QProgressDialog
{
public:
    using QProgressDialog::QProgressDialog;
    void reject() override {}
};

// Closing the window during a save ends the program. Qt 5 quits by itself;
// Qt 6 waits for the progress dialog to go too, and would then ask about a
// file the user walked away from. So the close quits, whichever Qt it is.
class QuitOnWindowClose : public QObject
{
public:
    explicit QuitOnWindowClose(QWidget *window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close && QGuiApplication::quitOnLastWindowClosed())
            QCoreApplication::quit();
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

void MainWindow::on_saveRealBtn_clicked()
{
    if (deviceConnected)
        saveToExcel(realTimeModel);
}

void MainWindow::on_saveBackBtn_clicked()
{
    if (deviceConnected)
        saveToExcel(readBackModel);
}

void MainWindow::saveToExcel(QStandardItemModel *model)
{
    if (!model || model->rowCount() == 0) {
        QMessageBox::information(this, tr("注意"), tr("无数据！"), QMessageBox::Ok);
        return;
    }

    // Taken before any dialog opens: the dialogs run event loops in which new
    // live rows arrive, and the file is to hold the table as it was clicked.
    const TableSnapshot table = TableSnapshot::of(*model);
    const QString defaultName = QDir(saveFolder()).filePath(
        QStringLiteral("Zelmodata_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss")));

    // A name typed without an extension gets ".xlsx", and the dialog's own
    // replace question is about that name: the file the desktop can open.
    QFileDialog dialog(nullptr, tr("保存Excel文件"), defaultName, tr("Excel文件(*.xlsx)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString name = dialog.selectedFiles().value(0);
    if (name.isEmpty())
        return;

    const SaveOutcome outcome = saveShowingProgress(table, name);
    if (outcome == SaveOutcome::Cancelled)
        return;
    if (outcome != SaveOutcome::Saved) {
        // Offering to open a file that is not there would only mislead.
        QString text = tr("文件保存失败：%1").arg(QDir::toNativeSeparators(name));
        if (outcome == SaveOutcome::TargetInUse)
            text += QLatin1Char('\n') + tr("该文件正被其他程序使用，请关闭它后再保存。");
        QMessageBox::warning(this, tr("错误"), text, QMessageBox::Ok);
        return;
    }

    QMessageBox question;
    question.setText(tr("您想现在打开已保存的文件吗？"));
    question.setWindowTitle(tr("打开文件"));
    question.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    question.setDefaultButton(QMessageBox::Yes);
    question.button(QMessageBox::Yes)->setText(tr("是"));
    question.button(QMessageBox::No)->setText(tr("否"));
    if (question.exec() == QMessageBox::Yes)
        QDesktopServices::openUrl(QUrl::fromLocalFile(name));
}

// The file is written on a thread of its own, so that the window keeps
// painting and live rows keep arriving; a long log takes seconds. The
// snapshot is not touched by anyone else meanwhile, so it needs no lock.
SaveOutcome MainWindow::saveShowingProgress(const TableSnapshot &table, const QString &name)
{
    SaveProgress progress;
    SaveOutcome outcome = SaveOutcome::Failed;
    std::atomic<bool> done{false};
    QEventLoop waiting;
    std::thread writer([&] {
        outcome = saveTableWorkbook(table, name, &progress);
        done.store(true);
        QMetaObject::invokeMethod(&waiting, "quit", Qt::QueuedConnection);
    });

    // Until the progress shows, clicks and keys wait: a second save, a
    // cleared table or a closed window must not cut into this one.
    QTimer::singleShot(PROGRESS_DELAY_MS, &waiting, &QEventLoop::quit);
    waiting.exec(QEventLoop::ExcludeUserInputEvents);

    bool quitting = false;
    if (!done.load()) {
        // From here the dialog, modal to the window, keeps the window's input away.
        SaveProgressDialog dialog(this);
        dialog.setWindowTitle(tr("保存文件"));
        // The rows written so far, as numbers: a percentage says little
        // about a log that is still growing in the window.
        auto *bar = new QProgressBar(&dialog);
        bar->setFormat(QStringLiteral("%v / %m"));
        dialog.setBar(bar);
        auto *cancel = new QPushButton(tr("取消"), &dialog);
        dialog.setCancelButton(cancel);
        dialog.setLabelText(tr("正在保存…"));
        dialog.setRange(0, table.rowCount());
        dialog.setWindowModality(Qt::WindowModal);
        dialog.setAutoReset(false);
        dialog.setAutoClose(false);
        dialog.setMinimumDuration(0);
        // Left connected, cancelling would hide the dialog at once.
        QObject::disconnect(&dialog, &QProgressDialog::canceled, &dialog, nullptr);
        const auto stop = [&] {
            progress.cancelRequested.store(true);
            cancel->setEnabled(false);
            dialog.setLabelText(tr("正在取消…"));
        };
        connect(&dialog, &QProgressDialog::canceled, &waiting, stop);
        QTimer update;
        connect(&update, &QTimer::timeout, &dialog, [&] {
            if (!progress.cancelRequested.load())
                dialog.setValue(progress.rowsWritten.load());
        });
        update.start(PROGRESS_UPDATE_MS);
        QuitOnWindowClose closing(this);
        dialog.show();
        while (!done.load()) {
            if (quitting) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            } else if (waiting.exec() < 0) {
                // The program is quitting (window closed, exit chosen): from
                // now on every event loop returns at once, and waiting in one
                // would spin. The save is given up, and the program ends only
                // once the writer has stopped and removed its file.
                quitting = true;
                stop();
            }
        }
    }
    writer.join();
    // Nothing more is asked of a program that is quitting.
    return quitting ? SaveOutcome::Cancelled : outcome;
}
