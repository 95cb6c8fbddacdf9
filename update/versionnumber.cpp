#include "update/versionnumber.h"

#include <QList>

namespace {

bool IsSeparator(QChar c)
{
    return c == u'.' || c == u',';
}

// Leading white space, an optional sign, then digits; 0 without digits.
qint64 ReadInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    qint64 value = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i)
        value = std::min<qint64>(value * 10 + (text[i].unicode() - u'0'), qint64(1) << 31);
    return negative ? -value : value;
}

} // namespace

int VersionToNumber(QString text)
{
    // The tokenizer's rule: the position moves past a separator only when it is not at 0, so a
    // text that starts with a separator never leaves 0 and yields nothing but empty tokens.
    QList<QStringView> tokens;
    qsizetype position = 0;
    while (tokens.size() < 4) {
        if (position != 0)
            ++position;
        if (position >= text.size())
            break;
        qsizetype end = position;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        tokens << QStringView(text).mid(position, end - position);
        position = end;
    }
    static constexpr qint64 kPlaces[] = {1000, 100, 10, 1};
    qint64 number = 0;
    for (qsizetype i = 0; i < tokens.size(); ++i)
        number += kPlaces[i] * ReadInteger(tokens[i]);
    return int(quint32(number)); // the sum wraps as the 32-bit arithmetic it stands for
}
