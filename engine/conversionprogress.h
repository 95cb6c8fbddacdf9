#pragma once

#include <QList>
#include <QStringView>

#include <utility>

// Follows the converter's console output: the media's length after "Duration: " and the
// position after "time=", both in whole seconds. Each chunk is read by itself, as it arrived;
// a marker split across two chunks is not seen, and only a chunk's first of each counts.
class CConversionProgress final {
public:
    // A report for the row: total length and current position, in seconds.
    using Report = std::pair<quint32, quint32>;

    // The reports a chunk gives, in order: (duration, 0) when it holds a duration, then
    // (duration, position) with the position of earlier chunks. A "time=" in the chunk updates
    // the position for the next one.
    QList<Report> Feed(QStringView chunk);

    quint32 Duration() const { return m_duration; }
    quint32 Position() const { return m_position; }

    // Leading blanks, an optional sign, then digits up to the first other character; 0 when
    // there are none.
    static qint64 ReadInteger(QStringView text);

private:
    quint32 m_duration = 0;
    quint32 m_position = 0;
};
