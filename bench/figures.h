#pragma once

// Small helpers the benchmarks share for reducing their samples to the figures they print.

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <vector>

namespace BenchFigures {

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The value below which the given share of the samples lie (0.99 for the p99).
inline double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(double(values.size()) * share));
    return values[at];
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline qint64 StatusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Sets the process's peak resident size (VmHWM) back to its size now, so that a later read
// gives the peak of what ran in between. False where the kernel does not allow it.
inline bool ResetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace BenchFigures
