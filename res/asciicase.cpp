#include "res/asciicase.h"

namespace {

char16_t FoldChar(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

} // namespace

bool EqualsIgnoringAsciiCase(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i].unicode()) != FoldChar(b[i].unicode()))
            return false;
    }
    return true;
}

qsizetype IndexOfIgnoringAsciiCase(QStringView text, QStringView needle, qsizetype from)
{
    if (from < 0 || from > text.size())
        return -1;
    if (needle.isEmpty())
        return from;
    // No folded copy of the text: a video page may run to megabytes, and is searched three times.
    const char16_t first = FoldChar(needle[0].unicode());
    const qsizetype last = text.size() - needle.size();
    for (qsizetype i = from; i <= last; ++i) {
        if (FoldChar(text[i].unicode()) == first &&
            EqualsIgnoringAsciiCase(text.sliced(i, needle.size()), needle))
            return i;
    }
    return -1;
}
