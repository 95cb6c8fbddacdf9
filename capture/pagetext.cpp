#include "capture/pagetext.h"

#include "res/asciicase.h"

namespace {

struct HtmlEntity {
    QStringView named;
    QStringView decimal;
    QStringView hex;
    QChar replacement;
};

// Order matters: a later pass sees what earlier passes produced ("&amp;lt;" gives "<").
// Circumflex, tilde and no-break space decode to their plain ASCII look-alikes.
// clang-format off
constexpr HtmlEntity kHtmlEntityTable[] = {
    {u"&quot;", u"&#34;", u"&#x22;", u'"'},
    {u"&amp;", u"&#38;", u"&#x26;", u'&'},
    {u"&lt;", u"&#60;", u"&#x3C;", u'<'},
    {u"&gt;", u"&#62;", u"&#x3E;", u'>'},
    {u"&circ;", u"&#710;", u"&#x2C6;", u'^'},
    {u"&tilde;", u"&#732;", u"&#x2DC;", u'~'},
    {u"&nbsp;", u"&#160;", u"&#xA0;", u' '},
};
// clang-format on

bool IsTrimSpace(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0xFF)
        return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0xA0;
    return c.isSpace();
}

} // namespace

int ReplaceAll(QString& text, QStringView oldText, QStringView newText)
{
    if (oldText.isEmpty())
        return 0;
    qsizetype at = text.indexOf(oldText, 0, Qt::CaseSensitive);
    if (at < 0)
        return 0;

    QString out;
    out.reserve(text.size());
    qsizetype copied = 0;
    int count = 0;
    while (at >= 0) {
        out.append(QStringView(text).mid(copied, at - copied));
        out.append(newText);
        copied = at + oldText.size();
        ++count;
        at = text.indexOf(oldText, copied, Qt::CaseSensitive);
    }
    out.append(QStringView(text).mid(copied));
    text = std::move(out);
    return count;
}

int ExtractBetween(QString source, QString startMarker, QString endMarker, QString& result)
{
    result.clear();
    const qsizetype startAt = IndexOfIgnoringAsciiCase(source, startMarker);
    if (startAt < 0)
        return 0;
    const qsizetype valueAt = startAt + startMarker.size();
    const qsizetype endAt = IndexOfIgnoringAsciiCase(source, endMarker, valueAt);
    if (endAt < 0)
        return 0;

    result = source.mid(valueAt, endAt - valueAt);
    DecodeHtmlEntities(result);

    qsizetype last = result.size();
    while (last > 0 && IsTrimSpace(result.at(last - 1)))
        --last;
    qsizetype first = 0;
    while (first < last && IsTrimSpace(result.at(first)))
        ++first;
    result = result.mid(first, last - first);
    return int(result.size());
}

void DecodeHtmlEntities(QString& text)
{
    for (const HtmlEntity& entity : kHtmlEntityTable) {
        const QStringView replacement(&entity.replacement, 1);
        ReplaceAll(text, entity.named, replacement);
        ReplaceAll(text, entity.decimal, replacement);
        ReplaceAll(text, entity.hex, replacement);
    }
}

void RemoveFileNameChars(QString& text)
{
    for (const char16_t c : u"\\/:*?\"<>|") {
        if (c == 0)
            break;
        ReplaceAll(text, QStringView(&c, 1), {});
    }
}
