#include "bench/timerlateness.h"

#include <QFile>

#include <algorithm>
#include <tuple>

CTimerLateness::CTimerLateness(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_lateMs.push_back(std::max(0.0, double(m_sinceTick.nsecsElapsed()) / 1e6 - kIntervalMs));
        m_sinceTick.restart();
    });
}

namespace {

// The calling thread's time on a processor and waiting in a run queue, in ms, as the
// scheduler counts them (/proc/thread-self/schedstat); zeros where it does not.
std::pair<double, double> ThreadSchedule()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
    return {fields.value(0).toDouble() / 1e6, fields.value(1).toDouble() / 1e6};
}

} // namespace

void CTimerLateness::Start()
{
    std::tie(m_startRunningMs, m_startWaitingMs) = ThreadSchedule();
    m_sinceTick.start();
    m_timer.start();
}

void CTimerLateness::Stop()
{
    m_timer.stop();
    const auto [running, waiting] = ThreadSchedule();
    m_runningMs += running - m_startRunningMs;
    m_waitingMs += waiting - m_startWaitingMs;
}

void CTimerLateness::Clear()
{
    m_lateMs.clear();
    m_runningMs = m_waitingMs = 0;
}
