#include "update/fileversioninfo.h"

#include <QCoreApplication>
#include <QFile>

#include <cstring>

namespace {

template <typename T>
bool Read(QByteArrayView bytes, qint64 offset, T& value)
{
    if (offset < 0 || offset > bytes.size() || qint64(sizeof(T)) > bytes.size() - offset)
        return false;
    std::memcpy(&value, bytes.sliced(offset, sizeof(T)).data(), sizeof(T));
    return true;
}

// The contents of the named section of a 64-bit little-endian ELF file, or nothing.
QByteArray ElfSection(const QByteArray& file, const char* name)
{
    if (!file.startsWith("\x7f" "ELF") || file.size() < 64 || file[4] != 2 || file[5] != 1)
        return {};
    quint64 sectionTable = 0;
    quint16 entrySize = 0, count = 0, namesIndex = 0;
    if (!Read(file, 0x28, sectionTable) || !Read(file, 0x3A, entrySize) || !Read(file, 0x3C, count) ||
        !Read(file, 0x3E, namesIndex) || entrySize < 64 || namesIndex >= count)
        return {};
    const auto section = [&](quint16 index, quint32& nameOffset, quint64& offset, quint64& size) {
        const qint64 at = qint64(sectionTable) + qint64(index) * entrySize;
        return Read(file, at, nameOffset) && Read(file, at + 0x18, offset) && Read(file, at + 0x20, size) &&
               offset <= quint64(file.size()) && size <= quint64(file.size()) - offset;
    };
    quint32 unused = 0;
    quint64 namesOffset = 0, namesSize = 0;
    if (!section(namesIndex, unused, namesOffset, namesSize))
        return {};
    const QByteArray names = file.mid(qint64(namesOffset), qint64(namesSize));
    for (quint16 i = 0; i < count; ++i) {
        quint32 nameOffset = 0;
        quint64 offset = 0, size = 0;
        if (!section(i, nameOffset, offset, size) || nameOffset >= quint32(names.size()))
            continue;
        if (std::strncmp(names.constData() + nameOffset, name, size_t(names.size()) - nameOffset) == 0)
            return file.mid(qint64(offset), qint64(size));
    }
    return {};
}

} // namespace

void CFileVersionInfo::Reset()
{
    m_fixed = {};
    m_nTranslationCount = 0;
    m_bValid = false;
}

bool CFileVersionInfo::Create(const QString& path)
{
    Reset();
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray record = ElfSection(file.readAll(), kSectionName);
    quint32 translationBytes = 0;
    if (!Read(record, 0, m_fixed) || m_fixed.dwSignature != kSignature ||
        !Read(record, sizeof(FixedFileInfo), translationBytes) || translationBytes < 4 ||
        qint64(sizeof(FixedFileInfo) + 4 + translationBytes) > record.size()) {
        Reset();
        return false;
    }
    m_nTranslationCount = int(translationBytes / 4);
    m_bValid = true;
    return true;
}

QString GetModuleVersionString()
{
    CFileVersionInfo info;
    if (!info.Create(QCoreApplication::applicationFilePath()))
        return {};
    const auto& fixed = info.GetFixedFileInfo();
    return QString::asprintf("%d.%d.%d.%d", int(fixed.dwFileVersionMS >> 16), int(fixed.dwFileVersionMS & 0xFFFF),
                             int(fixed.dwFileVersionLS >> 16), int(fixed.dwFileVersionLS & 0xFFFF));
}
