// libFuzzer target for the page text utilities: any bytes as a page's text (UTF-8), read with
// the video site's markers as Download Video reads it, and decoded and cleaned whole. A crash,
// a sanitizer report, a broken promise of the utilities or a value other than the one found
// the plain way (in copies with A to Z folded) is a finding.

#include "capture/pagetext.h"
#include "capture/videosite.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool promise)
{
    if (!promise)
        std::abort();
}

bool IsTrimSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u <= 0xFF ? (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0xA0 : c.isSpace();
}

bool HasFileNameChar(const QString& text)
{
    for (const QChar c : text) {
        if (QStringView(u"\\/:*?\"<>|").contains(c))
            return true;
    }
    return false;
}

QString Folded(QString text)
{
    for (QChar& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return text;
}

// Folding keeps positions, so the markers found in folded copies stand at the same places.
QString PlainExtract(const QString& page, const QString& start, const QString& end)
{
    const QString folded = Folded(page);
    const qsizetype startAt = folded.indexOf(Folded(start));
    if (startAt < 0)
        return {};
    const qsizetype valueAt = startAt + start.size();
    const qsizetype endAt = folded.indexOf(Folded(end), valueAt);
    if (endAt < 0)
        return {};
    QString value = page.mid(valueAt, endAt - valueAt);
    DecodeHtmlEntities(value);
    qsizetype last = value.size();
    while (last > 0 && IsTrimSpace(value.at(last - 1)))
        --last;
    qsizetype first = 0;
    while (first < last && IsTrimSpace(value.at(first)))
        ++first;
    return value.mid(first, last - first);
}

void Extract(const QString& page, const char16_t* start, const char16_t* end, QString& value)
{
    value = QStringLiteral("stale");
    const int length =
        ExtractBetween(page, QString::fromUtf16(start), QString::fromUtf16(end), value);
    Check(length == value.size());
    // Decoding only shortens the text between the markers.
    Check(value.size() <= page.size());
    Check(value.isEmpty() || (!IsTrimSpace(value.front()) && !IsTrimSpace(value.back())));
    Check(value == PlainExtract(page, QString::fromUtf16(start), QString::fromUtf16(end)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString before = page;

    QString videoId;
    QString token;
    QString title;
    Extract(page, VideoSite::kVideoIdStart, VideoSite::kValueEnd, videoId);
    Extract(page, VideoSite::kTokenStart, VideoSite::kValueEnd, token);
    Extract(page, VideoSite::kTitleStart, VideoSite::kTitleEnd, title);
    Check(page == before);
    RemoveFileNameChars(title);
    Check(!HasFileNameChar(title));

    QString decoded = page;
    DecodeHtmlEntities(decoded);
    Check(decoded.size() <= page.size());
    RemoveFileNameChars(decoded);
    Check(!HasFileNameChar(decoded));
    return 0;
}
