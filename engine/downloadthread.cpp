#include "engine/downloadthread.h"

#include "engine/conversionprogress.h"
#include "engine/converter.h"
#include "engine/jobrows.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kConverterChunk = 1024;
constexpr auto kStopPoll = std::chrono::milliseconds(100);
constexpr int kConverterStopMs = 3000;
// The longest file name, in bytes, that the usual file systems take.
constexpr qsizetype kMaxNameBytes = 255;
constexpr char kTagCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTagLength = 6;

// Held while a converter runs, so that conversions run one at a time in the whole program.
std::timed_mutex g_csConversion;

// Where a job without rows reports: nowhere.
class CNoRows final : public CJobRows {
public:
    void ShowDownloadProgress(const CDownloadThread*, quint64, quint64, quint32) override {}
    void ShowDownloadCompleted(const CDownloadThread*) override {}
    void ShowConversionQueued(const CDownloadThread*) override {}
    void ShowConversionProgress(const CDownloadThread*, quint32, quint32) override {}
    void ShowConversionCompleted(const CDownloadThread*) override {}
    void ShowFailed(const CDownloadThread*, const QString&) override {}
    void ShowPaused(const CDownloadThread*) override {}
    void RemoveJobRow(const CDownloadThread*) override {}
};

// A name beside target that nothing has yet, for the converter to write under: part of the
// target's name, a random tag, then the target's extension, from which the converter takes the
// output format. Cut at a whole character so that it still fits in one name.
QString PartialPath(const QString& target)
{
    const QFileInfo info(target);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - extension.size());
    QString path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString tag = QStringLiteral(".part-");
        for (int i = 0; i < kTagLength; ++i)
            tag += QLatin1Char(kTagCharacters[QRandomGenerator::global()->bounded(
                int(sizeof kTagCharacters - 1))]);
        while (!stem.isEmpty() && (stem + tag + extension).toUtf8().size() > kMaxNameBytes)
            stem.chop(stem.size() > 1 && stem.back().isLowSurrogate() ? 2 : 1);
        path = info.path() + u'/' + stem + tag + extension;
        if (!QFileInfo::exists(path))
            break;
    }
    return path;
}

// The last line of text that holds more than blanks; the converter ends its lines with a
// carriage return or a line feed.
QString LastLine(const QString& text)
{
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("[\\r\\n]")));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!line->trimmed().isEmpty())
            return line->trimmed();
    }
    return {};
}

// Gives the converted file the target's name; rename() replaces an earlier file in one step,
// so a failure leaves that file as it was. Empty, or the system's reason.
QString MoveOver(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    return qt_error_string(errno);
}

} // namespace

CDownloadThread::CDownloadThread(QObject* parent)
    : QThread(parent), m_strConverterFolder(Converter::ProgramFolder())
{
}

CDownloadThread::~CDownloadThread()
{
    RequestStop();
    wait();
}

void CDownloadThread::RequestStop()
{
    m_bStop.store(true, std::memory_order_relaxed);
    m_bCancel.store(true, std::memory_order_relaxed);
}

void CDownloadThread::PrepareRestart()
{
    m_bCancel.store(false, std::memory_order_relaxed);
    m_bPause.store(false, std::memory_order_relaxed);
    m_bStop.store(false, std::memory_order_relaxed);
    m_bEnded.store(false, std::memory_order_relaxed);
    m_bSucceeded = false;
    m_strError.clear();
}

void CDownloadThread::run()
{
    // Downloads are background work: a lower weight keeps the window responsive while several
    // jobs keep the processors busy. Qt's thread priorities do nothing under Linux's default
    // scheduler, where a thread has a nice value of its own.
#ifdef Q_OS_LINUX
    setpriority(PRIO_PROCESS, id_t(gettid()), kWorkerNice);
#else
    setPriority(QThread::LowPriority);
#endif
    m_bSucceeded = InitInstance();
    ExitInstance();
    m_bEnded.store(true, std::memory_order_release);
}

int CDownloadThread::ExitInstance()
{
    return 0;
}

QString CDownloadThread::TransferPath() const
{
    return m_bConvert ? m_strPath + QStringLiteral(".flv") : m_strPath;
}

CJobRows& CDownloadThread::Rows() const
{
    static CNoRows nowhere;
    return m_pOutputWnd ? *m_pOutputWnd : nowhere;
}

bool CDownloadThread::Fail(QString reason)
{
    m_strError = std::move(reason);
    Rows().ShowFailed(this, m_strError);
    return false;
}

bool CDownloadThread::InitInstance()
{
    // A conversion that failed leaves its whole download behind: another try converts it.
    if (m_bConvert && m_nKeptTotal > 0 && m_nKept == m_nKeptTotal &&
        QFileInfo(TransferPath()).size() == qint64(m_nKeptTotal))
        return ConvertVideo();

    const CFileDownload::Result transfer = TransferFile();
    if (m_bCancel.load(std::memory_order_relaxed)) {
        // The partial file stays where it is; only the row goes, and nothing is converted.
        Rows().RemoveJobRow(this);
        return true;
    }
    if (m_bPause.load(std::memory_order_relaxed) && !transfer.Completed()) {
        // The row and the partial file stay, to go on from there.
        Rows().ShowPaused(this);
        return true;
    }
    // A failed transfer ends the job: there is nothing whole to convert. Its file stays.
    if (!transfer.Completed())
        return Fail(transfer.reason);
    Rows().ShowDownloadCompleted(this);
    return m_bConvert ? ConvertVideo() : true;
}

bool CDownloadThread::ConvertVideo()
{
    Rows().ShowConversionQueued(this);
    const QString intermediate = TransferPath();
    const QString partial = PartialPath(m_strPath);
    const QString program = m_strConverterFolder + u'/' + Converter::ExecutableName();

    std::unique_lock turn(g_csConversion, std::defer_lock);
    while (!turn.try_lock_for(kStopPoll)) {
        if (Stopping())
            return false;
    }

    // No shell: each preset argument, and each path, reaches the converter whole. Standard input
    // is a pipe that is never written; standard error joins standard output.
    QProcess converter;
    converter.setProcessChannelMode(QProcess::MergedChannels);
    converter.start(program, Converter::PresetArguments(m_nFormat, intermediate, partial));
    if (!converter.waitForStarted(-1))
        return Fail(QStringLiteral("%1: %2").arg(program, converter.errorString()));

    CConversionProgress progress;
    QString tail; // the end of what the converter said, for the reason it failed
    for (;;) {
        // Read the state first: once the converter has ended, all it wrote is in the buffer.
        const bool running = converter.state() != QProcess::NotRunning;
        while (converter.bytesAvailable() > 0) {
            const QString chunk = QString::fromLocal8Bit(converter.read(kConverterChunk));
            for (const auto& [total, current] : progress.Feed(chunk))
                Rows().ShowConversionProgress(this, total, current);
            tail = (tail + chunk).right(kConverterChunk);
        }
        if (!running)
            break;
        if (Stopping()) {
            // The program is ending: the converter must not run on alone.
            converter.terminate();
            if (!converter.waitForFinished(kConverterStopMs))
                converter.kill();
            converter.waitForFinished(-1);
            QFile::remove(partial);
            m_strError = QStringLiteral("%1: stopped").arg(program);
            return false;
        }
        converter.waitForReadyRead(int(kStopPoll.count()));
    }
    turn.unlock();

    const bool converted = converter.exitStatus() == QProcess::NormalExit &&
                           converter.exitCode() == 0 && QFile::exists(partial);
    if (!converted) {
        // The download is not lost: the intermediate file stays for another try. What the
        // converter wrote is not the video and must not pass for it.
        QFile::remove(partial);
        return Fail(
            QStringLiteral("%1 %2: exit status %3: %4")
                .arg(program, m_strPath)
                .arg(converter.exitStatus() == QProcess::NormalExit ? converter.exitCode() : -1)
                .arg(LastLine(tail)));
    }
    if (const QString reason = MoveOver(partial, m_strPath); !reason.isEmpty()) {
        QFile::remove(partial);
        return Fail(QStringLiteral("%1: %2").arg(m_strPath, reason));
    }
    Rows().ShowConversionCompleted(this);
    QFile::remove(intermediate);
    return true;
}

CFileDownload::Result CDownloadThread::TransferFile()
{
    QElapsedTimer clock;
    quint32 elapsedMs = 0;
    CFileDownload download;
    download.url = m_strUrl;
    download.path = TransferPath();
    // An error page is not the video.
    download.refuseErrorStatus = true;
    download.stallLimitMs = m_nStallLimitMs;
    download.stopped = [this] {
        return m_bCancel.load(std::memory_order_relaxed) ||
               m_bPause.load(std::memory_order_relaxed);
    };
    // The first report comes as the file is made or continued; the time counts from there. The
    // clock is read once a network read, not once a piece: at loopback speed a read per piece
    // took a tenth of the worker's time.
    download.read = [&] {
        if (clock.isValid())
            elapsedMs = quint32(clock.elapsed());
    };
    download.progress = [&](quint64 total, quint64 received) {
        if (!clock.isValid())
            clock.start();
        Rows().ShowDownloadProgress(this, total, received, elapsedMs);
    };
    // Only a file that still holds exactly what this job wrote there is continued: any other
    // file of that name is not a part of this download.
    if (m_nKept > 0 && QFileInfo(download.path).size() == qint64(m_nKept)) {
        download.resumeFrom = m_nKept;
        download.expectedTotal = m_nKeptTotal;
        download.validator = m_strKeptValidator;
    }
    const CFileDownload::Result result = download.Run();
    if (result.fileOpened) {
        m_nKept = result.received;
        m_nKeptTotal = result.total;
        m_strKeptValidator = result.validator;
    }
    return result;
}
