// Draws the README's picture of the demo at work: the same window as
// zelmora-demo (same font, same simulated meter), started the way a user
// starts it after switching to English, given a few seconds of live readings
// after the stored records came in, then grabbed into a PNG. Run offscreen by
// scripts/screenshot; not installed.
#include <QAction>
#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMetaType>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <vector>

#include "mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zelmora-screenshot <out.png>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");
    QFont font("Microsoft YaHei UI Light");
    font.setPixelSize(15);
    QApplication::setFont(font);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app2.ico")));

    MainWindow w;
    w.show();
    auto *english = w.findChild<QAction *>(QStringLiteral("EnglishAct"));
    auto *start = w.findChild<QPushButton *>(QStringLiteral("readbackBtn"));
    if (!english || !start) {
        std::fprintf(stderr, "zelmora-screenshot: the window has no English action or start button\n");
        return 1;
    }
    int status = 1;
    // A change of language disconnects (see changeEvent), so it comes first
    // and has been handled before start is pressed.
    QTimer::singleShot(300, english, &QAction::trigger);
    QTimer::singleShot(1000, start, &QPushButton::click);
    QTimer::singleShot(8000, [&] {
        if (w.grab().save(out, "PNG")) {
            std::printf("zelmora-screenshot: %s\n", qPrintable(out));
            status = 0;
        } else {
            std::fprintf(stderr, "zelmora-screenshot: cannot write %s\n", qPrintable(out));
        }
        a.quit();
    });
    a.exec();
    return status;
}
