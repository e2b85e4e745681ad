#include "singleinstance.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QWidget>

#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {
// What the first copy publishes for later ones. The mapping lives as long as
// some copy holds it open.
struct Published
{
    volatile LONG64 window;
    volatile LONG processId;
};

std::wstring mappingName(const QString &key)
{
    // "Local\": the namespace of this logon session.
    return (QStringLiteral("Local\\") + key).toStdWString();
}

UINT showMessage()
{
    static const UINT message = RegisterWindowMessageW(L"org.zelmora.Zelmora.show");
    return message;
}
} // namespace

class SingleInstance::Platform : public QAbstractNativeEventFilter
{
public:
    explicit Platform(SingleInstance *owner)
        : owner(owner)
    {
    }

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
#else
    bool nativeEventFilter(const QByteArray &, void *message, long *) override
#endif
    {
        if (static_cast<MSG *>(message)->message != showMessage())
            return false;
        emit owner->showRequested();
        return true; // handled: not dispatched a second time
    }

    SingleInstance *owner;
    HANDLE mapping = nullptr;
    Published *published = nullptr;
};

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent)
    , platform(new Platform(this))
{
    platform->mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Published),
                                           mappingName(key).c_str());
    // Without the mapping nothing can be told apart: run rather than refuse.
    first = !platform->mapping || GetLastError() != ERROR_ALREADY_EXISTS;
    if (!platform->mapping)
        return;
    platform->published =
        static_cast<Published *>(MapViewOfFile(platform->mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Published)));
    if (first && platform->published) {
        InterlockedExchange(&platform->published->processId, LONG(GetCurrentProcessId()));
        QCoreApplication::instance()->installNativeEventFilter(platform);
    }
}

SingleInstance::~SingleInstance()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(platform);
    if (platform->published)
        UnmapViewOfFile(platform->published);
    if (platform->mapping)
        CloseHandle(platform->mapping);
    delete platform;
}

QString SingleInstance::sessionKey(const QString &name)
{
    // Windows' session namespace already keeps sessions and users apart.
    return name;
}

bool SingleInstance::isClaimed(const QString &key)
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, mappingName(key).c_str());
    if (!mapping)
        return false;
    CloseHandle(mapping);
    return true;
}

void SingleInstance::serve(QWidget *window)
{
    if (!first)
        return;
    connect(this, &SingleInstance::showRequested, window, [window] { bringToFront(window); });
    if (platform->published)
        InterlockedExchange64(&platform->published->window, LONG64(window->winId()));
}

void SingleInstance::askFirstToShow()
{
    if (first || !platform->published)
        return;
    // A first copy still starting has no window yet; it shows itself anyway.
    const auto window = reinterpret_cast<HWND>(InterlockedCompareExchange64(&platform->published->window, 0, 0));
    if (!window)
        return;
    // Windows lets only the program the user just started take the
    // foreground; this one passes that right on.
    AllowSetForegroundWindow(DWORD(platform->published->processId));
    PostMessageW(window, showMessage(), 0, 0);
}

#else

namespace {
// A socket in the abstract namespace: no file, and the kernel frees the
// name when the last copy's process ends.
sockaddr_un addressOf(const QString &key, socklen_t *length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = key.toUtf8().left(int(sizeof(address.sun_path)) - 1);
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    return address;
}

// Connecting is the whole message: the first copy needs to hear no more.
bool knock(const QString &key)
{
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    socklen_t length = 0;
    const sockaddr_un address = addressOf(key, &length);
    const bool answered = ::connect(socket, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(socket);
    return answered;
}
} // namespace

class SingleInstance::Platform
{
public:
    QString key;
    int listener = -1;
};

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent)
    , platform(new Platform)
{
    platform->key = key;
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // Without a socket nothing can be told apart: run rather than refuse.
    first = true;
    if (socket < 0)
        return;
    socklen_t length = 0;
    const sockaddr_un address = addressOf(key, &length);
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        first = errno != EADDRINUSE;
        ::close(socket);
        return;
    }
    if (::listen(socket, 8) != 0) {
        ::close(socket);
        return;
    }
    platform->listener = socket;
    auto *notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        int caller;
        while ((caller = ::accept4(platform->listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            ::close(caller);
            emit showRequested();
        }
    });
}

SingleInstance::~SingleInstance()
{
    if (platform->listener >= 0)
        ::close(platform->listener);
    delete platform;
}

QString SingleInstance::sessionKey(const QString &name)
{
    // One user's copies on one display: another user, or the same user on
    // another display (a second login, a test's own X server), is apart.
    QCryptographicHash display(QCryptographicHash::Sha256);
    display.addData(QGuiApplication::platformName().toUtf8());
    display.addData(QByteArray(1, '\0'));
    display.addData(qgetenv("WAYLAND_DISPLAY"));
    display.addData(QByteArray(1, '\0'));
    display.addData(qgetenv("DISPLAY"));
    return QStringLiteral("%1.%2.%3")
        .arg(name)
        .arg(::getuid())
        .arg(QString::fromLatin1(display.result().toHex().left(16)));
}

bool SingleInstance::isClaimed(const QString &key)
{
    return knock(key);
}

void SingleInstance::serve(QWidget *window)
{
    if (first)
        connect(this, &SingleInstance::showRequested, window, [window] { bringToFront(window); });
}

void SingleInstance::askFirstToShow()
{
    if (!first)
        knock(platform->key);
}

#endif

void SingleInstance::bringToFront(QWidget *window)
{
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}
