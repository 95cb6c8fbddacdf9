#pragma once

#include <QStringList>
#include <QTemporaryFile>

// Catches what the process says while it lives: Qt's messages (qDebug to qFatal) and anything
// written to standard error, such as a library's own complaints. One at a time.
class COutputCapture final {
    Q_DISABLE_COPY_MOVE(COutputCapture)

public:
    COutputCapture();
    ~COutputCapture();

    // Every Qt message so far and every line written to standard error, in that order.
    QStringList Said() const;

private:
    QtMessageHandler m_previous = nullptr;
    QTemporaryFile m_stderr;
    int m_savedStderr = -1;
};
