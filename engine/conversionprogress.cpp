#include "engine/conversionprogress.h"

#include <algorithm>
#include <limits>

namespace {

constexpr QStringView kDurationMarker = u"Duration: ";
constexpr QStringView kTimeMarker = u"time=";

// The text from `from` up to the next `delimiter`, and where the text after it begins. Without
// a delimiter the field is empty and nothing follows.
QStringView Field(QStringView text, qsizetype& from, QChar delimiter)
{
    if (from < 0)
        return {};
    const qsizetype end = text.indexOf(delimiter, from);
    if (end < 0) {
        from = -1;
        return {};
    }
    const QStringView field = text.mid(from, end - from);
    from = end + 1;
    return field;
}

// Seconds as the row takes them: never negative, never past 32 bits.
quint32 Seconds(qint64 value)
{
    return quint32(std::clamp<qint64>(value, 0, std::numeric_limits<quint32>::max()));
}

} // namespace

qint64 CConversionProgress::ReadInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        // Saturate rather than overflow on a run of digits no converter prints.
        value = std::min<qint64>(value * 10 + (text[i].unicode() - u'0'), qint64(1) << 40);
    }
    return negative ? -value : value;
}

QList<CConversionProgress::Report> CConversionProgress::Feed(QStringView chunk)
{
    QList<Report> reports;
    if (const qsizetype at = chunk.indexOf(kDurationMarker); at >= 0) {
        qsizetype from = at + kDurationMarker.size();
        const qint64 hours = ReadInteger(Field(chunk, from, u':'));
        const qint64 minutes = ReadInteger(Field(chunk, from, u':'));
        const qint64 seconds = ReadInteger(Field(chunk, from, u','));
        m_duration = Seconds(hours * 3600 + minutes * 60 + seconds);
        reports.append({m_duration, 0});
    }
    reports.append({m_duration, m_position});
    if (const qsizetype at = chunk.indexOf(kTimeMarker); at >= 0) {
        qsizetype from = at + kTimeMarker.size();
        m_position = Seconds(ReadInteger(Field(chunk, from, u' ')));
    }
    return reports;
}
