// The live table's costs, measured side by side in one run:
//  - the GUI thread's cost of one live row, repaint included, in the real
//    window already holding many rows, against the same row appended to bare
//    tables of the same size whose sections keep their size; for context, the
//    same against a table that sizes to its contents and is given an empty row
//    filled cell by cell;
//  - the memory a row of the live table takes;
//  - the time from the virtual meter's reply to the row being in the model.
//
// usage: bench_live [rows] [appends] [polls]
// It prints figures and ratios only: the exit status is 1 when the program
// itself fails (a window that does not connect, a row that never comes), never
// because of a figure.
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

#include <sys/syscall.h>
#include <unistd.h>

#include "mainwindow.h"
#include "virtualmeter.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int DEFAULT_ROWS = 100000;
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
// the window's live table.
struct Table {
    const char *label;
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

// A model holding the same texts as the window's live table, each its own
// copy, as they would be if they had come from the meter: shared texts would
// make its rows look cheaper than they are.
std::unique_ptr<QStandardItemModel> copyOf(const QStandardItemModel &live)
{
    auto model = std::make_unique<QStandardItemModel>();
    model->setColumnCount(live.columnCount());
    model->setHorizontalHeaderLabels(HEADER_LABELS);
    for (int r = 0; r < live.rowCount(); ++r) {
        QStringList texts;
        for (int c = 0; c < live.columnCount(); ++c) {
            const QString text = live.item(r, c)->text();
            texts << QString(text.unicode(), text.size());
        }
        model->appendRow(finishedRow(texts));
    }
    return model;
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qRegisterMetaType<std::vector<unsigned char>>("std::vector<unsigned char>");

    const int rows = argument(argc, argv, 1, DEFAULT_ROWS);
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

    // ---- Filling: the window's rows go in as live rows do -------------------
    const long rssBefore = rssKiB();
    const auto fillStart = Clock::now();
    for (int r = 0; r < rows; ++r) {
        const Sample s = sampleFor(r);
        w.handleRealTimeFinish({s.mode}, {s.range}, {s.value});
    }
    flush(liveView);
    const double fillSeconds = std::chrono::duration<double>(Clock::now() - fillStart).count();
    const long rssAfter = rssKiB();
    if (w.liveModel()->rowCount() != rows) {
        return fail("the window did not take every row");
    }
    const double bytesPerRow = double(rssAfter - rssBefore) * 1024.0 / rows;

    // The same rows in a bare model, for the memory of the model alone.
    const long rssBareBefore = rssKiB();
    std::unique_ptr<QStandardItemModel> bareModel = copyOf(*w.liveModel());
    const double bareBytesPerRow = double(rssKiB() - rssBareBefore) * 1024.0 / rows;

    // ---- The GUI thread's cost of a row -------------------------------------
    const Sample timed{QString::fromUtf8("自动"), QString::fromUtf8("10mΩ"), QString::fromUtf8("12.345mΩ")};
    const QStringList modeList{timed.mode};
    const QStringList rangeList{timed.range};
    const QStringList valueList{timed.value};

    Table window{"the window (handleRealTimeFinish)", nullptr, nullptr, {}, {}};
    window.append = [&] {
        w.handleRealTimeFinish(modeList, rangeList, valueList);
        flush(liveView);
    };

    auto makeTable = [&](const char *label, bool windowLook, QHeaderView::ResizeMode mode,
                         std::unique_ptr<QStandardItemModel> model) {
        auto t = std::make_unique<Table>();
        t->label = label;
        t->model = model ? std::move(model) : copyOf(*w.liveModel());
        t->view = std::make_unique<QTableView>();
        if (windowLook)
            lookLike(*t->view, *liveView);
        t->view->setModel(t->model.get());
        t->view->horizontalHeader()->setSectionResizeMode(mode);
        t->view->resize(liveView->size());
        t->view->show();
        t->view->scrollToBottom();
        flush(t->view.get());
        return t;
    };

    auto bare = makeTable("bare table, fixed sections (baseline)", true, QHeaderView::Fixed, std::move(bareModel));
    auto plain = makeTable("plain QTableView, default look, fixed sections", false, QHeaderView::Fixed, nullptr);
    auto atOnce = makeTable("finished row at once, sized to contents", true, QHeaderView::ResizeToContents, nullptr);
    auto byCell = makeTable("empty row filled cell by cell, sized to contents", true, QHeaderView::ResizeToContents, nullptr);

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

    std::vector<Table *> tables{bare.get(), &window, plain.get(), atOnce.get(), byCell.get()};
    std::vector<std::vector<double>> ratios(tables.size());
    for (int round = 0; round < WARM_UP + appends; ++round) {
        std::vector<double> us(tables.size());
        // Each table takes its turn at each place in the order.
        for (size_t k = 0; k < tables.size(); ++k) {
            const size_t i = (k + size_t(round)) % tables.size();
            const auto t0 = Clock::now();
            tables[i]->append();
            us[i] = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        }
        if (round < WARM_UP)
            continue;
        for (size_t i = 0; i < tables.size(); ++i) {
            tables[i]->us.push_back(us[i]);
            ratios[i].push_back(us[i] / us[0]);
        }
    }
    if (w.liveModel()->rowCount() != rows + WARM_UP + appends) {
        return fail("the window dropped a timed row");
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
    std::printf("bench_live: %d rows already in every table, %d timed appends each, interleaved round by round\n",
                rows, appends);
    std::printf("(fill through handleRealTimeFinish, repaint deferred: %.2f s, %.1f us a row)\n\n", fillSeconds,
                fillSeconds * 1e6 / rows);
    std::printf("GUI-thread cost of one live row, repaint included\n");
    std::printf("  %-50s %10s %14s\n", "table", "median us", "median ratio");
    for (size_t i = 0; i < tables.size(); ++i) {
        std::printf("  %-50s %10.1f %14.2f", tables[i]->label, median(tables[i]->us), median(ratios[i]));
        if (tables[i] == &window) {
            const double r = median(ratios[i]);
            std::printf("   goal <= %.1fx: %s", GUI_GOAL, r <= GUI_GOAL ? "met" : "MISSED");
        }
        std::printf("\n");
    }
    std::printf("\nMemory per row at %d rows (VmRSS)\n", rows);
    std::printf("  %-50s %10.0f B\n", "the window's live table (model + view)", bytesPerRow);
    std::printf("  %-50s %10.0f B\n", "the same rows in a bare model", bareBytesPerRow);
    std::printf("\nReply to row in the model, repaint excluded (%zu polls, %d rows in the table%s)\n",
                latencyMs.size(), rows + WARM_UP + appends, timerStopped ? "" : ", sample timer running");
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
