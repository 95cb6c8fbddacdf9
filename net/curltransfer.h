#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>

// One HTTP(S) GET through libcurl that streams the final response's body to the caller.
// Redirects are followed, proxies come from the environment, certificates are verified.
class CCurlTransfer final {
public:
    // The final response's status line and length, known before its first body byte.
    struct Head {
        long status = 0;
        qint64 contentLength = -1; // -1 when the response gives none
        // The header lines a continued download needs, as sent; empty when absent.
        QByteArray contentRange;
        QByteArray etag;
        QByteArray lastModified;
    };

    struct Result {
        enum class Status {
            Completed, // the whole body was handed over
            Stopped,   // a handler or the abort check ended the transfer
            Failed,    // the network failed: no connection, a cut-short body, a bad address,
                       // or nothing came for the stall limit
        };
        Status status = Status::Failed;
        bool headSeen = false;
        Head head;
        QString error; // names the address and what went wrong, for Failed
    };

    using HeadHandler = std::function<bool(const Head&)>;            // false: take no body
    using BodyHandler = std::function<bool(const char*, qsizetype)>; // false: stop
    using AbortCheck = std::function<bool()>; // true: stop, also while the server is silent

    explicit CCurlTransfer(QString url);

    void SetUserAgent(const QByteArray& agent) { m_userAgent = agent; }
    void SetConnectTimeoutMs(long ms) { m_connectTimeoutMs = ms; }
    // No byte for this long, from the request on, ends the transfer Failed; 0: no limit. It is
    // checked about once a second, so the transfer may end up to a second later.
    void SetStallLimitMs(long ms) { m_stallLimitMs = ms; }
    // How much libcurl reads from the socket at a time, so a bulk transfer costs few calls.
    void SetReceiveBufferSize(long bytes) { m_receiveBufferSize = bytes; }
    void AddHeader(const QByteArray& line) { m_headers.append(line); }
    // Credentials for a server that asks for them (HTTP Basic, sent with the first request).
    void SetCredentials(const QString& user, const QString& password)
    {
        m_user = user.toUtf8();
        m_password = password.toUtf8();
    }

    Result Get(const HeadHandler& onHead, const BodyHandler& onBody, const AbortCheck& aborted);

    // Hands data to piece in pieces of at most size bytes, in order, while it returns true.
    template <typename Piece>
    static bool ForEachPiece(const char* data, qsizetype total, qsizetype size, Piece&& piece)
    {
        for (qsizetype at = 0; at < total; at += size) {
            if (!piece(data + at, std::min(size, total - at)))
                return false;
        }
        return true;
    }

private:
    QString m_url;
    QByteArray m_userAgent;
    QList<QByteArray> m_headers;
    QByteArray m_user;
    QByteArray m_password;
    long m_connectTimeoutMs = 0;
    long m_stallLimitMs = 0;
    long m_receiveBufferSize = 0;
};
