#include "bench/localnginx.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kReadyMs = 5000;
constexpr int kPortAttempts = 5;

// A port that was free on 127.0.0.1 a moment ago; 0 if none could be had.
quint16 FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

// Whether something accepts connections on 127.0.0.1:port.
bool Accepts(quint16 port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

} // namespace

CLocalNginx::CLocalNginx(const QString& root) : m_root(root) {}

CLocalNginx::~CLocalNginx()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // SIGTERM: nginx stops its worker and ends.
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString CLocalNginx::Url(const QString& name) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(name);
}

QString CLocalNginx::Start()
{
    if (!m_dir.isValid())
        return QStringLiteral("cannot make a folder for nginx's files");
    QString error;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        const quint16 port = FreePort();
        if (port == 0)
            return QStringLiteral("no free port on 127.0.0.1");
        error = TryPort(port);
        if (error.isEmpty()) {
            m_port = port;
            return {};
        }
    }
    return error;
}

QString CLocalNginx::TryPort(quint16 port)
{
    const QString dir = m_dir.path();
    const QString config = QStringLiteral(R"(daemon off;
master_process on;
worker_processes 1;
worker_priority 10;
pid %1/nginx.pid;
error_log %1/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 10;
    client_body_temp_path %1/client_body;
    proxy_temp_path %1/proxy;
    fastcgi_temp_path %1/fastcgi;
    uwsgi_temp_path %1/uwsgi;
    scgi_temp_path %1/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:%2;
        root %3;
    }
}
)")
                               .arg(dir)
                               .arg(port)
                               .arg(m_root);
    QFile file(dir + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0)
        return file.fileName() + QStringLiteral(": ") + file.errorString();
    file.close();

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("nginx"),
                    {QStringLiteral("-p"), dir, QStringLiteral("-e"),
                     dir + QStringLiteral("/error.log"), QStringLiteral("-c"), file.fileName()});
    if (!m_process.waitForStarted(kReadyMs))
        return QStringLiteral("nginx did not start: ") + m_process.errorString() +
               QStringLiteral(" (tools/setup.sh installs it)");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kReadyMs) {
        if (m_process.state() == QProcess::NotRunning)
            break;
        if (Accepts(port))
            return {};
        QThread::msleep(10);
    }
    m_process.kill();
    m_process.waitForFinished(5000);
    QFile log(dir + QStringLiteral("/error.log"));
    log.open(QIODevice::ReadOnly);
    return QStringLiteral("nginx on port %1 did not answer: %2 %3")
        .arg(port)
        .arg(QString::fromLocal8Bit(m_process.readAll()).trimmed(),
             QString::fromLocal8Bit(log.readAll()).trimmed());
}
