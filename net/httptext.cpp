#include "net/httptext.h"

#include "net/curltransfer.h"
#include "net/httpagentexception.h"

#include <QUrl>

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
    QByteArray latin;
    for (;;) {
        latin.clear();
        CCurlTransfer transfer(url);
        transfer.SetUserAgent(kSessionAgent);
        transfer.SetConnectTimeoutMs(kConnectTimeoutMs);
        transfer.AddHeader(kHeaderBlock1);
        for (const char* line : kHeaderBlock2)
            transfer.AddHeader(line);
        if (!user.isEmpty() || !password.isEmpty())
            transfer.SetCredentials(user, password);
        long status = 0;
        const auto onHead = [&status](const CCurlTransfer::Head& head) {
            status = head.status;
            return head.status != kUnauthorised;
        };
        const auto onBody = [&latin](const char* data, qsizetype size) {
            // Each piece counts up to its first zero byte.
            return CCurlTransfer::ForEachPiece(data, size, kPieceSize, [&latin](const char* piece, qsizetype n) {
                latin.append(piece, qsizetype(qstrnlen(piece, size_t(n))));
                return true;
            });
        };
        const CCurlTransfer::Result got = transfer.Get(onHead, onBody, [] { return false; });
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
