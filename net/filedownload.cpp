#include "net/filedownload.h"

#include "net/curltransfer.h"

#include <QFile>

namespace {

using Status = CFileDownload::Result::Status;

constexpr qsizetype kWriteBlockSize = 256 * 1024;

// Gathers the pieces into large writes: a system call per 512-byte piece would cap the
// transfer far below what the network gives.
class PieceWriter final {
public:
    explicit PieceWriter(QFile& file) : m_file(file) { m_buffer.reserve(kWriteBlockSize); }

    bool Write(const char* data, qsizetype size)
    {
        m_buffer.append(data, size);
        return m_buffer.size() < kWriteBlockSize || Flush();
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

} // namespace

CFileDownload::Result CFileDownload::Run() const
{
    Result result;
    QFile file(path);
    PieceWriter writer(file);
    const auto stop = [this] { return stopped && stopped(); };
    // The first failure is the one to tell; later ones follow from it.
    const auto fail = [&result](Status status, QString reason) {
        if (result.reason.isEmpty()) {
            result.status = status;
            result.reason = std::move(reason);
        }
        return false;
    };
    const auto fileFailed = [&] {
        return fail(Status::FileError,
                    QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    };

    const auto onHead = [&](const CCurlTransfer::Head& head) {
        if (stop())
            return false;
        result.httpStatus = head.status;
        if (refuseErrorStatus && head.status >= 400)
            return fail(Status::Refused, QStringLiteral("%1: HTTP status %2").arg(url).arg(head.status));
        if (head.contentLength < 0)
            return fail(Status::NoLength, QStringLiteral("%1: no Content-Length").arg(url));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return fileFailed();
        result.total = quint64(head.contentLength);
        if (progress)
            progress(result.total, 0);
        return true;
    };
    const auto onBody = [&](const char* data, qsizetype size) {
        return CCurlTransfer::ForEachPiece(
            data, size, kPieceSize, [&](const char* piece, qsizetype n) {
                if (stop())
                    return false;
                result.received += quint64(n);
                if (progress)
                    progress(result.total, result.received);
                return writer.Write(piece, n) || fileFailed();
            });
    };

    CCurlTransfer transfer(url);
    transfer.SetUserAgent(kUserAgent);
    transfer.SetReceiveBufferSize(kWriteBlockSize);
    transfer.SetStallLimitMs(stallLimitMs);
    const CCurlTransfer::Result got = transfer.Get(onHead, onBody, stop);
    if (file.isOpen() && result.reason.isEmpty() && !writer.Flush())
        fileFailed();
    file.close();

    if (!result.reason.isEmpty())
        return result;
    if (stop() || got.status == CCurlTransfer::Result::Status::Stopped) {
        result.status = Status::Stopped;
        return result;
    }
    if (!got.headSeen) {
        fail(Status::NoAnswer, got.error);
        return result;
    }
    if (got.status != CCurlTransfer::Result::Status::Completed) {
        fail(Status::CutShort, got.error);
        return result;
    }
    if (result.received != result.total) {
        fail(Status::CutShort, QStringLiteral("%1: %2 of %3 bytes")
                                   .arg(url)
                                   .arg(result.received)
                                   .arg(result.total));
        return result;
    }
    result.status = Status::Completed;
    return result;
}
