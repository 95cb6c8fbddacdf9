#include "res/asciicase.h"

namespace {

char16_t FoldChar(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

} // namespace

QString FoldAsciiCase(QString text)
{
    for (QChar& c : text)
        c = QChar(FoldChar(c.unicode()));
    return text;
}

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
