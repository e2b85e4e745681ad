#ifndef ZELMORA_GUEST_WINDOWFIXTURE_H
#define ZELMORA_GUEST_WINDOWFIXTURE_H

// What the Linux and the Wine window tests share: one window with the meter
// behind it, its controls by name, its tables checked against the meter's
// readings, and the warning boxes a person would read and close.

#include "mainwindow.h"
#include "meterlink.h"
#include "tablechecks.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QtTest>

#include <functional>
#include <memory>

const QString CONNECTED = QStringLiteral("已连接");
const QString NOT_OPENED = QStringLiteral("未打开设备");

class WindowFixture : public QObject
{
protected:
    QString connectionText() const { return widget<QLineEdit>("connectEdit")->text(); }
    QString connectionStyle() const { return widget<QLineEdit>("connectEdit")->styleSheet(); }
    QString text(const char *lineEdit) const { return widget<QLineEdit>(lineEdit)->text(); }
    bool checkLiveRows(QString *problem) const { return TableChecks::liveRowsAreTheMeters(window->liveModel(), 0, problem); }
    bool checkStoredRows(int count, QString *problem) const
    {
        return TableChecks::storedRowsAreTheMeters(window->storedModel(), count, problem);
    }

    template <typename W>
    W *widget(const char *name) const
    {
        W *found = window->findChild<W *>(QLatin1String(name));
        if (!found)
            qFatal("the window has no %s", name);
        return found;
    }

    // Called often from a timer: a box is noted when it opens and closed as
    // a person would, once `boxMayClose` says so (at once where it is unset);
    // left open, it would hold the window's thread for good.
    void watchBoxes()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != shownBox) {
            shownBox = box;
            messageBoxes << box->windowTitle() + QStringLiteral(": ") + box->text();
        }
        if (!boxMayClose || boxMayClose())
            box->done(QMessageBox::Ok);
    }

    QStringList takeMessageBoxes()
    {
        QStringList taken;
        taken.swap(messageBoxes);
        return taken;
    }

    // After each function: what the meter saw amiss since the last one, or a
    // box that no function expected, fails it.
    void checkMeterAndBoxes()
    {
        const QStringList seen = meter.eventsSince(meterMark);
        meterMark = meter.mark();
        QStringList faults;
        for (const QString &event : seen) {
            if (event.startsWith(QLatin1String("overlap")) || event.startsWith(QLatin1String("malformed")) ||
                event.startsWith(QLatin1String("unknown")))
                faults << event;
        }
        if (!faults.isEmpty())
            QFAIL(qPrintable(QStringLiteral("the meter saw: ") + faults.join(QStringLiteral("; "))));
        const QStringList boxes = takeMessageBoxes();
        if (!boxes.isEmpty())
            QFAIL(qPrintable(QStringLiteral("unexpected message box: ") + boxes.join(QStringLiteral("; "))));
    }

    std::unique_ptr<MainWindow> window;
    MeterLink meter;
    // A gate that holds a box open until something has happened meanwhile.
    std::function<bool()> boxMayClose;

private:
    QStringList messageBoxes;
    QPointer<QMessageBox> shownBox;
    int meterMark = 0;
};

#endif
