#include "controls/shelllayer.h"
#include "tests/support/outputcapture.h"
#include "tests/support/privatebus.h"

#include <QCoreApplication>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObject = QStringLiteral("/org/freedesktop/FileManager1");

// ShowInFolder's answers come to watchers owned by the application, which go once dealt with.
void WaitForTheAnswers()
{
    QTRY_VERIFY(QCoreApplication::instance()->findChildren<QDBusPendingCallWatcher*>().isEmpty());
}

} // namespace

// The desktop's file manager as far as Show in Folder uses it: records each ShowItems call
// with its D-Bus signature, and refuses them when told.
class CFakeFileManager final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
    Q_DISABLE_COPY_MOVE(CFakeFileManager)

public:
    explicit CFakeFileManager(QDBusConnection bus, bool refuse = false)
        : m_bus(std::move(bus)), m_refuse(refuse)
    {
    }
    ~CFakeFileManager() override
    {
        m_bus.unregisterObject(kObject);
        m_bus.unregisterService(kService);
    }

    bool Register()
    {
        return m_bus.registerObject(kObject, this, QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(kService);
    }

    // "SIGNATURE URI... | STARTUP-ID" per call.
    QStringList calls;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        calls << message().signature() + u' ' + uris.join(u' ') + QStringLiteral(" | ") + startupId;
        if (m_refuse)
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show that"));
    }

private:
    QDBusConnection m_bus;
    bool m_refuse;
};

namespace {

// Where Show in Folder's request goes instead of a file manager.
enum class Without { NoService, Refuses, FailsToStart, NoBus, BusWentAway };

} // namespace

Q_DECLARE_METATYPE(Without)

// Show in Folder against a private bus: the file manager gets the file's URL, else the opener
// gets its folder; nothing is printed either way.
class TestShellLayer final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void fileManagerSelectsTheFile_data();
    void fileManagerSelectsTheFile();
    void openerGetsTheFolder_data();
    void openerGetsTheFolder();
    void sessionBusByDefault();

private:
    QString StartedMark() const { return m_marks.filePath(QStringLiteral("started")); }

    QTemporaryDir m_marks;
    std::unique_ptr<COutputCapture> m_output;
    QStringList m_opened;
    CShellLayer::Handler m_previous;
};

void TestShellLayer::initTestCase()
{
    QVERIFY(m_marks.isValid());
    m_previous = CShellLayer::SetHandler([this](const QString& target) {
        m_opened << target;
        return 0;
    });
}

void TestShellLayer::init()
{
    m_opened.clear();
    QFile::remove(StartedMark());
    m_output = std::make_unique<COutputCapture>();
}

void TestShellLayer::cleanup()
{
    const QStringList said = m_output->Said();
    m_output.reset();
    QCOMPARE(said, QStringList());
}

void TestShellLayer::cleanupTestCase()
{
    CShellLayer::SetHandler(m_previous);
}

void TestShellLayer::fileManagerSelectsTheFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("url");
    QTest::newRow("a plain path") << "/srv/videos/clip.mp3"
                                  << "file:///srv/videos/clip.mp3";
    QTest::newRow("spaces and non-ASCII letters, percent-encoded as UTF-8")
        << "/srv/my videos/Café Ünï 日本.mp3"
        << "file:///srv/my%20videos/Caf%C3%A9%20%C3%9Cn%C3%AF%20%E6%97%A5%E6%9C%AC.mp3";
    QTest::newRow("characters that would end a URL's path")
        << "/srv/videos/#1 100% ?.mp3"
        << "file:///srv/videos/%231%20100%25%20%3F.mp3";
    QTest::newRow("a path with dots is made plain") << "/srv/videos/../videos/./clip.mp3"
                                                    << "file:///srv/videos/clip.mp3";
}

void TestShellLayer::fileManagerSelectsTheFile()
{
    QFETCH(QString, path);
    QFETCH(QString, url);
    CPrivateBus bus;
    QVERIFY2(!bus.Address().isEmpty(), qPrintable(bus.Error()));
    CBusConnection managerSide(bus.Address(), QStringLiteral("manager"));
    CBusConnection callerSide(bus.Address(), QStringLiteral("caller"));
    CFakeFileManager manager(*managerSide);
    QVERIFY(manager.Register());
    CShellLayer::ShowInFolder(path, *callerSide);
    // The file manager runs on this thread: it sees the call only once ShowInFolder returned.
    QVERIFY(manager.calls.isEmpty());
    QTRY_COMPARE(manager.calls, QStringList{"ass " + url + " | "});
    WaitForTheAnswers();
    QCOMPARE(m_opened, QStringList());
}

void TestShellLayer::openerGetsTheFolder_data()
{
    QTest::addColumn<Without>("without");
    QTest::newRow("no file manager on the bus") << Without::NoService;
    QTest::newRow("the file manager refuses") << Without::Refuses;
    QTest::newRow("the file manager the bus starts does not come up") << Without::FailsToStart;
    QTest::newRow("no bus at that address") << Without::NoBus;
    QTest::newRow("the bus went away") << Without::BusWentAway;
}

void TestShellLayer::openerGetsTheFolder()
{
    QFETCH(Without, without);
    QMap<QString, QByteArray> activatable;
    if (without == Without::FailsToStart)
        activatable.insert(kService, "touch '" + QFile::encodeName(StartedMark()) + "'\nexit 1\n");
    auto bus = std::make_unique<CPrivateBus>(activatable);
    QVERIFY2(!bus->Address().isEmpty(), qPrintable(bus->Error()));
    const QString address =
        without == Without::NoBus ? bus->Address() + "-nowhere" : bus->Address();
    CBusConnection managerSide(bus->Address(), QStringLiteral("manager"));
    CBusConnection callerSide(address, QStringLiteral("caller"));
    CFakeFileManager manager(*managerSide, true);
    if (without == Without::Refuses)
        QVERIFY(manager.Register());
    if (without == Without::BusWentAway) {
        bus.reset();
        QTRY_VERIFY(!callerSide->isConnected());
    }
    CShellLayer::ShowInFolder(QStringLiteral("/srv/my videos/Café.mp3"), *callerSide);
    QTRY_COMPARE(m_opened, QStringList{"/srv/my videos"});
    WaitForTheAnswers();
    QCOMPARE(m_opened, QStringList{"/srv/my videos"});
    QCOMPARE(manager.calls.size(), without == Without::Refuses ? 1 : 0);
    // The bus tried the file manager it knows how to start before giving up.
    QCOMPARE(QFile::exists(StartedMark()), without == Without::FailsToStart);
}

// The one-argument form uses the process's session bus.
void TestShellLayer::sessionBusByDefault()
{
    CPrivateBus bus;
    QVERIFY2(!bus.Address().isEmpty(), qPrintable(bus.Error()));
    // Nothing has opened the session bus before this test.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
    CBusConnection managerSide(bus.Address(), QStringLiteral("manager"));
    CFakeFileManager manager(*managerSide);
    QVERIFY(manager.Register());
    CShellLayer::ShowInFolder(QStringLiteral("/srv/videos/clip.mp3"));
    QTRY_COMPARE(manager.calls, QStringList{"ass file:///srv/videos/clip.mp3 | "});
    WaitForTheAnswers();
    QCOMPARE(m_opened, QStringList());
}

QTEST_GUILESS_MAIN(TestShellLayer)
#include "tst_shelllayer.moc"
