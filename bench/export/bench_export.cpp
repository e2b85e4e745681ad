// Saving the live table of a long log: the program's own export (snapshot of
// the table -> workbook streamed to a file -> whole-file check -> rename), as
// the save button runs it, against two references writing the same cells with
// the same format, side by side in one run at each size:
//  - openpyxl in write-only mode (Python);
//  - libxlsxwriter alone in constant-memory mode (bare_libxlsxwriter.c), the
//    floor for any program that writes through it.
// The export's memory is its growth above the table it saves.
//
// usage: bench_export [rows ...]    (default: 100000 864000, a day at 100 ms)
// Exit status 1 when a goal is missed: at least 10x openpyxl's speed, at most
// 1.25x the bare library's time, at most 64 MiB of growth at 864,000 rows.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>
#include <ctime>

#include "tablesnapshot.h"
#include "tableworkbook.h"
#include "xlsxpackagecheck.h"

namespace {

constexpr int DEFAULT_SIZES[] = {100000, 864000};
constexpr double OPENPYXL_GOAL = 10.0;
constexpr double BARE_GOAL = 1.25;
constexpr int MEMORY_GOAL_ROWS = 864000;
constexpr double MEMORY_GOAL_MIB = 64.0;
// Rounds of all three, one right after another. The machine's speed drifts
// by more than the goals' margins from minute to minute, so the ratios are
// taken within each round and their median judged.
constexpr int REPEATS = 3;

long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Linux: writing 5 resets VmHWM to the current resident size, so the peak
// that follows belongs to the export alone.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// What the live table holds after a long session at 500 ms, grown to `rows`.
void fillLiveTable(QStandardItemModel &model, int rows)
{
    if (model.columnCount() != 5) {
        model.setColumnCount(5);
        model.setHorizontalHeaderLabels({QString::fromUtf8("序号"), QString::fromUtf8("时间"),
                                         QString::fromUtf8("模式"), QString::fromUtf8("量程"),
                                         QString::fromUtf8("电阻值")});
    }
    const QDateTime start(QDate(2024, 1, 31), QTime(15, 45, 2));
    const QString modes[] = {QString::fromUtf8("自动"), QString::fromUtf8("手动")};
    const QString ranges[] = {QString::fromUtf8("10mΩ"), QString::fromUtf8("100Ω"), QString::fromUtf8("1kΩ")};
    for (int r = model.rowCount(); r < rows; ++r) {
        const QString value = r % 97 == 0 ? QStringLiteral("OL")
                                          : QString::number(10 + (r * 7919) % 90000 / 1000.0, 'f', 3) + QString::fromUtf8("mΩ");
        QList<QStandardItem *> items{
            new QStandardItem(QString::number(r + 1)),
            new QStandardItem(start.addMSecs(qint64(r) * 500).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))),
            new QStandardItem(modes[(r / 1000) % 2]),
            new QStandardItem(ranges[(r / 5000) % 3]),
            new QStandardItem(value),
        };
        for (QStandardItem *item : items) {
            item->setTextAlignment(Qt::AlignCenter);
            item->setEditable(false);
        }
        model.appendRow(items);
    }
}

// The same display texts for the reference, header first.
bool writeTable(const QAbstractItemModel &model, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8"); // Qt 6 writes UTF-8 unless told otherwise
#endif
    QStringList line;
    for (int c = 0; c < model.columnCount(); ++c)
        line << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    out << line.join('\t') << '\n';
    for (int r = 0; r < model.rowCount(); ++r) {
        line.clear();
        for (int c = 0; c < model.columnCount(); ++c)
            line << model.data(model.index(r, c), Qt::DisplayRole).toString();
        out << line.join('\t') << '\n';
    }
    return out.status() == QTextStream::Ok;
}

// CPU time of this process: unlike wall-clock time, hardly moved by whatever
// else the machine is running meanwhile.
double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

double mib(long kib)
{
    return kib / 1024.0;
}

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    long growthKiB = 0;
    qint64 fileBytes = 0;
    bool ok = false;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Run better(const Run &a, const Run &b)
{
    if (!a.ok)
        return b;
    if (!b.ok)
        return a;
    Run best = a.seconds <= b.seconds ? a : b;
    best.growthKiB = qMax(a.growthKiB, b.growthKiB); // memory: the worst seen
    best.peakKiB = qMax(a.peakKiB, b.peakKiB);
    return best;
}

// Ours, in this process: what the save button does once the name is chosen.
Run runOurs(const QStandardItemModel &model, const QString &path, double *snapshotSeconds)
{
    QFile::remove(path);
    Run run;
    const long before = statusKiB("VmRSS");
    resetPeak();
    const double cpuStart = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    {
        const TableSnapshot snapshot = TableSnapshot::of(model);
        *snapshotSeconds = timer.nsecsElapsed() / 1e9;
        run.ok = saveTableWorkbook(snapshot, path) == SaveOutcome::Saved;
    }
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.cpuSeconds = cpuSeconds() - cpuStart;
    run.peakKiB = statusKiB("VmHWM");
    run.growthKiB = run.peakKiB - before;
    run.fileBytes = QFileInfo(path).size();
    return run;
}

// Starts the references. A fork of this process, holding a table of a GiB,
// would leave every page of it copy-on-write, and the export's next pass
// over the table would then fault on each one: seconds that belong to the
// fork, not the export. So a shell started while this process is still small
// does the starting.
class Launcher
{
public:
    Launcher()
    {
        shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        shell.start(QStringLiteral("/bin/sh"), QStringList());
        shell.waitForStarted(-1);
    }
    ~Launcher()
    {
        shell.closeWriteChannel();
        shell.waitForFinished(-1);
    }

    // The program's standard output; empty when it failed.
    QByteArray run(const QString &program, const QStringList &arguments)
    {
        QStringList words;
        for (const QString &word : QStringList(program) + arguments)
            words << QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
                    + QLatin1Char('\'');
        shell.write((words.join(QLatin1Char(' ')) + QStringLiteral("; echo \"%1 $?\"\n").arg(END)).toUtf8());
        QByteArray out;
        for (;;) {
            while (!shell.canReadLine()) {
                if (!shell.waitForReadyRead(-1))
                    return QByteArray();
            }
            const QByteArray line = shell.readLine();
            if (line.startsWith(END.toLatin1()))
                return line.trimmed().endsWith(" 0") ? out : QByteArray();
            out += line;
        }
    }

private:
    const QString END = QStringLiteral("@bench-export-done");
    QProcess shell;
};

// A reference, in a process of its own that prints one JSON line.
Run runReference(Launcher &launcher, const QString &program, const QStringList &arguments, const QString &path)
{
    QFile::remove(path);
    Run run;
    const QJsonObject result = QJsonDocument::fromJson(launcher.run(program, arguments)).object();
    run.seconds = result.value(QStringLiteral("seconds")).toDouble();
    run.cpuSeconds = result.value(QStringLiteral("cpuSeconds")).toDouble();
    run.peakKiB = long(result.value(QStringLiteral("peakKiB")).toDouble());
    run.growthKiB = long(result.value(QStringLiteral("growthKiB")).toDouble());
    run.fileBytes = QFileInfo(path).size();
    run.ok = run.seconds > 0;
    return run;
}

void printRun(const char *name, const Run &run)
{
    std::printf("  %-34s %8.3f %8.3f %12.1f %14.1f %10.0f\n", name, run.seconds, run.cpuSeconds, mib(run.peakKiB),
                mib(run.growthKiB), run.fileBytes / 1024.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QString::fromLocal8Bit(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = QList<int>(std::begin(DEFAULT_SIZES), std::end(DEFAULT_SIZES));
    std::sort(sizes.begin(), sizes.end());
    if (sizes.first() <= 0) {
        std::fprintf(stderr, "usage: bench_export [rows ...]\n");
        return 2;
    }
    QTemporaryDir directory;
    const QString ours = directory.filePath(QStringLiteral("zelmora.xlsx"));
    const QString bare = directory.filePath(QStringLiteral("bare.xlsx"));
    const QString theirs = directory.filePath(QStringLiteral("openpyxl.xlsx"));
    const QString table = directory.filePath(QStringLiteral("table.tsv"));

    Launcher launcher;
    bool goalsMet = true;
    QStandardItemModel model;
    std::printf("bench_export: the live table saved, ours against two references in %d rounds; the table shows"
                " the best of each\n", REPEATS);
    for (const int rows : sizes) {
        fillLiveTable(model, rows);
        if (!writeTable(model, table)) {
            std::fprintf(stderr, "bench_export: cannot write %s\n", qPrintable(table));
            return 2;
        }
        Run our;
        Run reference;
        Run python;
        double snapshotSeconds = 0;
        std::vector<double> openpyxlRatios;
        std::vector<double> bareRatios;
        for (int k = 0; k < REPEATS; ++k) {
            double snapshotNow = 0;
            const Run now = runOurs(model, ours, &snapshotNow);
            if (!now.ok || !xlsxPackageFileIsComplete(ours)) {
                std::fprintf(stderr, "bench_export: the export failed\n");
                return 2;
            }
            const Run bareNow = runReference(launcher, QStringLiteral(ZELMORA_BARE_WRITER), {table, bare}, bare);
            const Run pythonNow = runReference(launcher, QStringLiteral(ZELMORA_OPENPYXL_PYTHON),
                                               {QStringLiteral(ZELMORA_OPENPYXL_SCRIPT), table, theirs}, theirs);
            if (!bareNow.ok || !pythonNow.ok) {
                std::fprintf(stderr, "bench_export: a reference did not run\n");
                return 2;
            }
            if (!our.ok || now.seconds < our.seconds)
                snapshotSeconds = snapshotNow;
            our = better(our, now);
            reference = better(reference, bareNow);
            python = better(python, pythonNow);
            openpyxlRatios.push_back(pythonNow.seconds / now.seconds);
            bareRatios.push_back(now.seconds / bareNow.seconds);
            std::fprintf(stderr, "round %d: zelmora %.3f s, bare %.3f s, openpyxl %.3f s\n", k + 1, now.seconds,
                         bareNow.seconds, pythonNow.seconds);
        }

        const double vsOpenpyxl = median(openpyxlRatios);
        const double vsBare = median(bareRatios);
        const bool memoryGoal = rows < MEMORY_GOAL_ROWS || mib(our.growthKiB) <= MEMORY_GOAL_MIB;
        goalsMet = goalsMet && vsOpenpyxl >= OPENPYXL_GOAL && vsBare <= BARE_GOAL && memoryGoal;

        std::printf("\n%d rows x %d columns (the table itself: %.0f MiB resident)\n", rows, model.columnCount(),
                    mib(statusKiB("VmRSS")));
        std::printf("  %-34s %8s %8s %12s %14s %10s\n", "", "wall s", "CPU s", "peak (MiB)", "growth (MiB)",
                    "file (KiB)");
        printRun("zelmora: snapshot, write, check", our);
        printRun("libxlsxwriter alone, constant mem.", reference);
        printRun("openpyxl write-only", python);
        std::printf("  (zelmora: snapshot %.3f s, then writing and checking %.3f s)\n", snapshotSeconds,
                    our.seconds - snapshotSeconds);
        std::printf("  ratio: %.1fx faster than openpyxl, median of the rounds (goal: at least %.0fx;"
                    " best against best %.1fx)\n", vsOpenpyxl, OPENPYXL_GOAL, python.seconds / our.seconds);
        std::printf("  ratio: %.2fx the bare library's time, median of the rounds (goal: at most %.2fx;"
                    " best against best %.2fx)\n", vsBare, BARE_GOAL, our.seconds / reference.seconds);
        std::printf("  memory: %.1f MiB above the table%s\n", mib(our.growthKiB),
                    rows >= MEMORY_GOAL_ROWS ? qPrintable(QStringLiteral(" (goal: at most %1 MiB)").arg(MEMORY_GOAL_MIB))
                                             : "");
    }
    std::printf("\n%s\n", goalsMet ? "bench_export: every goal met" : "bench_export: a goal was missed");
    return goalsMet ? 0 : 1;
}
