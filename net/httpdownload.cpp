#include "net/httpdownload.h"

#include "net/filedownload.h"
#include "net/httpagentexception.h"

int HttpDownloadFile(const QString& url, const QString& path,
                     const std::function<void(int percent)>& progress,
                     const std::function<bool()>& stopped)
{
    CFileDownload download;
    download.url = url;
    download.path = path;
    // The status is not looked at: whatever body comes with a length is saved.
    download.refuseErrorStatus = false;
    download.stopped = stopped;
    if (progress) {
        download.progress = [&progress](quint64 total, quint64 received) {
            progress(received == 0 ? 0 : received >= total ? 100 : int(received * 100 / total));
        };
    }

    using Status = CFileDownload::Result::Status;
    switch (download.Run().status) {
    case Status::Completed:
        if (progress)
            progress(100);
        return CHttpAgentException::Success;
    case Status::NoAnswer:
        return CHttpAgentException::CannotOpen;
    case Status::NoLength:
        return CHttpAgentException::NoContentLength;
    case Status::FileError:
        return CHttpAgentException::FileFailure;
    case Status::Stopped:
    case Status::Refused:
    case Status::CutShort:
        // A body cut short is not a whole archive: it must not pass for one.
        break;
    }
    return CHttpAgentException::NetworkFailure;
}
