// Saving a 100,000-row live table: the program's own export code (table ->
// workbook -> file) against openpyxl's write-only mode writing the same cells
// with the same format, one run each, side by side.
//
// usage: bench_export [rows]    exit status 1 when the goal of 8x is missed
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

#include <cstdio>
#include <ctime>

#include "tablesnapshot.h"
#include "tableworkbook.h"
#include "xlsxpackagecheck.h"

namespace {

constexpr int DEFAULT_ROWS = 100000;
constexpr double GOAL = 8.0;

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

// What the live table holds after a long session at 500 ms.
void fillLiveTable(QStandardItemModel &model, int rows)
{
    model.setColumnCount(5);
    model.setHorizontalHeaderLabels({QString::fromUtf8("序号"), QString::fromUtf8("时间"), QString::fromUtf8("模式"),
                                     QString::fromUtf8("量程"), QString::fromUtf8("电阻值")});
    const QDateTime start(QDate(2024, 1, 31), QTime(15, 45, 2));
    const QString modes[] = {QString::fromUtf8("自动"), QString::fromUtf8("手动")};
    const QString ranges[] = {QString::fromUtf8("10mΩ"), QString::fromUtf8("100Ω"), QString::fromUtf8("1kΩ")};
    for (int r = 0; r < rows; ++r) {
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
    out.setCodec("UTF-8");
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : DEFAULT_ROWS;
    if (rows <= 0) {
        std::fprintf(stderr, "usage: bench_export [rows]\n");
        return 2;
    }
    QTemporaryDir directory;
    const QString ours = directory.filePath(QStringLiteral("zelmora.xlsx"));
    const QString theirs = directory.filePath(QStringLiteral("openpyxl.xlsx"));
    const QString table = directory.filePath(QStringLiteral("table.tsv"));

    QStandardItemModel model;
    fillLiveTable(model, rows);
    if (!writeTable(model, table)) {
        std::fprintf(stderr, "bench_export: cannot write %s\n", qPrintable(table));
        return 2;
    }

    // Ours, in this process: the copy and the save, as the save button does them.
    const long before = statusKiB("VmRSS");
    resetPeak();
    const double cpuStart = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    const TableSnapshot snapshot = TableSnapshot::of(model);
    const qint64 copyNs = timer.nsecsElapsed();
    const bool saved = saveTableWorkbook(snapshot, ours) == SaveOutcome::Saved;
    const double ourSeconds = timer.nsecsElapsed() / 1e9;
    const double ourCpuSeconds = cpuSeconds() - cpuStart;
    const long ourPeak = statusKiB("VmHWM");
    if (!saved || !xlsxPackageFileIsComplete(ours)) {
        std::fprintf(stderr, "bench_export: the export failed\n");
        return 2;
    }

    // Theirs, in its own process.
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QStringLiteral(ZELMORA_OPENPYXL_PYTHON), {QStringLiteral(ZELMORA_OPENPYXL_SCRIPT), table, theirs});
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        std::fprintf(stderr, "bench_export: %s did not run\n", ZELMORA_OPENPYXL_PYTHON);
        return 2;
    }
    const QJsonObject reference = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    const double theirSeconds = reference.value(QStringLiteral("seconds")).toDouble();
    const double theirCpuSeconds = reference.value(QStringLiteral("cpuSeconds")).toDouble();
    const double ratio = theirSeconds / ourSeconds;
    const double cpuRatio = theirCpuSeconds / ourCpuSeconds;

    std::printf("bench_export: %d live rows x %d columns, %d cells, one run each\n", rows, model.columnCount(),
                (snapshot.rowCount() + 1) * snapshot.columnCount());
    std::printf("%-30s %8s %8s %15s %18s %10s\n", "", "wall s", "CPU s", "peak RSS (MiB)", "export peak (MiB)",
                "file (KiB)");
    std::printf("%-30s %8.3f %8.3f %15.1f %18.1f %10.0f\n", "zelmora: copy + libxlsxwriter", ourSeconds,
                ourCpuSeconds, mib(ourPeak), mib(ourPeak - before), QFileInfo(ours).size() / 1024.0);
    std::printf("%-30s %8.3f %8.3f %15.1f %18.1f %10.0f\n", "openpyxl write-only", theirSeconds, theirCpuSeconds,
                mib(reference.value(QStringLiteral("peakKiB")).toInt()),
                mib(reference.value(QStringLiteral("growthKiB")).toInt()), QFileInfo(theirs).size() / 1024.0);
    std::printf("(zelmora: copy of the table %.3f s, save %.3f s; peak RSS includes each process's table,\n"
                " export peak is the growth above it while exporting)\n",
                copyNs / 1e9, ourSeconds - copyNs / 1e9);
    std::printf("ratio: the export is %.1fx faster than openpyxl in wall-clock time, %.1fx in CPU time"
                " (goal: at least %.0fx)\n", ratio, cpuRatio, GOAL);
    return ratio >= GOAL ? 0 : 1;
}
