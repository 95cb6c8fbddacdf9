// libFuzzer target for the version document: any bytes as the document the maker's server
// sends, decoded as the text client decodes it, read for its version, and that version and the
// bytes themselves made into version numbers. A crash or a sanitizer report is a finding.

#include "update/latestversion.h"
#include "update/versionnumber.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString document = bytes.contains("utf-8") || bytes.contains("UTF-8")
                                 ? QString::fromUtf8(bytes)
                                 : QString::fromLatin1(bytes);
    const QString version = VersionInDocument(document);
    // Only the first four components count: what follows the fourth cannot change the number.
    const int number = VersionToNumber(version);
    const bool fourComponents = version.count(u'.') + version.count(u',') >= 3;
    if (fourComponents && VersionToNumber(version + QStringLiteral(".9.9.9.9.9")) != number)
        std::abort();
    VersionToNumber(document);
    return 0;
}
