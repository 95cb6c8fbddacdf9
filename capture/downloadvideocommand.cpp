#include "capture/downloadvideocommand.h"

#include "capture/pagetext.h"
#include "capture/videosite.h"
#include "downloadlist/outputwnd.h"
#include "engine/converter.h"
#include "engine/downloadthread.h"
#include "engine/outputformat.h"
#include "provisioning/ffmpegdowloaddlg.h"
#include "res/asciicase.h"
#include "res/stringtable.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStandardPaths>

namespace {

// Set while a run waits for its page, so that the key pressed again meanwhile starts nothing.
bool g_bCommandRunning = false;

// The words that pick a conversion format from a type's description, first hit winning.
constexpr struct {
    QStringView word;
    OutputFormat format;
} kFormatWords[] = {
    {u"iPod", OutputFormat::IPod},
    {u"iPhone", OutputFormat::IPhone},
    {u"PSP", OutputFormat::Psp},
    {u"Cell", OutputFormat::CellPhone},
    {u"Windows Media", OutputFormat::WindowsMedia},
    {u"Xvid", OutputFormat::Xvid},
    {u"MP3", OutputFormat::Mp3},
};

constexpr QStringView kFlvExtension = u".flv";

QStringList FilterPieces()
{
    return QString::fromUtf16(CDownloadVideoCommand::kFilterList).split(u'|');
}

// The chosen type's extension and description, from its index (1 for the first type) in the
// filter list, with the old fallbacks for an index that names no type.
void TypeOfIndex(int index, QString& extension, QString& description)
{
    const QStringList pieces = FilterPieces();
    const qsizetype patternAt = 2 * qsizetype(index) - 1;
    const qsizetype descriptionAt = 2 * qsizetype(index) - 2;
    const QString pattern = patternAt >= 0 && patternAt < pieces.size() ? pieces[patternAt] : QString();
    const qsizetype dot = pattern.lastIndexOf(u'.');
    extension = dot >= 0 ? pattern.mid(dot) : kFlvExtension.toString();
    description = descriptionAt >= 0 && descriptionAt < pieces.size()
                      ? pieces[descriptionAt]
                      : QStringLiteral("Flash Video (*.flv)|*.flv|");
}

qsizetype Utf8Length(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

void Warn(QWidget* owner, int id, const QString& argument = {})
{
    QString text = LoadResString(id);
    if (!argument.isNull())
        text = text.arg(argument);
    QMessageBox::warning(owner, LoadResString(IDR_QUILLMOOR), text);
}

// The folder the dialog opens in: the last one saved into, else the user's videos, else home.
QString StartFolder()
{
    const QString last = QSettings().value(QLatin1String(CDownloadVideoCommand::kLastFolderKey)).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return QFileInfo(videos).isDir() ? videos : QDir::homePath();
}

// Nothing reads the copy; a copy that cannot be written does not stop the command.
void WritePageCopy(const QString& page)
{
    const QString path = CDownloadVideoCommand::PageCopyPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(CDownloadVideoCommand::PageCopyBytes(page));
}

} // namespace

CDownloadVideoCommand::CDownloadVideoCommand(QWidget& tab, COutputWnd& pane,
                                             std::function<QString()> readPage)
    : m_tab(tab), m_pane(pane), m_readPage(std::move(readPage)),
      m_strConverterFolder(Converter::ProgramFolder())
{
}

QStringList CDownloadVideoCommand::TypeDescriptions()
{
    const QStringList pieces = FilterPieces();
    QStringList descriptions;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2)
        descriptions << pieces[i];
    return descriptions;
}

int CDownloadVideoCommand::FormatOfDescription(const QString& description)
{
    for (const auto& entry : kFormatWords) {
        if (description.contains(entry.word, Qt::CaseSensitive))
            return int(entry.format);
    }
    return int(OutputFormat::Xvid);
}

QString CDownloadVideoCommand::ProposedName(const QString& title)
{
    qsizetype longestExtension = 0;
    const QStringList pieces = FilterPieces();
    for (qsizetype i = 1; i < pieces.size(); i += 2) {
        QString extension;
        QString description;
        TypeOfIndex(int(i / 2 + 1), extension, description);
        longestExtension = std::max(longestExtension, extension.toUtf8().size());
    }
    const qsizetype room = kNameMaxBytes - longestExtension - kFlvExtension.size();

    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < title.size()) {
        const bool pair = title[end].isHighSurrogate() && end + 1 < title.size() &&
                          title[end + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(title[end], title[end + 1])
                                : char32_t(title[end].unicode());
        // A lone surrogate turns into the three bytes of U+FFFD in the name.
        bytes += Utf8Length(c);
        if (bytes > room)
            break;
        end += pair ? 2 : 1;
    }
    return title.left(end);
}

QByteArray CDownloadVideoCommand::PageCopyBytes(const QString& page)
{
    QByteArray bytes;
    bytes.reserve(page.size() + page.size() / 32);
    for (const QChar c : page) {
        if (c.unicode() > 0xFF)
            break;
        if (c == u'\n')
            bytes.append('\r');
        bytes.append(char(c.unicode()));
    }
    return bytes;
}

QString CDownloadVideoCommand::PageCopyPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/youtube.html");
}

CDownloadThread* CDownloadVideoCommand::Run()
{
    if (g_bCommandRunning)
        return nullptr;
    const QScopedValueRollback running(g_bCommandRunning, true);

    // Every dialog and wait below runs the event loop: the tab, the pane or the whole window
    // may be gone when it returns.
    const QPointer<QWidget> view(&m_tab);
    const QPointer<COutputWnd> pane(&m_pane);
    const auto stillThere = [&view, &pane] {
        return view && pane && view->window()->isVisible();
    };

    const QString page = m_readPage();
    if (!stillThere())
        return nullptr;
    QWidget* const owner = view->window();
    WritePageCopy(page);

    QString videoId;
    QString token;
    ExtractBetween(page, QString::fromUtf16(VideoSite::kVideoIdStart),
                   QString::fromUtf16(VideoSite::kValueEnd), videoId);
    ExtractBetween(page, QString::fromUtf16(VideoSite::kTokenStart),
                   QString::fromUtf16(VideoSite::kValueEnd), token);
    if (videoId.isEmpty() || token.isEmpty()) {
        Warn(owner, IDS_NO_VIDEO_FOUND);
        return nullptr;
    }
    const QString url = VideoSite::DirectVideoUrl(videoId, token);
    QString title;
    ExtractBetween(page, QString::fromUtf16(VideoSite::kTitleStart),
                   QString::fromUtf16(VideoSite::kTitleEnd), title);
    RemoveFileNameChars(title);

    // The overwrite question comes later, about the file really written (the name as typed
    // plus the type's extension).
    const QStringList descriptions = TypeDescriptions();
    QFileDialog dialog(owner, QLatin1String(kDialogTitle));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(descriptions);
    dialog.setDirectory(StartFolder());
    dialog.selectFile(ProposedName(title));
    if (dialog.exec() != QDialog::Accepted || !stillThere() || dialog.selectedFiles().isEmpty())
        return nullptr;

    QString path = dialog.selectedFiles().constFirst();
    // The dialog takes a folder that does not exist without a word; nothing could be saved
    // there.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        Warn(owner, IDS_FOLDER_MISSING, QDir::toNativeSeparators(folder));
        return nullptr;
    }
    QSettings().setValue(QLatin1String(kLastFolderKey), folder);

    // Two types share a pattern: the description tells them apart.
    QString extension;
    QString description;
    TypeOfIndex(int(descriptions.indexOf(dialog.selectedNameFilter()) + 1), extension, description);
    path += extension;
    const QString name = QFileInfo(path).fileName();

    if (pane->IsPathListed(path)) {
        Warn(owner, IDS_ALREADY_LISTED);
        return nullptr;
    }
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
        const auto answer =
            QMessageBox::warning(owner, QLatin1String(kDialogTitle),
                                 LoadResString(IDS_CONFIRM_REPLACE).arg(name),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes || !stillThere())
            return nullptr;
    }

    auto job = std::make_unique<CDownloadThread>();
    job->m_strUrl = url;
    job->m_strPath = path;
    job->m_pOutputWnd = pane;
    job->m_strConverterFolder = m_strConverterFolder;
    if (!EqualsIgnoringAsciiCase(extension, kFlvExtension)) {
        if (!Converter::IsPresent(m_strConverterFolder)) {
            CFfmpegDowloadDlg download(owner, m_strConverterFolder);
            if (download.exec() != QDialog::Accepted || !stillThere())
                return nullptr;
        }
        job->m_bConvert = true;
        job->m_nFormat = FormatOfDescription(description);
    }
    CDownloadThread* started = pane->StartJob(std::move(job), name, path);

    if (!pane->isVisible()) {
        // Shown, not activated: the focus stays on the page.
        pane->setAttribute(Qt::WA_ShowWithoutActivating);
        pane->show();
    }
    return started;
}
