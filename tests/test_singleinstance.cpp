// One copy of the program in a session: the claim, its end with the process,
// and a second start bringing the first copy's window forward.
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

#include <memory>

#include "singleinstance.h"
#include "support/waits.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString freshKey()
{
    return QStringLiteral("org.zelmora.test.%1").arg(QRandomGenerator::global()->generate64(), 0, 16);
}

#ifdef Q_OS_WIN
// The top-level window a process shows, as another program sees it.
HWND windowOf(qint64 processId)
{
    struct Search
    {
        DWORD processId;
        HWND found;
    } search{DWORD(processId), nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto *search = reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != search->processId || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
                return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}
#endif

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void laterClaimsDeferUntilTheFirstEnds()
    {
        const QString key = freshKey();
        QVERIFY(!SingleInstance::isClaimed(key));
        auto first = std::make_unique<SingleInstance>(key);
        QVERIFY(first->isFirst());
        QVERIFY(SingleInstance::isClaimed(key));
        {
            SingleInstance second(key);
            QVERIFY(!second.isFirst());
        }
        // Another program's key, as the demo's would be.
        SingleInstance other(key + QStringLiteral(".other"));
        QVERIFY(other.isFirst());

        first.reset();
        QVERIFY(!SingleInstance::isClaimed(key));
        SingleInstance next(key);
        QVERIFY(next.isFirst());
    }

    void askingBringsTheFirstWindowForward()
    {
        const QString key = freshKey();
        QWidget window;
        window.showMinimized();
        QVERIFY(window.isMinimized());
        SingleInstance first(key);
        first.serve(&window);
        QSignalSpy asked(&first, &SingleInstance::showRequested);

        SingleInstance second(key);
        QVERIFY(!second.isFirst());
        second.askFirstToShow();
        QVERIFY(asked.wait(NEVER_MS));
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    // The program itself: a second start ends by itself and leaves the first
    // running; once the first is gone, however it went, a start is first again.
    void secondStartOfTheProgramEndsByItself()
    {
        const QString key = SingleInstance::sessionKey(QStringLiteral("org.zelmora.Zelmora"));
        if (SingleInstance::isClaimed(key))
            QSKIP("the program already runs in this session");
        QProcess firstCopy;
        firstCopy.start(QStringLiteral(ZELMORA_PROGRAM), QStringList());
        QVERIFY(firstCopy.waitForStarted(NEVER_MS));
        TRY_VERIFY(SingleInstance::isClaimed(key));
#ifdef Q_OS_WIN
        HWND window = nullptr;
        TRY_VERIFY((window = windowOf(firstCopy.processId())) != nullptr);
        ShowWindow(window, SW_MINIMIZE);
        TRY_VERIFY(IsIconic(window));
#endif

        QProcess secondCopy;
        secondCopy.start(QStringLiteral(ZELMORA_PROGRAM), QStringList());
        QVERIFY(secondCopy.waitForFinished(NEVER_MS));
        QCOMPARE(secondCopy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(secondCopy.exitCode(), 0);
        QCOMPARE(firstCopy.state(), QProcess::Running);
#ifdef Q_OS_WIN
        TRY_VERIFY(!IsIconic(window));
#endif

        firstCopy.kill();
        QVERIFY(firstCopy.waitForFinished(NEVER_MS));
        TRY_VERIFY(!SingleInstance::isClaimed(key));
        QProcess nextCopy;
        nextCopy.start(QStringLiteral(ZELMORA_PROGRAM), QStringList());
        QVERIFY(nextCopy.waitForStarted(NEVER_MS));
        TRY_VERIFY(SingleInstance::isClaimed(key));
        QCOMPARE(nextCopy.state(), QProcess::Running);
        nextCopy.kill();
        QVERIFY(nextCopy.waitForFinished(NEVER_MS));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "test_singleinstance.moc"
