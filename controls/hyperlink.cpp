#include "controls/hyperlink.h"

#include "controls/shelllayer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

constexpr int kShellSuccess = 33; // above 32: handed over
constexpr int kNoAssociation = 31;

// The Exec line of the desktop's default program for web pages, or empty.
QString DefaultBrowserExec()
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {"query", "default", "text/html"});
    if (!query.waitForFinished(5000) || query.exitCode() != 0)
        return {};
    const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    if (entry.isEmpty())
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return {};
}

} // namespace

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
    setTextInteractionFlags(Qt::NoTextInteraction);
    UpdateLook();
}

void CHyperLink::SetURL(const QString& url)
{
    m_strURL = url;
    if (text().isEmpty())
        setText(url);
    setToolTip(url);
    if (m_bAdjustToFit)
        adjustSize();
}

void CHyperLink::SetUnderline(int mode)
{
    if (mode == m_nUnderline)
        return;
    m_nUnderline = mode;
    UpdateLook();
}

QColor CHyperLink::CurrentColour() const
{
    return m_bOverControl ? m_crHoverColour : m_bVisited ? m_crVisitedColour : m_crLinkColour;
}

void CHyperLink::UpdateLook()
{
    QFont f = font();
    f.setUnderline(m_nUnderline == ulAlways || (m_nUnderline == ulHover && m_bOverControl));
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, CurrentColour());
    setPalette(p);
    if (m_bAdjustToFit)
        adjustSize();
    update();
}

void CHyperLink::enterEvent(QEnterEvent* event)
{
    m_bOverControl = true;
    UpdateLook();
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event)
{
    m_bOverControl = false;
    UpdateLook();
    QLabel::leaveEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        OnClicked();
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::OnClicked()
{
    m_bOverControl = false;
    const int result = GotoURL(m_strURL);
    m_bVisited = result > 32;
    UpdateLook();
    if (!m_bVisited)
        ReportError(result);
}

QString CHyperLink::FallbackCommand(const QString& exec, const QString& url)
{
    if (exec.trimmed().isEmpty())
        return {};
    // The first field code for a file or an address, quoted or bare, ends the usable part.
    static const QRegularExpression fieldCode(QStringLiteral("[\"']?%[uUfF][\"']?"));
    const QRegularExpressionMatch match = fieldCode.match(exec);
    const QString head = match.hasMatch() ? exec.left(match.capturedStart()) : exec;
    return head.trimmed() + u' ' + url;
}

int CHyperLink::GotoURL(const QString& url)
{
    // xdg-open's codes: 2 a file was not found, 3 no tool to open it with, 4 the action failed.
    const int shell = CShellLayer::Open(url);
    if (shell == 0)
        return kShellSuccess;
    const QString command = FallbackCommand(DefaultBrowserExec(), url);
    if (!command.isEmpty()) {
        QStringList arguments = QProcess::splitCommand(command);
        const QString program = arguments.takeFirst();
        if (QProcess::startDetached(program, arguments))
            return kShellSuccess;
    }
    switch (shell) {
    case 2:
        return 2; // the file was not found
    case 3:
        return kNoAssociation;
    case 4:
        return 27; // the association could not open it
    default:
        return shell;
    }
}

QString CHyperLink::ErrorText(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2:
        return QStringLiteral("The specified file was not found.");
    case 3:
        return QStringLiteral("The specified path was not found.");
    case 5:
        return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8:
        return QStringLiteral("There was not enough memory to complete the operation.");
    case 11:
        return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26:
        return QStringLiteral("A sharing violation occurred. ");
    case 27:
        return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28:
        return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29:
        return QStringLiteral("The DDE transaction failed.");
    case 30:
        return QStringLiteral("The DDE transaction could not\nbe completed because other DDE "
                              "transactions\nwere being processed.");
    case 31:
        return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32:
        return QStringLiteral("The specified dynamic-link library was not found.");
    default:
        return QString::asprintf("Unknown Error (%d) occurred.", code);
    }
}

void CHyperLink::ReportError(int code)
{
    QApplication::beep();
    QMessageBox::warning(this, QString(), QStringLiteral("Unable to open hyperlink:\n\n") + ErrorText(code));
}
