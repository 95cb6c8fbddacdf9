// A long Download List: the commands on 2,500, 5,000 and 10,000 finished rows in a shown
// window (Clear Completed when every row goes and when every other row goes, a header-click
// sort, the search for a listed path), then eight jobs from nginx on 127.0.0.1 running beside
// 10,000 rows against the same eight beside none: their rate, a view refresh and the lateness
// of a 10 ms timer on the user-interface thread. Not a test: it prints figures.
//
//     bench_longlist [--rounds R]

#include "bench/figures.h"
#include "bench/localnginx.h"
#include "bench/servedfiles.h"
#include "bench/timerlateness.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "res/stringtable.h"
#include "tests/support/jobfixture.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

using namespace BenchFigures;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kListSizes[] = {2500, 5000, 10000};
constexpr int kLongList = 10000;
constexpr int kJobs = 8;
constexpr qint64 kJobBytes = 256 * kMiB;
constexpr int kFindCalls = 9;

// Counts a widget's paint events.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : m_widget(widget) { widget->installEventFilter(this); }
    ~PaintCounter() override { m_widget->removeEventFilter(this); }
    int Count() const { return m_count; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_count;
        return false;
    }

private:
    QWidget* m_widget;
    int m_count = 0;
};

// A shown main window with the Download List docked along the bottom, as the program has it.
class ListWindow final {
public:
    ListWindow()
    {
        m_window.setCentralWidget(new QWidget(&m_window));
        m_pane = new COutputWnd(&m_window);
        m_window.addDockWidget(Qt::BottomDockWidgetArea, m_pane);
        m_window.resize(1000, 700);
        m_window.show();
        QCoreApplication::processEvents();
    }
    CDownloadListModel& Rows() const { return *m_pane->Rows(); }
    COutputList& List() const { return *m_pane->List(); }
    COutputWnd& Pane() const { return *m_pane; }

private:
    QMainWindow m_window;
    COutputWnd* m_pane = nullptr;
};

// A finished row as a session before left it; the names come in no order, so a sort has work.
CDownloadRecord Record(int i, int status)
{
    const quint64 bytes = quint64(1 + (i * 7919) % 300) * kMiB / 3;
    const QString name = QStringLiteral("Clip %1 - the harbour at dawn, part %2.flv")
                             .arg((i * 7919) % 100000, 5, 10, QChar(u'0'))
                             .arg(i % 17);
    return {.name = name,
            .path = QStringLiteral("/home/viewer/Videos/") + name,
            .url = QStringLiteral("http://127.0.0.1:1/get_video?video_id=%1").arg(i),
            .format = 0,
            .status = status,
            .percent = status == IDS_COMPLETED ? std::optional<qint64>(100) : std::nullopt,
            .total = bytes,
            .received = status == IDS_COMPLETED ? bytes : bytes / 2,
            .reason = {}};
}

// Fills the list with rows; alternate puts a "Paused" row, which Clear Completed keeps, after
// each finished one. Returns the seconds it took.
double Fill(ListWindow& list, int rows, bool alternate)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rows; ++i)
        list.Rows().AddRecord(Record(i, alternate && i % 2 ? IDS_PAUSED : IDS_COMPLETED));
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e9;
}

// Runs what a command posted, the view's repaint among them, and makes sure the view painted.
void Settle(COutputList& list)
{
    PaintCounter paints(list.viewport());
    QCoreApplication::processEvents();
    if (paints.Count() == 0)
        list.viewport()->repaint();
}

double Milliseconds(const std::function<void()>& command)
{
    QElapsedTimer clock;
    clock.start();
    command();
    return double(clock.nsecsElapsed()) / 1e6;
}

struct CommandFigures {
    double clearAll = 0;
    double clearAlternate = 0;
    double sort = 0;
    double find = 0;
};

CommandFigures MeasureCommands(int rows, int rounds)
{
    std::vector<double> clearAll, clearAlternate, sort, find;
    double fillSeconds = 0;
    for (int round = 0; round < rounds; ++round) {
        {
            ListWindow list;
            fillSeconds = std::max(fillSeconds, Fill(list, rows, false));
            const QHeaderView* header = list.List().horizontalHeader();
            const QPoint firstSection(header->sectionViewportPosition(0) + 20,
                                      header->height() / 2);
            sort.push_back(Milliseconds([&] {
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, firstSection);
                Settle(list.List());
            }));
            if (list.List().SortColumn() != 0 || !list.List().SortAscending())
                qFatal("the header click did not sort by the first column");
            // The search for a path that is listed near the end, after the sort has moved it.
            const QString nearEnd = list.Rows().CellText(rows - 2, CDownloadListModel::FullPath);
            std::vector<double> calls;
            for (int i = 0; i < kFindCalls; ++i) {
                calls.push_back(Milliseconds([&] {
                    if (!list.Rows().IsPathListed(nearEnd.toUpper()))
                        qFatal("a listed path was not found");
                }));
            }
            find.push_back(Median(calls));
            clearAll.push_back(Milliseconds([&] {
                list.List().ClearCompletedAction()->trigger();
                Settle(list.List());
            }));
            if (list.Rows().rowCount() != 0)
                qFatal("Clear Completed left %d of %d rows", list.Rows().rowCount(), rows);
        }
        {
            ListWindow list;
            Fill(list, rows, true);
            clearAlternate.push_back(Milliseconds([&] {
                list.List().ClearCompletedAction()->trigger();
                Settle(list.List());
            }));
            if (list.Rows().rowCount() != rows / 2)
                qFatal("Clear Completed left %d of %d rows, not half", list.Rows().rowCount(),
                       rows);
        }
        std::printf("%d rows round %d: clear %.1f ms, clear alternate %.1f ms, sort %.1f ms, "
                    "find %.3f ms\n",
                    rows, round + 1, clearAll.back(), clearAlternate.back(), sort.back(),
                    find.back());
    }
    std::printf("%d rows: filled in %.2f s at most; medians: clear %.1f ms, clear alternate %.1f "
                "ms, sort %.1f ms, find %.3f ms\n",
                rows, fillSeconds, Median(clearAll), Median(clearAlternate), Median(sort),
                Median(find));
    std::fflush(stdout);
    return {Median(clearAll), Median(clearAlternate), Median(sort), Median(find)};
}

// Runs the eight jobs in list's pane until every one has ended, then removes their rows; tick
// runs every 100 ms meanwhile, when given.
double RunEight(ListWindow& list, const CServedFiles& files, const CLocalNginx& server,
                CTimerLateness& lateness, const std::function<void()>& tick)
{
    QTemporaryDir out(CServedFiles::MemoryFolder() + QStringLiteral("/quillmoor-bench-out-XXXXXX"));
    const int before = list.Rows().rowCount();
    std::vector<CDownloadThread*> jobs;
    QElapsedTimer clock;
    clock.start();
    lateness.Start();
    for (int i = 0; i < kJobs; ++i) {
        const QString path = out.filePath(QStringLiteral("job%1.flv").arg(i));
        jobs.push_back(list.Pane().StartJob(MakeJob(server.Url(files.Name(i)), path),
                                            QFileInfo(path).fileName(), path));
    }
    // The running rows in sight, as a user watching them has them.
    list.List().scrollToBottom();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (std::all_of(jobs.begin(), jobs.end(), [](auto* job) { return job->HasEnded(); }))
            loop.quit();
    });
    poll.start(5);
    QTimer probe;
    if (tick) {
        QObject::connect(&probe, &QTimer::timeout, &loop, tick);
        probe.start(CDownloadListModel::kRefreshMs);
    }
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    lateness.Stop();
    for (int i = 0; i < kJobs; ++i) {
        if (!jobs[size_t(i)]->Succeeded())
            qFatal("job %d failed: %s", i, qPrintable(jobs[size_t(i)]->ErrorText()));
        if (QFileInfo(out.filePath(QStringLiteral("job%1.flv").arg(i))).size() != files.Bytes())
            qFatal("job %d wrote a file of another size", i);
    }
    QList<int> jobRows(kJobs);
    std::iota(jobRows.begin(), jobRows.end(), before);
    if (list.Rows().RemoveRows(jobRows) != kJobs)
        qFatal("the jobs' rows did not go");
    QCoreApplication::processEvents();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The sort compares as the user's locale sorts text. In the C locale that is a plain
    // comparison of code points, which no desktop user has; sort as in English there instead.
    if (QLocale().name() == QLatin1String("C"))
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    std::printf("sorting as in %s (\"a\" %s \"B\")\n", qPrintable(QLocale().name()),
                QString::localeAwareCompare(QStringLiteral("a"), QStringLiteral("B")) < 0
                    ? "before"
                    : "after");
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds of each measurement."),
                      QStringLiteral("R"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("commands-only"),
                      QStringLiteral("Only the commands on the list, no jobs (for a profiler).")});
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());

    std::vector<CommandFigures> commands;
    for (const int rows : kListSizes)
        commands.push_back(MeasureCommands(rows, rounds));
    if (parser.isSet(QStringLiteral("commands-only")))
        return 0;

    const CServedFiles files(kJobs, kJobBytes, kJobs * kJobBytes + 512 * kMiB);
    if (!files.Error().isEmpty())
        qFatal("%s", qPrintable(files.Error()));
    CLocalNginx server(files.Folder());
    if (const QString error = server.Start(); !error.isEmpty())
        qFatal("%s", qPrintable(error));

    ListWindow empty;
    ListWindow full;
    Fill(full, kLongList, false);
    CTimerLateness emptyLateness;
    CTimerLateness fullLateness;
    CTimerLateness probeLateness;
    std::vector<double> rateRatios;
    std::vector<double> refreshMs;
    for (int round = 1; round <= rounds; ++round) {
        // Alternating, so that whatever else the machine does falls on both alike.
        const double alone = RunEight(empty, files, server, emptyLateness, {});
        const double beside = RunEight(full, files, server, fullLateness, {});
        // A third run times a refresh of the view as the model's own tick does it.
        RunEight(full, files, server, probeLateness, [&] {
            refreshMs.push_back(Milliseconds([&] {
                full.Rows().Refresh();
                full.List().viewport()->repaint();
            }));
        });
        rateRatios.push_back(alone / beside);
        const double bytes = double(kJobs * files.Bytes()) / double(kMiB);
        std::printf("eight jobs round %d: %.0f MiB/s with an empty list, %.0f MiB/s beside %d "
                    "rows, ratio %.2f\n",
                    round, bytes / alone, bytes / beside, kLongList, alone / beside);
        std::fflush(stdout);
    }
    std::printf("eight jobs, empty list: timer p99 %.1f ms; the user-interface thread ran %.0f ms "
                "and waited %.0f ms for a processor\n",
                Percentile(emptyLateness.Samples(), 0.99), emptyLateness.RunningMs(),
                emptyLateness.WaitingMs());
    std::printf("eight jobs beside %d rows: timer p99 %.1f ms; the user-interface thread ran %.0f "
                "ms and waited %.0f ms for a processor\n",
                kLongList, Percentile(fullLateness.Samples(), 0.99), fullLateness.RunningMs(),
                fullLateness.WaitingMs());
    std::printf("eight jobs beside %d rows: %zu refreshes, p99 %.1f ms, worst %.1f ms\n", kLongList,
                refreshMs.size(), Percentile(refreshMs, 0.99), Percentile(refreshMs, 1.0));

    for (size_t i = 0; i < std::size(kListSizes); ++i) {
        if (kListSizes[i] == kLongList)
            continue;
        std::printf("list %d clear ms: %.1f\n", kListSizes[i],
                    std::max(commands[i].clearAll, commands[i].clearAlternate));
        std::printf("list %d clear alternate ms: %.1f\n", kListSizes[i],
                    commands[i].clearAlternate);
        std::printf("list %d sort ms: %.1f\n", kListSizes[i], commands[i].sort);
    }
    const CommandFigures& longest = commands.back();
    std::printf("list clear every row ms: %.1f\n", longest.clearAll);
    std::printf("list clear ms: %.1f\n", std::max(longest.clearAll, longest.clearAlternate));
    std::printf("list clear alternate ms: %.1f\n", longest.clearAlternate);
    std::printf("list sort ms: %.1f\n", longest.sort);
    std::printf("list find ms: %.3f\n", longest.find);
    std::printf("list refresh ms: %.2f\n", Median(refreshMs));
    std::printf("list timer p99 ms: %.1f\n", Percentile(fullLateness.Samples(), 0.99));
    std::printf("list jobs rate ratio: %.2f\n", Median(rateRatios));
    return 0;
}
