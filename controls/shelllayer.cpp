#include "controls/shelllayer.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace {

int OpenWithDesktop(const QString& target)
{
#ifdef Q_OS_UNIX
    // xdg-open returns at once for files and addresses alike; it runs detached so the program
    // never waits for the player or browser it starts.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target}) ? 0 : 3;
#else
    const QUrl url = QUrl::fromUserInput(target);
    return QDesktopServices::openUrl(url) ? 0 : 3;
#endif
}

CShellLayer::Handler& CurrentHandler()
{
    static CShellLayer::Handler handler = OpenWithDesktop;
    return handler;
}

} // namespace

int CShellLayer::Open(const QString& target)
{
    return CurrentHandler()(target);
}

CShellLayer::Handler CShellLayer::SetHandler(Handler handler)
{
    Handler previous = std::move(CurrentHandler());
    CurrentHandler() = handler ? std::move(handler) : Handler(OpenWithDesktop);
    return previous;
}
