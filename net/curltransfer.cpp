#include "net/curltransfer.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace {

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// State shared with libcurl's callbacks during one Get.
struct Exchange {
    CURL* easy = nullptr;
    const CCurlTransfer::HeadHandler* onHead = nullptr;
    const CCurlTransfer::BodyHandler* onBody = nullptr;
    const CCurlTransfer::AbortCheck* aborted = nullptr;
    CCurlTransfer::Result result;
    bool stoppedByUs = false;
    bool stalled = false;
    bool blockHasLocation = false; // the header block being read names a redirect target
    CCurlTransfer::Head blockHead; // the header lines kept from the block being read
    std::chrono::milliseconds stallLimit{0};
    // When a byte last came in, or a handler last gave control back: a slow disk is no stall.
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();

    void Touch() { lastActivity = std::chrono::steady_clock::now(); }

    // Called once the final response's header block is complete.
    bool DeliverHead()
    {
        result.headSeen = true;
        result.head = blockHead;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.head.status);
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        result.head.contentLength = length;
        return (*onHead)(result.head);
    }
};

// Delivers the head when the final response's header block ends: not an interim 1xx block,
// not a redirect that libcurl is about to follow.
size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* x = static_cast<Exchange*>(user);
    const size_t bytes = size * count;
    x->Touch();
    if (x->result.headSeen)
        return bytes;
    const QByteArray line = QByteArray::fromRawData(data, qsizetype(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        x->blockHasLocation = false;
        x->blockHead = {};
        return bytes;
    }
    if (!line.isEmpty()) {
        const auto value = [&line](const char* name) -> std::optional<QByteArray> {
            const qsizetype n = qsizetype(qstrlen(name));
            if (line.size() < n || qstrnicmp(line.constData(), name, n) != 0)
                return std::nullopt;
            return line.mid(n).trimmed();
        };
        if (const auto location = value("location:"); location && !location->isEmpty())
            x->blockHasLocation = true;
        else if (auto range = value("content-range:"))
            x->blockHead.contentRange = *range;
        else if (auto etag = value("etag:"))
            x->blockHead.etag = *etag;
        else if (auto modified = value("last-modified:"))
            x->blockHead.lastModified = *modified;
        return bytes;
    }
    long status = 0;
    curl_easy_getinfo(x->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || (status >= 300 && status < 400 && x->blockHasLocation))
        return bytes;
    if (!x->DeliverHead()) {
        x->stoppedByUs = true;
        return 0;
    }
    return bytes;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user)
{
    auto* x = static_cast<Exchange*>(user);
    const size_t bytes = size * count;
    // A response that had no header block of its own (HTTP/0.9) reaches here first.
    if (!x->result.headSeen && !x->DeliverHead()) {
        x->stoppedByUs = true;
        return CURL_WRITEFUNC_ERROR;
    }
    x->Touch();
    if (!(*x->onBody)(data, qsizetype(bytes))) {
        x->stoppedByUs = true;
        return CURL_WRITEFUNC_ERROR;
    }
    x->Touch();
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* x = static_cast<Exchange*>(user);
    if ((*x->aborted)()) {
        x->stoppedByUs = true;
        return 1;
    }
    if (x->stallLimit.count() > 0 &&
        std::chrono::steady_clock::now() - x->lastActivity > x->stallLimit) {
        x->stalled = true;
        return 1;
    }
    return 0;
}

} // namespace

CCurlTransfer::CCurlTransfer(QString url) : m_url(std::move(url)) {}

CCurlTransfer::Result CCurlTransfer::Get(const HeadHandler& onHead, const BodyHandler& onBody,
                                         const AbortCheck& aborted)
{
    EnsureCurlInitialised();
    Exchange x;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        x.result.error = QStringLiteral("cannot create a transfer for %1").arg(m_url);
        return x.result;
    }
    x.easy = easy.get();
    x.onHead = &onHead;
    x.onBody = &onBody;
    x.aborted = &aborted;
    x.stallLimit = std::chrono::milliseconds(m_stallLimitMs);

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const QByteArray& line : m_headers)
        headers.reset(curl_slist_append(headers.release(), line.constData()));

    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray url = m_url.toUtf8();
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    if (!m_userAgent.isEmpty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_userAgent.constData());
    if (headers)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    if (!m_user.isEmpty() || !m_password.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, m_password.constData());
        // Sent with the first request: a 401 then means the credentials were refused.
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    }
    if (m_receiveBufferSize > 0)
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, m_receiveBufferSize);
    if (m_connectTimeoutMs > 0)
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &x);
    // The progress callback runs about once a second even while nothing arrives, which is
    // what lets a cancel, and the stall limit, take effect while the server is silent.
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &x);

    x.Touch();
    const CURLcode code = curl_easy_perform(e);
    if (x.stalled) {
        x.result.status = Result::Status::Failed;
        x.result.error =
            QStringLiteral("%1: nothing received for %2 ms").arg(m_url).arg(m_stallLimitMs);
    } else if (code == CURLE_OK) {
        if (!x.result.headSeen && !x.DeliverHead()) {
            x.result.status = Result::Status::Stopped;
            return x.result;
        }
        x.result.status = Result::Status::Completed;
    } else if (x.stoppedByUs) {
        x.result.status = Result::Status::Stopped;
    } else {
        x.result.status = Result::Status::Failed;
        x.result.error = QStringLiteral("%1: %2").arg(
            m_url, QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code)));
    }
    return x.result;
}
