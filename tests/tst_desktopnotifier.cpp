#include "controls/desktopnotifier.h"
#include "tests/support/outputcapture.h"
#include "tests/support/privatebus.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kObject = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

// The desktop's notification service as far as the notifier uses it: it records each Notify
// call with its D-Bus signature and answers with ids of its own, at once or when told.
class CFakeNotificationService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_DISABLE_COPY_MOVE(CFakeNotificationService)

public:
    struct Call {
        QString signature, appName, appIcon, summary, body;
        uint replacesId = 1;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
        uint id = 0;
    };

    explicit CFakeNotificationService(QDBusConnection bus) : m_bus(std::move(bus)) {}
    ~CFakeNotificationService() override
    {
        m_bus.unregisterObject(kObject);
        m_bus.unregisterService(kService);
    }

    bool Register()
    {
        return m_bus.registerObject(kObject, this, QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(kService);
    }

    // Replies are kept back until Answer().
    void Hold() { m_holding = true; }
    void Answer()
    {
        m_holding = false;
        for (const QDBusMessage& reply : std::exchange(m_held, {}))
            m_bus.send(reply);
    }

    void Emit(const QString& signal, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createSignal(
            kObject, QStringLiteral("org.freedesktop.Notifications"), signal);
        message.setArguments(arguments);
        m_bus.send(message);
    }

    QList<Call> calls;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout)
    {
        // Ids of its own, far from a count of the calls.
        const uint id = 7000 + uint(calls.size()) * 3;
        calls << Call{
            message().signature(), appName, appIcon, summary, body, replacesId, actions, hints,
            expireTimeout,         id};
        if (m_holding) {
            setDelayedReply(true);
            m_held << message().createReply(QVariantList{id});
        }
        return id;
    }

private:
    QDBusConnection m_bus;
    bool m_holding = false;
    QList<QDBusMessage> m_held;
};

namespace {

// What reaches the notifier after its notifications went out.
enum class Event {
    DefaultAction,
    OtherAction,
    UnknownId,
    ClosedThenClicked,
    FromAnotherProgram,
};

} // namespace

Q_DECLARE_METATYPE(Event)

// Desktop notifications against a private bus and a fake service: what the service is told,
// which clicks come back as a file, and silence where there is no bus or no service.
class TestDesktopNotifier final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void notifyCall_data();
    void notifyCall();
    void click_data();
    void click();
    void serviceAnswersLate();
    void serviceStartedAfterTheNotifier();
    void noService();
    void noBus_data();
    void noBus();

private:
    // Waits until every Notify of notifier has its answer.
    static void WaitForAnswers(const CDesktopNotifier& notifier);
    QString StartedMark() const { return m_marks.filePath(QStringLiteral("started")); }

    QTemporaryDir m_marks;
    std::unique_ptr<CPrivateBus> m_bus;
    std::unique_ptr<COutputCapture> m_output;
    std::unique_ptr<CBusConnection> m_serviceSide;
    std::unique_ptr<CFakeNotificationService> m_service;
};

void TestDesktopNotifier::WaitForAnswers(const CDesktopNotifier& notifier)
{
    QTRY_VERIFY(notifier.findChildren<QDBusPendingCallWatcher*>().isEmpty());
}

void TestDesktopNotifier::initTestCase()
{
    QVERIFY(m_marks.isValid());
    // A notification service the bus could start: starting it leaves a mark, and must never
    // happen.
    m_bus = std::make_unique<CPrivateBus>(QMap<QString, QByteArray>{
        {kService, "touch '" + QFile::encodeName(StartedMark()) + "'\nexit 1\n"}});
    QVERIFY2(!m_bus->Address().isEmpty(), qPrintable(m_bus->Error()));
    // Before anything opens the session bus: the process's session bus is the private one.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->Address().toUtf8());
}

void TestDesktopNotifier::init()
{
    QFile::remove(StartedMark());
    m_output = std::make_unique<COutputCapture>();
    m_serviceSide = std::make_unique<CBusConnection>(m_bus->Address(), QStringLiteral("service"));
    QVERIFY((*m_serviceSide)->isConnected());
    m_service = std::make_unique<CFakeNotificationService>(**m_serviceSide);
}

// No test may print anything or start the bus's notification service.
void TestDesktopNotifier::cleanup()
{
    m_service.reset();
    m_serviceSide.reset();
    const QStringList said = m_output->Said();
    m_output.reset();
    QCOMPARE(said, QStringList());
    QVERIFY(!QFile::exists(StartedMark()));
}

void TestDesktopNotifier::cleanupTestCase()
{
    m_bus.reset();
}

void TestDesktopNotifier::notifyCall_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("summary");
    QTest::newRow("a finished conversion") << "/home/ann/Videos/clip.mp3"
                                           << "Completed"
                                           << "clip.mp3";
    QTest::newRow("a failed download: the status as given") << "/home/ann/Videos/clip.flv"
                                                            << "Failed: HTTP status 503"
                                                            << "clip.flv";
    QTest::newRow("non-ASCII, quotes and markup characters, as they are")
        << "/home/ann/Vidéos/\"Ünï\" <b>&amp; 日本.mp4"
        << "Completed"
        << "\"Ünï\" <b>&amp; 日本.mp4";
}

// The default bus is the session bus; the call is the service's Notify with its exact types.
void TestDesktopNotifier::notifyCall()
{
    QFETCH(QString, path);
    QFETCH(QString, status);
    QFETCH(QString, summary);
    QVERIFY(m_service->Register());
    CDesktopNotifier notifier;
    notifier.Notify(path, status);
    QTRY_COMPARE(m_service->calls.size(), 1);
    const CFakeNotificationService::Call call = m_service->calls.constFirst();
    QCOMPARE(call.signature, QStringLiteral("susssasa{sv}i"));
    QCOMPARE(call.appName, QStringLiteral("Quillmoor"));
    QCOMPARE(call.replacesId, 0u);
    QCOMPARE(call.appIcon, QStringLiteral("quillmoor"));
    QCOMPARE(call.summary, summary);
    QCOMPARE(call.body, status);
    QCOMPARE(call.actions, (QStringList{"default", "Play"}));
    QCOMPARE(call.hints, QVariantMap());
    QCOMPARE(call.expireTimeout, -1);
    WaitForAnswers(notifier);
}

void TestDesktopNotifier::click_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<int>("before");  // notifications made before the clicked one...
    QTest::addColumn<int>("between"); // ...and after it, before the last one
    QTest::addColumn<bool>("opens");
    const int most = int(CDesktopNotifier::kMaxOpen);
    QTest::newRow("a click on ours gives its file") << Event::DefaultAction << 2 << 1 << true;
    QTest::newRow("another action gives nothing") << Event::OtherAction << 0 << 0 << false;
    QTest::newRow("an id the service never gave gives nothing")
        << Event::UnknownId << 0 << 0 << false;
    QTest::newRow("closed, then clicked: nothing") << Event::ClosedThenClicked << 0 << 0 << false;
    QTest::newRow("sent by a program that does not own the service: nothing")
        << Event::FromAnotherProgram << 0 << 0 << false;
    QTest::newRow("the oldest of the most kept still opens")
        << Event::DefaultAction << 0 << most - 2 << true;
    QTest::newRow("the oldest of one more than the most kept is forgotten")
        << Event::DefaultAction << 0 << most - 1 << false;
}

// Signals reach the notifier in the order they were sent: a click on the last notification,
// sent after the case's own, tells that the case's has been dealt with.
void TestDesktopNotifier::click()
{
    QFETCH(Event, event);
    QFETCH(int, before);
    QFETCH(int, between);
    QFETCH(bool, opens);
    QVERIFY(m_service->Register());
    CBusConnection notifierSide(m_bus->Address(), QStringLiteral("notifier"));
    CDesktopNotifier notifier(*notifierSide);
    QSignalSpy activated(&notifier, &CDesktopNotifier::activated);
    const QString clip = QStringLiteral("/home/ann/Videos/clip.mp3");
    const QString last = QStringLiteral("/home/ann/Videos/last.flv");
    for (int i = 0; i < before; ++i)
        notifier.Notify(QStringLiteral("/home/ann/Videos/before %1.mp3").arg(i), "Completed");
    notifier.Notify(clip, QStringLiteral("Completed"));
    for (int i = 0; i < between; ++i)
        notifier.Notify(QStringLiteral("/home/ann/Videos/between %1.mp3").arg(i), "Completed");
    notifier.Notify(last, QStringLiteral("Failed"));
    WaitForAnswers(notifier);
    QCOMPARE(m_service->calls.size(), before + between + 2);
    const uint clipId = m_service->calls.at(before).id;
    const uint lastId = m_service->calls.constLast().id;

    switch (event) {
    case Event::DefaultAction:
        m_service->Emit(QStringLiteral("ActionInvoked"), {clipId, QStringLiteral("default")});
        break;
    case Event::OtherAction:
        m_service->Emit(QStringLiteral("ActionInvoked"), {clipId, QStringLiteral("Play")});
        break;
    case Event::UnknownId:
        m_service->Emit(QStringLiteral("ActionInvoked"), {lastId + 1, QStringLiteral("default")});
        break;
    case Event::ClosedThenClicked:
        m_service->Emit(QStringLiteral("NotificationClosed"), {clipId, 2u});
        m_service->Emit(QStringLiteral("ActionInvoked"), {clipId, QStringLiteral("default")});
        break;
    case Event::FromAnotherProgram: {
        CBusConnection other(m_bus->Address(), QStringLiteral("other"));
        QDBusMessage signal =
            QDBusMessage::createSignal(kObject, QStringLiteral("org.freedesktop.Notifications"),
                                       QStringLiteral("ActionInvoked"));
        signal << clipId << QStringLiteral("default");
        QVERIFY(other->send(signal));
        // The bus has passed the signal on once it answers this connection's next call.
        QVERIFY(other->interface()->isServiceRegistered(kService));
        break;
    }
    }
    m_service->Emit(QStringLiteral("ActionInvoked"), {lastId, QStringLiteral("default")});
    QTRY_VERIFY(!activated.isEmpty() && activated.constLast().constFirst() == last);
    QStringList paths;
    for (const QList<QVariant>& arguments : activated)
        paths << arguments.constFirst().toString();
    QCOMPARE(paths, opens ? (QStringList{clip, last}) : (QStringList{last}));
}

// Notify returns before the service has even seen the call; the click works once the answer
// with the id arrives.
void TestDesktopNotifier::serviceAnswersLate()
{
    QVERIFY(m_service->Register());
    m_service->Hold();
    CBusConnection notifierSide(m_bus->Address(), QStringLiteral("notifier"));
    CDesktopNotifier notifier(*notifierSide);
    QSignalSpy activated(&notifier, &CDesktopNotifier::activated);
    const QString clip = QStringLiteral("/home/ann/Videos/clip.mp3");
    notifier.Notify(clip, QStringLiteral("Completed"));
    // The service runs on this thread: a Notify that waited for it would have let it see the
    // call, or hung.
    QVERIFY(m_service->calls.isEmpty());
    QTRY_COMPARE(m_service->calls.size(), 1);
    QVERIFY(!notifier.findChildren<QDBusPendingCallWatcher*>().isEmpty());
    m_service->Answer();
    WaitForAnswers(notifier);
    m_service->Emit(QStringLiteral("ActionInvoked"),
                    {m_service->calls.constFirst().id, QStringLiteral("default")});
    QTRY_COMPARE(activated.size(), 1);
    QCOMPARE(activated.constFirst().constFirst().toString(), clip);
}

// A notification service that comes after the program (a desktop that starts it late, or
// restarts it) gets the notifications and its clicks are heard.
void TestDesktopNotifier::serviceStartedAfterTheNotifier()
{
    CBusConnection notifierSide(m_bus->Address(), QStringLiteral("notifier"));
    CDesktopNotifier notifier(*notifierSide);
    QSignalSpy activated(&notifier, &CDesktopNotifier::activated);
    notifier.Notify(QStringLiteral("/home/ann/Videos/early.mp3"), QStringLiteral("Completed"));
    WaitForAnswers(notifier);
    QVERIFY(m_service->Register());
    const QString clip = QStringLiteral("/home/ann/Videos/clip.mp3");
    notifier.Notify(clip, QStringLiteral("Completed"));
    QTRY_COMPARE(m_service->calls.size(), 1);
    QCOMPARE(m_service->calls.constFirst().summary, QStringLiteral("clip.mp3"));
    WaitForAnswers(notifier);
    m_service->Emit(QStringLiteral("ActionInvoked"),
                    {m_service->calls.constFirst().id, QStringLiteral("default")});
    QTRY_COMPARE(activated.size(), 1);
    QCOMPARE(activated.constFirst().constFirst().toString(), clip);
}

// The bus answers for a service nobody runs: the notifier drops the answer silently, and the
// service the bus could start is not started (cleanup checks both).
void TestDesktopNotifier::noService()
{
    CBusConnection notifierSide(m_bus->Address(), QStringLiteral("notifier"));
    CDesktopNotifier notifier(*notifierSide);
    notifier.Notify(QStringLiteral("/home/ann/Videos/clip.mp3"), QStringLiteral("Completed"));
    QVERIFY(!notifier.findChildren<QDBusPendingCallWatcher*>().isEmpty());
    WaitForAnswers(notifier);
}

void TestDesktopNotifier::noBus_data()
{
    QTest::addColumn<bool>("busWentAway");
    QTest::newRow("an address where no bus listens") << false;
    QTest::newRow("a bus that went away") << true;
}

void TestDesktopNotifier::noBus()
{
    QFETCH(bool, busWentAway);
    auto bus = std::make_unique<CPrivateBus>();
    const QString address = busWentAway ? bus->Address() : bus->Address() + "-nowhere";
    CBusConnection notifierSide(address, QStringLiteral("notifier"));
    QCOMPARE(notifierSide->isConnected(), busWentAway);
    CDesktopNotifier notifier(*notifierSide);
    bus.reset();
    QTRY_VERIFY(!notifierSide->isConnected());
    notifier.Notify(QStringLiteral("/home/ann/Videos/clip.mp3"), QStringLiteral("Completed"));
    WaitForAnswers(notifier);
}

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
