#include "capture/downloadvideocommand.h"

#include "capture/pagetext.h"
#include "capture/videosite.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/converter.h"
#include "engine/downloadthread.h"
#include "engine/outputformat.h"
#include "provisioning/ffmpegdowloaddlg.h"
#include "res/asciicase.h"
#include "res/stringtable.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

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
    const QString pattern =
        patternAt >= 0 && patternAt < pieces.size() ? pieces[patternAt] : QString();
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
    const QString last =
        QSettings().value(QLatin1String(CDownloadVideoCommand::kLastFolderKey)).toString();
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

// Whether a listed job writes path: as its target, or, for a conversion, as its download
// beside the target. Targets of the Flash Video type end in ".flv" and those of conversions never
// do, so a listed target that is path without its ".flv" is a conversion's.
bool IsTakenByAListedJob(const CDownloadListModel& rows, const QString& path, bool convert)
{
    if (rows.IsPathListed(path) || (convert && rows.IsPathListed(path + kFlvExtension.toString())))
        return true;
    const QString stem = path.chopped(kFlvExtension.size());
    return !convert && !stem.endsWith(kFlvExtension, Qt::CaseInsensitive) &&
           rows.IsPathListed(stem);
}

// Asks before a file that is there is replaced; true when there is none or the user said Yes.
// A link is replaced, not written through: its own target may lie anywhere. A folder cannot
// be replaced at all.
bool MayReplace(QWidget* owner, const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists() && !file.isSymLink())
        return true;
    if (file.isDir() && !file.isSymLink()) {
        Warn(owner, IDS_TARGET_IS_FOLDER, QDir::toNativeSeparators(path));
        return false;
    }
    const auto answer =
        QMessageBox::warning(owner, QLatin1String(CDownloadVideoCommand::kDialogTitle),
                             LoadResString(IDS_CONFIRM_REPLACE).arg(file.fileName()),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    if (file.isSymLink())
        QFile::remove(path);
    return true;
}

// Qt's own dialog rewrites whatever follows the last dot of the name when another type is
// chosen ("Vol. 2 Live" would become "Vol.mp3"). The program appends the type's extension
// itself, so the name stays as the user left it.
void KeepNameAcrossTypes(QFileDialog& dialog)
{
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (!name || !types)
        return;
    auto kept = std::make_shared<QString>(name->text());
    QObject::connect(name, &QLineEdit::textEdited, &dialog,
                     [kept](const QString& text) { *kept = text; });
    // Queued: after the dialog's own handling of the choice.
    QObject::connect(
        types, &QComboBox::activated, name,
        [name, kept] {
            if (name->text() != *kept)
                name->setText(*kept);
        },
        Qt::QueuedConnection);
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
    // Worked out once: every type's extension, plus the ".flv" a conversion's download adds.
    static const qsizetype room = [] {
        qsizetype longest = 0;
        const QStringList pieces = FilterPieces();
        for (qsizetype i = 1; i < pieces.size(); i += 2)
            longest = std::max(longest, pieces[i].size() - pieces[i].lastIndexOf(u'.'));
        return kNameMaxBytes - longest - kFlvExtension.size();
    }();

    // A title laid out over several lines, or with other control characters, would carry them
    // into the name; a leading dot would hide the file.
    QString name = title;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    }
    qsizetype first = 0;
    while (first < name.size() && (name[first] == u'.' || name[first].isSpace()))
        ++first;
    name.remove(0, first);

    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < name.size()) {
        const bool pair =
            name[end].isHighSurrogate() && end + 1 < name.size() && name[end + 1].isLowSurrogate();
        const char32_t c =
            pair ? QChar::surrogateToUcs4(name[end], name[end + 1]) : char32_t(name[end].unicode());
        // A lone surrogate turns into the three bytes of U+FFFD in the name.
        bytes += Utf8Length(c);
        if (bytes > room)
            break;
        end += pair ? 2 : 1;
    }
    return name.left(end);
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
    const auto stillThere = [&view, &pane] { return view && pane && view->window()->isVisible(); };

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
    KeepNameAcrossTypes(dialog);
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

    // A conversion writes its download beside the target first: that file counts as written too.
    const bool convert = !EqualsIgnoringAsciiCase(extension, kFlvExtension);
    if (IsTakenByAListedJob(*pane->Rows(), path, convert)) {
        Warn(owner, IDS_ALREADY_LISTED);
        return nullptr;
    }
    for (const QString& file :
         convert ? QStringList{path, path + kFlvExtension.toString()} : QStringList{path}) {
        if (!MayReplace(owner, file) || !stillThere())
            return nullptr;
    }

    auto job = std::make_unique<CDownloadThread>();
    job->m_strUrl = url;
    job->m_strPath = path;
    job->m_strConverterFolder = m_strConverterFolder;
    if (convert) {
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
        // Shown, not activated: the focus stays on the page. Only this once: a pane the user
        // shows later may take the focus as usual.
        pane->setAttribute(Qt::WA_ShowWithoutActivating);
        pane->show();
        pane->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    return started;
}
