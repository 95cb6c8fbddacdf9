#include "net/httptext.h"

#include "net/curltransfer.h"
#include "net/httpagentexception.h"

#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr long kConnectTimeoutMs = 30000;
constexpr qsizetype kPieceSize = 512;
constexpr long kUnauthorised = 401;
// The session names itself; the request's own User-Agent line, which libcurl lets win, is
// what the server sees.
constexpr char kSessionAgent[] = "Quillmoor";
constexpr char kHeaderBlock1[] = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kHeaderBlock2[] = {"Accept: text/*", "User-Agent: Norvane",
                                         "Cache-Control: no-cache"};
// What the request's no-cache flag adds, beside the header blocks.
constexpr char kPragmaNoCache[] = "Pragma: no-cache";

std::atomic<int> g_stallLimitMsForTests{0};

// Gathers a body handed over in blocks of any size: each 512-byte piece, counted from the
// body's first byte so that the network's blocks change nothing, is kept up to its first zero
// byte.
class CPieceText final {
public:
    void Append(const char* data, qsizetype size)
    {
        while (size > 0) {
            const qsizetype n = std::min(size, qsizetype(kPieceSize - m_received % kPieceSize));
            if (!m_cut) {
                const auto* zero = static_cast<const char*>(std::memchr(data, 0, size_t(n)));
                m_text.append(data, zero ? zero - data : n);
                m_cut = zero != nullptr;
            }
            m_received += n;
            if (m_received % kPieceSize == 0)
                m_cut = false;
            data += n;
            size -= n;
        }
    }

    qint64 Received() const { return m_received; }
    const QByteArray& Text() const { return m_text; }

private:
    QByteArray m_text;
    qint64 m_received = 0;
    bool m_cut = false; // a zero byte ended what counts of the current piece
};

CredentialsPrompt& DefaultPrompt()
{
    static CredentialsPrompt prompt;
    return prompt;
}

} // namespace

void SetDefaultCredentialsPrompt(CredentialsPrompt prompt)
{
    DefaultPrompt() = std::move(prompt);
}

void SetHttpTextStallLimitMsForTests(int ms)
{
    g_stallLimitMsForTests.store(ms);
}

int HttpGetText(QString url, QString& text, const CredentialsPrompt& prompt)
{
    text.clear();
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return CHttpAgentException::BadAddress;

    int result = CHttpAgentException::Success;
    QString user;
    QString password;
    const int stallLimitForTests = g_stallLimitMsForTests.load();
    const int stallLimitMs = stallLimitForTests > 0 ? stallLimitForTests : kHttpTextStallLimitMs;
    QByteArray latin;
    for (;;) {
        CPieceText body;
        CCurlTransfer transfer(url);
        transfer.SetUserAgent(kSessionAgent);
        transfer.SetConnectTimeoutMs(kConnectTimeoutMs);
        transfer.SetStallLimitMs(stallLimitMs);
        transfer.AddHeader(kHeaderBlock1);
        for (const char* line : kHeaderBlock2)
            transfer.AddHeader(line);
        transfer.AddHeader(kPragmaNoCache);
        if (!user.isEmpty() || !password.isEmpty())
            transfer.SetCredentials(user, password);
        long status = 0;
        const auto onHead = [&status](const CCurlTransfer::Head& head) {
            status = head.status;
            return head.status != kUnauthorised;
        };
        // Bytes count against the cap whether or not a zero byte drops them, so a stream of
        // zeros ends too; the cap's worth is kept, like what came before any other failure.
        const auto onBody = [&body](const char* data, qsizetype size) {
            const qint64 room = kHttpTextMaxBytes - body.Received();
            body.Append(data, qsizetype(std::min<qint64>(size, room)));
            return size <= room;
        };
        const CCurlTransfer::Result got = transfer.Get(onHead, onBody, [] { return false; });
        latin = body.Text();
        if (status == kUnauthorised) {
            const CredentialsPrompt& ask = prompt ? prompt : DefaultPrompt();
            if (ask && ask(url, user, password))
                continue;
            result = CHttpAgentException::NotAuthorised;
            latin.clear();
            break;
        }
        if (got.status != CCurlTransfer::Result::Status::Completed)
            result = CHttpAgentException::NetworkFailure;
        break;
    }

    if (latin.contains("utf-8") || latin.contains("UTF-8"))
        text = QString::fromUtf8(latin);
    else
        text = QString::fromLatin1(latin);
    return result;
}
