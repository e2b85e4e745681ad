#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMetaType>

#include <vector>

#include "mainwindow.h"
#include "singleinstance.h"

int main(int argc, char *argv[])
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales for high DPI, and warns that the attribute is gone.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
#endif
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication a(argc, argv);

#ifdef ZELMORA_SINGLE_COPY
    SingleInstance running(SingleInstance::sessionKey(QStringLiteral("org.zelmora.Zelmora")));
    if (!running.isFirst()) {
        running.askFirstToShow();
        return 0;
    }
#endif

    // The stored-record buffer crosses to the decoder thread by a queued call.
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");

    QFont font("Microsoft YaHei UI Light");
    font.setPixelSize(15);
    QApplication::setFont(font);

#ifndef Q_OS_WIN
    // Windows takes the window icon from the executable's IDI_ICON1; other
    // systems have no such resource, so give it the same picture here.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app2.ico")));
#endif

    MainWindow w;
    w.show();
#ifdef ZELMORA_SINGLE_COPY
    running.serve(&w);
#endif
    return a.exec();
}
