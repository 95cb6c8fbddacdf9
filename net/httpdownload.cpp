#include "net/httpdownload.h"

#include "net/curltransfer.h"
#include "net/httpagentexception.h"

#include <QFile>

namespace {

constexpr qsizetype kPieceSize = 512;
constexpr char kAgent[] = "Quillmoor";

} // namespace

int HttpDownloadFile(const QString& url, const QString& path,
                     const std::function<void(int percent)>& progress,
                     const std::function<bool()>& stopped)
{
    const auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };
    const auto stop = [&stopped] { return stopped && stopped(); };

    QFile file(path);
    quint64 total = 0;
    quint64 received = 0;
    int result = CHttpAgentException::Success;
    const auto onHead = [&](const CCurlTransfer::Head& head) {
        // The status is not looked at: whatever body comes with a length is saved.
        if (head.contentLength < 0) {
            result = CHttpAgentException::NoContentLength;
            return false;
        }
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            result = CHttpAgentException::FileFailure;
            return false;
        }
        total = quint64(head.contentLength);
        report(0);
        return true;
    };
    const auto onBody = [&](const char* data, qsizetype size) {
        return CCurlTransfer::ForEachPiece(
            data, size, kPieceSize, [&](const char* piece, qsizetype n) {
                if (stop())
                    return false;
                received += quint64(n);
                report(received >= total ? 100 : int(received * 100 / total));
                if (file.write(piece, n) != n) {
                    result = CHttpAgentException::FileFailure;
                    return false;
                }
                return true;
            });
    };

    CCurlTransfer transfer(url);
    transfer.SetUserAgent(kAgent);
    const CCurlTransfer::Result got = transfer.Get(onHead, onBody, stop);
    if (file.isOpen() && !file.flush() && result == CHttpAgentException::Success)
        result = CHttpAgentException::FileFailure;
    file.close();
    if (result != CHttpAgentException::Success)
        return result;
    if (!got.headSeen)
        return got.status == CCurlTransfer::Result::Status::Stopped
                   ? int(CHttpAgentException::NetworkFailure)
                   : int(CHttpAgentException::CannotOpen);
    // A body cut short is not a whole archive: it must not pass for one.
    if (got.status != CCurlTransfer::Result::Status::Completed)
        return CHttpAgentException::NetworkFailure;
    report(100);
    return CHttpAgentException::Success;
}
