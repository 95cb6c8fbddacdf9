#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// An HTTP server on 127.0.0.1 for tests that answers each path with exactly the bytes a test
// scripts: a header block as written, a body sent whole, cut short, dripped slowly, followed
// by silence or stalled for good. One thread per connection; stops and joins them all on
// destruction.
class CScriptedHttpServer final {
public:
    struct Reply {
        int headDelayMs = 0;      // silence before anything is sent
        QByteArray head;          // status line and header lines, sent as they are
        QByteArray body;          // the body, or the pattern repeated up to bodySize
        qint64 bodySize = -1;     // -1: send body once
        qint64 cutAfter = -1;     // close the connection after this many body bytes
        int dripBytes = 0;        // send the body in pieces of this size...
        int dripDelayMs = 0;      // ...with this pause before each
        int silenceMs = 0;        // after the head, send nothing for this long
        qint64 stallAfter = -1;   // after this many body bytes, send nothing more, connection open
        QByteArray requireHeader; // without this header line the request gets 401 instead
    };

    // Replies with a Content-Length that matches body (or bodySize).
    static Reply Ok(const QByteArray& body, qint64 bodySize = -1);
    // A web page: status 200, text/html with its length.
    static Reply Html(const QByteArray& page);
    // Replies without a Content-Length; the end of the body is the end of the connection.
    static Reply WithoutLength(const QByteArray& body);
    static Reply Status(int code, const QByteArray& reason, const QByteArray& body);
    static Reply Redirect(const QByteArray& location);
    // 206: the part of whole from the byte at from on, with a Content-Range saying so.
    static Reply Partial(const QByteArray& whole, qint64 from);

    CScriptedHttpServer();
    ~CScriptedHttpServer();
    CScriptedHttpServer(const CScriptedHttpServer&) = delete;
    CScriptedHttpServer& operator=(const CScriptedHttpServer&) = delete;

    quint16 Port() const { return m_port; }
    QString HostAndPort() const;
    QString Url(const QString& pathAndQuery) const;

    // Runs the connection threads at this nice value, so that a benchmark's server, which stands
    // for a remote host, does not take the processors from the program being measured.
    void SetConnectionNice(int nice) { m_connectionNice = nice; }

    // Paths are matched without their query; an unknown path gets a 404.
    void Route(const QByteArray& path, const Reply& reply);
    // The path's next requests get these replies in turn; the last one answers all after it.
    void RouteInTurn(const QByteArray& path, const QList<Reply>& replies);
    // The request heads received so far, in order.
    QList<QByteArray> Requests() const;

private:
    void AcceptLoop();
    void Serve(int socket);
    bool SendAll(int socket, const char* data, qint64 size);
    bool Pause(int ms);

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connectionNice{0};
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    QMap<QByteArray, QList<Reply>> m_routes;
    QList<QByteArray> m_requests;
    std::vector<std::thread> m_connections;
    std::vector<int> m_sockets;
};
