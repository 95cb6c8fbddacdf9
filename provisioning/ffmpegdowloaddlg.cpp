#include "provisioning/ffmpegdowloaddlg.h"

#include "engine/converter.h"
#include "net/httpagentexception.h"
#include "net/httpdownload.h"
#include "net/makerserver.h"
#include "provisioning/extractarchive.h"
#include "res/stringtable.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

#if __has_include("builtconverterarchive.h")
#include "builtconverterarchive.h"
#else
inline constexpr char kBuiltConverterArchiveSha256[] = "";
#endif

namespace {

const char kIntro[] = "A one time download of a conversion program is needed in order to save the "
                      "video in the format you have selected. Click the Download button to get the "
                      "program.";
const char kTampered[] = "The downloaded conversion program is damaged or has been tampered with.";

QString Sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

// What the dialog and its worker share. The relay lives on the UI thread; the worker only ever
// queues calls to it, and the dialog cuts the relay loose when it goes.
struct CFfmpegDowloadDlg::Job {
    std::atomic<bool> stop{false};
    std::unique_ptr<QObject, void (*)(QObject*)> relay{new QObject,
                                                       [](QObject* o) { o->deleteLater(); }};

    template <typename F>
    void Post(F&& call)
    {
        QMetaObject::invokeMethod(relay.get(), std::forward<F>(call), Qt::QueuedConnection);
    }
};

CFfmpegDowloadDlg::CFfmpegDowloadDlg(QWidget* parent, const QString& folder)
    : QDialog(parent), m_strFolder(folder.isEmpty() ? Converter::ProgramFolder() : folder)
{
    setWindowTitle(QStringLiteral("Download Video Conversion Program"));
    auto* intro = new QLabel(QString::fromLatin1(kIntro), this);
    intro->setWordWrap(true);
    m_pStatus = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_pPercent = new QLabel(QStringLiteral("100%"), this);
    m_pDownload = new QPushButton(QStringLiteral("Download"), this);
    m_pDownload->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_pDownload, QDialogButtonBox::ActionRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    connect(m_pDownload, &QPushButton::clicked, this, &CFfmpegDowloadDlg::OnDownload);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_progress, 1);
    bar->addWidget(m_pPercent);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addSpacing(6);
    layout->addWidget(m_pStatus);
    layout->addLayout(bar);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    m_progress->setRange(0, 100);
    ShowStatus(QString(), 0);
    m_strZipPath = m_strFolder + QStringLiteral("/ffmpeg.zip");
    m_strUrl = MakerServer::ConverterArchiveUrl();
}

CFfmpegDowloadDlg::~CFfmpegDowloadDlg()
{
    Stop();
}

void CFfmpegDowloadDlg::done(int result)
{
    // Cancel, Escape and the close box all end here: the work is not wanted any more, whether
    // or not the caller keeps the dialog object.
    Stop();
    QDialog::done(result);
}

void CFfmpegDowloadDlg::Stop()
{
    // The worker stops at its next piece or entry; what it queued before finds it stopped.
    if (m_job)
        m_job->stop = true;
}

QString CFfmpegDowloadDlg::ExpectedChecksum()
{
    const QString fromEnvironment = qEnvironmentVariable(kChecksumVariable).trimmed().toLower();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString configured = QStringLiteral(QUILLMOOR_CONVERTER_SHA256).trimmed().toLower();
    return configured.isEmpty() ? QString::fromLatin1(kBuiltConverterArchiveSha256) : configured;
}

void CFfmpegDowloadDlg::ShowStatus(const QString& text, int percent)
{
    m_pStatus->setText(text);
    m_progress->setValue(percent);
    m_pPercent->setText(QString::number(percent) + u'%');
}

QString CFfmpegDowloadDlg::StatusText() const
{
    return m_pStatus->text();
}

QString CFfmpegDowloadDlg::PercentText() const
{
    return m_pPercent->text();
}

void CFfmpegDowloadDlg::OnStopped(const QString& status, const QString& message)
{
    m_pStatus->setText(status);
    if (!message.isEmpty())
        QMessageBox::warning(this, LoadResString(IDR_QUILLMOOR), message);
}

bool CFfmpegDowloadDlg::FolderTakesTheArchive()
{
    // An installed program's folder is the system's: a user may not write there. Better said
    // now, naming the folder, than as a failed download.
    QFile archive(m_strZipPath);
    if (archive.open(QIODevice::WriteOnly))
        return true;
    OnStopped(QStringLiteral("Download failed."),
              LoadResString(IDS_CONVERTER_FOLDER_NOT_WRITABLE)
                  .arg(QDir::toNativeSeparators(m_strFolder), archive.errorString()));
    return false;
}

void CFfmpegDowloadDlg::OnDownload()
{
    // Nothing has started yet: the user may make the folder writable and try again.
    if (!FolderTakesTheArchive())
        return;
    // One worker per dialog: the button never comes back.
    m_pDownload->setEnabled(false);
    m_job = std::make_shared<Job>();

    std::thread([job = m_job, url = m_strUrl, zip = m_strZipPath, folder = m_strFolder,
                 expected = ExpectedChecksum(),
                 dialog = QPointer<CFfmpegDowloadDlg>(this)]() mutable {
        const auto stopped = [&job] { return job->stop.load(); };
        // Every report goes through the relay; the dialog is reached only if it still exists
        // and has not been closed when the UI thread runs the call.
        const auto toDialog = [&job, dialog](auto call) {
            job->Post([dialog, call] {
                if (dialog && !(dialog->m_job && dialog->m_job->stop))
                    call(dialog.data());
            });
        };
        // A stopped download leaves nothing behind: the archive is partial or unwanted.
        const auto abandon = [&zip] { QFile::remove(zip); };
        int lastPercent = -1;
        const int result = HttpDownloadFile(
            url, zip,
            [&](int percent) {
                if (percent == lastPercent)
                    return;
                lastPercent = percent;
                toDialog([percent](CFfmpegDowloadDlg* d) {
                    d->ShowStatus(QStringLiteral("Downloading..."), percent);
                });
            },
            stopped);
        if (stopped()) {
            abandon();
            return;
        }
        if (result != CHttpAgentException::Success) {
            toDialog(
                [](CFfmpegDowloadDlg* d) { d->OnStopped(QStringLiteral("Download failed."), {}); });
            return;
        }
        // The archive holds code the program will run, and it came over plain HTTP.
        if (expected.isEmpty() || Sha256Of(zip) != expected) {
            QFile::remove(zip);
            toDialog([](CFfmpegDowloadDlg* d) {
                d->OnStopped(QStringLiteral("Download failed."), QString::fromLatin1(kTampered));
            });
            return;
        }
        QString error;
        const bool extracted = ExtractArchive(
            zip, folder,
            [&](int percent) {
                toDialog([percent](CFfmpegDowloadDlg* d) {
                    d->ShowStatus(QStringLiteral("Extracting..."), percent);
                });
            },
            stopped, error);
        if (stopped()) {
            abandon();
            return;
        }
        if (!extracted) {
            toDialog([error](CFfmpegDowloadDlg* d) {
                d->OnStopped(QStringLiteral("Extraction failed."), error);
            });
            return;
        }
        QFile::remove(zip);
        toDialog([](CFfmpegDowloadDlg* d) {
            d->ShowStatus(QStringLiteral("Download complete..."), 100);
            d->accept();
        });
    }).detach();
}
