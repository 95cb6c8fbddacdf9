#include "engine/downloadthread.h"

#include "engine/conversionprogress.h"
#include "engine/converter.h"
#include "engine/jobrows.h"
#include "net/curltransfer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr qsizetype kWriteBufferSize = 256 * 1024;
constexpr qint64 kConverterChunk = 1024;
constexpr auto kStopPoll = std::chrono::milliseconds(100);
constexpr int kConverterStopMs = 3000;
// The longest file name, in bytes, that the usual file systems take.
constexpr qsizetype kMaxNameBytes = 255;
constexpr char kTagCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTagLength = 6;

// Held while a converter runs, so that conversions run one at a time in the whole program.
std::timed_mutex g_csConversion;

// Gathers the pieces into large writes: a system call per 512-byte piece would cap the
// transfer far below what the network gives.
class PieceWriter final {
public:
    explicit PieceWriter(QFile& file) : m_file(file) { m_buffer.reserve(kWriteBufferSize); }

    bool Write(const char* data, qsizetype size)
    {
        m_buffer.append(data, size);
        return m_buffer.size() < kWriteBufferSize || Flush();
    }

    bool Flush()
    {
        // A write cut short (the disk filling up) gives no reason; writing the rest then fails
        // with the system's reason, which the file's error text carries.
        const char* data = m_buffer.constData();
        qint64 left = m_buffer.size();
        while (left > 0) {
            const qint64 written = m_file.write(data, left);
            if (written <= 0)
                break;
            data += written;
            left -= written;
        }
        m_buffer.resize(0);
        return left == 0;
    }

private:
    QFile& m_file;
    QByteArray m_buffer;
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

bool CDownloadThread::InitInstance()
{
    const Outcome outcome = TransferFile();
    // A cancelled or failed transfer ends the job: the user stopped it, or there is nothing
    // whole to convert. Its intermediate file stays.
    if (outcome != Outcome::Completed)
        return outcome == Outcome::Cancelled;
    return m_bConvert ? ConvertVideo() : true;
}

bool CDownloadThread::ConvertVideo()
{
    if (m_pOutputWnd)
        m_pOutputWnd->ShowConversionQueued(this);
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
    if (!converter.waitForStarted(-1)) {
        m_strError = QStringLiteral("%1: %2").arg(program, converter.errorString());
        if (m_pOutputWnd)
            m_pOutputWnd->ShowFailed(this);
        return false;
    }

    CConversionProgress progress;
    for (;;) {
        // Read the state first: once the converter has ended, all it wrote is in the buffer.
        const bool running = converter.state() != QProcess::NotRunning;
        while (converter.bytesAvailable() > 0) {
            const QByteArray chunk = converter.read(kConverterChunk);
            for (const auto& [total, current] : progress.Feed(QString::fromLocal8Bit(chunk))) {
                if (m_pOutputWnd)
                    m_pOutputWnd->ShowConversionProgress(this, total, current);
            }
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
        m_strError =
            QStringLiteral("%1 %2: exit status %3")
                .arg(program, m_strPath)
                .arg(converter.exitStatus() == QProcess::NormalExit ? converter.exitCode() : -1);
        if (m_pOutputWnd)
            m_pOutputWnd->ShowFailed(this);
        return false;
    }
    if (const QString reason = MoveOver(partial, m_strPath); !reason.isEmpty()) {
        QFile::remove(partial);
        m_strError = QStringLiteral("%1: %2").arg(m_strPath, reason);
        if (m_pOutputWnd)
            m_pOutputWnd->ShowFailed(this);
        return false;
    }
    if (m_pOutputWnd)
        m_pOutputWnd->ShowConversionCompleted(this);
    QFile::remove(intermediate);
    return true;
}

CDownloadThread::Outcome CDownloadThread::TransferFile()
{
    QFile file(TransferPath());
    PieceWriter writer(file);
    quint64 total = 0;
    quint64 received = 0;
    QElapsedTimer clock;
    bool writeFailed = false;
    const auto cancelled = [this] { return m_bCancel.load(std::memory_order_relaxed); };

    // The file is created only once the final response is known to be a body of known length.
    const auto onHead = [&](const CCurlTransfer::Head& head) {
        if (cancelled())
            return false;
        if (head.status >= 400) {
            m_strError = QStringLiteral("%1: HTTP status %2").arg(m_strUrl).arg(head.status);
            return false;
        }
        if (head.contentLength < 0) {
            m_strError = QStringLiteral("%1: no Content-Length").arg(m_strUrl);
            return false;
        }
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            m_strError = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        total = quint64(head.contentLength);
        if (m_pOutputWnd)
            m_pOutputWnd->ShowDownloadProgress(this, total, 0, 0);
        clock.start();
        return true;
    };

    const auto onBody = [&](const char* data, qsizetype size) {
        return CCurlTransfer::ForEachPiece(
            data, size, kPieceSize, [&](const char* piece, qsizetype n) {
                if (cancelled())
                    return false;
                received += quint64(n);
                if (m_pOutputWnd)
                    m_pOutputWnd->ShowDownloadProgress(this, total, received,
                                                       quint32(clock.elapsed()));
                if (!writer.Write(piece, n)) {
                    writeFailed = true;
                    m_strError = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
                    return false;
                }
                return true;
            });
    };

    CCurlTransfer transfer(m_strUrl);
    transfer.SetUserAgent(kUserAgent);
    transfer.SetReceiveBufferSize(kWriteBufferSize);
    transfer.SetStallLimitMs(m_nStallLimitMs);
    const CCurlTransfer::Result result = transfer.Get(onHead, onBody, cancelled);

    if (file.isOpen() && !writeFailed && !writer.Flush()) {
        writeFailed = true;
        m_strError = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    }
    file.close();

    if (cancelled()) {
        // The partial file stays where it is; only the row goes.
        if (m_pOutputWnd)
            m_pOutputWnd->RemoveJobRow(this);
        return Outcome::Cancelled;
    }
    const bool whole = result.status == CCurlTransfer::Result::Status::Completed && !writeFailed &&
                       result.headSeen && received == total;
    if (!whole) {
        if (m_strError.isEmpty())
            m_strError =
                result.error.isEmpty()
                    ? QStringLiteral("%1: %2 of %3 bytes").arg(m_strUrl).arg(received).arg(total)
                    : result.error;
        if (m_pOutputWnd)
            m_pOutputWnd->ShowFailed(this);
        return Outcome::Failed;
    }
    if (m_pOutputWnd)
        m_pOutputWnd->ShowDownloadCompleted(this);
    return Outcome::Completed;
}
