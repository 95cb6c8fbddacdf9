#include "net/filedownload.h"

#include "net/curltransfer.h"

#include <QFile>

#include <array>

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

// "bytes FIRST-LAST/TOTAL" as three numbers; none when it is not of that form.
std::optional<std::array<quint64, 3>> ParseContentRange(const QByteArray& value)
{
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return std::nullopt;
    const QList<QByteArray> span = text.mid(6).trimmed().split('/');
    const QList<QByteArray> ends = span.value(0).split('-');
    if (span.size() != 2 || ends.size() != 2)
        return std::nullopt;
    bool ok[3] = {};
    const std::array<quint64, 3> numbers = {
        ends[0].toULongLong(&ok[0]), ends[1].toULongLong(&ok[1]), span[1].toULongLong(&ok[2])};
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return numbers;
}

} // namespace

CFileDownload::Result CFileDownload::Run() const
{
    if (resumeFrom > 0) {
        if (std::optional<Result> continued = Attempt(resumeFrom))
            return *continued;
    }
    return *Attempt(0);
}

std::optional<CFileDownload::Result> CFileDownload::Attempt(quint64 from) const
{
    Result result;
    bool rangeRefused = false;
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

    // The whole body's length when the answer is exactly the rest asked for, else none: bytes
    // appended at another place, or from another version of the body, make a file that is
    // neither.
    const auto continuation = [&](const CCurlTransfer::Head& head) -> std::optional<quint64> {
        const auto range = ParseContentRange(head.contentRange);
        if (!range)
            return std::nullopt;
        const auto [first, last, total] = *range;
        if (first != from || last + 1 != total || quint64(head.contentLength) != total - from ||
            (expectedTotal != 0 && total != expectedTotal))
            return std::nullopt;
        return total;
    };
    const auto onHead = [&](const CCurlTransfer::Head& head) {
        if (stop())
            return false;
        result.validator = head.etag.isEmpty() ? head.lastModified : head.etag;
        if (from > 0 && (head.status == 416 || head.status == 206)) {
            const std::optional<quint64> total =
                head.status == 206 ? continuation(head) : std::nullopt;
            if (!total) {
                rangeRefused = true;
                return false;
            }
            if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
                return fileFailed();
            result.fileOpened = true;
            result.total = *total;
            result.received = from;
            if (progress)
                progress(result.total, result.received);
            return true;
        }
        // A part of a body is never the whole file, which is all that was asked for here.
        if (refuseErrorStatus && (head.status >= 400 || head.status == 206))
            return fail(Status::Refused,
                        QStringLiteral("%1: HTTP status %2").arg(url).arg(head.status));
        if (head.contentLength < 0)
            return fail(Status::NoLength, QStringLiteral("%1: no Content-Length").arg(url));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return fileFailed();
        result.fileOpened = true;
        result.total = quint64(head.contentLength);
        if (progress)
            progress(result.total, 0);
        return true;
    };
    const auto onBody = [&](const char* data, qsizetype size) {
        if (read)
            read();
        return CCurlTransfer::ForEachPiece(data, size, kPieceSize,
                                           [&](const char* piece, qsizetype n) {
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
    if (from > 0) {
        transfer.AddHeader("Range: bytes=" + QByteArray::number(from) + '-');
        if (!validator.isEmpty())
            transfer.AddHeader("If-Range: " + validator);
    }
    transfer.SetReceiveBufferSize(kWriteBlockSize);
    transfer.SetStallLimitMs(stallLimitMs);
    const CCurlTransfer::Result got = transfer.Get(onHead, onBody, stop);
    if (file.isOpen() && result.reason.isEmpty() && !writer.Flush())
        fileFailed();
    file.close();

    if (rangeRefused)
        return std::nullopt;
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
        fail(Status::CutShort,
             QStringLiteral("%1: %2 of %3 bytes").arg(url).arg(result.received).arg(result.total));
        return result;
    }
    result.status = Status::Completed;
    return result;
}
