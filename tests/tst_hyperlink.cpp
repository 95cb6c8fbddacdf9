#include "controls/hyperlink.h"
#include "controls/shelllayer.h"
#include "tests/support/messageboxanswer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

const QString kUrl = QStringLiteral("http://127.0.0.1:9/");

// What the xdg-open on PATH does with its address.
enum class Opener { Missing, Exits, Killed, Hangs, WaitsForRelease };

// How the desktop's default browser for web pages is set up.
enum class Browser { None, Runs, CannotRun };

// A desktop of scripts in a folder of its own: PATH holds only its bin folder, where xdg-open
// is a script that records its address and then does what a row asks; the user's config and
// data folders name a browser entry as the default for web pages. The scripts leave their
// calls in files beside them.
class FakeDesktop final {
public:
    FakeDesktop()
    {
        QDir root(m_dir.path());
        for (const char* folder : {"bin", "config", "data/applications", "none", "web browser"})
            root.mkpath(QString::fromLatin1(folder));
        // The first default is not installed: the next one is the browser.
        Write("config/mimeapps.list",
              "[Default Applications]\n"
              "text/html=quillmoor-absent.desktop;quillmoor-browser.desktop;\n");
        Write("web browser/run",
              "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                  Path("browser-calls").toLocal8Bit() + "'; done\n",
              true);
    }

    Q_DISABLE_COPY_MOVE(FakeDesktop)

    QString Path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QString Path(const char* name) const { return Path(QString::fromLatin1(name)); }

    void Environment() const
    {
        qputenv("PATH", Path("bin").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", Path("config").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", Path("none").toLocal8Bit());
        qputenv("XDG_DATA_HOME", Path("data").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", Path("none").toLocal8Bit());
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    void SetOpener(Opener opener, int exitCode = 0)
    {
        QFile::remove(Path("bin/xdg-open"));
        QFile::remove(Path("release"));
        QByteArray script =
            "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + Path("opener-calls").toLocal8Bit() + "'\n";
        const QByteArray& sleep = m_sleep;
        switch (opener) {
        case Opener::Missing:
            return;
        case Opener::Exits:
            script += "exit " + QByteArray::number(exitCode) + '\n';
            break;
        case Opener::Killed:
            script += "kill -KILL $$\n";
            break;
        case Opener::Hangs:
            script +=
                "echo $$ > '" + Path("opener-pid").toLocal8Bit() + "'\nexec " + sleep + " 300\n";
            break;
        case Opener::WaitsForRelease:
            // Bounded, so that a window that never runs its loop fails the test instead of
            // hanging it.
            script += "i=0\nwhile [ ! -e '" + Path("release").toLocal8Bit() +
                      "' ] && [ $i -lt 1500 ]; do " + sleep + " 0.02; i=$((i+1)); done\n[ -e '" +
                      Path("release").toLocal8Bit() + "' ]\n";
            break;
        }
        Write("bin/xdg-open", script, true);
    }

    void SetBrowser(Browser browser)
    {
        const QString entry = Path("data/applications/quillmoor-browser.desktop");
        QFile::remove(entry);
        if (browser == Browser::None)
            return;
        const QString program =
            browser == Browser::Runs ? Path("web browser/run") : Path("no such browser");
        Write("data/applications/quillmoor-browser.desktop",
              "[Desktop Entry]\nType=Application\nName=Browser\nExec=\"" + program.toLocal8Bit() +
                  "\" --new-window %u\n");
    }

    QStringList OpenerCalls() const { return Lines("opener-calls"); }
    QStringList BrowserCalls() const { return Lines("browser-calls"); }
    void Release() const { Write("release", ""); }

    // Ends a hung xdg-open, which the program leaves running.
    void EndHungOpener()
    {
        QFile file(Path("opener-pid"));
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 pid = file.readAll().trimmed().toLongLong();
            if (pid > 0)
                ::kill(pid_t(pid), SIGKILL);
        }
        file.remove();
    }

    void Forget()
    {
        QFile::remove(Path("opener-calls"));
        QFile::remove(Path("browser-calls"));
    }

private:
    void Write(const char* name, const QByteArray& text, bool program = false) const
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        if (program)
            file.setPermissions(file.permissions() | QFile::ExeOwner);
    }

    QStringList Lines(const char* name) const
    {
        QFile file(Path(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir m_dir;
    // Found before PATH points at the fake bin folder alone.
    const QByteArray m_sleep =
        QStandardPaths::findExecutable(QStringLiteral("sleep")).toLocal8Bit();
};

constexpr int kShortWaitLimitMs = 300;

// The shell layer's processes belong to the application and go once xdg-open has ended and its
// verdict was delivered.
void WaitForTheOpenersToEnd()
{
    QTRY_VERIFY(QCoreApplication::instance()->findChildren<QProcess*>().isEmpty());
}

} // namespace

Q_DECLARE_METATYPE(Opener)
Q_DECLARE_METATYPE(Browser)

// The link and the shell layer against a scripted xdg-open: the window runs while xdg-open
// decides, and its verdict decides the link's colour, its fallback and its error box.
class TestHyperlink final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void shellVerdict_data();
    void shellVerdict();
    void noAnswerAfterTheContextIsGone();
    void openDoesNotWait_data();
    void openDoesNotWait();
    void click_data();
    void click();
    void windowRunsWhileXdgOpenDecides();

private:
    std::unique_ptr<FakeDesktop> m_desktop;
    QByteArray m_path;
};

void TestHyperlink::initTestCase()
{
    m_path = qgetenv("PATH");
    m_desktop = std::make_unique<FakeDesktop>();
    m_desktop->Environment();
    CShellLayer::SetWaitLimitMsForTests(kShortWaitLimitMs);
}

void TestHyperlink::init()
{
    m_desktop->Forget();
    m_desktop->SetBrowser(Browser::None);
}

void TestHyperlink::cleanup()
{
    m_desktop->EndHungOpener();
    m_desktop->Release();
}

void TestHyperlink::cleanupTestCase()
{
    CShellLayer::SetWaitLimitMsForTests(0);
    qputenv("PATH", m_path);
}

void TestHyperlink::shellVerdict_data()
{
    QTest::addColumn<Opener>("opener");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("code");
    QTest::newRow("opened") << Opener::Exits << 0 << 0;
    QTest::newRow("bad arguments: its own code") << Opener::Exits << 1 << 1;
    QTest::newRow("file not found") << Opener::Exits << 2 << 2;
    QTest::newRow("no tool to open it") << Opener::Exits << 3 << 3;
    QTest::newRow("the action failed") << Opener::Exits << 4 << 4;
    QTest::newRow("xdg-open missing: no tool") << Opener::Missing << 0 << 3;
    QTest::newRow("xdg-open killed: the action failed") << Opener::Killed << 0 << 4;
    QTest::newRow("still running at the limit: handed over") << Opener::Hangs << 0 << 0;
}

void TestHyperlink::shellVerdict()
{
    QFETCH(Opener, opener);
    QFETCH(int, exitCode);
    QFETCH(int, code);
    m_desktop->SetOpener(opener, exitCode);
    QObject context;
    QList<int> answers;
    CShellLayer::OpenAndWait(kUrl, &context, [&answers](int answer) { answers << answer; });
    bool pastTheLimit = false;
    QTimer::singleShot(kShortWaitLimitMs, &context, [&pastTheLimit] { pastTheLimit = true; });
    QTRY_COMPARE(answers.size(), 1);
    QCOMPARE(answers.constFirst(), code);
    QCOMPARE(m_desktop->OpenerCalls(),
             opener == Opener::Missing ? QStringList{} : QStringList{kUrl});
    if (opener == Opener::Hangs) {
        // Left running, not killed.
        QVERIFY(QFile::exists(m_desktop->Path("opener-pid")));
        m_desktop->EndHungOpener();
    }
    // One answer only, though the exit, a failure to start and the limit may all come.
    WaitForTheOpenersToEnd();
    QTRY_VERIFY(pastTheLimit);
    QCOMPARE(answers.size(), 1);
}

void TestHyperlink::noAnswerAfterTheContextIsGone()
{
    m_desktop->SetOpener(Opener::WaitsForRelease);
    auto context = std::make_unique<QObject>();
    bool answered = false;
    CShellLayer::OpenAndWait(kUrl, context.get(), [&answered](int) { answered = true; });
    bool pastTheLimit = false;
    QTimer::singleShot(kShortWaitLimitMs, this, [&pastTheLimit] { pastTheLimit = true; });
    QTRY_COMPARE(m_desktop->OpenerCalls(), QStringList{kUrl});
    context.reset();
    m_desktop->Release();
    WaitForTheOpenersToEnd();
    QTRY_VERIFY(pastTheLimit);
    QVERIFY(!answered);
}

void TestHyperlink::openDoesNotWait_data()
{
    QTest::addColumn<Opener>("opener");
    QTest::addColumn<int>("code");
    QTest::newRow("started: 0, whatever xdg-open decides later") << Opener::WaitsForRelease << 0;
    QTest::newRow("xdg-open missing: no tool") << Opener::Missing << 3;
}

// The Download List and the update gate hand a target over and report nothing: Open returns
// while xdg-open still runs.
void TestHyperlink::openDoesNotWait()
{
    QFETCH(Opener, opener);
    QFETCH(int, code);
    m_desktop->SetOpener(opener);
    QCOMPARE(CShellLayer::Open(kUrl), code);
    if (opener != Opener::Missing)
        QTRY_COMPARE(m_desktop->OpenerCalls(), QStringList{kUrl});
}

void TestHyperlink::click_data()
{
    QTest::addColumn<Opener>("opener");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<Browser>("browser");
    QTest::addColumn<bool>("visited");
    QTest::addColumn<QStringList>("browserCalls");
    QTest::addColumn<QStringList>("messages");
    const QString prefix = QStringLiteral("Unable to open hyperlink:\n\n");
    const QStringList none;
    QTest::newRow("opened: visited, no fallback")
        << Opener::Exits << 0 << Browser::Runs << true << none << none;
    QTest::newRow("still running at the limit: visited, no fallback")
        << Opener::Hangs << 0 << Browser::Runs << true << none << none;
    QTest::newRow("file not found, no browser")
        << Opener::Exits << 2 << Browser::None << false << none
        << QStringList{prefix + "The specified file was not found."};
    QTest::newRow("no tool, no browser")
        << Opener::Exits << 3 << Browser::None << false << none
        << QStringList{prefix +
                       "There is no application associated\nwith the given filename extension."};
    QTest::newRow("the action failed, no browser")
        << Opener::Exits << 4 << Browser::None << false << none
        << QStringList{prefix + "The filename association is\nincomplete or invalid."};
    QTest::newRow("bad arguments, no browser")
        << Opener::Exits << 1 << Browser::None << false << none
        << QStringList{prefix + "Unknown Error (1) occurred."};
    QTest::newRow("xdg-open missing, no browser")
        << Opener::Missing << 0 << Browser::None << false << none
        << QStringList{prefix +
                       "There is no application associated\nwith the given filename extension."};
    QTest::newRow("the action failed: the default browser opens it")
        << Opener::Exits << 4 << Browser::Runs << true << QStringList{"--new-window", kUrl} << none;
    QTest::newRow("xdg-open missing: the default browser opens it")
        << Opener::Missing << 0 << Browser::Runs << true << QStringList{"--new-window", kUrl}
        << none;
    QTest::newRow("file not found, the browser cannot start: xdg-open's error")
        << Opener::Exits << 2 << Browser::CannotRun << false << none
        << QStringList{prefix + "The specified file was not found."};
}

void TestHyperlink::click()
{
    QFETCH(Opener, opener);
    QFETCH(int, exitCode);
    QFETCH(Browser, browser);
    QFETCH(bool, visited);
    QFETCH(QStringList, browserCalls);
    QFETCH(QStringList, messages);
    m_desktop->SetOpener(opener, exitCode);
    m_desktop->SetBrowser(browser);
    CHyperLink link;
    link.setText(QStringLiteral("Norvane"));
    link.SetURL(kUrl);
    // A failed visit turns a visited link back.
    link.m_bVisited = !visited;
    link.show();
    CMessageBoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    QTRY_VERIFY(!link.IsOpening());
    QCOMPARE(link.m_bVisited, visited);
    // Away from the pointer, the colour tells whether the visit succeeded.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    QCOMPARE(link.CurrentColour(), visited ? link.m_crVisitedColour : link.m_crLinkColour);
    QCOMPARE(answer.texts, messages);
    QCOMPARE(m_desktop->OpenerCalls(),
             opener == Opener::Missing ? QStringList{} : QStringList{kUrl});
    if (!browserCalls.isEmpty())
        QTRY_COMPARE(m_desktop->BrowserCalls(), browserCalls);
    QCOMPARE(m_desktop->BrowserCalls(), browserCalls);
}

// xdg-open here ends only when a timer of the window's own loop lets it: a click that waited
// for it in place would never see that timer.
void TestHyperlink::windowRunsWhileXdgOpenDecides()
{
    m_desktop->SetOpener(Opener::WaitsForRelease);
    CHyperLink link;
    link.SetURL(kUrl);
    link.show();
    CMessageBoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(link.IsOpening());
    QVERIFY(!link.m_bVisited);
    QTRY_COMPARE(m_desktop->OpenerCalls(), QStringList{kUrl});
    // A second click while the first is being decided opens nothing more.
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    bool released = false;
    QTimer::singleShot(0, &link, [this, &released] {
        m_desktop->Release();
        released = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(!link.IsOpening(), 20000);
    QVERIFY(released);
    QVERIFY(link.m_bVisited);
    QCOMPARE(answer.texts, QStringList{});
    WaitForTheOpenersToEnd();
    QCOMPARE(m_desktop->OpenerCalls(), QStringList{kUrl});
}

QTEST_MAIN(TestHyperlink)
#include "tst_hyperlink.moc"
