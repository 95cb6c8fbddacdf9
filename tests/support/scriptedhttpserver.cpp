#include "tests/support/scriptedhttpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>

CScriptedHttpServer::Reply CScriptedHttpServer::Ok(const QByteArray& body, qint64 bodySize)
{
    const qint64 length = bodySize < 0 ? body.size() : bodySize;
    return Reply{.head = "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nContent-Length: " +
                         QByteArray::number(length) + "\r\nConnection: close\r\n\r\n",
                 .body = body,
                 .bodySize = bodySize};
}

CScriptedHttpServer::Reply CScriptedHttpServer::Html(const QByteArray& page)
{
    return Reply{.head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                         "Content-Length: " +
                         QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n",
                 .body = page};
}

CScriptedHttpServer::Reply CScriptedHttpServer::WithoutLength(const QByteArray& body)
{
    return Reply{.head =
                     "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nConnection: close\r\n\r\n",
                 .body = body};
}

CScriptedHttpServer::Reply CScriptedHttpServer::Status(int code, const QByteArray& reason,
                                                       const QByteArray& body)
{
    return Reply{.head = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason +
                         "\r\nContent-Type: text/html\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n",
                 .body = body};
}

CScriptedHttpServer::Reply CScriptedHttpServer::Redirect(const QByteArray& location)
{
    const QByteArray body = "moved";
    return Reply{.head = "HTTP/1.1 302 Found\r\nLocation: " + location +
                         "\r\nContent-Length: 5\r\nConnection: close\r\n\r\n",
                 .body = body};
}

CScriptedHttpServer::Reply CScriptedHttpServer::Partial(const QByteArray& whole, qint64 from)
{
    const qint64 size = whole.size();
    return Reply{.head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                         QByteArray::number(from) + '-' + QByteArray::number(size - 1) + '/' +
                         QByteArray::number(size) + "\r\nContent-Length: " +
                         QByteArray::number(size - from) + "\r\nConnection: close\r\n\r\n",
                 .body = whole.mid(from)};
}

CScriptedHttpServer::CScriptedHttpServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

CScriptedHttpServer::~CScriptedHttpServer()
{
    m_stopping = true;
    m_acceptThread.join();
    {
        std::lock_guard lock(m_mutex);
        for (int socket : m_sockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (std::thread& t : m_connections)
        t.join();
    ::close(m_listener);
}

QString CScriptedHttpServer::HostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString CScriptedHttpServer::Url(const QString& pathAndQuery) const
{
    return QStringLiteral("http://") + HostAndPort() + pathAndQuery;
}

void CScriptedHttpServer::Route(const QByteArray& path, const Reply& reply)
{
    RouteInTurn(path, {reply});
}

void CScriptedHttpServer::RouteInTurn(const QByteArray& path, const QList<Reply>& replies)
{
    std::lock_guard lock(m_mutex);
    m_routes[path] = replies;
}

QList<QByteArray> CScriptedHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void CScriptedHttpServer::AcceptLoop()
{
    while (!m_stopping) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_sockets.push_back(socket);
        m_connections.emplace_back([this, socket] { Serve(socket); });
    }
}

bool CScriptedHttpServer::Pause(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
    return !m_stopping;
}

bool CScriptedHttpServer::SendAll(int socket, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0 || m_stopping)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

void CScriptedHttpServer::Serve(int socket)
{
    if (const int nice = m_connectionNice; nice != 0)
        setpriority(PRIO_PROCESS, id_t(gettid()), nice);
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n") && request.size() < 65536) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    const qsizetype query = target.indexOf('?');
    const QByteArray path = query < 0 ? target : target.left(query);
    Reply reply;
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request.left(request.indexOf("\r\n\r\n") + 4));
        QList<Reply>& replies = m_routes[path];
        if (replies.isEmpty())
            replies << Status(404, "Not Found", "no such path");
        reply = replies.size() > 1 ? replies.takeFirst() : replies.constFirst();
    }
    if (!reply.requireHeader.isEmpty() && !request.contains("\r\n" + reply.requireHeader + "\r\n"))
        reply =
            Reply{.head = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"test\"\r\n"
                          "Content-Length: 6\r\nConnection: close\r\n\r\n",
                  .body = "denied"};

    [&] {
        if (reply.headDelayMs > 0 && !Pause(reply.headDelayMs))
            return;
        if (!SendAll(socket, reply.head.constData(), reply.head.size()))
            return;
        if (reply.silenceMs > 0 && !Pause(reply.silenceMs))
            return;
        qint64 total = reply.bodySize < 0 ? reply.body.size() : reply.bodySize;
        if (reply.cutAfter >= 0)
            total = std::min(total, reply.cutAfter);
        if (reply.stallAfter >= 0)
            total = std::min(total, reply.stallAfter);
        const qint64 pattern = reply.body.size();
        qint64 sent = 0;
        while (sent < total && pattern > 0) {
            qint64 piece = std::min(total - sent, pattern - sent % pattern);
            if (reply.dripBytes > 0) {
                piece = std::min<qint64>(piece, reply.dripBytes);
                if (!Pause(reply.dripDelayMs))
                    return;
            }
            if (!SendAll(socket, reply.body.constData() + sent % pattern, piece))
                return;
            sent += piece;
        }
        if (reply.stallAfter >= 0)
            Pause(std::numeric_limits<int>::max());
    }();
    ::shutdown(socket, SHUT_WR);
    // Let the client read everything before the socket goes.
    while (::recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
    std::lock_guard lock(m_mutex);
    ::close(socket);
    std::erase(m_sockets, socket);
}
