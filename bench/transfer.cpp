// Throughput of one download job against curl on the same local server, and how late a 10 ms
// timer on the user-interface thread fires while eight jobs run. Not a test: it prints figures.

#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "tests/support/scriptedhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kTransferBytes = 512 * kMiB;
constexpr qint64 kLoadBytes = 128 * kMiB;
constexpr int kRounds = 3;
constexpr int kLoadJobs = 8;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MiBPerSecond(qint64 bytes, qint64 ns)
{
    return double(bytes) / double(kMiB) / (double(ns) / 1e9);
}

// Runs the event loop until every job has ended, calling tick every 10 ms when given.
void RunJobs(COutputWnd& pane, const QString& url, const QStringList& paths)
{
    std::vector<CDownloadThread*> jobs;
    for (const QString& path : paths) {
        auto job = std::make_unique<CDownloadThread>();
        job->m_strUrl = url;
        job->m_strPath = path;
        jobs.push_back(pane.StartJob(std::move(job), path, path));
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (std::all_of(jobs.begin(), jobs.end(), [](auto* j) { return j->HasEnded(); }))
            loop.quit();
    });
    poll.start(5);
    loop.exec();
}

qint64 CurlRound(const QString& url, const QString& path)
{
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {"-s", "-o", path, url});
    curl.waitForFinished(-1);
    const qint64 ns = clock.nsecsElapsed();
    if (curl.exitCode() != 0 || QFileInfo(path).size() != kTransferBytes)
        qFatal("curl failed: exit %d", curl.exitCode());
    return ns;
}

qint64 JobRound(const QString& url, const QString& path)
{
    COutputWnd pane;
    QElapsedTimer clock;
    clock.start();
    RunJobs(pane, url, {path});
    const qint64 ns = clock.nsecsElapsed();
    if (QFileInfo(path).size() != kTransferBytes)
        qFatal("the job wrote %lld bytes", QFileInfo(path).size());
    return ns;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    CScriptedHttpServer server;
    server.SetConnectionNice(10);
    QByteArray pattern(kMiB, Qt::Uninitialized);
    for (qint64 i = 0; i < kMiB; ++i)
        pattern[i] = char(i * 131 % 251);
    server.Route("/big.flv", CScriptedHttpServer::Ok(pattern, kTransferBytes));
    server.Route("/load.flv", CScriptedHttpServer::Ok(pattern, kLoadBytes));
    const QString path = dir.filePath(QStringLiteral("out.flv"));

    std::vector<double> ratios;
    for (int round = 1; round <= kRounds; ++round) {
        const double curl = MiBPerSecond(kTransferBytes, CurlRound(server.Url("/big.flv"), path));
        QFile::remove(path);
        const double ours = MiBPerSecond(kTransferBytes, JobRound(server.Url("/big.flv"), path));
        QFile::remove(path);
        ratios.push_back(ours / curl);
        std::printf("round %d: curl %.0f MiB/s, job %.0f MiB/s, ratio %.2f\n", round, curl, ours,
                    ours / curl);
        std::fflush(stdout);
    }

    // Lateness of a 10 ms timer while eight jobs report into one pane.
    std::vector<double> lateMs;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        lateMs.push_back(std::max(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - 10.0));
        sinceTick.restart();
    });
    {
        COutputWnd pane;
        pane.resize(900, 300);
        pane.show();
        QStringList paths;
        for (int i = 0; i < kLoadJobs; ++i)
            paths << dir.filePath(QStringLiteral("load%1.flv").arg(i));
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        tick.start(10);
        RunJobs(pane, server.Url("/load.flv"), paths);
        tick.stop();
        std::printf("%d jobs of %lld MiB: %.0f MiB/s together, %zu timer ticks\n", kLoadJobs,
                    kLoadBytes / kMiB, MiBPerSecond(kLoadJobs * kLoadBytes, clock.nsecsElapsed()),
                    lateMs.size());
        for (const QString& p : paths)
            QFile::remove(p);
    }
    std::sort(lateMs.begin(), lateMs.end());
    const double p99 =
        lateMs.empty() ? 0.0 : lateMs[std::min(lateMs.size() - 1, lateMs.size() * 99 / 100)];

    std::printf("transfer ratio ours/curl: %.2f\n", Median(ratios));
    std::printf("ui timer p99 ms: %.1f\n", p99);
    return 0;
}
