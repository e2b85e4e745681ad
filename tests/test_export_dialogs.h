#ifndef ZELMORA_TEST_EXPORT_DIALOGS_H
#define ZELMORA_TEST_EXPORT_DIALOGS_H

// Playing the user in front of the export's dialogs: whatever modal dialog
// opens is described in `seen` and then answered as the test asked. Also a
// stand-in for the desktop, which records the URLs it is asked to open.

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <functional>

struct SeenDialog
{
    enum Kind { FileDialog, MessageBox, Progress, Other };
    Kind kind = Other;
    QString title;
    // File dialog
    QStringList nameFilters;
    QString proposedName; // file name part of the preselected file
    QString folder;       // the folder it opens in
    int options = 0;
    // Message box, progress dialog (its label)
    QString text;
    int buttons = 0;
    int defaultButton = 0;
    int icon = 0;
    QStringList buttonTexts; // in the order Yes, No, Ok where present; a progress dialog's Cancel
    int maximum = 0;         // progress dialog
    bool hasParent = false;
};

class DialogPlayer : public QObject
{
public:
    // What to do with the save dialog: reject, or accept a file.
    enum class FileAnswer { Cancel, Save };

    FileAnswer fileAnswer = FileAnswer::Cancel;
    QString target;
    // Called while the file dialog is open; the answer waits until it is true.
    std::function<bool()> readyToAnswer = [] { return true; };
    // The button to press in the export's own message boxes.
    QMessageBox::StandardButton messageAnswer = QMessageBox::Ok;
    // Called again and again while a progress dialog shows; it may answer it.
    std::function<void(QProgressDialog *)> whileProgressShows = [](QProgressDialog *) {};
    int highestProgress = -1;

    QList<SeenDialog> seen;
    int overwriteConfirmations = 0;
    // Given a clock of the thread's processor time, the time this player's
    // own looks took: a test of the window's waiting leaves it out.
    std::function<double()> cpuClock;
    double ownCpuMs = 0;

    DialogPlayer()
    {
        // Windows' own save dialog is not a widget a test can answer; Qt's
        // widget dialog takes the same caption, name, filter and options.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            const double from = cpuClock ? cpuClock() : 0;
            look();
            if (cpuClock)
                ownCpuMs += cpuClock() - from;
        });
        timer.start();
    }

    int count(SeenDialog::Kind kind) const
    {
        int n = 0;
        for (const SeenDialog &dialog : seen)
            n += dialog.kind == kind;
        return n;
    }
    SeenDialog first(SeenDialog::Kind kind) const
    {
        for (const SeenDialog &dialog : seen) {
            if (dialog.kind == kind)
                return dialog;
        }
        return SeenDialog();
    }

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            // Qt's own "already exists, replace it?" belongs to the file dialog.
            if (qobject_cast<QFileDialog *>(box->parentWidget())) {
                ++overwriteConfirmations;
                box->button(QMessageBox::Yes)->click();
                return;
            }
            seen << describe(box);
            QAbstractButton *button = box->button(messageAnswer);
            if (button)
                button->click();
            else
                box->reject();
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            if (dialog != described) {
                described = dialog;
                seen << describe(dialog);
            }
            if (dialog == answered || !readyToAnswer())
                return;
            answered = dialog;
            if (fileAnswer == FileAnswer::Cancel) {
                dialog->reject();
            } else {
                // Typed, as a user would: selectFile() keeps only names it can find.
                auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                if (!nameEdit)
                    return;
                nameEdit->setText(target);
                // Queued: accepting may ask to replace the file, in a loop of
                // its own that this timer, still inside its slot, could not reach.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
            if (progress != progressDescribed) {
                progressDescribed = progress;
                seen << describe(progress);
            }
            highestProgress = qMax(highestProgress, progress->value());
            whileProgressShows(progress);
        } else {
            SeenDialog other;
            other.title = modal->windowTitle();
            seen << other;
            modal->close();
        }
    }

    static SeenDialog describe(QMessageBox *box)
    {
        SeenDialog d;
        d.kind = SeenDialog::MessageBox;
        d.title = box->windowTitle();
        d.text = box->text();
        d.buttons = int(box->standardButtons());
        d.defaultButton = box->defaultButton() ? int(box->standardButton(box->defaultButton())) : 0;
        d.icon = int(box->icon());
        for (QMessageBox::StandardButton which : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok}) {
            if (QAbstractButton *button = box->button(which))
                d.buttonTexts << button->text();
        }
        d.hasParent = box->parentWidget() != nullptr;
        return d;
    }

    static SeenDialog describe(QFileDialog *dialog)
    {
        SeenDialog d;
        d.kind = SeenDialog::FileDialog;
        d.title = dialog->windowTitle();
        d.nameFilters = dialog->nameFilters();
        // What the name field shows: selectedFiles() would add the default suffix.
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        d.proposedName = nameEdit ? nameEdit->text() : QFileInfo(dialog->selectedFiles().value(0)).fileName();
        d.folder = dialog->directory().absolutePath();
        d.options = int(dialog->options());
        d.hasParent = dialog->parentWidget() != nullptr;
        return d;
    }

    static SeenDialog describe(QProgressDialog *dialog)
    {
        SeenDialog d;
        d.kind = SeenDialog::Progress;
        d.title = dialog->windowTitle();
        d.text = dialog->labelText();
        if (auto *cancel = dialog->findChild<QPushButton *>())
            d.buttonTexts << cancel->text();
        d.maximum = dialog->maximum();
        d.hasParent = dialog->parentWidget() != nullptr;
        return d;
    }

    QTimer timer;
    QPointer<QProgressDialog> progressDescribed;
    QPointer<QFileDialog> described;
    QPointer<QFileDialog> answered;
};

// The desktop, as far as QDesktopServices::openUrl reaches it for files.
class DesktopStandIn : public QObject
{
    Q_OBJECT
public:
    DesktopStandIn() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~DesktopStandIn() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

#endif
