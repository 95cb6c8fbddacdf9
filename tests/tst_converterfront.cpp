#include "engine/converter.h"
#include "engine/outputformat.h"
#include "frontrules.h"
#include "tests/support/flvfixture.h"
#include "tests/support/scriptedhttpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

namespace {

using FrontRules::Arguments;

constexpr int kFixtureSeconds = 5;

QString Front()
{
    return QStringLiteral(QUILLMOOR_CONVERTER_DIR) + QStringLiteral("/ffmpeg");
}

Arguments ToArguments(const QStringList& list)
{
    Arguments out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

QStringList FromArguments(const Arguments& arguments)
{
    QStringList out;
    for (const std::string& s : arguments)
        out << QString::fromStdString(s);
    return out;
}

// A process as it was seen once: its id and its start time, so that an id taken again by
// another process after it ended does not pass for it.
struct SeenProcess {
    qint64 pid = 0;
    QByteArray start;
};

// Field 22 of /proc/PID/stat (the start time), and the state letter before it.
std::optional<std::pair<char, QByteArray>> ReadStat(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.readAll();
    // The name in parentheses may hold blanks; the fields after it do not.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20 || fields[0].isEmpty())
        return std::nullopt;
    return std::pair(fields[0].at(0), fields[19]);
}

// A zombie has ended; it only waits for whoever reaps orphans.
bool StillRuns(const SeenProcess& process)
{
    const auto stat = ReadStat(process.pid);
    return stat && stat->second == process.start && stat->first != 'Z' && stat->first != 'X';
}

// The children of pid, over all of its threads, named name.
QList<SeenProcess> ChildrenNamed(qint64 pid, const QByteArray& name)
{
    QList<SeenProcess> found;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& id : children.readAll().simplified().split(' ')) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(id)));
            const auto stat = ReadStat(id.toLongLong());
            if (stat && comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
                found.append({id.toLongLong(), stat->second});
        }
    }
    return found;
}

// A folder whose "ffmpeg" runs the system's ffmpeg reading its input in real time, so that a
// conversion lasts as long as the video, and reporting its position every reportSeconds.
QString RealTimeFfmpeg(const QTemporaryDir& dir, const QString& reportSeconds)
{
    const QString folder = dir.filePath(QStringLiteral("realtime-") + reportSeconds);
    QDir().mkpath(folder);
    QFile script(folder + QStringLiteral("/ffmpeg"));
    const QByteArray body = "#!/bin/sh\nexec /usr/bin/ffmpeg -re -stats_period " +
                            reportSeconds.toLatin1() + " \"$@\"\n";
    if (!script.open(QIODevice::WriteOnly) || script.write(body) != body.size())
        return {};
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    return folder;
}

} // namespace

// The converter front: its mapping of the old options, its times, real files, and its end.
class TestConverterFront final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void mapArguments_data();
    void mapArguments();
    void rewriteTimes_data();
    void rewriteTimes();
    void presetsMakeRealFiles_data();
    void presetsMakeRealFiles();
    void withoutSystemFfmpeg();
    void passesExitStatusAndSignals();
    void outputPath_data();
    void outputPath();
    void endsWithAKilledProgram_data();
    void endsWithAKilledProgram();
    void endsWhenTheProgramWentBeforeIt();

private:
    QTemporaryDir m_dir;
    QString m_flv;
};

void TestConverterFront::initTestCase()
{
    QVERIFY(QFile::exists(Front()));
    m_flv = m_dir.filePath(QStringLiteral("in put.flv"));
    const QString error = MakeFlvFixture(m_flv, kFixtureSeconds);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestConverterFront::mapArguments_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("encoders");
    QTest::addColumn<QStringList>("mapped"); // between "-i in -y" and "out"

    const QStringList all{"libxvid", "libopencore_amrnb"};
    QTest::newRow("iPod: bare rates are kbit/s, qscale is q:v")
        << int(OutputFormat::IPod) << all
        << QStringList{"-s",   "320x240", "-q:v",  "7",    "-r",  "24",  "-b:v",
                       "500k", "-ar",     "22050", "-b:a", "64k", "-ac", "2"};
    QTest::newRow("cell phone with AMR-NB: rates with a unit stay")
        << int(OutputFormat::CellPhone) << all
        << QStringList{"-c:v", "h263", "-q:v", "7",    "-s",   "176x144", "-r",  "15",
                       "-b:v", "30k",  "-ar",  "8000", "-b:a", "12.2k",   "-ac", "1"};
    QTest::newRow("cell phone without AMR-NB gets AAC")
        << int(OutputFormat::CellPhone) << QStringList{}
        << QStringList{"-c:v", "h263", "-q:v", "7",    "-s",    "176x144", "-r", "15",   "-b:v",
                       "30k",  "-ar",  "8000", "-b:a", "12.2k", "-ac",     "1",  "-c:a", "aac"};
    QTest::newRow("Xvid with libxvid")
        << int(OutputFormat::Xvid) << all
        << QStringList{"-c:v", "libxvid", "-q:v",  "7",    "-s",  "320x240", "-b:v",
                       "200k", "-ar",     "22050", "-b:a", "64k", "-ac",     "2"};
    QTest::newRow("Xvid without libxvid is MPEG-4 tagged XVID")
        << int(OutputFormat::Xvid) << QStringList{}
        << QStringList{"-c:v", "mpeg4", "-vtag", "XVID",  "-q:v", "7",   "-s",  "320x240",
                       "-b:v", "200k",  "-ar",   "22050", "-b:a", "64k", "-ac", "2"};
}

void TestConverterFront::mapArguments()
{
    QFETCH(int, format);
    QFETCH(QStringList, encoders);
    QFETCH(QStringList, mapped);

    const QString out = format == int(OutputFormat::CellPhone) ? "o.3gp" : "o.avi";
    const Arguments preset = ToArguments(Converter::PresetArguments(format, "in.flv", out));
    const auto has = [&](std::string_view name) {
        return encoders.contains(QString::fromUtf8(name.data(), qsizetype(name.size())));
    };
    const QStringList expected = QStringList{"-nostdin", "-i", "in.flv", "-y"} << mapped << out;
    QCOMPARE(FromArguments(FrontRules::MapArguments(preset, has)), expected);
}

void TestConverterFront::rewriteTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("rewritten");

    QTest::newRow("clock time becomes seconds")
        << "size=  1094kB time=00:03:32.63 bitrate= 926.4kbits/s\r"
        << "size=  1094kB time=212.63 bitrate= 926.4kbits/s\r";
    QTest::newRow("hours count") << "time=01:00:05.00 "
                                 << "time=3605.00 ";
    QTest::newRow("negative start") << "time=-00:00:01.50 "
                                    << "time=-1.50 ";
    QTest::newRow("every time in the text") << "time=00:00:01.00 x\rtime=00:00:02.00 y"
                                            << "time=1.00 x\rtime=2.00 y";
    QTest::newRow("not a clock time") << "time=N/A time=9.67 "
                                      << "time=N/A time=9.67 ";
    QTest::newRow("duration untouched") << "  Duration: 00:03:32.63, start"
                                        << "  Duration: 00:03:32.63, start";
}

void TestConverterFront::rewriteTimes()
{
    QFETCH(QString, text);
    QFETCH(QString, rewritten);
    QCOMPARE(QString::fromStdString(FrontRules::RewriteTimes(text.toStdString())), rewritten);
}

void TestConverterFront::presetsMakeRealFiles_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("container"); // ffprobe's format name, and the brand for MP4 kin
    QTest::addColumn<bool>("video");

    QTest::newRow("iPod") << int(OutputFormat::IPod) << "mov"
                          << "mov,mp4,m4a,3gp,3g2,mj2/qt  " << true;
    QTest::newRow("iPhone") << int(OutputFormat::IPhone) << "mp4"
                            << "mov,mp4,m4a,3gp,3g2,mj2/isom" << true;
    QTest::newRow("PSP") << int(OutputFormat::Psp) << "mp4"
                         << "mov,mp4,m4a,3gp,3g2,mj2/MSNV" << true;
    QTest::newRow("cell phone") << int(OutputFormat::CellPhone) << "3gp"
                                << "mov,mp4,m4a,3gp,3g2,mj2/3gp4" << true;
    QTest::newRow("Windows Media") << int(OutputFormat::WindowsMedia) << "wmv"
                                   << "asf/" << true;
    QTest::newRow("Xvid") << int(OutputFormat::Xvid) << "avi"
                          << "avi/" << true;
    QTest::newRow("MP3") << int(OutputFormat::Mp3) << "mp3"
                         << "mp3/" << false;
}

void TestConverterFront::presetsMakeRealFiles()
{
    QFETCH(int, format);
    QFETCH(QString, extension);
    QFETCH(QString, container);
    QFETCH(bool, video);

    // Blanks, quotes and shell characters in the name must reach ffmpeg whole.
    const QString out =
        m_dir.filePath(QStringLiteral("it's \"%1\" $x.%2").arg(format).arg(extension));
    QProcess front;
    front.setProcessChannelMode(QProcess::MergedChannels);
    front.start(Front(), Converter::PresetArguments(format, m_flv, out));
    QVERIFY(front.waitForFinished(120000));
    const QByteArray console = front.readAll();
    QVERIFY2(front.exitStatus() == QProcess::NormalExit && front.exitCode() == 0,
             console.right(2000).constData());
    // Progress reaches the program in seconds.
    QVERIFY2(console.contains("Duration: 00:00:0"), console.right(2000).constData());
    QVERIFY2(QRegularExpression(QStringLiteral("time=\\d+\\.\\d\\d "))
                 .match(QString::fromLatin1(console))
                 .hasMatch(),
             console.right(2000).constData());

    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", out});
    QVERIFY(probe.waitForFinished(60000));
    const QJsonObject info = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    const QJsonObject fmt = info["format"].toObject();
    QCOMPARE(fmt["format_name"].toString() + u'/' +
                 fmt["tags"].toObject()["major_brand"].toString(),
             container);
    bool hasVideo = false;
    for (const QJsonValue& stream : info["streams"].toArray())
        hasVideo |= stream.toObject()["codec_type"].toString() == QLatin1String("video");
    QCOMPARE(hasVideo, video);
    const double duration = fmt["duration"].toString().toDouble();
    QVERIFY2(qAbs(duration - kFixtureSeconds) < 1.0, qPrintable(QString::number(duration)));
}

void TestConverterFront::withoutSystemFfmpeg()
{
    QProcess front;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Only the front's own folder on PATH: it must not take itself for ffmpeg.
    environment.insert(QStringLiteral("PATH"), QStringLiteral(QUILLMOOR_CONVERTER_DIR));
    front.setProcessEnvironment(environment);
    front.start(Front(), Converter::PresetArguments(7, m_flv, m_dir.filePath("x.mp3")));
    QVERIFY(front.waitForFinished(30000));
    QCOMPARE(front.exitCode(), 127);
    QCOMPARE(front.readAllStandardError(),
             QByteArray("ffmpeg not found: install the ffmpeg package\n"));
}

void TestConverterFront::passesExitStatusAndSignals()
{
    // A missing input: ffmpeg's own failure status comes back.
    QProcess failing;
    failing.start(Front(), Converter::PresetArguments(7, m_dir.filePath("none.flv"),
                                                      m_dir.filePath("n.mp3")));
    QVERIFY(failing.waitForFinished(30000));
    QCOMPARE(failing.exitStatus(), QProcess::NormalExit);
    QCOMPARE(failing.exitCode(), 1);

    // Reading in real time keeps ffmpeg busy for the fixture's length; SIGTERM must reach it.
    QProcess slow;
    slow.setProcessChannelMode(QProcess::MergedChannels);
    slow.start(Front(), {"-re", "-i", m_flv, "-y", m_dir.filePath("slow.mp3")});
    QVERIFY(slow.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(slow.peek(1 << 16).contains("time="), 20000);
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(slow.processId());
    QFile list(children);
    QVERIFY(list.open(QIODevice::ReadOnly));
    const qint64 ffmpegPid = list.readAll().trimmed().toLongLong();
    QVERIFY(ffmpegPid > 0);
    slow.terminate();
    QVERIFY(slow.waitForFinished(10000));
    // ffmpeg ends on SIGTERM with its own status, and the front waited for it.
    QCOMPARE(slow.exitStatus(), QProcess::NormalExit);
    QCOMPARE(slow.exitCode(), 255);
    QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(ffmpegPid)));
}

void TestConverterFront::outputPath_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");

    QTest::newRow("a preset: the last argument")
        << Converter::PresetArguments(int(OutputFormat::Mp3), "in.flv", "/v/it's.mp3")
        << "/v/it's.mp3";
    QTest::newRow("input only") << QStringList{"-i", "in.flv"} << QString();
    QTest::newRow("an option last") << QStringList{"-hide_banner", "-encoders"} << QString();
    QTest::newRow("standard output") << QStringList{"-i", "in.flv", "-f", "mp3", "-"} << QString();
    QTest::newRow("the input named again")
        << QStringList{"-i", "a.flv", "-y", "a.flv"} << QString();
    QTest::newRow("nothing") << QStringList{} << QString();
}

void TestConverterFront::outputPath()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QCOMPARE(QString::fromStdString(FrontRules::OutputPath(ToArguments(arguments))), output);
}

void TestConverterFront::endsWithAKilledProgram_data()
{
    QTest::addColumn<QString>("reportSeconds");
    // Silent, the front has nothing to write that would tell it the program is gone.
    QTest::newRow("a converter silent for a minute") << "60";
    // Chatty, the front writes to a pipe nobody reads any more before it can clean up.
    QTest::newRow("a converter reporting ten times a second") << "0.1";
}

void TestConverterFront::endsWithAKilledProgram()
{
    QFETCH(QString, reportSeconds);
    // Long enough that, read in real time, the conversion outlasts every wait below.
    const QString flv = m_dir.filePath(QStringLiteral("long.flv"));
    if (!QFile::exists(flv)) {
        const QString error = MakeFlvFixture(flv, 60);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    QFile source(flv);
    QVERIFY(source.open(QIODevice::ReadOnly));
    CScriptedHttpServer server;
    server.Route("/get_video", CScriptedHttpServer::Ok(source.readAll()));
    const QString realTime = RealTimeFfmpeg(m_dir, reportSeconds);
    QVERIFY(!realTime.isEmpty());

    const QString target = m_dir.filePath(QStringLiteral("killed-%1.mp3").arg(reportSeconds));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       realTime + u':' + environment.value(QStringLiteral("PATH")));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUILLMOOR_CONVERSION_JOB),
                  {server.Url(QStringLiteral("/get_video")), target,
                   QStringLiteral(QUILLMOOR_CONVERTER_DIR)});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(program.peek(64).contains("converting"), 60000);

    // The front is a child of the job's worker thread, ffmpeg a child of the front.
    const QList<SeenProcess> fronts = ChildrenNamed(program.processId(), "ffmpeg");
    QCOMPARE(fronts.size(), 1);
    const QList<SeenProcess> ffmpegs = ChildrenNamed(fronts[0].pid, "ffmpeg");
    QCOMPARE(ffmpegs.size(), 1);
    const SeenProcess front = fronts[0];
    const SeenProcess ffmpeg = ffmpegs[0];
    // Should the test fail, nothing it started runs on.
    const auto cleanup = qScopeGuard([&] {
        for (const SeenProcess& p : {front, ffmpeg}) {
            if (StillRuns(p))
                kill(pid_t(p.pid), SIGKILL);
        }
    });

    kill(pid_t(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!StillRuns(front) && !StillRuns(ffmpeg), 10000);
    // What the converter half wrote goes, under whatever name it wrote it; the downloaded
    // video stays for another try.
    const QString flvName = QFileInfo(target).fileName() + QStringLiteral(".flv");
    const auto files = [&] {
        return QDir(m_dir.path())
            .entryList({QFileInfo(target).completeBaseName() + u'*'}, QDir::Files | QDir::Hidden);
    };
    QTRY_COMPARE(files(), QStringList{flvName});
}

void TestConverterFront::endsWhenTheProgramWentBeforeIt()
{
    // The program died between starting the front and the front's first instruction: the pipe
    // on the front's standard input has lost its writer by the time the front runs.
    const QString out = m_dir.filePath(QStringLiteral("orphan.mp3"));
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("/bin/sh"),
                QStringList{"-c", "true | { cat >/dev/null; exec \"$0\" \"$@\"; }", Front()}
                    << Converter::PresetArguments(int(OutputFormat::Mp3), m_flv, out));
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() != 0, shell.readAll().right(1000).constData());
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(TestConverterFront)
#include "tst_converterfront.moc"
