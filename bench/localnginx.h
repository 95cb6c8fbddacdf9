#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// nginx serving one folder's files on 127.0.0.1, started by a benchmark with a configuration of
// its own (its own pid, log and temporary paths, in the foreground under QProcess, so no root
// is needed) and stopped with it. It stands for a fast remote server: sendfile, no access log,
// one worker at nice 10, as the benchmarks' own servers run.
class CLocalNginx final {
public:
    explicit CLocalNginx(const QString& root);
    ~CLocalNginx();
    CLocalNginx(const CLocalNginx&) = delete;
    CLocalNginx& operator=(const CLocalNginx&) = delete;

    // Starts it and waits until it answers; empty, or why it could not.
    QString Start();
    QString Url(const QString& name) const;

private:
    QString TryPort(quint16 port);

    QString m_root;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
