#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "tests/support/jobfixture.h"
#include "tests/support/recordingrows.h"
#include "tests/support/scriptedhttpserver.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <limits>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

using Model = CDownloadListModel;
using Reply = CScriptedHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(QList<Reply>)

namespace {

constexpr int kJobTimeoutMs = 20000;
constexpr int kShortStallMs = 1000;

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('A' + (i * 7 + i / 251) % 26);
    return bytes;
}

// Caps the size of the files this process writes while it lives (none when negative), so that a
// write fails partway as on a disk that fills up; the write then fails with EFBIG instead of
// raising SIGXFSZ.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(qint64 bytes)
    {
        if (bytes < 0)
            return;
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        m_old = old;
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = old;
        capped.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeLimit()
    {
        if (!m_old)
            return;
        setrlimit(RLIMIT_FSIZE, &*m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

private:
    std::optional<rlimit> m_old;
    void (*m_oldHandler)(int) = SIG_DFL;
};

// The process's resident memory in bytes.
qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

// A job's HTTP transfer against scripted servers and Python's: what reaches the file, what its
// row shows and in which order it reports, failures with their reasons, stalls and cancels.
// Jobs report into the row model alone; only the tests of the pane's ownership build a pane.
class TestDownloadThread final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void transfer_data();
    void transfer();
    void reportsInOrder_data();
    void reportsInOrder();
    void connectionRefusedFails();
    void unwritableTargetFails_data();
    void unwritableTargetFails();
    void requestIsTheAddressUnchanged();
    void stalledServerFails_data();
    void stalledServerFails();
    void streamWithoutEndRunsInBoundedMemory();
    void cancelMidTransferKeepsThePartialFile();
    void cancelWhileTheServerIsSilent_data();
    void cancelWhileTheServerIsSilent();
    void twoJobsAtOnce();
    void finishedJobIsReleasedOnceItsRowIsGone();
    void resumeAfterPause_data();
    void resumeAfterPause();
    void retryNeverContinuesAnotherFile();
    void failureSaysWhy_data();
    void failureSaysWhy();
    void paneDestroyedWhileAJobRuns();
    void transferFromPythonHttpServer();

private:
    CDownloadThread* Start(const QString& url, const QString& path);
    CDownloadThread* Start(std::unique_ptr<CDownloadThread> job);
    QStringList Cells(const CDownloadThread* job) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CScriptedHttpServer> m_server;
    std::unique_ptr<Model> m_rows;
    std::vector<std::unique_ptr<CDownloadThread>> m_jobs;
};

void TestDownloadThread::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<CScriptedHttpServer>();
    m_rows = std::make_unique<Model>();
}

void TestDownloadThread::cleanup()
{
    // Stopped and waited for before their rows go.
    m_jobs.clear();
    m_rows.reset();
    m_server.reset();
    m_dir.reset();
}

CDownloadThread* TestDownloadThread::Start(std::unique_ptr<CDownloadThread> job)
{
    StartJob(*m_rows, *job);
    m_jobs.push_back(std::move(job));
    return m_jobs.back().get();
}

CDownloadThread* TestDownloadThread::Start(const QString& url, const QString& path)
{
    return Start(MakeJob(url, path));
}

QStringList TestDownloadThread::Cells(const CDownloadThread* job) const
{
    return JobCells(*m_rows, job);
}

void TestDownloadThread::transfer_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("cells"); // Status, Progress, Size, Downloaded, Speed
    QTest::addColumn<QByteArray>("file");   // null: no file may exist

    const QByteArray body = Pattern(5000);
    QTest::newRow("body with a length")
        << Reply(CScriptedHttpServer::Ok(body))
        << QStringList{"Completed", "100%", "4.9KB", "4.9KB", ""} << body;
    QTest::newRow("Content-Length 0: empty file, nothing to show but completion")
        << Reply(CScriptedHttpServer::Ok(QByteArray("")))
        << QStringList{"Completed", "100%", "", "", ""} << QByteArray("");
    QTest::newRow("no Content-Length: no file")
        << Reply(CScriptedHttpServer::WithoutLength(body)) << QStringList{"Failed", "", "", "", ""}
        << QByteArray();
    QTest::newRow("a part of the body when the whole was asked for: no file")
        << Reply(CScriptedHttpServer::Partial(body, 16)) << QStringList{"Failed", "", "", "", ""}
        << QByteArray();
    QTest::newRow("404 with a body: no file")
        << Reply(CScriptedHttpServer::Status(404, "Not Found", "<html>gone</html>"))
        << QStringList{"Failed", "", "", "", ""} << QByteArray();
    Reply cut = CScriptedHttpServer::Ok(body);
    cut.cutAfter = 1500;
    QTest::newRow("cut short: partial file stays")
        << cut << QStringList{"Failed", "30%", "4.9KB", "1.5KB", ""} << body.left(1500);
    Reply drip = CScriptedHttpServer::Ok(body);
    drip.dripBytes = 700;
    drip.dripDelayMs = 5;
    QTest::newRow("slow drip in odd pieces")
        << drip << QStringList{"Completed", "100%", "4.9KB", "4.9KB", ""} << body;
}

void TestDownloadThread::transfer()
{
    QFETCH(Reply, reply);
    QFETCH(QStringList, cells);
    QFETCH(QByteArray, file);

    m_server->Route("/get_video", reply);
    // Through a redirect, as the site may send one; the final response is what counts.
    m_server->Route("/watch", CScriptedHttpServer::Redirect(
                                  m_server->Url("/get_video?video_id=v&t=x").toLatin1()));
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    CDownloadThread* job = Start(m_server->Url("/watch"), path);

    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(job), cells);
    QCOMPARE(job->Succeeded(), cells.constFirst() == "Completed");
    QCOMPARE(QFile::exists(path), !file.isNull());
    if (!file.isNull())
        QCOMPARE(ReadWholeFile(path), file);
}

void TestDownloadThread::reportsInOrder_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("cancel");       // cancelled once the first piece is reported
    QTest::addColumn<QStringList>("kinds"); // the reports, each run of a kind once
    QTest::addColumn<int>("pieces");        // progress reports after the first; -1: not counted

    // 5000 bytes are ten pieces of 512 bytes and one of 392.
    QTest::newRow("whole body: a report as the file is made, one a piece, then completed")
        << Reply(CScriptedHttpServer::Ok(Pattern(5000))) << false
        << QStringList{"progress", "completed"} << 10;
    Reply drip = CScriptedHttpServer::Ok(Pattern(5000));
    drip.dripBytes = 700;
    drip.dripDelayMs = 5;
    QTest::newRow("odd network reads: no piece over 512 bytes")
        << drip << false << QStringList{"progress", "completed"} << -1;
    Reply cut = CScriptedHttpServer::Ok(Pattern(5000));
    cut.cutAfter = 1024;
    QTest::newRow("cut short: failed after the pieces that came")
        << cut << false << QStringList{"progress", "failed"} << 2;
    QTest::newRow("refused: failed, nothing else")
        << Reply(CScriptedHttpServer::Status(500, "Server Error", "oops")) << false
        << QStringList{"failed"} << -1;
    Reply slow = CScriptedHttpServer::Ok(Pattern(1 << 20));
    slow.dripBytes = 4096;
    slow.dripDelayMs = 10;
    QTest::newRow("cancelled: the row is removed, nothing after")
        << slow << true << QStringList{"progress", "removed"} << -1;
}

void TestDownloadThread::reportsInOrder()
{
    QFETCH(Reply, reply);
    QFETCH(bool, cancel);
    QFETCH(QStringList, kinds);
    QFETCH(int, pieces);

    m_server->Route("/get_video", reply);
    CRecordingRows rows;
    CDownloadThread job;
    job.m_strUrl = m_server->Url("/get_video");
    job.m_strPath = m_dir->filePath(QStringLiteral("clip.flv"));
    job.m_pOutputWnd = &rows;
    job.start();
    if (cancel) {
        QTRY_VERIFY_WITH_TIMEOUT(rows.Reports().size() > 1, kJobTimeoutMs);
        job.m_bCancel = true;
    }
    QVERIFY(job.wait(kJobTimeoutMs));

    const QStringList reports = rows.Reports();
    QCOMPARE(rows.Kinds(), kinds);
    if (kinds.constFirst() == "progress") {
        // The first report comes before any byte, with no time passed.
        const QString total =
            QString::number(reply.bodySize < 0 ? reply.body.size() : reply.bodySize);
        QCOMPARE(reports.constFirst(), "progress " + total + " 0");
        QCOMPARE(rows.ElapsedTimes().constFirst(), 0u);
    }
    // Every later report counts one more piece of at most 512 bytes, and time only goes on.
    const QList<quint32> times = rows.ElapsedTimes();
    qint64 last = 0;
    for (int i = 1; i < times.size(); ++i) {
        const qint64 received = reports[i].section(u' ', 2, 2).toLongLong();
        QVERIFY2(received > last && received - last <= 512, qPrintable(reports[i]));
        QVERIFY(times[i] >= times[i - 1]);
        last = received;
    }
    if (pieces >= 0)
        QCOMPARE(times.size() - 1, pieces);
}

void TestDownloadThread::connectionRefusedFails()
{
    const quint16 closedPort = CScriptedHttpServer().Port();
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    const QPointer<CDownloadThread> job =
        Start(QStringLiteral("http://127.0.0.1:%1/get_video").arg(closedPort), path);
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(job).constFirst(), QStringLiteral("Failed"));
    QVERIFY(!job->Succeeded());
    QVERIFY(job->ErrorText().contains(QString::number(closedPort)));
    QVERIFY(!QFile::exists(path));
}

void TestDownloadThread::unwritableTargetFails_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("reason");           // the errno the failure's text must tell
    QTest::addColumn<qint64>("fileSizeLimit"); // -1: none
    QTest::addColumn<qint64>("kept");          // bytes left in the file; -1: not looked at

    QTest::newRow("folder does not exist")
        << QStringLiteral("missing/clip.flv") << ENOENT << qint64(-1) << qint64(-1);
    QTest::newRow("the target is a folder")
        << QStringLiteral(".") << EISDIR << qint64(-1) << qint64(-1);
    // The device accepts the file but no byte.
    QTest::newRow("disk full") << QStringLiteral("/dev/full") << ENOSPC << qint64(-1) << qint64(-1);
    // The first write is cut short without a reason; only the next one tells it.
    QTest::newRow("no room left partway through a write")
        << QStringLiteral("clip.flv") << EFBIG << qint64(40000) << qint64(40000);
    QTest::newRow("permission denied")
        << QStringLiteral("locked.flv") << EACCES << qint64(-1) << qint64(0);
}

void TestDownloadThread::unwritableTargetFails()
{
    QFETCH(QString, path);
    QFETCH(int, reason);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(qint64, kept);
    if (path.startsWith(u'/') && !QFile::exists(path))
        QSKIP("no such device here");
    const QString target = path.startsWith(u'/') ? path : m_dir->filePath(path);
    if (reason == EACCES) {
        if (geteuid() == 0)
            QSKIP("root may write any file");
        QFile locked(target);
        QVERIFY(locked.open(QIODevice::WriteOnly));
        QVERIFY(locked.setPermissions(QFileDevice::ReadOwner));
    }
    m_server->Route("/get_video", CScriptedHttpServer::Ok(Pattern(100000)));
    const FileSizeLimit limit(fileSizeLimit);
    CDownloadThread* job = Start(m_server->Url("/get_video"), target);
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(job).constFirst(), QStringLiteral("Failed"));
    QVERIFY(!job->Succeeded());
    QVERIFY2(job->ErrorText().contains(qt_error_string(reason)), qPrintable(job->ErrorText()));
    if (kept >= 0)
        QCOMPARE(ReadWholeFile(target), Pattern(100000).left(kept));
}

void TestDownloadThread::requestIsTheAddressUnchanged()
{
    m_server->Route("/get_video", CScriptedHttpServer::Ok("flv"));
    const QPointer<CDownloadThread> job =
        Start(m_server->Url("/get_video?video_id=a%20b&t=T+1/="), m_dir->filePath("clip.flv"));
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    const QList<QByteArray> requests = m_server->Requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY2(requests[0].startsWith("GET /get_video?video_id=a%20b&t=T+1/= HTTP/1.1\r\n"),
             requests[0].constData());
    QVERIFY2(requests[0].contains("\r\nUser-Agent: Quillmoor\r\n"), requests[0].constData());
}

void TestDownloadThread::stalledServerFails_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("cells"); // Status, Progress, Size, Downloaded, Speed
    QTest::addColumn<QByteArray>("file");   // null: no file may exist

    const QByteArray body = Pattern(5000);
    Reply silent = CScriptedHttpServer::Ok(body);
    silent.headDelayMs = 60000;
    QTest::newRow("accepts, then sends nothing: no file")
        << silent << QStringList{"Failed", "", "", "", ""} << QByteArray();
    Reply afterHead = CScriptedHttpServer::Ok(body);
    afterHead.silenceMs = 60000;
    QTest::newRow("sends the header block, then nothing: an empty file")
        << afterHead << QStringList{"Failed", "0%", "4.9KB", "0KB", ""} << QByteArray("");
    Reply partway = CScriptedHttpServer::Ok(body);
    partway.stallAfter = 1500;
    QTest::newRow("stops partway: the partial file stays")
        << partway << QStringList{"Failed", "30%", "4.9KB", "1.5KB", ""} << body.left(1500);
    // Longer in all than the limit, but never silent for as long.
    Reply slow = CScriptedHttpServer::Ok(body);
    slow.dripBytes = 1000;
    slow.dripDelayMs = kShortStallMs / 2;
    QTest::newRow("slow but never silent for the limit: completed")
        << slow << QStringList{"Completed", "100%", "4.9KB", "4.9KB", ""} << body;
}

void TestDownloadThread::stalledServerFails()
{
    QFETCH(Reply, reply);
    QFETCH(QStringList, cells);
    QFETCH(QByteArray, file);
    QCOMPARE(CDownloadThread::kStallLimitMs, 60000);

    m_server->Route("/get_video", reply);
    const QString url = m_server->Url("/get_video");
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    auto job = MakeJob(url, path);
    QCOMPARE(job->m_nStallLimitMs, CDownloadThread::kStallLimitMs);
    job->m_nStallLimitMs = kShortStallMs;
    CDownloadThread* started = Start(std::move(job));

    QTRY_VERIFY_WITH_TIMEOUT(started->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(started), cells);
    QCOMPARE(started->Succeeded(), cells.constFirst() == "Completed");
    if (!started->Succeeded())
        QVERIFY2(started->ErrorText().contains(url), qPrintable(started->ErrorText()));
    QCOMPARE(QFile::exists(path), !file.isNull());
    if (!file.isNull())
        QCOMPARE(ReadWholeFile(path), file);
}

void TestDownloadThread::streamWithoutEndRunsInBoundedMemory()
{
    Reply endless = CScriptedHttpServer::Ok(Pattern(64 * 1024), std::numeric_limits<qint64>::max());
    m_server->Route("/get_video", endless);
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    constexpr qint64 kStreamed = 64 << 20;
    const qint64 before = ResidentBytes();
    CDownloadThread* job = Start(m_server->Url("/get_video"), path);

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > kStreamed, 60000);
    const qint64 grown = ResidentBytes() - before;
    QCOMPARE(Cells(job).constFirst(), QStringLiteral("Downloading"));
    job->m_bCancel = true;
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    // The body goes to the file, not into memory: far less than what came stays resident.
    QVERIFY2(grown < kStreamed / 2, qPrintable(QString::number(grown)));
    QVERIFY(QFileInfo(path).size() > kStreamed);
}

void TestDownloadThread::cancelMidTransferKeepsThePartialFile()
{
    Reply drip = CScriptedHttpServer::Ok(Pattern(1 << 20));
    drip.dripBytes = 4096;
    drip.dripDelayMs = 10;
    m_server->Route("/get_video", drip);
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    CDownloadThread* job = Start(m_server->Url("/get_video"), path);

    QTRY_VERIFY_WITH_TIMEOUT(Cells(job).value(0) == QStringLiteral("Downloading") &&
                                 Cells(job).value(3) != QStringLiteral("0KB"),
                             kJobTimeoutMs);
    job->m_bCancel = true;
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(m_rows->FindJobRow(job), -1);
    const qint64 kept = QFileInfo(path).size();
    QVERIFY2(kept > 0 && kept < (1 << 20), qPrintable(QString::number(kept)));
    QCOMPARE(ReadWholeFile(path), Pattern(1 << 20).left(kept));
    QTRY_COMPARE(m_rows->rowCount(), 0);
}

void TestDownloadThread::cancelWhileTheServerIsSilent_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("statusBeforeCancel");

    Reply afterHead = CScriptedHttpServer::Ok(Pattern(100));
    afterHead.silenceMs = 60000;
    QTest::newRow("silent after the header block") << afterHead << "Downloading";
    Reply beforeHead = CScriptedHttpServer::Ok(Pattern(100));
    beforeHead.headDelayMs = 60000;
    QTest::newRow("silent before answering") << beforeHead << "Starting";
}

void TestDownloadThread::cancelWhileTheServerIsSilent()
{
    QFETCH(Reply, reply);
    QFETCH(QString, statusBeforeCancel);

    m_server->Route("/get_video", reply);
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    CDownloadThread* job = Start(m_server->Url("/get_video"), path);
    QTRY_COMPARE_WITH_TIMEOUT(Cells(job).constFirst(), statusBeforeCancel, kJobTimeoutMs);
    // Cancelled once the request is out and the server keeps silent.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests().size(), 1, kJobTimeoutMs);
    job->m_bCancel = true;
    // The server would stay silent for a minute; the job must not wait for it.
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), 10000);
    QCOMPARE(m_rows->FindJobRow(job), -1);
}

void TestDownloadThread::twoJobsAtOnce()
{
    Reply first = CScriptedHttpServer::Ok(Pattern(64 * 1024));
    first.dripBytes = 8192;
    first.dripDelayMs = 10;
    Reply second = first;
    second.body = Pattern(48 * 1024 + 3);
    second.head = CScriptedHttpServer::Ok(second.body).head;
    m_server->Route("/one", first);
    m_server->Route("/two", second);
    const QString one = m_dir->filePath(QStringLiteral("one.flv"));
    const QString two = m_dir->filePath(QStringLiteral("two.flv"));
    CDownloadThread* a = Start(m_server->Url("/one"), one);
    CDownloadThread* b = Start(m_server->Url("/two"), two);

    QTRY_VERIFY_WITH_TIMEOUT(a->HasEnded() && b->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(a), (QStringList{"Completed", "100%", "64.0KB", "64.0KB", ""}));
    QCOMPARE(Cells(b), (QStringList{"Completed", "100%", "48.0KB", "48.0KB", ""}));
    QCOMPARE(ReadWholeFile(one), first.body);
    QCOMPARE(ReadWholeFile(two), second.body);
}

void TestDownloadThread::finishedJobIsReleasedOnceItsRowIsGone()
{
    m_server->Route("/get_video", CScriptedHttpServer::Ok("flv"));
    Reply silent = CScriptedHttpServer::Ok("flv");
    silent.silenceMs = 60000;
    m_server->Route("/silent", silent);
    COutputWnd pane;
    const QPointer<CDownloadThread> kept =
        StartJob(pane, m_server->Url("/get_video"), m_dir->filePath("a"));
    const QPointer<CDownloadThread> cancelled =
        StartJob(pane, m_server->Url("/silent"), m_dir->filePath("b"));
    QTRY_VERIFY_WITH_TIMEOUT(kept->HasEnded(), kJobTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(JobCells(pane, cancelled).constFirst(), QStringLiteral("Downloading"),
                              kJobTimeoutMs);
    cancelled->m_bCancel = true;

    // The cancelled job loses its row and, with nothing left to reach it, its object.
    QTRY_VERIFY_WITH_TIMEOUT(cancelled.isNull(), kJobTimeoutMs);
    QVERIFY(!kept.isNull());
    QCOMPARE(pane.Jobs(), std::vector<const CDownloadThread*>{kept.data()});
    QCOMPARE(JobCells(pane, kept).constFirst(), QStringLiteral("Completed"));
}

void TestDownloadThread::resumeAfterPause_data()
{
    QTest::addColumn<QList<Reply>>("after"); // what the server answers once resumed
    QTest::addColumn<QList<bool>>("ranged"); // which requests after the pause ask for a range

    const QByteArray body = Pattern(300000);
    constexpr qint64 kStop = 100000;
    QTest::newRow("honours ranges (206): continues where it stopped")
        << QList<Reply>{CScriptedHttpServer::Partial(body, kStop)} << QList<bool>{true};
    QTest::newRow("ignores ranges (200): starts again")
        << QList<Reply>{CScriptedHttpServer::Ok(body)} << QList<bool>{true};
    QTest::newRow("refuses the range (416): asks again for the whole")
        << QList<Reply>{CScriptedHttpServer::Status(416, "Range Not Satisfiable", ""),
                        CScriptedHttpServer::Ok(body)}
        << QList<bool>{true, false};
    QTest::newRow("sends another part than asked: starts again")
        << QList<Reply>{CScriptedHttpServer::Partial(body, kStop / 2),
                        CScriptedHttpServer::Ok(body)}
        << QList<bool>{true, false};
    QTest::newRow("the rest of a body of another length: starts again")
        << QList<Reply>{CScriptedHttpServer::Partial(body + "more", kStop),
                        CScriptedHttpServer::Ok(body)}
        << QList<bool>{true, false};
}

void TestDownloadThread::resumeAfterPause()
{
    QFETCH(QList<Reply>, after);
    QFETCH(QList<bool>, ranged);
    const QByteArray body = Pattern(300000);
    constexpr qint64 kStop = 100000;

    // The first answer sends a third of the body, then nothing.
    Reply first = CScriptedHttpServer::Ok(body);
    first.stallAfter = kStop;
    m_server->RouteInTurn("/get_video", QList<Reply>{first} + after);
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    COutputWnd pane;
    const QPointer<CDownloadThread> job = StartJob(pane, m_server->Url("/get_video"), path);
    Model& rows = *pane.Rows();
    const auto row = [&] { return rows.FindJobRow(job); };
    QTRY_COMPARE_WITH_TIMEOUT(rows.RecordOf(row()).received, std::optional<quint64>(kStop),
                              kJobTimeoutMs);
    QVERIFY(rows.CanPause(row()));
    QCOMPARE(rows.PauseRows({row()}), 1);
    QTRY_COMPARE_WITH_TIMEOUT(JobCells(rows, job).constFirst(), QStringLiteral("Paused"),
                              kJobTimeoutMs);
    QTRY_VERIFY(job->HasEnded());
    QCOMPARE(ReadWholeFile(path), body.left(kStop));
    QVERIFY(rows.CanResume(row()));

    pane.RestartRows({row()});
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(JobCells(rows, job), (QStringList{"Completed", "100%", "293.0KB", "293.0KB", ""}));
    QCOMPARE(ReadWholeFile(path), body);
    const QList<QByteArray> requests = m_server->Requests().mid(1);
    QCOMPARE(requests.size(), ranged.size());
    for (int i = 0; i < ranged.size(); ++i) {
        QCOMPARE(requests[i].contains("\r\nRange: bytes=" + QByteArray::number(kStop) + "-\r\n"),
                 ranged[i]);
    }
}

void TestDownloadThread::retryNeverContinuesAnotherFile()
{
    // A file the user chose to replace is there; the job fails before it writes a byte.
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("an earlier video");
    }
    const QByteArray body = Pattern(5000);
    m_server->RouteInTurn("/get_video", {CScriptedHttpServer::Status(503, "Busy", "later"),
                                         CScriptedHttpServer::Ok(body)});
    COutputWnd pane;
    const QPointer<CDownloadThread> job = StartJob(pane, m_server->Url("/get_video"), path);
    Model& rows = *pane.Rows();
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QVERIFY(rows.CanRetry(rows.FindJobRow(job)));

    pane.RestartRows({rows.FindJobRow(job)});
    QTRY_COMPARE_WITH_TIMEOUT(JobCells(rows, job).constFirst(), QStringLiteral("Completed"),
                              kJobTimeoutMs);
    QTRY_VERIFY(job->HasEnded());
    // The retry asked for the whole body, not for what follows a file that is not its own.
    QCOMPARE(m_server->Requests().size(), 2);
    QVERIFY(!m_server->Requests()[1].contains("Range:"));
    QCOMPARE(ReadWholeFile(path), body);
}

void TestDownloadThread::failureSaysWhy_data()
{
    QTest::addColumn<QString>("target");   // relative to the test's folder
    QTest::addColumn<QString>("route");    // "refused": a closed port
    QTest::addColumn<QStringList>("told"); // what the failed row's tooltip must quote

    QTest::newRow("HTTP status") << "clip.flv"
                                 << "404" << QStringList{"/get_video", "HTTP status 404"};
    QTest::newRow("no connection") << "clip.flv"
                                   << "refused" << QStringList{"Could"};
    QTest::newRow("the file and the system's reason")
        << "missing/clip.flv"
        << "ok" << QStringList{"missing/clip.flv", "No such file or directory"};
}

void TestDownloadThread::failureSaysWhy()
{
    QFETCH(QString, target);
    QFETCH(QString, route);
    QFETCH(QStringList, told);

    QString url = m_server->Url("/get_video");
    if (route == "404")
        m_server->Route("/get_video", CScriptedHttpServer::Status(404, "Not Found", "gone"));
    else if (route == "ok")
        m_server->Route("/get_video", CScriptedHttpServer::Ok(Pattern(100)));
    else
        url = QStringLiteral("http://127.0.0.1:%1/get_video").arg(CScriptedHttpServer().Port());
    if (route == "refused")
        told << url.section(u'/', 2, 2).section(u':', 1);
    CDownloadThread* job = Start(url, m_dir->filePath(target));
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    const QModelIndex status = m_rows->index(m_rows->FindJobRow(job), Model::Status);
    QCOMPARE(status.data().toString(), QStringLiteral("Failed"));
    const QString tip = status.data(Qt::ToolTipRole).toString();
    QVERIFY2(!tip.contains(u'\n'), qPrintable(tip));
    for (const QString& part : told)
        QVERIFY2(tip.contains(part), qPrintable(tip + " lacks " + part));
    // Every cell of the row tells it.
    QCOMPARE(m_rows->index(status.row(), Model::FullPath).data(Qt::ToolTipRole).toString(), tip);
}

void TestDownloadThread::paneDestroyedWhileAJobRuns()
{
    Reply drip = CScriptedHttpServer::Ok(Pattern(1 << 20));
    drip.dripBytes = 1024;
    drip.dripDelayMs = 10;
    m_server->Route("/get_video", drip);
    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    auto pane = std::make_unique<COutputWnd>();
    const QPointer<CDownloadThread> job = StartJob(*pane, m_server->Url("/get_video"), path);
    QTRY_COMPARE_WITH_TIMEOUT(JobCells(*pane, job).constFirst(), QStringLiteral("Downloading"),
                              kJobTimeoutMs);

    pane.reset();
    // The job went with the pane, after its worker had stopped; what it wrote stays.
    QVERIFY(job.isNull());
    QVERIFY(QFileInfo(path).size() < (1 << 20));
}

void TestDownloadThread::transferFromPythonHttpServer()
{
    const QByteArray body = Pattern(200 * 1024 + 17);
    QTemporaryDir served;
    {
        QFile video(served.filePath(QStringLiteral("video.flv")));
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(body);
    }
    QProcess python;
    python.setWorkingDirectory(served.path());
    python.setProcessChannelMode(QProcess::MergedChannels);
    python.start(QStringLiteral("python3"),
                 {"-u", "-m", "http.server", "--bind", "127.0.0.1", "0"});
    if (!python.waitForStarted())
        QSKIP("python3 is not installed");
    QString port;
    const QRegularExpression serving(QStringLiteral("port (\\d+)"));
    QTRY_VERIFY_WITH_TIMEOUT(
        (port = serving.match(QString::fromLatin1(python.peek(4096))).captured(1), !port.isEmpty()),
        kJobTimeoutMs);

    const QString path = m_dir->filePath(QStringLiteral("clip.flv"));
    const QPointer<CDownloadThread> job =
        Start(QStringLiteral("http://127.0.0.1:%1/video.flv").arg(port), path);
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kJobTimeoutMs);
    QCOMPARE(Cells(job), (QStringList{"Completed", "100%", "200.0KB", "200.0KB", ""}));
    QCOMPARE(ReadWholeFile(path), body);
    python.kill();
    python.waitForFinished();
}

QTEST_MAIN(TestDownloadThread)
#include "tst_downloadthread.moc"
