// Switching between the Chinese source texts and the English catalogue.
//
// Qt guards its list of installed translators with a lock, so the workers'
// tr() calls on their own threads may run while this code installs or removes
// the translator; the translator is only loaded while it is not installed.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QEvent>

void MainWindow::on_ChineseAct_triggered()
{
    // Chinese is the source language: no translator at all.
    QCoreApplication::removeTranslator(&translator);
}

void MainWindow::on_EnglishAct_triggered()
{
    QCoreApplication::removeTranslator(&translator);
    // A catalogue that fails to load leaves the interface Chinese.
    if (translator.load(QStringLiteral(":/lang_en.qm"), QString(), QString(), QString()))
        QCoreApplication::installTranslator(&translator);
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        // Texts of the old language would stay in the tables and the status
        // bar; the disconnect action puts everything back in the new one.
        on_closeAct_triggered();
        return;
    }
    QMainWindow::changeEvent(event);
}
