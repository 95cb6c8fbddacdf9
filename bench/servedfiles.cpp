#include "bench/servedfiles.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <vector>

#include <sys/statvfs.h>

namespace {

constexpr qint64 kBlock = 1024 * 1024;

// SplitMix64: fast, and every seed gives a stream of its own.
quint64 Next(quint64& state)
{
    quint64 z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

} // namespace

QString CServedFiles::MemoryFolder()
{
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                     : QDir::tempPath();
}

qint64 CServedFiles::FreeBytes()
{
    struct statvfs fs {};
    if (statvfs(QFile::encodeName(MemoryFolder()).constData(), &fs) != 0)
        return 0;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

CServedFiles::CServedFiles(int count, qint64 bytes, qint64 reserveBytes)
    : m_dir(MemoryFolder() + QStringLiteral("/quillmoor-bench-in-XXXXXX")), m_bytes(bytes)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot make a folder in %1").arg(MemoryFolder());
        return;
    }
    // The server's workers may run as another user (nginx started as root drops to nobody).
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    const qint64 room = FreeBytes() - reserveBytes;
    m_distinct = int(std::clamp<qint64>(room / bytes, 0, count));
    if (m_distinct == 0) {
        m_error = QStringLiteral("%1 has no room for one file of %2 bytes besides %3 for output")
                      .arg(MemoryFolder())
                      .arg(bytes)
                      .arg(reserveBytes);
        return;
    }
    std::vector<quint64> block(kBlock / sizeof(quint64));
    for (int i = 0; i < m_distinct; ++i) {
        QFile file(m_dir.filePath(Name(i)));
        if (!file.open(QIODevice::WriteOnly)) {
            m_error = file.fileName() + QStringLiteral(": ") + file.errorString();
            return;
        }
        quint64 state = quint64(i) + 1;
        for (qint64 left = bytes; left > 0; left -= kBlock) {
            for (quint64& word : block)
                word = Next(state);
            const qint64 n = std::min(left, kBlock);
            if (file.write(reinterpret_cast<const char*>(block.data()), n) != n) {
                m_error = file.fileName() + QStringLiteral(": ") + file.errorString();
                return;
            }
        }
    }
}

QString CServedFiles::Name(int i) const
{
    return QStringLiteral("file%1.flv")
        .arg(m_distinct > 0 ? i % m_distinct : i, 2, 10, QChar(u'0'));
}

bool CServedFiles::SameAs(int i, const QString& path) const
{
    QFile served(m_dir.filePath(Name(i)));
    QFile written(path);
    if (!served.open(QIODevice::ReadOnly) || !written.open(QIODevice::ReadOnly) ||
        served.size() != written.size())
        return false;
    if (served.size() == 0)
        return true;
    const uchar* a = served.map(0, served.size());
    const uchar* b = written.map(0, written.size());
    return a && b && std::memcmp(a, b, size_t(served.size())) == 0;
}
