// The live table's costs, measured side by side in one run:
//  - the GUI thread's cost of one live row, repaint included, in the real
//    window already holding many rows, against the same row appended to bare
//    tables of the same size whose sections keep their size; for context, the
//    same against a table that sizes to its contents and is given an empty row
//    filled cell by cell;
//  - the memory a row of the live table takes;
//  - both of these at each of several table sizes, by default 100,000 rows and
//    864,000 (a day of logging at 100 ms): the tables are filled to the first
//    size and measured, then filled on to the next and measured again, and the
//    cost of a row at the largest size is set against that at the smallest;
//  - the time from the virtual meter's reply to the row being in the model,
//    at the largest size.
//
// usage: bench_live [rows] [appends] [polls]
//   rows: one size, or sizes separated by commas (e.g. 100000,864000), each
//         measured in turn in increasing order; default 100000,864000
// It prints figures and ratios only: the exit status is 1 when the program
// itself fails (a window that does not connect, a row that never comes), never
// because of a figure; 2 for a rows argument that is not a list of sizes.
#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QMetaObject>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "mainwindow.h"
#include "virtualmeter.h"

namespace {

using Clock = std::chrono::steady_clock;

// A session's worth of rows, and a day of logging at 100 ms.
const std::vector<int> DEFAULT_ROWS{100000, 864000};
constexpr int DEFAULT_APPENDS = 300;
constexpr int DEFAULT_POLLS = 500;
// Rounds and polls run first and thrown away: caches, the worker thread's
// start, the first layouts.
constexpr int WARM_UP = 20;
constexpr double GUI_GOAL = 1.3;
constexpr double LATENCY_GOAL_MS = 1.0;
// What a thread woken on an idle core waits before it runs, with room to spare.
constexpr double QUIET_WAIT_MS = 0.05;

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(p / 100.0 * double(v.size() - 1) + 0.5);
    return v[std::min(rank, v.size() - 1)];
}

// A cell as the window makes it.
QStandardItem *tableCell(const QString &text)
{
    auto *item = new QStandardItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setEditable(false);
    return item;
}

struct Sample {
    QString mode;
    QString range;
    QString value;
};

// What a long session shows: both modes, a few ranges, values that change in
// width now and then, an overload here and there.
Sample sampleFor(int r)
{
    static const QString modes[] = {QString::fromUtf8("自动"), QString::fromUtf8("手动")};
    static const QString ranges[] = {QString::fromUtf8("10mΩ"), QString::fromUtf8("100Ω"),
                                     QString::fromUtf8("1kΩ")};
    const QString value = r % 97 == 0
                              ? QStringLiteral("OL")
                              : QString::number(10 + (r * 7919) % 90000 / 1000.0, 'f', 3) + QString::fromUtf8("mΩ");
    return {modes[(r / 1000) % 2], ranges[(r / 5000) % 3], value};
}

QStringList rowTexts(int row, const Sample &s)
{
    return {QString::number(row + 1),
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), s.mode, s.range,
            s.value};
}

QList<QStandardItem *> finishedRow(const QStringList &texts)
{
    QList<QStandardItem *> items;
    for (const QString &t : texts)
        items << tableCell(t);
    return items;
}

const QStringList HEADER_LABELS{QString::fromUtf8("序号"), QString::fromUtf8("时间"), QString::fromUtf8("模式"),
                                QString::fromUtf8("量程"), QString::fromUtf8("电阻值")};

// The delayed item layout and the header's delayed resize run from zero-time
// timers, and each can start the next; a few passes let them all run before the
// forced repaint, so that none of their cost is left for the next table's turn.
void flush(QTableView *view)
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    view->viewport()->repaint();
}

// A table beside the window: its own top-level window, with the viewport of
// the window's live table. The model is kept from one size to the next, the
// view made afresh at each.
struct Table {
    const char *label = "";
    bool windowLook = false;
    QHeaderView::ResizeMode resizeMode = QHeaderView::Fixed;
    std::unique_ptr<QStandardItemModel> model;
    std::unique_ptr<QTableView> view;
    std::function<void()> append;
    std::vector<double> us;
};

// Everything of the window's live table that bears on painting and sizing,
// except the header's resize mode.
void lookLike(QTableView &view, QTableView &live)
{
    view.setFont(live.font());
    view.setStyleSheet(live.styleSheet());
    view.setVerticalScrollMode(live.verticalScrollMode());
    view.setHorizontalScrollMode(live.horizontalScrollMode());
    view.setTextElideMode(live.textElideMode());
    view.setAutoScrollMargin(live.autoScrollMargin());
    view.horizontalHeader()->setMinimumSectionSize(live.horizontalHeader()->minimumSectionSize());
    view.horizontalHeader()->setDefaultSectionSize(live.horizontalHeader()->defaultSectionSize());
    view.horizontalHeader()->setStretchLastSection(live.horizontalHeader()->stretchLastSection());
    view.verticalHeader()->setVisible(live.verticalHeader()->isVisible());
}

// Brings a model up to the window's live table, or to its first `rows` rows:
// the texts of the rows it does not have yet, each its own copy, as they would
// be if they had come from the meter: shared texts would make its rows look
// cheaper than they are. Both tables take the same timed rows, so the counts
// stay in step.
void catchUp(QStandardItemModel &model, const QStandardItemModel &live, int rows = -1)
{
    if (model.columnCount() != live.columnCount()) {
        model.setColumnCount(live.columnCount());
        model.setHorizontalHeaderLabels(HEADER_LABELS);
    }
    const int end = rows < 0 ? live.rowCount() : std::min(rows, live.rowCount());
    for (int r = model.rowCount(); r < end; ++r) {
        QStringList texts;
        for (int c = 0; c < live.columnCount(); ++c) {
            const QString text = live.item(r, c)->text();
            texts << QString(text.unicode(), text.size());
        }
        model.appendRow(finishedRow(texts));
    }
}

int fail(const char *why)
{
    std::fprintf(stderr, "bench_live: %s\n", why);
    return 1;
}

int currentTid()
{
    return static_cast<int>(syscall(SYS_gettid));
}

// Nanoseconds the thread has spent runnable but waiting for a core
// (/proc/.../schedstat, second field); -1 where the kernel does not tell.
long long runDelayNs(int tid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
    FILE *file = std::fopen(path, "r");
    if (!file)
        return -1;
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    const int fields = std::fscanf(file, "%llu %llu", &running, &waiting);
    std::fclose(file);
    return fields == 2 ? static_cast<long long>(waiting) : -1;
}

int argument(int argc, char **argv, int index, int fallback)
{
    if (argc <= index)
        return fallback;
    const int value = std::atoi(argv[index]);
    return value > 0 ? value : fallback;
}

// The table sizes, increasing, since the tables only ever grow; empty when
// the argument is not a list of positive numbers.
std::vector<int> sizesArgument(int argc, char **argv, int index)
{
    if (argc <= index)
        return DEFAULT_ROWS;
    std::vector<int> sizes;
    for (const QByteArray &item : QByteArray(argv[index]).split(',')) {
        bool ok = false;
        const int size = item.trimmed().toInt(&ok);
        if (!ok || size <= 0)
            return {};
        sizes.push_back(size);
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

// What one table size showed.
struct SizeResult {
    int rows = 0;
    double fillSeconds = 0;
    double fillRows = 0;
    double windowBytesPerRow = 0;
    double bareBytesPerRow = 0;
    std::vector<double> medianUs;
    std::vector<double> medianRatio;
    std::vector<double> medianToAnchor;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");

    const std::vector<int> sizes = sizesArgument(argc, argv, 1);
    if (sizes.empty()) {
        std::fprintf(stderr, "usage: bench_live [rows[,rows...]] [appends] [polls]\n");
        return 2;
    }
    const int appends = argument(argc, argv, 2, DEFAULT_APPENDS);
    const int polls = argument(argc, argv, 3, DEFAULT_POLLS);

    VirtualMeter::reset();
    MainWindow w;
    w.show();
    auto *liveView = w.findChild<QTableView *>(QStringLiteral("tableView"));
    if (!liveView || !w.liveModel()) {
        return fail("the window has no live table");
    }
    flush(liveView);

    const Sample timed{QString::fromUtf8("自动"), QString::fromUtf8("10mΩ"), QString::fromUtf8("12.345mΩ")};
    const QStringList modeList{timed.mode};
    const QStringList rangeList{timed.range};
    const QStringList valueList{timed.value};

    Table window;
    window.label = "the window (handleRealTimeFinish)";
    window.append = [&] {
        w.handleRealTimeFinish(modeList, rangeList, valueList);
        flush(liveView);
    };

    auto makeTable = [](const char *label, bool windowLook, QHeaderView::ResizeMode mode) {
        auto t = std::make_unique<Table>();
        t->label = label;
        t->windowLook = windowLook;
        t->resizeMode = mode;
        t->model = std::make_unique<QStandardItemModel>();
        return t;
    };
    auto showTable = [&](Table &t) {
        t.view = std::make_unique<QTableView>();
        if (t.windowLook)
            lookLike(*t.view, *liveView);
        t.view->setModel(t.model.get());
        t.view->horizontalHeader()->setSectionResizeMode(t.resizeMode);
        t.view->resize(liveView->size());
        t.view->show();
        t.view->scrollToBottom();
        flush(t.view.get());
    };

    auto bare = makeTable("bare table, fixed sections (baseline)", true, QHeaderView::Fixed);
    auto plain = makeTable("plain QTableView, default look, fixed sections", false, QHeaderView::Fixed);
    auto atOnce = makeTable("finished row at once, sized to contents", true, QHeaderView::ResizeToContents);
    auto byCell = makeTable("empty row filled cell by cell, sized to contents", true, QHeaderView::ResizeToContents);

    for (Table *t : {bare.get(), plain.get(), atOnce.get()}) {
        t->append = [t, &timed] {
            t->model->appendRow(finishedRow(rowTexts(t->model->rowCount(), timed)));
            t->view->scrollToBottom();
            flush(t->view.get());
        };
    }
    byCell->append = [t = byCell.get(), &timed] {
        const int row = t->model->rowCount();
        const QStringList texts = rowTexts(row, timed);
        t->model->insertRow(row);
        for (int c = 0; c < texts.size(); ++c)
            t->model->setItem(row, c, tableCell(texts[c]));
        t->view->scrollToBottom();
        flush(t->view.get());
    };

    // Two phases minutes apart differ by whatever else the machine was doing,
    // more than a row's cost differs between sizes: a bare table kept at the
    // first size joins the later rounds, so that each size is set against the
    // first through ratios measured side by side.
    auto anchor = makeTable("bare table, fixed sections, kept at the first size", true, QHeaderView::Fixed);
    anchor->append = [t = anchor.get(), &timed] {
        t->model->appendRow(finishedRow(rowTexts(t->model->rowCount(), timed)));
        t->view->scrollToBottom();
        flush(t->view.get());
    };

    const std::vector<Table *> tables{bare.get(), &window, plain.get(), atOnce.get(), byCell.get()};
    std::vector<Table *> beside{bare.get(), plain.get(), atOnce.get(), byCell.get()};

    // Memory is counted over all the rows filled so far, so that the figure at
    // a size is that of a table of that size.
    long long windowGrowthKiB = 0;
    long long windowRowsFilled = 0;
    long long bareGrowthKiB = 0;
    long long bareRowsCopied = 0;
    std::vector<SizeResult> results;

    for (const int size : sizes) {
        SizeResult result;
        // The timed rows of the size before may already have passed this one.
        const int from = w.liveModel()->rowCount();
        result.rows = std::max(size, from);

        // ---- Filling: the window's rows go in as live rows do ---------------
        // The views of the size before leave freed memory behind, their
        // backing stores above all: handed back first, it is counted again
        // when the rows take it, instead of hiding a share of their growth.
        malloc_trim(0);
        const long rssBefore = rssKiB();
        const auto fillStart = Clock::now();
        for (int r = from; r < result.rows; ++r) {
            const Sample s = sampleFor(r);
            w.handleRealTimeFinish({s.mode}, {s.range}, {s.value});
        }
        flush(liveView);
        result.fillSeconds = std::chrono::duration<double>(Clock::now() - fillStart).count();
        result.fillRows = result.rows - from;
        windowGrowthKiB += rssKiB() - rssBefore;
        windowRowsFilled += result.rows - from;
        if (w.liveModel()->rowCount() != result.rows) {
            return fail("the window did not take every row");
        }
        result.windowBytesPerRow = windowRowsFilled ? double(windowGrowthKiB) * 1024.0 / double(windowRowsFilled) : 0;

        // The same rows in a bare model, for the memory of the model alone.
        malloc_trim(0);
        const long rssBareBefore = rssKiB();
        const int bareFrom = bare->model->rowCount();
        catchUp(*bare->model, *w.liveModel());
        bareGrowthKiB += rssKiB() - rssBareBefore;
        bareRowsCopied += bare->model->rowCount() - bareFrom;
        result.bareBytesPerRow = bareRowsCopied ? double(bareGrowthKiB) * 1024.0 / double(bareRowsCopied) : 0;

        for (Table *t : beside) {
            if (t != anchor.get())
                catchUp(*t->model, *w.liveModel());
            showTable(*t);
        }

        // ---- The GUI thread's cost of a row ---------------------------------
        // At the first size the bare table is its own anchor.
        std::vector<Table *> order = tables;
        if (!results.empty())
            order.push_back(anchor.get());
        const size_t anchorAt = results.empty() ? 0 : order.size() - 1;
        std::vector<std::vector<double>> ratios(order.size());
        std::vector<std::vector<double>> toAnchor(order.size());
        for (Table *t : order)
            t->us.clear();
        for (int round = 0; round < WARM_UP + appends; ++round) {
            std::vector<double> us(order.size());
            // Each table takes its turn at each place in the order.
            for (size_t k = 0; k < order.size(); ++k) {
                const size_t i = (k + size_t(round)) % order.size();
                const auto t0 = Clock::now();
                order[i]->append();
                us[i] = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            }
            if (round < WARM_UP)
                continue;
            for (size_t i = 0; i < order.size(); ++i) {
                order[i]->us.push_back(us[i]);
                ratios[i].push_back(us[i] / us[0]);
                toAnchor[i].push_back(us[i] / us[anchorAt]);
            }
        }
        if (w.liveModel()->rowCount() != result.rows + WARM_UP + appends) {
            return fail("the window dropped a timed row");
        }
        for (size_t i = 0; i < order.size(); ++i) {
            result.medianUs.push_back(median(order[i]->us));
            result.medianRatio.push_back(median(ratios[i]));
            result.medianToAnchor.push_back(median(toAnchor[i]));
        }
        for (Table *t : beside)
            t->view.reset();

        if (results.empty() && sizes.size() > 1) {
            catchUp(*anchor->model, *w.liveModel(), result.rows);
            beside.push_back(anchor.get());
        }
        results.push_back(std::move(result));
    }

    // ---- From the meter's reply to the row in the model ---------------------
    // Besides the time, each end reads how long the two threads involved have
    // so far waited for a core while runnable: on a machine busy with other
    // work that wait is the machine's share of the latency, not the program's.
    // The kernel books a wait when it ends, so a poll can be charged a wait
    // that began before it: that only ever counts a poll as disturbed.
    struct Stamp {
        Clock::time_point at;
        long long runDelayNs;
    };
    const int guiTid = currentTid();
    std::atomic<int> workerTid{0};
    std::mutex replyMutex;
    std::vector<Stamp> replies;
    std::vector<Stamp> rowsIn;
    replies.reserve(size_t(polls + WARM_UP) * 2);
    rowsIn.reserve(size_t(polls + WARM_UP) * 2);
    // Called on the worker thread as the reading command is answered: the
    // reading exchange, the range exchange, the decoding, the queued signal and
    // the window's slot up to the row all fall inside the measured time.
    VirtualMeter::setReadingProvider([&] {
        workerTid = currentTid();
        const long long delay = runDelayNs(guiTid) + runDelayNs(workerTid);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(replyMutex);
        replies.push_back({now, delay});
    });

    QEventLoop waitForRow;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &waitForRow, &QEventLoop::quit);
    QObject::connect(w.liveModel(), &QAbstractItemModel::rowsInserted, &waitForRow, [&] {
        const auto now = Clock::now();
        rowsIn.push_back({now, runDelayNs(guiTid) + runDelayNs(workerTid)});
        waitForRow.quit();
    });

    if (!QMetaObject::invokeMethod(&w, "on_readbackBtn_clicked") || !w.isDeviceConnected() || !w.isSampling()) {
        return fail("the window did not connect to the virtual meter");
    }
    // Only the polls asked for here: the sample timer would add polls of its
    // own at moments the loop below does not control.
    for (QTimer *timer : w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!timer->isActive())
            continue;
        timer->stop();
        if (!w.isSampling())
            break;
        timer->start();
    }
    const bool timerStopped = !w.isSampling();

    for (int i = 0; i < WARM_UP + polls; ++i) {
        const size_t before = rowsIn.size();
        if (!QMetaObject::invokeMethod(&w, "readRealTimeData")) {
            return fail("readRealTimeData could not be invoked");
        }
        guard.start(2000);
        while (rowsIn.size() == before && guard.isActive())
            waitForRow.exec();
        if (rowsIn.size() == before) {
            return fail("a poll brought no row within 2 s");
        }
        guard.stop();
        // The layout and the repaint the row causes are not part of the latency.
        flush(liveView);
    }
    VirtualMeter::setReadingProvider({});

    std::vector<double> latencyMs;
    // Polls in which neither thread waited for a core more than a wake-up
    // takes on an idle machine: their times are the program's own.
    std::vector<double> quietLatencyMs;
    bool runDelayKnown = true;
    {
        std::lock_guard<std::mutex> lock(replyMutex);
        if (replies.size() != rowsIn.size()) {
            std::fprintf(stderr, "bench_live: %zu replies but %zu rows\n", replies.size(), rowsIn.size());
            return 1;
        }
        for (size_t k = WARM_UP; k < rowsIn.size(); ++k) {
            const double ms = std::chrono::duration<double, std::milli>(rowsIn[k].at - replies[k].at).count();
            latencyMs.push_back(ms);
            if (rowsIn[k].runDelayNs < 0 || replies[k].runDelayNs < 0)
                runDelayKnown = false;
            const double waitedMs = double(rowsIn[k].runDelayNs - replies[k].runDelayNs) / 1e6;
            if (waitedMs < QUIET_WAIT_MS)
                quietLatencyMs.push_back(ms);
        }
    }

    // ---- Report -------------------------------------------------------------
    const SizeResult &first = results.front();
    const SizeResult &last = results.back();
    const bool compared = results.size() > 1;
    std::printf("bench_live: %d timed appends per table at each size, interleaved round by round\n", appends);
    std::printf("(fill through handleRealTimeFinish, repaint deferred:");
    for (const SizeResult &r : results) {
        std::printf("%s to %d rows %.2f s, %.1f us a row", &r == &first ? "" : ";", r.rows, r.fillSeconds,
                    r.fillRows > 0 ? r.fillSeconds * 1e6 / r.fillRows : 0.0);
    }
    std::printf(")\n\n");

    std::printf("GUI-thread cost of one live row, repaint included: median us, and median ratio to the bare\n"
                "table of the same size\n");
    if (compared) {
        std::printf("last, the cost at %d rows over that at %d, each measured beside a bare table of %d rows:\n"
                    "(ratio to it at %d rows) / (ratio to it at %d rows)\n",
                    last.rows, first.rows, first.rows, last.rows, first.rows);
    }
    std::printf("  %-50s", "");
    for (const SizeResult &r : results)
        std::printf(" %18s", (QByteArray::number(r.rows) + " rows").constData());
    if (compared)
        std::printf(" %14s", (QByteArray::number(last.rows) + "/" + QByteArray::number(first.rows)).constData());
    std::printf("\n  %-50s", "table");
    for (size_t k = 0; k < results.size(); ++k)
        std::printf(" %10s %7s", "us", "ratio");
    std::printf("\n");
    for (size_t i = 0; i < tables.size(); ++i) {
        std::printf("  %-50s", tables[i]->label);
        for (const SizeResult &r : results)
            std::printf(" %10.1f %7.2f", r.medianUs[i], r.medianRatio[i]);
        if (compared)
            std::printf(" %14.2f", last.medianToAnchor[i] / first.medianToAnchor[i]);
        std::printf("\n");
    }
    if (compared) {
        const QByteArray label = "bare table, fixed sections, kept at " + QByteArray::number(first.rows) + " rows";
        std::printf("  %-50s %18s", label.constData(), "");
        for (size_t k = 1; k < results.size(); ++k)
            std::printf(" %10.1f %7.2f", results[k].medianUs.back(), results[k].medianRatio.back());
        std::printf("\n");
    }
    std::printf("  the window's ratio, goal <= %.1fx:", GUI_GOAL);
    for (const SizeResult &r : results) {
        std::printf("%s %s at %d rows", &r == &first ? "" : ",", r.medianRatio[1] <= GUI_GOAL ? "met" : "MISSED",
                    r.rows);
    }
    std::printf("\n");

    std::printf("\nMemory per row (VmRSS)\n");
    std::printf("  %-50s", "");
    for (const SizeResult &r : results)
        std::printf(" %14s", (QByteArray::number(r.rows) + " rows").constData());
    std::printf("\n  %-50s", "the window's live table (model + view)");
    for (const SizeResult &r : results)
        std::printf(" %12.0f B", r.windowBytesPerRow);
    std::printf("\n  %-50s", "the same rows in a bare model");
    for (const SizeResult &r : results)
        std::printf(" %12.0f B", r.bareBytesPerRow);
    std::printf("\n");
    std::printf("\nReply to row in the model, repaint excluded (%zu polls, %d rows in the table%s)\n",
                latencyMs.size(), last.rows + WARM_UP + appends, timerStopped ? "" : ", sample timer running");
    const double p50 = median(latencyMs);
    const double p99 = percentile(latencyMs, 99);
    std::printf("  median %.3f ms   p99 %.3f ms   max %.3f ms   goal < %.1f ms: %s\n", p50, p99,
                *std::max_element(latencyMs.begin(), latencyMs.end()), LATENCY_GOAL_MS,
                p99 < LATENCY_GOAL_MS ? "met" : (p50 < LATENCY_GOAL_MS ? "median met, p99 MISSED" : "MISSED"));
    if (runDelayKnown && !quietLatencyMs.empty()) {
        std::printf("  the %zu polls whose threads waited < %.2f ms for a core: median %.3f ms   p99 %.3f ms   max %.3f ms\n",
                    quietLatencyMs.size(), QUIET_WAIT_MS, median(quietLatencyMs), percentile(quietLatencyMs, 99),
                    *std::max_element(quietLatencyMs.begin(), quietLatencyMs.end()));
    } else if (runDelayKnown) {
        std::printf("  every poll waited >= %.2f ms for a core: the machine is too busy to tell\n", QUIET_WAIT_MS);
    }
    std::fflush(stdout);
    return 0;
}
