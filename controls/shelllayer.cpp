#include "controls/shelllayer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace {

int OpenWithDesktop(const QString& target)
{
#ifdef Q_OS_UNIX
    // Detached: the program never waits for the player or browser it starts, and one that ends
    // right after (the update gate's Yes) does not take xdg-open with it.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target}) ? 0 : CShellLayer::kNoTool;
#else
    const QUrl url = QUrl::fromUserInput(target);
    return QDesktopServices::openUrl(url) ? 0 : CShellLayer::kNoTool;
#endif
}

struct ShellState {
    CShellLayer::Handler handler = OpenWithDesktop;
    bool replaced = false;
    int waitLimitMs = CShellLayer::kWaitLimitMs;
};

ShellState& State()
{
    static ShellState state;
    return state;
}

#ifdef Q_OS_UNIX
void WaitForDesktop(const QString& target, QObject* context, CShellLayer::Done done)
{
    // The application owns the process, not the caller: a dialog closed meanwhile must not end
    // an xdg-open that is still handing its address over.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // The first of exit, failure to start and the wait limit answers; the others come too late.
    auto answered = std::make_shared<bool>(false);
    const auto answer = [answered, done = std::move(done)](int code) {
        if (!std::exchange(*answered, true))
            done(code);
    };
    QObject::connect(
        process, &QProcess::finished, context, [answer](int exitCode, QProcess::ExitStatus status) {
            answer(status == QProcess::NormalExit ? exitCode : CShellLayer::kActionFailed);
        });
    QObject::connect(process, &QProcess::errorOccurred, context,
                     [answer](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             answer(CShellLayer::kNoTool);
                     });
    QTimer::singleShot(State().waitLimitMs, context, [answer] { answer(0); });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             process->deleteLater();
                     });
    process->start(QStringLiteral("xdg-open"), {target});
}
#endif

} // namespace

int CShellLayer::Open(const QString& target)
{
    return State().handler(target);
}

void CShellLayer::OpenAndWait(const QString& target, QObject* context, Done done)
{
    Q_ASSERT(context);
#ifdef Q_OS_UNIX
    if (!State().replaced) {
        WaitForDesktop(target, context, std::move(done));
        return;
    }
#endif
    done(State().handler(target));
}

void CShellLayer::ShowInFolder(const QString& path)
{
    ShowInFolder(path, QDBusConnection::sessionBus());
}

void CShellLayer::ShowInFolder(const QString& path, const QDBusConnection& bus)
{
    const QFileInfo file(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QString folder = file.path();
    if (!bus.isConnected()) {
        Open(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)}
         << QString();
    // Owned by the application, like the opener's processes: the answer may outlive the caller.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* answer) {
                         answer->deleteLater();
                         if (answer->isError())
                             Open(folder);
                     });
}

CShellLayer::Handler CShellLayer::SetHandler(Handler handler)
{
    ShellState& state = State();
    Handler previous = std::move(state.handler);
    state.replaced = bool(handler);
    state.handler = handler ? std::move(handler) : Handler(OpenWithDesktop);
    return previous;
}

void CShellLayer::SetWaitLimitMsForTests(int ms)
{
    State().waitLimitMs = ms > 0 ? ms : kWaitLimitMs;
}
