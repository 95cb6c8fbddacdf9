#include "update/fileversioninfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QtEndian>

#include <cstring>
#include <optional>

namespace {

// Reads a T at offset of file, only when all of it lies inside the file.
template <typename T>
bool ReadAt(QIODevice& file, quint64 offset, T& value)
{
    const qint64 size = file.size();
    if (size < 0 || offset > quint64(size) || sizeof(T) > quint64(size) - offset ||
        !file.seek(qint64(offset)))
        return false;
    return file.read(reinterpret_cast<char*>(&value), sizeof(T)) == qint64(sizeof(T));
}

struct Section {
    quint32 nameOffset = 0;
    quint64 offset = 0;
    quint64 size = 0;
};

// Where the named section of a 64-bit little-endian ELF file lies, read from the file's header
// and section headers alone; nothing when it has none or they do not fit in the file.
std::optional<Section> FindElfSection(QIODevice& file, const char* name)
{
    char ident[6] = {};
    if (!ReadAt(file, 0, ident) ||
        std::memcmp(ident,
                    "\x7f"
                    "ELF",
                    4) != 0 ||
        file.size() < 64 || ident[4] != 2 || ident[5] != 1)
        return {};
    const quint64 fileSize = quint64(file.size());
    quint64 sectionTable = 0;
    quint16 entrySize = 0, count = 0, namesIndex = 0;
    if (!ReadAt(file, 0x28, sectionTable) || !ReadAt(file, 0x3A, entrySize) ||
        !ReadAt(file, 0x3C, count) || !ReadAt(file, 0x3E, namesIndex) || entrySize < 64 ||
        namesIndex >= count)
        return {};
    sectionTable = qFromLittleEndian(sectionTable);
    entrySize = qFromLittleEndian(entrySize);
    count = qFromLittleEndian(count);
    namesIndex = qFromLittleEndian(namesIndex);
    const auto header = [&](quint16 index) -> std::optional<Section> {
        // Unsigned and checked against the file first: a table offset near the top of the range
        // must not wrap round.
        if (sectionTable > fileSize)
            return {};
        const quint64 at = sectionTable + quint64(index) * entrySize;
        Section section;
        if (!ReadAt(file, at, section.nameOffset) || !ReadAt(file, at + 0x18, section.offset) ||
            !ReadAt(file, at + 0x20, section.size))
            return {};
        section.nameOffset = qFromLittleEndian(section.nameOffset);
        section.offset = qFromLittleEndian(section.offset);
        section.size = qFromLittleEndian(section.size);
        if (section.offset > fileSize || section.size > fileSize - section.offset)
            return {};
        return section;
    };
    const std::optional<Section> names = header(namesIndex);
    if (!names)
        return {};
    const size_t nameSize = std::strlen(name) + 1; // with its terminating zero
    for (quint16 i = 0; i < count; ++i) {
        const std::optional<Section> section = header(i);
        // The name and its terminating zero, read alone and only inside the name table.
        if (!section || section->nameOffset >= names->size ||
            nameSize > names->size - section->nameOffset)
            continue;
        QByteArray text(qsizetype(nameSize), '\0');
        if (file.seek(qint64(names->offset + section->nameOffset)) &&
            file.read(text.data(), text.size()) == text.size() &&
            std::memcmp(text.constData(), name, nameSize) == 0)
            return section;
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
    // Unbuffered: the reads are a few small ones at their own offsets.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    return Create(file);
}

bool CFileVersionInfo::Create(QIODevice& file)
{
    Reset();
    if (!file.isOpen() || file.isSequential())
        return false;
    const std::optional<Section> record = FindElfSection(file, kSectionName);
    quint32 translationBytes = 0;
    if (!record || record->size < sizeof(FixedFileInfo) + 4 ||
        !ReadAt(file, record->offset, m_fixed) || m_fixed.dwSignature != kSignature ||
        !ReadAt(file, record->offset + sizeof(FixedFileInfo), translationBytes) ||
        translationBytes < 4 ||
        sizeof(FixedFileInfo) + 4 + quint64(translationBytes) > record->size) {
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
    return QString::asprintf("%d.%d.%d.%d", int(fixed.dwFileVersionMS >> 16),
                             int(fixed.dwFileVersionMS & 0xFFFF), int(fixed.dwFileVersionLS >> 16),
                             int(fixed.dwFileVersionLS & 0xFFFF));
}
