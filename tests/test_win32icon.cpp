// The program file carries its icon as the group resource IDI_ICON1 (one
// 32 x 32 image in 16 colours, as :/app2.ico), and Qt's Windows layer gives
// it to the window: no code of ours sets a window icon there.
#include <QtEndian>
#include <QtTest>

#include "mainwindow.h"

#include <windows.h>

namespace {

#pragma pack(push, 2)
struct IconGroupHeader
{
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry
{
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitsPerPixel;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

} // namespace

class Win32IconTest : public QObject
{
    Q_OBJECT

private slots:
    void programFileCarriesIdiIcon1_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("zelmora.exe") << QStringLiteral(ZELMORA_PROGRAM);
        QTest::newRow("zelmora-demo.exe") << QStringLiteral(ZELMORA_DEMO_PROGRAM);
    }

    void programFileCarriesIdiIcon1()
    {
        QFETCH(QString, program);
        HMODULE module = LoadLibraryExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(program).utf16()),
                                        nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        QVERIFY2(module, qPrintable(program));
        HRSRC group = FindResourceW(module, L"IDI_ICON1", MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
        QVERIFY(group);
        const auto *header = static_cast<const IconGroupHeader *>(LockResource(LoadResource(module, group)));
        QVERIFY(header);
        QCOMPARE(int(header->type), 1);
        QCOMPARE(int(header->count), 1);
        const auto *entry = reinterpret_cast<const IconGroupEntry *>(header + 1);
        QCOMPARE(int(entry->width), 32);
        QCOMPARE(int(entry->height), 32);
        QCOMPARE(int(entry->colours), 16);
        QCOMPARE(int(entry->bitsPerPixel), 4);

        // The image is the one compiled into the resources as :/app2.ico.
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(entry->id), MAKEINTRESOURCEW(3) /* RT_ICON */);
        QVERIFY(image);
        const QByteArray bits(static_cast<const char *>(LockResource(LoadResource(module, image))),
                              int(SizeofResource(module, image)));
        QFile ico(QStringLiteral(":/app2.ico"));
        QVERIFY(ico.open(QIODevice::ReadOnly));
        const QByteArray file = ico.readAll();
        // An .ico file's one entry gives the image's size and offset.
        QVERIFY(file.size() >= 22);
        const auto size = qFromLittleEndian<quint32>(file.constData() + 14);
        const auto offset = qFromLittleEndian<quint32>(file.constData() + 18);
        QCOMPARE(bits, file.mid(int(offset), int(size)));
        FreeLibrary(module);
    }

    void windowShowsTheProgramIcon()
    {
        // This test program carries IDI_ICON1 itself, as the programs do.
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto icon = GetClassLongPtrW(reinterpret_cast<HWND>(w.winId()), GCLP_HICON);
        QVERIFY(icon != 0);
    }
};

QTEST_MAIN(Win32IconTest)
#include "test_win32icon.moc"
