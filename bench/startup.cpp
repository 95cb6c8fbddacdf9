// Start-up: from the process's start to the first tab's page painted, for the real program
// against a bare Qt WebEngine program (bareweb) loading the same page, alternately, each run
// with a fresh home; and the update check's cost: the program with the maker's server answering
// the version document against one that answers 404 at once. The page tells when it was
// painted: two animation frames after its load it fetches /painted, and the server's record
// of that request ends the time, alike for both programs. The bare program also runs with a
// profile kept on disk, as the program's is, to tell how much of a difference that is. Not a
// test: it prints figures.
//
//     bench_startup [--rounds R]

#include "bench/figures.h"
#include "tests/support/scriptedhttpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <vector>

#include <unistd.h>

using namespace BenchFigures;

namespace {

constexpr int kPaintedLimitMs = 60000;
constexpr int kHelpersLimitMs = 10000;

// The home page both programs open: some text and style, and the script that reports the
// first frames painted after the load.
const QByteArray kHomePage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>YouTube - Broadcast Yourself.</title>
<style>
  body { font-family: DejaVu Sans, sans-serif; margin: 0; background: #f9f9f9; color: #222; }
  header { background: #fff; border-bottom: 1px solid #ddd; padding: 12px 20px; }
  .logo { font-weight: bold; font-size: 22px; color: #c62828; }
  .grid { display: grid; grid-template-columns: repeat(4, 220px); gap: 18px; padding: 20px; }
  .clip { background: #fff; border: 1px solid #e2e2e2; height: 160px; }
  .clip p { margin: 6px 8px; font-size: 13px; }
</style></head>
<body><header><span class="logo">Video Site</span></header>
<div class="grid">
<div class="clip"><p><a href="/watch?v=hB4r_0uRd7w">Harbour at Dawn</a></p><p>0:12</p></div>
<div class="clip"><p><a href="/watch?v=bNj0-d4y40x">Learning the Banjo, Day 40</a></p><p>0:30</p></div>
<div class="clip"><p><a href="/watch?v=c4t5_4nd_D9">Cats &amp; Dogs, Part 2</a></p><p>0:06</p></div>
<div class="clip"><p><a href="/watch?v=n1ghtTr41nC">Night Train: To the Coast?</a></p><p>1:00</p></div>
</div>
<script>
addEventListener('load', () => requestAnimationFrame(() => requestAnimationFrame(() => fetch('/painted'))));
</script>
</body></html>
)";

CScriptedHttpServer::Reply VersionDocument()
{
    const QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Versions><QuillmoorYouTube>" QUILLMOOR_VERSION
        "</QuillmoorYouTube></Versions>\n";
    return {.head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n",
            .body = body};
}

bool AskedFor(const CScriptedHttpServer& server, const QByteArray& path)
{
    for (const QByteArray& head : server.Requests()) {
        if (head.startsWith("GET " + path + ' '))
            return true;
    }
    return false;
}

// Ends the program and waits until the web engine's helper processes, which outlive it for a
// moment, are gone too, so that they take nothing from the next run.
void EndGroup(QProcess& program)
{
    const pid_t group = pid_t(program.processId());
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(10000);
    }
    if (group <= 0)
        return;
    QElapsedTimer clock;
    clock.start();
    while (::kill(-group, 0) == 0) {
        if (clock.elapsed() > kHelpersLimitMs) {
            ::kill(-group, SIGKILL);
            break;
        }
        QThread::msleep(10);
    }
    // Reaped by init once their parent is gone; a moment more for that.
    while (::kill(-group, 0) == 0 && clock.elapsed() < 2 * kHelpersLimitMs)
        QThread::msleep(10);
}

enum class Kind { Ours, OursNoDocument, Bare, BareKeepingData };

// Milliseconds from starting the program to its requests, as the servers saw them arrive.
struct Times {
    double version = -1; // the version document asked for (none for the bare program)
    double page = -1;    // the home page asked for
    double painted = -1; // the page's report that it was painted
};

Times StartupTimes(Kind kind)
{
    CScriptedHttpServer site;
    site.Route("/", CScriptedHttpServer::Html(kHomePage));
    site.Route("/painted", CScriptedHttpServer::Status(204, "No Content", {}));
    site.Route("/quillmoor_version.xml", VersionDocument());
    // Knows no path: every request gets 404 at once.
    CScriptedHttpServer noDocument;

    // A home of its own for every run, so that every profile starts alike: empty.
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QUILLMOOR_SITE_HOST"), site.HostAndPort());
    env.insert(QStringLiteral("QUILLMOOR_MAKER_HOST"),
               kind == Kind::OursNoDocument ? noDocument.HostAndPort() : site.HostAndPort());

    const QString folder = QCoreApplication::applicationDirPath();
    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(home.filePath(QStringLiteral("stderr.txt")));
    // A process group of its own, so that the web engine's helpers can be waited for.
    program.setChildProcessModifier([] { setpgid(0, 0); });
    QElapsedTimer clock;
    clock.start();
    if (kind == Kind::Bare)
        program.start(folder + QStringLiteral("/bareweb"), {site.Url(QStringLiteral("/"))});
    else if (kind == Kind::BareKeepingData)
        program.start(folder + QStringLiteral("/bareweb"),
                      {QStringLiteral("--profile"), QStringLiteral("Quillmoor"),
                       site.Url(QStringLiteral("/"))});
    else
        program.start(folder + QStringLiteral("/../app/quillmoor"), {});
    const CScriptedHttpServer& maker = kind == Kind::OursNoDocument ? noDocument : site;
    Times times;
    const auto note = [&clock](double& at, const CScriptedHttpServer& server, const char* path) {
        if (at < 0 && AskedFor(server, path))
            at = double(clock.nsecsElapsed()) / 1e6;
    };
    while (clock.elapsed() < kPaintedLimitMs && program.state() != QProcess::NotRunning) {
        if (kind == Kind::Ours || kind == Kind::OursNoDocument)
            note(times.version, maker, "/quillmoor_version.xml");
        note(times.page, site, "/");
        note(times.painted, site, "/painted");
        if (times.painted >= 0)
            break;
        QThread::usleep(500);
    }
    EndGroup(program);
    if (times.painted < 0) {
        QFile errors(home.filePath(QStringLiteral("stderr.txt")));
        errors.open(QIODevice::ReadOnly);
        qFatal("%s never reported its page painted; it said:\n%s",
               kind == Kind::Bare || kind == Kind::BareKeepingData ? "bareweb" : "quillmoor",
               errors.readAll().right(2000).constData());
    }
    if ((kind == Kind::Ours || kind == Kind::OursNoDocument) && times.version < 0)
        qFatal("the program did not ask for the version document");
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    // What both programs need to run here: a display platform, and as root no sandbox.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Runs of each program."),
                      QStringLiteral("R"), QStringLiteral("5")});
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());

    // A first run of each, not counted: the system's file cache then holds both alike.
    StartupTimes(Kind::Ours);
    StartupTimes(Kind::Bare);

    std::vector<double> ours, noDocument, bare, ratios, checkCosts;
    std::vector<double> oursVersion, oursPage, barePage, bareKeeping;
    for (int round = 1; round <= rounds; ++round) {
        // Alternating, so that whatever else the machine does falls on all alike, and each
        // round starts with another, so that none always follows the same one. The bare
        // program keeping its data on disk is not a peer: it tells how much of a difference
        // that profile makes.
        constexpr Kind kKinds[] = {Kind::Ours, Kind::OursNoDocument, Kind::Bare,
                                   Kind::BareKeepingData};
        Times times[std::size(kKinds)];
        for (size_t i = 0; i < std::size(kKinds); ++i) {
            const size_t k = (i + size_t(round - 1)) % std::size(kKinds);
            times[k] = StartupTimes(kKinds[k]);
        }
        const auto& [a, b, c, d] = times;
        bareKeeping.push_back(d.painted);
        ours.push_back(a.painted);
        noDocument.push_back(b.painted);
        bare.push_back(c.painted);
        oursVersion.push_back(a.version);
        oursPage.push_back(a.page);
        barePage.push_back(c.page);
        ratios.push_back(a.painted / c.painted);
        checkCosts.push_back(a.painted - b.painted);
        std::printf("round %d: ours %.0f ms (version document asked at %.0f, page at %.0f), ours "
                    "with a 404 for the version document %.0f ms, bare %.0f ms (page at %.0f), "
                    "bare keeping its data on disk %.0f ms\n",
                    round, a.painted, a.version, a.page, b.painted, c.painted, c.page, d.painted);
        std::fflush(stdout);
    }
    std::printf("start-up ours ms: %.0f\n", Median(ours));
    std::printf("start-up ours version document asked ms: %.0f\n", Median(oursVersion));
    std::printf("start-up ours page asked ms: %.0f\n", Median(oursPage));
    std::printf("start-up ours with a 404 ms: %.0f\n", Median(noDocument));
    std::printf("start-up bare ms: %.0f\n", Median(bare));
    std::printf("start-up bare page asked ms: %.0f\n", Median(barePage));
    std::printf("start-up bare keeping its data on disk ms: %.0f\n", Median(bareKeeping));
    std::printf("start-up ours/bare: %.2f\n", Median(ratios));
    std::printf("start-up update check ms: %.0f\n", Median(checkCosts));
    return 0;
}
