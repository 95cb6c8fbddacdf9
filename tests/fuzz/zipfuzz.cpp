// libFuzzer target for the ZIP reader: any bytes as an archive, every entry extracted into a
// scratch folder. A crash, a sanitizer report or a file outside the folder is a finding.

#include "zip/ziparchive.h"
#include "zip/zipexception.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir scratch;
    const QString archive = scratch.filePath(QStringLiteral("input.zip"));
    const QString target = scratch.filePath(QStringLiteral("program"));
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    try {
        CZipArchive zip;
        zip.Open(archive);
        for (int i = 0; i < zip.GetCount(); ++i) {
            try {
                zip.ExtractFile(i, target);
            } catch (const CZipException&) {
            }
        }
    } catch (const CZipException&) {
    }
    // Only the archive and the target folder's own files may exist.
    QDirIterator it(scratch.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != archive && path != target && QFileInfo(path).path() != target)
            std::abort();
    }
    return 0;
}
