// Many jobs at once: N = 1, 8, 32 and 64 jobs of 64 MiB each from nginx on 127.0.0.1, run as
// the program runs them (COutputWnd::StartJob, rows in a shown Download List), against curl
// fetching the same N files in parallel into the same kind of folder, and one file with curl
// into /dev/null as the ceiling of the server and loopback. Also the lateness of a 10 ms timer
// on the user-interface thread and the memory each running job takes. Not a test: it prints
// figures.
//
//     bench_manyjobs [--rounds R] [--sizes 1,8,32,64]

#include "bench/figures.h"
#include "bench/localnginx.h"
#include "bench/servedfiles.h"
#include "bench/timerlateness.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "tests/support/jobfixture.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

using namespace BenchFigures;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kFileBytes = 64 * kMiB;
// Room kept free in the memory folder beyond the outputs of the largest round.
constexpr qint64 kSpareBytes = 512 * kMiB;

double MiBPerSecond(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / double(kMiB) / seconds : 0.0;
}

QString OutputName(int i)
{
    return QStringLiteral("out%1.flv").arg(i, 2, 10, QChar(u'0'));
}

// A fresh output folder in the memory folder, deleted when the round ends.
QTemporaryDir OutputFolder()
{
    return QTemporaryDir(CServedFiles::MemoryFolder() +
                         QStringLiteral("/quillmoor-bench-out-XXXXXX"));
}

struct CurlTimes {
    double wall = 0;     // from starting the process to its end
    double transfer = 0; // what curl reports for its longest transfer: no process start
};

// curl fetching the N files at once, each into its own file, all started together.
CurlTimes CurlParallelRound(const CServedFiles& files, const CLocalNginx& server, int n)
{
    QTemporaryDir out = OutputFolder();
    // -s alone leaves the parallel progress meter on in this curl.
    QStringList args = {QStringLiteral("-s"),
                        QStringLiteral("--no-progress-meter"),
                        QStringLiteral("--parallel"),
                        QStringLiteral("--parallel-immediate"),
                        QStringLiteral("--parallel-max"),
                        QString::number(n),
                        QStringLiteral("-w"),
                        QStringLiteral("%{time_total} %{size_download}\n")};
    for (int i = 0; i < n; ++i)
        args << QStringLiteral("-o") << out.filePath(OutputName(i)) << server.Url(files.Name(i));
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.setStandardErrorFile(QProcess::nullDevice());
    curl.start(QStringLiteral("curl"), args);
    curl.waitForFinished(-1);
    CurlTimes times{.wall = double(clock.nsecsElapsed()) / 1e9};
    if (curl.exitCode() != 0)
        qFatal("curl --parallel failed: exit %d", curl.exitCode());
    const QList<QByteArray> lines = curl.readAllStandardOutput().trimmed().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2 || fields[1].toLongLong() != files.Bytes())
            qFatal("curl --parallel reported \"%s\"", line.constData());
        times.transfer = std::max(times.transfer, fields[0].toDouble());
    }
    if (lines.size() != n)
        qFatal("curl --parallel reported %lld transfers of %d", qlonglong(lines.size()), n);
    for (int i = 0; i < n; ++i) {
        if (QFileInfo(out.filePath(OutputName(i))).size() != files.Bytes())
            qFatal("curl wrote %lld bytes for file %d",
                   QFileInfo(out.filePath(OutputName(i))).size(), i);
    }
    return times;
}

// Seconds curl itself reports for one file into /dev/null: the transfer alone, no process start.
double CeilingRound(const CServedFiles& files, const CLocalNginx& server)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                QStringLiteral("-w"), QStringLiteral("%{time_total} %{size_download}"),
                server.Url(files.Name(0))});
    curl.waitForFinished(-1);
    const QList<QByteArray> out = curl.readAllStandardOutput().split(' ');
    if (curl.exitCode() != 0 || out.size() != 2 || out[1].toLongLong() != files.Bytes())
        qFatal("curl to /dev/null failed: exit %d", curl.exitCode());
    return out[0].toDouble();
}

struct JobRoundResult {
    double seconds = 0;
    double idleMiB = 0;
    double peakMiB = 0;
    double rssPerJobMiB = 0;
};

// Runs N jobs in the pane, as Download Video starts them, until every one has ended.
JobRoundResult JobRound(COutputWnd& pane, const CServedFiles& files, const CLocalNginx& server,
                        int n, CTimerLateness& lateness)
{
    QTemporaryDir out = OutputFolder();
    QCoreApplication::processEvents();
    const qint64 idleKiB = StatusKiB("VmRSS");
    const bool peakReset = ResetPeakRss();
    std::vector<CDownloadThread*> jobs;
    QElapsedTimer clock;
    clock.start();
    lateness.Start();
    for (int i = 0; i < n; ++i) {
        const QString path = out.filePath(OutputName(i));
        jobs.push_back(
            pane.StartJob(MakeJob(server.Url(files.Name(i)), path), OutputName(i), path));
    }
    // Ends at the last thread's end, with no polling interval added to the time.
    QEventLoop loop;
    const auto allEnded = [&jobs] {
        return std::all_of(jobs.begin(), jobs.end(), [](auto* job) { return job->HasEnded(); });
    };
    for (CDownloadThread* job : jobs) {
        QObject::connect(job, &QThread::finished, &loop, [&] {
            if (allEnded())
                loop.quit();
        });
    }
    if (!allEnded())
        loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    lateness.Stop();
    const qint64 peakKiB = StatusKiB("VmHWM");
    for (int i = 0; i < n; ++i) {
        if (!jobs[size_t(i)]->Succeeded())
            qFatal("job %d failed: %s", i, qPrintable(jobs[size_t(i)]->ErrorText()));
    }
    // Every size, and one file's every byte.
    for (int i = 0; i < n; ++i) {
        if (QFileInfo(out.filePath(OutputName(i))).size() != files.Bytes())
            qFatal("job %d wrote %lld bytes", i, QFileInfo(out.filePath(OutputName(i))).size());
    }
    if (!files.SameAs(n - 1, out.filePath(OutputName(n - 1))))
        qFatal("job %d wrote other bytes than the server sent", n - 1);
    pane.Rows()->ClearCompleted();
    QCoreApplication::processEvents();
    return {seconds, double(idleKiB) / 1024.0, double(peakKiB) / 1024.0,
            peakReset ? double(peakKiB - idleKiB) / 1024.0 / n : -1.0};
}

std::vector<int> ParseSizes(const QString& text)
{
    std::vector<int> sizes;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (!ok || n < 1 || n > 64)
            qFatal("--sizes takes numbers from 1 to 64, not %s", qPrintable(part));
        sizes.push_back(n);
    }
    return sizes;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds per size."),
                      QStringLiteral("R"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("sizes"), QStringLiteral("Numbers of jobs at once."),
                      QStringLiteral("N,N..."), QStringLiteral("1,8,32,64")});
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    const std::vector<int> sizes = ParseSizes(parser.value(QStringLiteral("sizes")));
    const int most = *std::max_element(sizes.begin(), sizes.end());

    QElapsedTimer making;
    making.start();
    // The outputs of the largest round live beside the inputs.
    const CServedFiles files(most, kFileBytes, most * kFileBytes + kSpareBytes);
    if (!files.Error().isEmpty())
        qFatal("%s", qPrintable(files.Error()));
    std::printf("%d distinct files of %lld MiB in %s, made in %.1f s%s\n", files.Distinct(),
                kFileBytes / kMiB, qPrintable(files.Folder()), double(making.elapsed()) / 1e3,
                files.Distinct() < most ? " (too little room for one per job: jobs share them)"
                                        : "");
    CLocalNginx server(files.Folder());
    if (const QString error = server.Start(); !error.isEmpty())
        qFatal("%s", qPrintable(error));

    QMainWindow window;
    window.setCentralWidget(new QWidget(&window));
    auto* pane = new COutputWnd(&window);
    window.addDockWidget(Qt::BottomDockWidgetArea, pane);
    window.resize(1000, 700);
    window.show();
    QCoreApplication::processEvents();
    CTimerLateness lateness;
    // One job first, not counted: what the first transfer of a run sets up once (libcurl and
    // its TLS library) is no running job's memory.
    JobRound(*pane, files, server, 1, lateness);
    lateness.Clear();

    struct Figures {
        double ratio = 0;
        double p99 = 0;
        double rssPerJob = 0;
    };
    std::map<int, Figures> figures;
    std::vector<double> ceilingRatios;
    for (const int n : sizes) {
        const qint64 bytes = n * files.Bytes();
        std::vector<double> ratios;
        // A round first, not counted: the first time a number of jobs runs, the machine hands
        // out memory, files and threads it has not handed out before, to whichever runs first.
        // What the jobs take then is what they take; later rounds find it kept for them.
        CurlParallelRound(files, server, n);
        const JobRoundResult first = JobRound(*pane, files, server, n, lateness);
        std::printf("jobs %d first round, not counted: ours %.0f MiB/s, rss %.0f MiB idle, %.0f "
                    "MiB peak, %.2f MiB per job\n",
                    n, MiBPerSecond(bytes, first.seconds), first.idleMiB, first.peakMiB,
                    first.rssPerJobMiB);
        double rssPerJob = first.rssPerJobMiB; // -1: the kernel does not let the peak be reset
        lateness.Clear();
        for (int round = 1; round <= rounds; ++round) {
            // Alternating, so that whatever else the machine does falls on both alike.
            // curl's own transfer time leaves out its process start (tens of ms here), which
            // would flatter the jobs at one or a few files.
            const CurlTimes curl = CurlParallelRound(files, server, n);
            const JobRoundResult ours = JobRound(*pane, files, server, n, lateness);
            ratios.push_back(curl.transfer / ours.seconds);
            rssPerJob = std::max(rssPerJob, ours.rssPerJobMiB);
            std::printf("jobs %d round %d: curl-parallel %.0f MiB/s (%.0f with its start), ours "
                        "%.0f MiB/s, ratio %.2f, rss %.0f MiB idle, %.0f MiB peak, %.2f MiB per "
                        "job",
                        n, round, MiBPerSecond(bytes, curl.transfer),
                        MiBPerSecond(bytes, curl.wall), MiBPerSecond(bytes, ours.seconds),
                        curl.transfer / ours.seconds, ours.idleMiB, ours.peakMiB,
                        ours.rssPerJobMiB);
            if (n == 1) {
                const double ceiling = CeilingRound(files, server);
                ceilingRatios.push_back(ceiling / ours.seconds);
                std::printf(", ceiling %.0f MiB/s", MiBPerSecond(bytes, ceiling));
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        figures[n] = {Median(ratios), Percentile(lateness.Samples(), 0.99), rssPerJob};
        std::printf("jobs %d: %zu timer ticks, worst %.1f ms late; the user-interface thread ran "
                    "%.0f ms and waited %.0f ms for a processor\n",
                    n, lateness.Samples().size(), Percentile(lateness.Samples(), 1.0),
                    lateness.RunningMs(), lateness.WaitingMs());
    }

    for (const auto& [n, f] : figures) {
        std::printf("jobs %d ours/curl-parallel: %.2f\n", n, f.ratio);
        std::printf("jobs %d timer p99 ms: %.1f\n", n, f.p99);
        std::printf("jobs %d rss per job MiB: %.2f\n", n, f.rssPerJob);
    }
    if (!ceilingRatios.empty())
        std::printf("one job ours/ceiling: %.2f\n", Median(ceilingRatios));
    return 0;
}
