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

// The value of key in [group] of a desktop entry or a MIME list file, or empty. Keys hold
// slashes (text/html), which QSettings would take for groups.
QString IniValue(const QString& path, QLatin1String group, QLatin1String key)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line.endsWith(u']') && QStringView(line).sliced(1).chopped(1) == group;
        } else if (inGroup) {
            const qsizetype equals = line.indexOf(u'=');
            if (equals > 0 && QStringView(line).first(equals).trimmed() == key)
                return line.mid(equals + 1).trimmed();
        }
    }
    return {};
}

// The MIME list files in the order the desktop's association rules read them: each config and
// then each data folder, the current desktops' own list before the common one.
QStringList MimeListFiles()
{
    QStringList names;
    const QString desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    for (const QString& desktop : desktops.split(u':', Qt::SkipEmptyParts))
        names << desktop.toLower() + QLatin1String("-mimeapps.list");
    names << QStringLiteral("mimeapps.list");
    QStringList files;
    for (const auto location :
         {QStandardPaths::GenericConfigLocation, QStandardPaths::ApplicationsLocation}) {
        for (const QString& folder : QStandardPaths::standardLocations(location))
            for (const QString& name : names)
                files << QDir(folder).filePath(name);
    }
    return files;
}

// The path of the desktop's default program for web pages, or empty: the first installed entry
// of the defaults, then of the added associations, then of the installed programs' cache.
// Read from the files, not through xdg-mime, which comes with the xdg-open that just failed.
QString DefaultBrowserEntry()
{
    const QLatin1String html("text/html");
    QStringList sources;
    for (const QString& file : MimeListFiles())
        sources << IniValue(file, QLatin1String("Default Applications"), html);
    for (const QString& file : MimeListFiles())
        sources << IniValue(file, QLatin1String("Added Associations"), html);
    for (const QString& folder :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
        sources << IniValue(QDir(folder).filePath(QStringLiteral("mimeinfo.cache")),
                            QLatin1String("MIME Cache"), html);
    for (const QString& source : std::as_const(sources)) {
        for (const QString& entry : source.split(u';', Qt::SkipEmptyParts)) {
            const QString path =
                QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry.trimmed());
            if (!path.isEmpty())
                return path;
        }
    }
    return {};
}

// Starts the default browser's command line with url; false when there is none or it cannot
// be started.
bool StartDefaultBrowser(const QString& url)
{
    const QString exec =
        IniValue(DefaultBrowserEntry(), QLatin1String("Desktop Entry"), QLatin1String("Exec"));
    const QString command = CHyperLink::FallbackCommand(exec, url);
    QStringList arguments = QProcess::splitCommand(command);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

// The failure code shown for an opener's code: xdg-open's own codes are 2 a file was not
// found, 3 no tool to open it with, 4 the action failed.
int ShellErrorCode(int shell)
{
    switch (shell) {
    case CShellLayer::kFileNotFound:
        return 2; // the file was not found
    case CShellLayer::kNoTool:
        return kNoAssociation;
    case CShellLayer::kActionFailed:
        return 27; // the association could not open it
    default:
        return shell;
    }
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
    UpdateLook();
    // One request at a time: a second click while the first is being decided would open the
    // address twice, or stack two error boxes.
    if (m_bOpening)
        return;
    m_bOpening = true;
    GotoURL(m_strURL, this, [this](int result) {
        m_bOpening = false;
        m_bVisited = result > 32;
        UpdateLook();
        if (!m_bVisited)
            ReportError(result);
    });
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

void CHyperLink::GotoURL(const QString& url, QObject* context, std::function<void(int result)> done)
{
    CShellLayer::OpenAndWait(url, context, [url, done = std::move(done)](int shell) {
        if (shell == 0 || StartDefaultBrowser(url))
            done(kShellSuccess);
        else
            done(ShellErrorCode(shell));
    });
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
        return QStringLiteral(
            "The DDE transaction could not\nbe completed because the request timed out.");
    case 29:
        return QStringLiteral("The DDE transaction failed.");
    case 30:
        return QStringLiteral("The DDE transaction could not\nbe completed because other DDE "
                              "transactions\nwere being processed.");
    case 31:
        return QStringLiteral(
            "There is no application associated\nwith the given filename extension.");
    case 32:
        return QStringLiteral("The specified dynamic-link library was not found.");
    default:
        return QString::asprintf("Unknown Error (%d) occurred.", code);
    }
}

void CHyperLink::ReportError(int code)
{
    QApplication::beep();
    QMessageBox::warning(this, QString(),
                         QStringLiteral("Unable to open hyperlink:\n\n") + ErrorText(code));
}
