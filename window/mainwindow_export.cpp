// Saving either table to an .xlsx workbook and offering to open it.
#include "mainwindow.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "tableworkbook.h"

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

    // Copied before any dialog opens: the dialogs run event loops in which new
    // live rows arrive, and the file is to hold the table as it was clicked.
    const XlsxWorkbook workbook = workbookFromTable(*model);
    const QString defaultName = QStringLiteral("Zelmodata_")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));

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

    if (!workbook.saveAs(name)) {
        // Offering to open a file that is not there would only mislead.
        QMessageBox::warning(this, tr("错误"), tr("文件保存失败：%1").arg(QDir::toNativeSeparators(name)),
                             QMessageBox::Ok);
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
