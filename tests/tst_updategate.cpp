#include "app/mainframe.h"
#include "app/quillmoorapp.h"
#include "controls/shelllayer.h"
#include "net/httptext.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/scriptedhttpserver.h"
#include "update/fileversioninfo.h"
#include "update/updategate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using Reply = CScriptedHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)

namespace {

const char kProgram[] = QUILLMOOR_BUILD_DIR "/app/quillmoor";

QByteArray VersionDocument(const QByteArray& version)
{
    return "<?xml version=\"1.0\"?><Norvane><QuillmoorYouTube>" + version +
           "</QuillmoorYouTube></Norvane>";
}

// Shortens the text client's stall limit while it lives, so a stalled maker's server fails in a
// test's time.
class ShortStallLimit final {
public:
    explicit ShortStallLimit(int ms) { SetHttpTextStallLimitMsForTests(ms); }
    ~ShortStallLimit() { SetHttpTextStallLimitMsForTests(0); }
    Q_DISABLE_COPY_MOVE(ShortStallLimit)
};

constexpr int kShortStallMs = 1000;

// A maker's server that would announce a newer version, if it ever got to the end.
Reply Stalled(int headDelayMs, int silenceMs)
{
    Reply reply = CScriptedHttpServer::Status(200, "OK", VersionDocument("9.9.9.9"));
    reply.headDelayMs = headDelayMs;
    reply.silenceMs = silenceMs;
    return reply;
}

} // namespace

// The start-up update check: the version record, the gate's prompt, and a start-up that goes on
// whatever the maker's server does.
class TestUpdateGate final : public QObject {
    Q_OBJECT

public:
    explicit TestUpdateGate(CQuillmoorApp& app) : m_app(app) {}

private slots:
    void versionRecordOfAProgramFile_data();
    void versionRecordOfAProgramFile();
    void gate_data();
    void gate();
    void badMakerServerIsIgnored_data();
    void badMakerServerIsIgnored();
    void startUpShowsTheWindowPastAStalledMaker();

private:
    CQuillmoorApp& m_app;
};

void TestUpdateGate::versionRecordOfAProgramFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");
    QTest::newRow("the program") << QString::fromLatin1(kProgram) << true;
    QTest::newRow("a program without the record")
        << QCoreApplication::applicationFilePath() << false;
    QTest::newRow("not a program") << QStringLiteral(QUILLMOOR_SOURCE_DIR "/README.md") << false;
    QTest::newRow("no file") << QStringLiteral("/no/such/file") << false;
    QTest::newRow("no path") << QString() << false;
}

void TestUpdateGate::versionRecordOfAProgramFile()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    CFileVersionInfo info;
    QCOMPARE(info.Create(path), valid);
    QCOMPARE(info.IsValid(), valid);
    if (valid) {
        QCOMPARE(info.GetFixedFileInfo().dwFileVersionMS, 0x00010001u); // 1.1
        QCOMPARE(info.GetFixedFileInfo().dwFileVersionLS, 0x00000000u); // .0.0
        QCOMPARE(info.GetTranslationCount(), 1);
    } else {
        QCOMPARE(info.GetFixedFileInfo().dwSignature, 0u);
    }
    // This test program carries no record: its version is empty.
    QCOMPARE(GetModuleVersionString(), QString());

    // A program file cut short loses its record.
    QTemporaryDir dir;
    QFile whole(QString::fromLatin1(kProgram));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile cut(dir.filePath("cut"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(whole.read(4096));
    cut.close();
    QVERIFY(!info.Create(cut.fileName()));
}

void TestUpdateGate::gate_data()
{
    QTest::addColumn<QString>("own");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("goesOn");

    const QByteArray newer = VersionDocument("1.1.0.1");
    QTest::newRow("newer, Yes: download page, no window")
        << "1.1.0.0" << newer << true << true << false;
    QTest::newRow("newer, No: start-up goes on") << "1.1.0.0" << newer << false << true << true;
    QTest::newRow("the same") << "1.1.0.0" << VersionDocument("1.1.0.0") << true << false << true;
    QTest::newRow("lower") << "1.1.0.0" << VersionDocument("1.0.9.9") << true << false << true;
    QTest::newRow("two parts, the same")
        << "1.1.0.0" << VersionDocument("1.1") << true << false << true;
    QTest::newRow("malformed document")
        << "1.1.0.0" << QByteArray("<html><p>oops") << true << false << true;
    QTest::newRow("own version unreadable: anything is newer")
        << "" << VersionDocument("0.0.0.1") << false << true << true;
    QTest::newRow("no server") << "1.1.0.0" << QByteArray() << true << false << true;
}

void TestUpdateGate::gate()
{
    QFETCH(QString, own);
    QFETCH(QByteArray, document);
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    QFETCH(bool, goesOn);

    CScriptedHttpServer maker;
    if (document.isNull()) {
        const quint16 closed = CScriptedHttpServer().Port();
        qputenv("QUILLMOOR_MAKER_HOST", "127.0.0.1:" + QByteArray::number(closed));
    } else {
        maker.Route("/quillmoor_version.xml", CScriptedHttpServer::Status(200, "OK", document));
        qputenv("QUILLMOOR_MAKER_HOST", maker.HostAndPort().toLatin1());
    }
    QStringList opened;
    CShellLayer::SetHandler([&opened](const QString& target) {
        opened << target;
        return 0;
    });
    CMessageBoxAnswer answer(yes ? QMessageBox::Yes : QMessageBox::No);
    QCOMPARE(RunUpdateGate(own), goesOn);
    QCOMPARE(answer.texts.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(
            answer.texts.constFirst(),
            QStringLiteral("New update is available. Do you want to go to Norvane and download "
                           "the latest version now?"));
    QCOMPARE(opened, goesOn ? QStringList{} : QStringList{maker.Url("/download")});
    CShellLayer::SetHandler({});
}

void TestUpdateGate::badMakerServerIsIgnored_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::newRow("accepts, then sends nothing") << Stalled(60000, 0);
    QTest::newRow("sends the header block, then nothing") << Stalled(0, 60000);
    Reply endless = CScriptedHttpServer::WithoutLength(VersionDocument("9.9.9.9"));
    endless.bodySize = std::numeric_limits<qint64>::max();
    QTest::newRow("a document without end") << endless;
}

void TestUpdateGate::badMakerServerIsIgnored()
{
    QFETCH(Reply, reply);
    const ShortStallLimit limit(kShortStallMs);
    CScriptedHttpServer maker;
    maker.Route("/quillmoor_version.xml", reply);
    qputenv("QUILLMOOR_MAKER_HOST", maker.HostAndPort().toLatin1());
    CMessageBoxAnswer answer(QMessageBox::Yes);
    QVERIFY(RunUpdateGate(QStringLiteral("1.1.0.0")));
    QCOMPARE(answer.texts, QStringList{});
    QCOMPARE(maker.Requests().size(), 1);
}

void TestUpdateGate::startUpShowsTheWindowPastAStalledMaker()
{
    CScriptedHttpServer site;
    site.Route("/", CScriptedHttpServer::Html("<html><body>home page</body></html>"));
    qputenv("QUILLMOOR_SITE_HOST", site.HostAndPort().toLatin1());
    CScriptedHttpServer maker;
    maker.Route("/quillmoor_version.xml", Stalled(60000, 0));
    qputenv("QUILLMOOR_MAKER_HOST", maker.HostAndPort().toLatin1());
    const ShortStallLimit limit(kShortStallMs);
    CMessageBoxAnswer answer(QMessageBox::Yes);

    QVERIFY(m_app.InitInstance());
    QVERIFY(m_app.MainFrame());
    QVERIFY(m_app.MainFrame()->isVisible());
    QCOMPARE(answer.texts, QStringList{});
    QCOMPARE(maker.Requests().size(), 1);
    m_app.ExitInstance();
}

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    // The program's own start-up reads its command line: give it none of the test's options.
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    CQuillmoorApp app(appArgc, appArgv);
    app.setQuitOnLastWindowClosed(false);
    TestUpdateGate test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updategate.moc"

// The web engine's own code (not built with the sanitizer) frees some objects through a base
// type of another size; that is its business, not this program's.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
