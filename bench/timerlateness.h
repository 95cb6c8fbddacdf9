#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

// A 10 ms timer on the user-interface thread that records how late each tick fires: what a
// user feels as a window that lags while work runs.
class CTimerLateness final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTimerLateness)

public:
    static constexpr int kIntervalMs = 10;

    explicit CTimerLateness(QObject* parent = nullptr);

    void Start();
    void Stop();
    // Each tick's lateness in ms, from every Start to its Stop so far.
    const std::vector<double>& Samples() const { return m_lateMs; }
    // Between every Start and its Stop so far: how long the user-interface thread ran, and how
    // long it was ready to run but waited for a processor. Much waiting and little running
    // means late ticks come from the processors being busy, not from work on this thread.
    double RunningMs() const { return m_runningMs; }
    double WaitingMs() const { return m_waitingMs; }
    void Clear();

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    std::vector<double> m_lateMs;
    double m_runningMs = 0;
    double m_waitingMs = 0;
    double m_startRunningMs = 0;
    double m_startWaitingMs = 0;
};
