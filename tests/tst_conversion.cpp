#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "engine/outputformat.h"
#include "tests/support/flvfixture.h"
#include "tests/support/jobfixture.h"
#include "tests/support/recordingrows.h"
#include "tests/support/scriptedhttpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using Reply = CScriptedHttpServer::Reply;

namespace {

constexpr int kTimeoutMs = 60000;

} // namespace

// The conversion stage of a job: one converter at a time, progress from its console, and what
// stays on disk when it fails. Fake converters are small shell scripts named ffmpeg.
class TestConversion final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void convertsThroughTheFront();
    void reportsInOrder_data();
    void reportsInOrder();
    void failedConversionKeepsTheDownload_data();
    void failedConversionKeepsTheDownload();
    void conversionsRunOneAtATime();
    void cancelledTransferIsNotConverted();
    void formatOutsideTheRangeUsesXvid();
    void longestTargetNameConverts_data();
    void longestTargetNameConverts();
    void paneDestroyedWhileConverting();
    void retryConvertsWithoutFetchingAgain();

private:
    CDownloadThread* Start(const QString& url, const QString& path, int format,
                           const QString& converterFolder);
    CDownloadThread* Start(std::unique_ptr<CDownloadThread> job);
    QStringList Cells(const CDownloadThread* job) const { return JobCells(*m_rows, job); }
    // A folder holding a converter script with this body; empty body: no converter at all.
    QString FakeConverter(const QByteArray& body);
    // The names of the files in the job's folder, hidden ones too.
    QStringList Files() const;

    QTemporaryDir m_fixtures;
    QByteArray m_flv;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CScriptedHttpServer> m_server;
    std::unique_ptr<CDownloadListModel> m_rows;
    std::vector<std::unique_ptr<CDownloadThread>> m_jobs;
};

void TestConversion::initTestCase()
{
    const QString path = m_fixtures.filePath(QStringLiteral("fixture.flv"));
    const QString error = MakeFlvFixture(path, 5);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_flv = ReadWholeFile(path);
}

void TestConversion::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<CScriptedHttpServer>();
    m_server->Route("/get_video", CScriptedHttpServer::Ok(m_flv));
    m_rows = std::make_unique<CDownloadListModel>();
}

void TestConversion::cleanup()
{
    // Stopped and waited for before their rows go.
    m_jobs.clear();
    m_rows.reset();
    m_server.reset();
    m_dir.reset();
}

CDownloadThread* TestConversion::Start(std::unique_ptr<CDownloadThread> job)
{
    StartJob(*m_rows, *job);
    m_jobs.push_back(std::move(job));
    return m_jobs.back().get();
}

CDownloadThread* TestConversion::Start(const QString& url, const QString& path, int format,
                                       const QString& converterFolder)
{
    return Start(MakeJob(url, path, format, converterFolder));
}

QString TestConversion::FakeConverter(const QByteArray& body)
{
    const QString folder = m_dir->filePath(QStringLiteral("converter"));
    QDir().mkpath(folder);
    if (body.isEmpty())
        return folder;
    QFile script(folder + QStringLiteral("/ffmpeg"));
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write("#!/bin/sh\nd=$(dirname \"$0\")\nfor out; do :; done\n" + body);
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    return folder;
}

QStringList TestConversion::Files() const
{
    return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void TestConversion::convertsThroughTheFront()
{
    const QString path = m_dir->filePath(QStringLiteral("my clip.mp3"));
    CDownloadThread* job = Start(m_server->Url("/get_video"), path, int(OutputFormat::Mp3),
                                 QStringLiteral(QUILLMOOR_CONVERTER_DIR));
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kTimeoutMs);
    QVERIFY2(job->Succeeded(), qPrintable(job->ErrorText()));
    QCOMPARE(Cells(job).mid(0, 2), (QStringList{"Completed", "100%"}));
    QVERIFY(qAbs(ProbeDuration(path) - 5.0) < 1.0);
    QCOMPARE(Files(), QStringList{"my clip.mp3"});
}

void TestConversion::reportsInOrder_data()
{
    QTest::addColumn<QByteArray>("script");       // the fake converter; empty: none
    QTest::addColumn<QStringList>("kinds");       // the reports, each run of a kind once
    QTest::addColumn<QString>("firstConverting"); // the conversion's first progress report

    const QByteArray progress = "echo '  Duration: 00:00:10.00, start: 0.000000, bitrate: 1'\n"
                                "sleep 0.1\necho 'frame= 1 time=4.50 bitrate=1'\nsleep 0.1\n"
                                "echo 'frame= 2 time=9.90 bitrate=1'\nsleep 0.1\n";
    QTest::newRow("converted: queued, then its progress, then converted")
        << progress + "echo done > \"$out\"\n"
        << QStringList{"progress", "completed", "queued", "converting", "converted"}
        << "converting 10 0";
    QTest::newRow("converter fails after its progress: failed last")
        << progress + "exit 3\n"
        << QStringList{"progress", "completed", "queued", "converting", "failed"}
        << "converting 10 0";
    QTest::newRow("no converter: queued, then failed")
        << QByteArray() << QStringList{"progress", "completed", "queued", "failed"} << QString();
}

void TestConversion::reportsInOrder()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, kinds);
    QFETCH(QString, firstConverting);

    CRecordingRows rows;
    const auto job = MakeJob(m_server->Url("/get_video"), m_dir->filePath("clip.mp3"),
                             int(OutputFormat::Mp3), FakeConverter(script));
    job->m_pOutputWnd = &rows;
    job->start();
    QVERIFY(job->wait(kTimeoutMs));
    QCOMPARE(rows.Kinds(), kinds);
    // The duration comes with a position of 0; a position is shown with the chunk after its own.
    QString first;
    for (const QString& report : rows.Reports()) {
        if (report.startsWith("converting")) {
            first = report;
            break;
        }
    }
    QCOMPARE(first, firstConverting);
}

void TestConversion::failedConversionKeepsTheDownload_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("earlier"); // a file already under the target's name; null: none

    const QByteArray halfWritten = "echo '  Duration: 00:00:05.00, start: 0'\n"
                                   "echo half > \"$out\"\nexit 3\n";
    QTest::newRow("converter missing") << QByteArray() << QByteArray();
    QTest::newRow("converter exits non-zero") << halfWritten << QByteArray();
    QTest::newRow("converter killed")
        << QByteArray("echo half > \"$out\"\nkill -9 $$\n") << QByteArray();
    QTest::newRow("no output file")
        << QByteArray("echo 'time=5.00 done'\nexit 0\n") << QByteArray();
    QTest::newRow("converter exits non-zero: the earlier file is untouched")
        << halfWritten << QByteArray("the earlier video");
}

void TestConversion::failedConversionKeepsTheDownload()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, earlier);
    const QString path = m_dir->filePath(QStringLiteral("clip.mp3"));
    if (!earlier.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(earlier);
    }
    CDownloadThread* job =
        Start(m_server->Url("/get_video"), path, int(OutputFormat::Mp3), FakeConverter(script));
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kTimeoutMs);
    QVERIFY(!job->Succeeded());
    QCOMPARE(Cells(job).constFirst(), QStringLiteral("Failed"));
    QCOMPARE(ReadWholeFile(path + ".flv"), m_flv);
    // Nothing half-written is left, under the target's name or any other.
    QCOMPARE(QFile::exists(path), !earlier.isNull());
    QCOMPARE(ReadWholeFile(path), earlier.isNull() ? QByteArray() : earlier);
    const QStringList files =
        earlier.isNull() ? QStringList{"clip.mp3.flv"} : QStringList{"clip.mp3", "clip.mp3.flv"};
    QCOMPARE(Files(), files);
}

void TestConversion::conversionsRunOneAtATime()
{
    // mkdir is atomic: a second converter running at the same time leaves a mark.
    const QString folder = FakeConverter(
        "mkdir \"$d/running\" 2>/dev/null || echo overlap >> \"$d/overlap\"\n"
        "echo '  Duration: 00:00:10.00, start: 0.000000, bitrate: 312 kb/s'\n"
        "i=0\nwhile [ $i -lt 10 ]; do echo \"frame= 1 time=$i.50 bitrate=1\"; sleep 0.1; "
        "i=$((i+1)); done\n"
        ": > \"$out\"\nrmdir \"$d/running\"\n");
    CDownloadThread* a = Start(m_server->Url("/get_video"), m_dir->filePath("a.mp3"), 7, folder);
    CDownloadThread* b = Start(m_server->Url("/get_video"), m_dir->filePath("b.mp3"), 7, folder);

    const auto status = [this](const CDownloadThread* job) { return Cells(job).constFirst(); };
    // One converts while the other waits its turn, then the other converts.
    const auto oneWaitsForTheOther = [&] {
        return (status(a) == "Converting" && status(b) == "Conversion Queued") ||
               (status(b) == "Converting" && status(a) == "Conversion Queued");
    };
    QTRY_VERIFY_WITH_TIMEOUT(oneWaitsForTheOther(), kTimeoutMs);
    const bool aFirst = status(a) == "Converting";
    QTRY_COMPARE_WITH_TIMEOUT(status(aFirst ? b : a), QStringLiteral("Converting"), kTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(a->HasEnded() && b->HasEnded(), kTimeoutMs);
    QCOMPARE(Cells(a).mid(0, 2), (QStringList{"Completed", "100%"}));
    QCOMPARE(Cells(b).mid(0, 2), (QStringList{"Completed", "100%"}));
    QVERIFY(!QFile::exists(folder + "/overlap"));
    QVERIFY(!QFile::exists(m_dir->filePath("a.mp3.flv")));
}

void TestConversion::cancelledTransferIsNotConverted()
{
    Reply drip = CScriptedHttpServer::Ok(m_flv);
    drip.dripBytes = 2048;
    drip.dripDelayMs = 20;
    m_server->Route("/slow", drip);
    const QString folder = FakeConverter(": > \"$d/ran\"\n: > \"$out\"\n");
    const QString path = m_dir->filePath(QStringLiteral("clip.mp3"));
    CDownloadThread* job = Start(m_server->Url("/slow"), path, int(OutputFormat::Mp3), folder);
    QTRY_VERIFY_WITH_TIMEOUT(
        Cells(job).value(3) != "0KB" && Cells(job).constFirst() == "Downloading", kTimeoutMs);
    job->m_bCancel = true;
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kTimeoutMs);
    QCOMPARE(m_rows->FindJobRow(job), -1);
    QVERIFY(!QFile::exists(folder + "/ran"));
    const QByteArray partial = ReadWholeFile(path + ".flv");
    QVERIFY(!partial.isEmpty() && partial.size() < m_flv.size());
}

void TestConversion::formatOutsideTheRangeUsesXvid()
{
    const QString folder =
        FakeConverter("for a; do printf '%s\\n' \"$a\"; done > \"$d/args\"\n: > \"$out\"\n");
    const QString path = m_dir->filePath(QStringLiteral("a \"b\" c.avi"));
    auto job = MakeJob(m_server->Url("/get_video"), path, 0, folder);
    job->m_bConvert = true; // with format 0, which the command never produces
    CDownloadThread* started = Start(std::move(job));
    QTRY_VERIFY_WITH_TIMEOUT(started->HasEnded(), kTimeoutMs);
    QVERIFY2(started->Succeeded(), qPrintable(started->ErrorText()));
    QStringList arguments =
        QString::fromUtf8(ReadWholeFile(folder + "/args")).split(u'\n', Qt::SkipEmptyParts);
    // The converter writes beside the target under another name that keeps the extension, from
    // which it takes the output format; the file takes the target's name once converted.
    const QFileInfo output(arguments.takeLast());
    QCOMPARE(output.absolutePath(), QFileInfo(path).absolutePath());
    QCOMPARE(output.suffix(), QStringLiteral("avi"));
    QVERIFY(output.fileName() != QFileInfo(path).fileName());
    QCOMPARE(arguments,
             (QStringList{"-i", path + ".flv", "-y", "-vcodec", "xvid", "-qscale", "7", "-s",
                          "320x240", "-b", "200", "-ar", "22050", "-ab", "64", "-ac", "2"}));
    QCOMPARE(Files(), QStringList{QFileInfo(path).fileName()});
}

void TestConversion::longestTargetNameConverts_data()
{
    // Names of 251 bytes: with ".flv" the intermediate file's name is as long as a name can be.
    QTest::addColumn<QString>("name");
    QTest::newRow("one byte a character") << QString(247, u'a') + ".mp3";
    QTest::newRow("two bytes a character") << QString(123, u'\u00e9') + "a.mp3";
    QTest::newRow("four bytes a character")
        << QString::fromUtf8(QByteArray(61, 'x').replace("x", "\xf0\x9f\x8e\xac")) + "abc.mp3";
}

void TestConversion::longestTargetNameConverts()
{
    QFETCH(QString, name);
    QCOMPARE(name.toUtf8().size(), 251);
    const QString folder = FakeConverter("echo converted > \"$out\"\n");
    const QString path = m_dir->filePath(name);
    CDownloadThread* job = Start(m_server->Url("/get_video"), path, int(OutputFormat::Mp3), folder);
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kTimeoutMs);
    QVERIFY2(job->Succeeded(), qPrintable(job->ErrorText()));
    QCOMPARE(ReadWholeFile(path), QByteArray("converted\n"));
    QCOMPARE(Files(), QStringList{name});
}

void TestConversion::paneDestroyedWhileConverting()
{
    const QString folder = FakeConverter("echo $$ > \"$d/pid\"\necho half > \"$out\"\n"
                                         "echo 'Duration: 00:01:00.00, x'\nexec sleep 60\n");
    const QString path = m_dir->filePath(QStringLiteral("clip.mp3"));
    auto pane = std::make_unique<COutputWnd>();
    const QPointer<CDownloadThread> job =
        StartJob(*pane, m_server->Url("/get_video"), path, int(OutputFormat::Mp3), folder);
    QTRY_COMPARE_WITH_TIMEOUT(JobCells(*pane, job).constFirst(), QStringLiteral("Converting"),
                              kTimeoutMs);
    const QByteArray pid = ReadWholeFile(folder + "/pid").trimmed();
    QVERIFY(!pid.isEmpty());
    QVERIFY(!QFile::exists(path));

    pane.reset();
    QVERIFY(job.isNull());
    QVERIFY(!QFile::exists("/proc/" + QString::fromLatin1(pid)));
    QCOMPARE(ReadWholeFile(path + ".flv"), m_flv);
    QCOMPARE(Files(), QStringList{"clip.mp3.flv"});
}

void TestConversion::retryConvertsWithoutFetchingAgain()
{
    // Fails the first time with a last word of its own, converts the second.
    const QString folder = FakeConverter("if [ ! -e \"$d/tried\" ]; then : > \"$d/tried\"\n"
                                         "  echo 'frame= 1 time=1.00 bitrate=1'\n"
                                         "  printf 'Unknown encoder for this output\\r\\n'\n"
                                         "  exit 1\nfi\necho converted > \"$out\"\n");
    const QString path = m_dir->filePath(QStringLiteral("clip.mp3"));
    COutputWnd pane;
    const QPointer<CDownloadThread> job =
        StartJob(pane, m_server->Url("/get_video"), path, int(OutputFormat::Mp3), folder);
    CDownloadListModel& rows = *pane.Rows();
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded(), kTimeoutMs);
    const int row = rows.FindJobRow(job);
    QCOMPARE(JobCells(rows, job).constFirst(), QStringLiteral("Failed"));
    // The reason quotes the converter's exit status and the last line it wrote.
    const QString tip =
        rows.index(row, CDownloadListModel::Status).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.endsWith("exit status 1: Unknown encoder for this output"), qPrintable(tip));
    QCOMPARE(ReadWholeFile(path + ".flv"), m_flv);
    const qsizetype fetched = m_server->Requests().size();

    QVERIFY(rows.CanRetry(row));
    pane.RestartRows({row});
    QTRY_VERIFY_WITH_TIMEOUT(job->HasEnded() && JobCells(rows, job).constFirst() != "Starting",
                             kTimeoutMs);
    QCOMPARE(JobCells(rows, job).mid(0, 2), (QStringList{"Completed", "100%"}));
    QCOMPARE(ReadWholeFile(path), QByteArray("converted\n"));
    QCOMPARE(m_server->Requests().size(), fetched);
    QCOMPARE(Files(), QStringList{"clip.mp3"});
}

QTEST_MAIN(TestConversion)
#include "tst_conversion.moc"
