#include "tests/support/privatebus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <sys/prctl.h>

#include <csignal>

namespace {

bool WriteFile(const QString& path, const QByteArray& text, bool program = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    return !program || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

} // namespace

CPrivateBus::CPrivateBus(const QMap<QString, QByteArray>& activatable)
{
    const QString services = m_dir.filePath(QStringLiteral("services"));
    QDir().mkpath(services);
    for (auto it = activatable.cbegin(); it != activatable.cend(); ++it) {
        const QString script = m_dir.filePath(it.key() + QStringLiteral(".sh"));
        if (!WriteFile(script, "#!/bin/sh\n" + it.value(), true) ||
            !WriteFile(services + u'/' + it.key() + QStringLiteral(".service"),
                       "[D-BUS Service]\nName=" + it.key().toUtf8() +
                           "\nExec=" + QFile::encodeName(script) + '\n')) {
            m_error = QStringLiteral("cannot write the service %1 in %2").arg(it.key(), services);
            return;
        }
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    // The standard session policy, without the system's service folders.
    const QByteArray text =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:path=" +
        QFile::encodeName(m_dir.filePath(QStringLiteral("bus"))) +
        "</listen>\n"
        "  <auth>EXTERNAL</auth>\n"
        "  <servicedir>" +
        QFile::encodeName(services) +
        "</servicedir>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n";
    if (!WriteFile(config, text)) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return;
    }
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    const QDeadlineTimer deadline(10000);
    QByteArray line;
    while (!line.contains('\n') && !deadline.hasExpired() &&
           m_daemon.state() != QProcess::NotRunning) {
        m_daemon.waitForReadyRead(int(deadline.remainingTime()));
        line += m_daemon.readAllStandardOutput();
    }
    if (!line.contains('\n')) {
        m_error = QStringLiteral("dbus-daemon gave no address: %1 %2")
                      .arg(m_daemon.errorString(),
                           QString::fromLocal8Bit(m_daemon.readAllStandardError()));
        Stop();
        return;
    }
    m_address = QString::fromUtf8(line.left(line.indexOf('\n')).trimmed());
}

CPrivateBus::~CPrivateBus()
{
    Stop();
}

void CPrivateBus::Stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.kill();
    m_daemon.waitForFinished(10000);
}
