#include "engine/converter.h"
#include "engine/outputformat.h"
#include "frontrules.h"
#include "tests/support/flvfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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

} // namespace

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
        << QStringList{"-s", "320x240", "-q:v", "7", "-r", "24", "-b:v", "500k", "-ar", "22050",
                       "-b:a", "64k", "-ac", "2"};
    QTest::newRow("cell phone with AMR-NB: rates with a unit stay")
        << int(OutputFormat::CellPhone) << all
        << QStringList{"-c:v", "h263", "-q:v", "7", "-s", "176x144", "-r", "15", "-b:v", "30k",
                       "-ar", "8000", "-b:a", "12.2k", "-ac", "1"};
    QTest::newRow("cell phone without AMR-NB gets AAC")
        << int(OutputFormat::CellPhone) << QStringList{}
        << QStringList{"-c:v", "h263", "-q:v", "7", "-s", "176x144", "-r", "15", "-b:v", "30k",
                       "-ar", "8000", "-b:a", "12.2k", "-ac", "1", "-c:a", "aac"};
    QTest::newRow("Xvid with libxvid")
        << int(OutputFormat::Xvid) << all
        << QStringList{"-c:v", "libxvid", "-q:v", "7", "-s", "320x240", "-b:v", "200k", "-ar",
                       "22050", "-b:a", "64k", "-ac", "2"};
    QTest::newRow("Xvid without libxvid is MPEG-4 tagged XVID")
        << int(OutputFormat::Xvid) << QStringList{}
        << QStringList{"-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "7", "-s", "320x240", "-b:v",
                       "200k", "-ar", "22050", "-b:a", "64k", "-ac", "2"};
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
    QTest::newRow("hours count") << "time=01:00:05.00 " << "time=3605.00 ";
    QTest::newRow("negative start") << "time=-00:00:01.50 " << "time=-1.50 ";
    QTest::newRow("every time in the text") << "time=00:00:01.00 x\rtime=00:00:02.00 y"
                                            << "time=1.00 x\rtime=2.00 y";
    QTest::newRow("not a clock time") << "time=N/A time=9.67 " << "time=N/A time=9.67 ";
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

    QTest::newRow("iPod") << int(OutputFormat::IPod) << "mov" << "mov,mp4,m4a,3gp,3g2,mj2/qt  "
                          << true;
    QTest::newRow("iPhone") << int(OutputFormat::IPhone) << "mp4"
                            << "mov,mp4,m4a,3gp,3g2,mj2/isom" << true;
    QTest::newRow("PSP") << int(OutputFormat::Psp) << "mp4" << "mov,mp4,m4a,3gp,3g2,mj2/MSNV"
                         << true;
    QTest::newRow("cell phone") << int(OutputFormat::CellPhone) << "3gp"
                                << "mov,mp4,m4a,3gp,3g2,mj2/3gp4" << true;
    QTest::newRow("Windows Media") << int(OutputFormat::WindowsMedia) << "wmv" << "asf/" << true;
    QTest::newRow("Xvid") << int(OutputFormat::Xvid) << "avi" << "avi/" << true;
    QTest::newRow("MP3") << int(OutputFormat::Mp3) << "mp3" << "mp3/" << false;
}

void TestConverterFront::presetsMakeRealFiles()
{
    QFETCH(int, format);
    QFETCH(QString, extension);
    QFETCH(QString, container);
    QFETCH(bool, video);

    // Blanks, quotes and shell characters in the name must reach ffmpeg whole.
    const QString out = m_dir.filePath(QStringLiteral("it's \"%1\" $x.%2").arg(format).arg(extension));
    QProcess front;
    front.setProcessChannelMode(QProcess::MergedChannels);
    front.start(Front(), Converter::PresetArguments(format, m_flv, out));
    QVERIFY(front.waitForFinished(120000));
    const QByteArray console = front.readAll();
    QVERIFY2(front.exitStatus() == QProcess::NormalExit && front.exitCode() == 0,
             console.right(2000).constData());
    // Progress reaches the program in seconds.
    QVERIFY2(console.contains("Duration: 00:00:0"), console.right(2000).constData());
    QVERIFY2(QRegularExpression(QStringLiteral("time=\\d+\\.\\d\\d ")).match(QString::fromLatin1(console)).hasMatch(),
             console.right(2000).constData());

    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", out});
    QVERIFY(probe.waitForFinished(60000));
    const QJsonObject info = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    const QJsonObject fmt = info["format"].toObject();
    QCOMPARE(fmt["format_name"].toString() + u'/' + fmt["tags"].toObject()["major_brand"].toString(),
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
    QCOMPARE(front.readAllStandardError(), QByteArray("ffmpeg not found: install the ffmpeg package\n"));
}

void TestConverterFront::passesExitStatusAndSignals()
{
    // A missing input: ffmpeg's own failure status comes back.
    QProcess failing;
    failing.start(Front(), Converter::PresetArguments(7, m_dir.filePath("none.flv"), m_dir.filePath("n.mp3")));
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

QTEST_GUILESS_MAIN(TestConverterFront)
#include "tst_converterfront.moc"
