#include "tests/support/outputcapture.h"

#include <QMutex>

#include <unistd.h>

#include <cstdio>

namespace {

QMutex g_mutex;
QStringList g_messages;

void Catch(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_mutex);
    g_messages << message;
}

} // namespace

COutputCapture::COutputCapture()
{
    {
        QMutexLocker lock(&g_mutex);
        g_messages.clear();
    }
    m_previous = qInstallMessageHandler(Catch);
    std::fflush(stderr);
    if (m_stderr.open()) {
        m_savedStderr = ::dup(STDERR_FILENO);
        ::dup2(m_stderr.handle(), STDERR_FILENO);
    }
}

COutputCapture::~COutputCapture()
{
    std::fflush(stderr);
    if (m_savedStderr >= 0) {
        ::dup2(m_savedStderr, STDERR_FILENO);
        ::close(m_savedStderr);
    }
    qInstallMessageHandler(m_previous);
}

QStringList COutputCapture::Said() const
{
    std::fflush(stderr);
    QStringList said;
    {
        QMutexLocker lock(&g_mutex);
        said = g_messages;
    }
    QFile written(m_stderr.fileName());
    if (written.open(QIODevice::ReadOnly))
        said += QString::fromLocal8Bit(written.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return said;
}
