// A table copied into a workbook and saved, read back by openpyxl: the cells,
// their format and the column widths, and what a failed save leaves behind.
#include <QDir>
#include <QFile>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#ifdef Q_OS_WIN
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tablesnapshot.h"
#include "tableworkbook.h"
#include "test_export_filesizelimit.h"
#include "xlsxpackagecheck.h"
#include "test_export_readback.h"
#include "xlsxworkbook.h"

#include <zip.h>

Q_DECLARE_METATYPE(ExpectedSheet)

namespace {

QStandardItemModel *modelOf(const ExpectedSheet &sheet, QObject *parent)
{
    auto *model = new QStandardItemModel(0, sheet.header.size(), parent);
    model->setHorizontalHeaderLabels(sheet.header);
    for (const QStringList &row : sheet.rows) {
        QList<QStandardItem *> items;
        for (const QString &text : row)
            items << new QStandardItem(text);
        model->appendRow(items);
    }
    return model;
}

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The scratch files of a workbook that are still about: on Linux the deleted
// files this process holds open (libxlsxwriter unlinks its own at once), on
// Windows the files in the folders they are made in.
QStringList scratchFilesHeld()
{
    QStringList found;
#ifdef Q_OS_WIN
    for (const QString &folder : {qEnvironmentVariable("TMP"), qEnvironmentVariable("TEMP"), QDir::tempPath(),
                                  QDir::currentPath()}) {
        if (folder.isEmpty())
            continue;
        for (const QString &entry : entriesOf(folder))
            found << QDir::cleanPath(QDir::fromNativeSeparators(folder) + '/' + entry).toLower();
    }
    found.removeDuplicates();
#else
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t length = readlink(QFile::encodeName("/proc/self/fd/" + fd).constData(), target, sizeof target);
        const QString held = QFile::decodeName(QByteArray(target, length > 0 ? int(length) : 0));
        if (held.endsWith(" (deleted)"))
            found << held;
    }
#endif
    found.sort();
    return found;
}

// What the C runtime writes to stderr while it lives: the program writes no log.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved = dup(2);
        const int file = open(QFile::encodeName(folder.filePath("stderr")).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        dup2(file, 2);
        close(file);
    }
    ~StderrCapture() { text(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text()
    {
        if (saved >= 0) {
            std::fflush(stderr);
            dup2(saved, 2);
            close(saved);
            saved = -1;
        }
        return contentsOf(folder.filePath("stderr"));
    }

private:
    QTemporaryDir folder;
    int saved = -1;
};

ExpectedSheet liveSheet(int rows)
{
    ExpectedSheet sheet;
    sheet.header = QStringList{u("序号"), u("时间"), u("模式"), u("量程"), u("电阻值")};
    for (int r = 0; r < rows; ++r)
        sheet.rows << QStringList{QString::number(r + 1), QStringLiteral("2024-01-31 15:45:%1").arg(r % 60, 2, 10, QLatin1Char('0')),
                                  u("自动"), u("10mΩ"), QStringLiteral("%1.345mΩ").arg(r % 100)};
    sheet.wideColumns = QStringList{"B", "E"};
    return sheet;
}

// An environment variable set for a while, through the wide functions on
// Windows: the narrow ones cannot hold every name.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QString &value)
        : name(name), had(qEnvironmentVariableIsSet(name)), old(qEnvironmentVariable(name))
    {
        set(value);
    }
    ~EnvironmentOverride()
    {
        if (had)
            set(old);
        else
            qunsetenv(name);
    }
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    void set(const QString &value)
    {
#ifdef Q_OS_WIN
        const std::wstring wideName = QString::fromLatin1(name).toStdWString();
        _wputenv_s(wideName.c_str(), value.toStdWString().c_str());
        SetEnvironmentVariableW(wideName.c_str(), value.toStdWString().c_str());
#else
        qputenv(name, QFile::encodeName(value));
#endif
    }

    const char *name;
    bool had;
    QString old;
};

#ifdef Q_OS_WIN
// Another program's handle on the target, as Excel keeps one: reading and
// writing shared, deleting (and so replacing) not.
HANDLE heldTarget = INVALID_HANDLE_VALUE;

bool holdTarget(const QString &path)
{
    heldTarget = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return heldTarget != INVALID_HANDLE_VALUE;
}

void letTargetGo()
{
    if (heldTarget != INVALID_HANDLE_VALUE)
        CloseHandle(heldTarget);
    heldTarget = INVALID_HANDLE_VALUE;
}
#endif

} // namespace

class ExportWorkbookTest : public QObject
{
    Q_OBJECT

private slots:
    void tableRoundTrip_data()
    {
        QTest::addColumn<ExpectedSheet>("sheet");

        QTest::newRow("live table, three readings") << liveSheet(3);

        ExpectedSheet live = liveSheet(0);
        live.rows << QStringList{"1", "2024-01-31 15:45:02", u("手动"), u("100kΩ"), "OL"}
                  << QStringList{"2", "2024-01-31 15:45:03", u("自动"), u("100μΩ"), u("99.99μΩ")};
        QTest::newRow("live table, overload and micro-ohms") << live;

        ExpectedSheet stored;
        stored.header = QStringList{u("序号"), u("电阻值")};
        stored.rows << QStringList{"1", u("0.500mΩ")} << QStringList{"2", u("1.2345kΩ")};
        stored.wideColumns = QStringList{"B"};
        QTest::newRow("stored table: only B widened, no E") << stored;

        ExpectedSheet single;
        single.header = QStringList{u("序号")};
        single.rows << QStringList{"1"};
        QTest::newRow("one column: nothing widened") << single;

        // Texts a careless writer turns into numbers, booleans, dates or formulas,
        // or whose blanks XML would swallow.
        ExpectedSheet tricky;
        tricky.header = QStringList{"A", "B", "C", "D", "E", "F"};
        tricky.rows << QStringList{"007", "1e5", "TRUE", "2024-01-31", "=1+1", "  padded  "}
                    << QStringList{"-0", "3.14", "<&>\"'", "1/2", "@x", u("Ω μ 中文")};
        tricky.wideColumns = QStringList{"B", "E"};
        QTest::newRow("numeric-looking and awkward texts stay text") << tricky;
    }

    void tableRoundTrip()
    {
        QFETCH(ExpectedSheet, sheet);
        QTemporaryDir directory;
        const QString path = directory.filePath("table.xlsx");
        QStandardItemModel *model = modelOf(sheet, this);

        QCOMPARE(saveTableWorkbook(TableSnapshot::of(*model), path), SaveOutcome::Saved);

        QString error;
        const QJsonObject book = readWorkbook(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QString difference = differenceFromTable(book, sheet);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        delete model;
    }

    void copyIsTakenAtTheCall()
    {
        const ExpectedSheet sheet = liveSheet(2);
        QStandardItemModel *model = modelOf(sheet, this);
        const TableSnapshot snapshot = TableSnapshot::of(*model);

        // What happens to the table after the copy must not reach the file.
        model->item(0, 4)->setText("changed");
        model->setHorizontalHeaderLabels({"x", "y", "z", "v", "w"});
        model->appendRow(QList<QStandardItem *>{new QStandardItem("3"), new QStandardItem("later")});
        delete model;

        QTemporaryDir directory;
        const QString path = directory.filePath("copy.xlsx");
        QCOMPARE(saveTableWorkbook(snapshot, path), SaveOutcome::Saved);
        QString error;
        const QJsonObject book = readWorkbook(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QString difference = differenceFromTable(book, sheet);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void wholeWidthsAreStoredAsGiven()
    {
        // Both of libxlsxwriter's width conversions: below and above 12/7.
        const QList<double> widths{1, 2, 8, 20, 255};
        QTemporaryDir directory;
        const QString path = directory.filePath("widths.xlsx");
        XlsxWorkbook workbook(path);
        QVERIFY(workbook.addSheet());
        for (int column = 1; column <= widths.size(); ++column)
            QVERIFY(workbook.setColumnWidth(column, widths.at(column - 1)));
        const char *const texts[] = {"x", "x", "x", "x", "x"};
        QVERIFY(workbook.appendRow(texts, 5, XlsxFormat()));
        QVERIFY(workbook.save());

        QString error;
        const QJsonObject book = readWorkbook(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonArray columns = book.value("rawColumns").toArray();
        QCOMPARE(columns.size(), widths.size());
        for (int i = 0; i < widths.size(); ++i)
            QCOMPARE(columns.at(i).toObject().value("width").toString(), QString::number(widths.at(i)));
    }

    void cellsOutsideTheSheetAreRefused()
    {
        QTemporaryDir directory;
        XlsxWorkbook workbook(directory.filePath("refused.xlsx"));
        const XlsxFormat format;
        const char *const one[] = {"x"};
        QVERIFY(!workbook.appendRow(one, 1, format)); // no sheet yet
        QVERIFY(workbook.addSheet());
        QVERIFY(!workbook.setColumnWidth(0, 20));
        QVERIFY(!workbook.setColumnWidth(16385, 20));
        QVERIFY(!workbook.setColumnWidth(2, -1));
        const std::vector<const char *> tooWide(16385, "x");
        QVERIFY(!workbook.appendRow(tooWide.data(), 16385, format));
        QCOMPARE(workbook.rowsOnSheet(), 0);
        QVERIFY(workbook.appendRow(tooWide.data(), 16384, format));
        QCOMPARE(workbook.rowsOnSheet(), 1);
        // Written rows have left memory: a width now could not reach them.
        QVERIFY(!workbook.setColumnWidth(2, 20));
        QVERIFY(workbook.save());
    }

    void savingOverAFileReplacesItAndLeavesNothingElse()
    {
        QTemporaryDir directory;
        const QString path = directory.filePath("old.xlsx");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'x'));
        }
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

        QStandardItemModel *model = modelOf(liveSheet(3), this);
        QCOMPARE(saveTableWorkbook(TableSnapshot::of(*model), path), SaveOutcome::Saved);
        delete model;

        QString error;
        const QJsonObject book = readWorkbook(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        QCOMPARE(entriesOf(directory.path()), QStringList{"old.xlsx"});
#ifndef Q_OS_WIN // Windows keeps no owner, group and other modes
        QCOMPARE(QFile::permissions(path) & QFileDevice::Permissions(0x7077), // owner, group, other
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
#endif
    }

    void savingThroughALinkReplacesTheFileItPointsTo()
    {
#ifdef Q_OS_WIN
        QSKIP("QFile::link makes a shortcut on Windows, not a link the save goes through");
#endif
        QTemporaryDir directory;
        QVERIFY(QDir(directory.path()).mkdir("real"));
        const QString file = directory.filePath("real/book.xlsx");
        const QString link = directory.filePath("link.xlsx");
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        QVERIFY(QFile::link(file, link));

        QStandardItemModel *model = modelOf(liveSheet(1), this);
        QCOMPARE(saveTableWorkbook(TableSnapshot::of(*model), link), SaveOutcome::Saved);
        delete model;

        QVERIFY(QFileInfo(link).isSymLink());
        QString error;
        QVERIFY2(!readWorkbook(file, &error).isEmpty(), qPrintable(error));
        QCOMPARE(entriesOf(directory.filePath("real")), QStringList{"book.xlsx"});
    }

    void damagedPackagesAreNotComplete_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("intact") << "none";
        QTest::newRow("empty file") << "empty";
        // minizip reads the last two bytes, the length of a comment, as zero when
        // they are missing; libxlsxwriter reports a failed write of them itself.
        QTest::newRow("end of the directory record missing") << "cut end";
        QTest::newRow("second half missing") << "cut half";
        QTest::newRow("one compressed byte changed") << "flip";
        // Longer than any fixed buffer for the name: the part is still judged
        // by its whole name, which ends in ".xml".
        QTest::newRow("part named in 600 bytes") << "long name";
        QTest::newRow("part named in 600 bytes, cut short") << "long name cut";
    }

    void damagedPackagesAreNotComplete()
    {
        QFETCH(QString, damage);
        QTemporaryDir directory;
        const QString path = directory.filePath("package.xlsx");
        QStandardItemModel *model = modelOf(liveSheet(200), this);
        QCOMPARE(saveTableWorkbook(TableSnapshot::of(*model), path), SaveOutcome::Saved);
        delete model;

        QByteArray package = contentsOf(path);
        QVERIFY(package.size() > 1000);
        QVERIFY(xlsxPackageFileIsComplete(path));
        if (damage == "empty")
            package.clear();
        else if (damage == "cut end")
            package.chop(10);
        else if (damage == "cut half")
            package.truncate(package.size() / 2);
        else if (damage == "flip")
            package[package.size() / 3] = char(package.at(package.size() / 3) ^ 0x10);
        if (damage.startsWith("long name")) {
            QByteArray part = "<?xml version=\"1.0\"?>\n<note>kept</note>\n";
            if (damage == "long name cut")
                part.chop(8);
            zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_ADDINZIP);
            QVERIFY(zip);
            const QByteArray name = "xl/" + QByteArray(600, 'n') + ".xml";
            QCOMPARE(zipOpenNewFileInZip64(zip, name.constData(), nullptr, nullptr, 0, nullptr, 0, nullptr,
                                           Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
                     ZIP_OK);
            QCOMPARE(zipWriteInFileInZip(zip, part.constData(), unsigned(part.size())), ZIP_OK);
            QCOMPARE(zipCloseFileInZip(zip), ZIP_OK);
            QCOMPARE(zipClose(zip, nullptr), ZIP_OK);
        } else {
            QFile damaged(path);
            QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(damaged.write(package), qint64(package.size()));
        }
        QCOMPARE(xlsxPackageFileIsComplete(path), damage == "none" || damage == "long name");
    }

    void failedSaveLeavesTheTargetAsItWas_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("directory does not exist") << "missing directory";
        QTest::newRow("target is a directory") << "directory";
        QTest::newRow("disk full part-way") << "size limit";
        QTest::newRow("existing file is read-only") << "read-only";
        QTest::newRow("cancelled before the first row") << "cancel first";
        QTest::newRow("cancelled while the file is packed") << "cancel packing";
        QTest::newRow("abandoned on its second sheet") << "cancel second sheet";
    }

    void failedSaveLeavesTheTargetAsItWas()
    {
        QFETCH(QString, how);
        QTemporaryDir directory;
        QString path = directory.filePath("kept.xlsx");
        const QByteArray before = QByteArray("an earlier workbook, to be kept\n").repeated(100);
        if (how == "missing directory") {
            path = directory.filePath("absent/kept.xlsx");
        } else if (how == "directory") {
            QVERIFY(QDir(directory.path()).mkdir("kept.xlsx"));
        } else {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        if (how == "read-only") {
            if (readOnlyFilesAreWritableHere())
                QSKIP("this process may write a read-only file (root, or Wine run by root)");
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        }
        const QStringList entriesBefore = entriesOf(directory.path());
        StderrCapture printed; // first: its own folder is no leftover of the save
        const QStringList scratchBefore = scratchFilesHeld();

        // Big enough that the sheet cannot be written below the size limit.
        QStandardItemModel *model = modelOf(liveSheet(5000), this);
        const TableSnapshot snapshot = TableSnapshot::of(*model);
        delete model;
        SaveOutcome outcome = SaveOutcome::Saved;
        if (how == "size limit") {
            if (!fileSizeCanBeLimited())
                QSKIP("no way to fill the disk for this process alone here");
            FileSizeLimit limit(32 * 1024);
            outcome = saveTableWorkbook(snapshot, path);
        } else if (how == "cancel first") {
            SaveProgress progress;
            progress.cancelRequested = true;
            outcome = saveTableWorkbook(snapshot, path, &progress);
            QCOMPARE(progress.rowsWritten.load(), 0);
        } else if (how == "cancel packing") {
            XlsxWorkbook workbook(path);
            QVERIFY(workbook.addSheet());
            const char *const texts[] = {"1", "2"};
            QVERIFY(workbook.appendRow(texts, 2, XlsxFormat()));
            const std::atomic<bool> cancelled{true};
            outcome = workbook.save(&cancelled) ? SaveOutcome::Saved : SaveOutcome::Cancelled;
        } else if (how == "cancel second sheet") {
            XlsxWorkbook workbook(path);
            const char *const texts[] = {"1", "2"};
            QVERIFY(workbook.addSheet());
            QVERIFY(workbook.appendRow(texts, 2, XlsxFormat()));
            QVERIFY(workbook.addSheet());
            QVERIFY(workbook.appendRow(texts, 2, XlsxFormat()));
            outcome = SaveOutcome::Cancelled;
        } else {
            outcome = saveTableWorkbook(snapshot, path);
        }

        const QByteArray output = printed.text();
        QCOMPARE(outcome, how.startsWith("cancel") ? SaveOutcome::Cancelled : SaveOutcome::Failed);
        QCOMPARE(entriesOf(directory.path()), entriesBefore);
        QCOMPARE(scratchFilesHeld(), scratchBefore);
        QCOMPARE(output, QByteArray());
        if (how == "size limit" || how == "read-only" || how.startsWith("cancel"))
            QCOMPARE(contentsOf(path), before);
        if (how == "directory")
            QVERIFY(QFileInfo(path).isDir());
    }

    void targetLetGoWithinTheRetryIsReplaced()
    {
#ifndef Q_OS_WIN
        QSKIP("only Windows keeps an open file from being replaced");
#else
        QTemporaryDir directory;
        const QString path = directory.filePath("kept.xlsx");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an earlier workbook");
        }
        QVERIFY(holdTarget(path));
        XlsxWorkbook::targetInUseGate = letTargetGo;
        QStandardItemModel *model = modelOf(liveSheet(3), this);
        const SaveOutcome outcome = saveTableWorkbook(TableSnapshot::of(*model), path);
        XlsxWorkbook::targetInUseGate = nullptr;
        const bool wasHeld = heldTarget == INVALID_HANDLE_VALUE;
        letTargetGo();
        delete model;

        QVERIFY2(wasHeld, "the save never found the target in use");
        QCOMPARE(outcome, SaveOutcome::Saved);
        QString error;
        QVERIFY2(!readWorkbook(path, &error).isEmpty(), qPrintable(error));
        QCOMPARE(entriesOf(directory.path()), QStringList{"kept.xlsx"});
#endif
    }

    // A user whose name the system's code page cannot hold has a temporary
    // folder of that name; a shortcut may start the program in a folder where
    // no file can be made. The library's scratch files still go to the
    // temporary folder, and none stays.
    void scratchFilesStayInATemporaryFolderOfAnyName()
    {
        QTemporaryDir base;
        const QString scratch = base.filePath(u("临时文件"));
        QVERIFY(QDir().mkpath(scratch));
        const QString folder = base.filePath("saved");
        QVERIFY(QDir().mkpath(folder));
        const QString path = QDir(folder).filePath("readings.xlsx");
        QStandardItemModel *model = modelOf(liveSheet(50), this);
        const TableSnapshot table = TableSnapshot::of(*model);
        delete model;

        SaveOutcome outcome = SaveOutcome::Failed;
        {
            EnvironmentOverride tmp("TMP", scratch), temp("TEMP", scratch), tmpdir("TMPDIR", scratch);
            QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(scratch).canonicalPath());
            const QString startedIn = QDir::currentPath();
#ifdef Q_OS_WIN
            const QString unwritable = QStringLiteral("Z:/sys/kernel"); // Wine's view of Linux's sysfs
#else
            const QString unwritable = QStringLiteral("/sys/kernel");
#endif
            const bool moved = QFileInfo(unwritable).isDir() && QDir::setCurrent(unwritable);
            outcome = saveTableWorkbook(table, path);
            if (moved)
                QVERIFY(QDir::setCurrent(startedIn));
        }

        QCOMPARE(outcome, SaveOutcome::Saved);
        QString error;
        QVERIFY2(!readWorkbook(path, &error).isEmpty(), qPrintable(error));
        QCOMPARE(entriesOf(scratch), QStringList());
        QCOMPARE(entriesOf(folder), QStringList{"readings.xlsx"});
    }
};

QTEST_GUILESS_MAIN(ExportWorkbookTest)
#include "test_export_workbook.moc"
