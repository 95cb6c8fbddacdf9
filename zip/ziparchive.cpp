#include "zip/ziparchive.h"

#include "zip/zipexception.h"

#include <QSaveFile>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kMaxCommentSize = 0xFFFF;
constexpr qint64 kCentralHeaderSize = 46;
constexpr qint64 kLocalHeaderSize = 30;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflated = 8;
constexpr quint16 kEncrypted = 0x0001;
constexpr quint8 kUnixHost = 3;

quint16 U16(const char* p)
{
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}

quint32 U32(const char* p)
{
    return quint32(U16(p)) | quint32(U16(p + 2)) << 16;
}

[[noreturn]] void Fail(const char* description)
{
    throw CZipException(QString::fromLatin1(description));
}

} // namespace

void CZipArchive::Open(const QString& path)
{
    Close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        throw CZipException(QStringLiteral("Cannot open %1: %2").arg(path, m_file.errorString()));
    try {
        ReadCentralDirectory();
    } catch (...) {
        Close();
        throw;
    }
}

void CZipArchive::Close()
{
    m_file.close();
    m_entries.clear();
    m_centralDirectoryOffset = 0;
}

QByteArray CZipArchive::ReadAt(qint64 offset, qint64 size)
{
    if (offset < 0 || size < 0 || offset > m_file.size() || size > m_file.size() - offset ||
        !m_file.seek(offset))
        Fail(CZipException::kDamaged);
    QByteArray bytes = m_file.read(size);
    if (bytes.size() != size)
        Fail(CZipException::kDamaged);
    return bytes;
}

void CZipArchive::ReadCentralDirectory()
{
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    const qint64 fileSize = m_file.size();
    if (fileSize < kEndRecordSize)
        Fail(CZipException::kDamaged);
    const qint64 tailSize = std::min(fileSize, kEndRecordSize + kMaxCommentSize);
    const QByteArray tail = ReadAt(fileSize - tailSize, tailSize);
    qint64 end = -1;
    for (qint64 i = tailSize - kEndRecordSize; i >= 0; --i) {
        const char* p = tail.constData() + i;
        if (U32(p) == kEndOfDirectory && i + kEndRecordSize + U16(p + 20) == tailSize) {
            end = i;
            break;
        }
    }
    if (end < 0)
        Fail(CZipException::kDamaged);
    const char* record = tail.constData() + end;
    const qint64 endOffset = fileSize - tailSize + end;
    if (end >= 20 && U32(record - 20) == kZip64Locator)
        Fail("ZIP64 archives are not supported");
    const quint16 disk = U16(record + 4);
    const quint16 directoryDisk = U16(record + 6);
    const quint16 entriesHere = U16(record + 8);
    const quint16 entries = U16(record + 10);
    const quint32 directorySize = U32(record + 12);
    const quint32 directoryOffset = U32(record + 16);
    if (entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        Fail("ZIP64 archives are not supported");
    if (disk != 0 || directoryDisk != 0 || entriesHere != entries)
        Fail("Archives in several parts are not supported");
    if (qint64(directoryOffset) + directorySize > endOffset)
        Fail(CZipException::kDamaged);

    const QByteArray directory = ReadAt(directoryOffset, directorySize);
    m_centralDirectoryOffset = directoryOffset;
    qint64 at = 0;
    m_entries.reserve(entries);
    for (int i = 0; i < entries; ++i) {
        if (at + kCentralHeaderSize > directory.size())
            Fail(CZipException::kDamaged);
        const char* p = directory.constData() + at;
        if (U32(p) != kCentralHeader)
            Fail(CZipException::kDamaged);
        Entry entry;
        const quint8 host = quint8(p[5]);
        entry.flags = U16(p + 8);
        entry.method = U16(p + 10);
        entry.crc = U32(p + 16);
        entry.packedSize = U32(p + 20);
        entry.size = U32(p + 24);
        const quint16 nameSize = U16(p + 28);
        const quint16 extraSize = U16(p + 30);
        const quint16 commentSize = U16(p + 32);
        const quint32 externalAttributes = U32(p + 38);
        entry.localHeaderOffset = U32(p + 42);
        if (entry.packedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF ||
            entry.localHeaderOffset == 0xFFFFFFFF)
            Fail("ZIP64 archives are not supported");
        const qint64 next = at + kCentralHeaderSize + nameSize + extraSize + commentSize;
        if (next > directory.size())
            Fail(CZipException::kDamaged);
        entry.name = directory.mid(at + kCentralHeaderSize, nameSize);
        entry.fromUnix = host == kUnixHost;
        entry.unixMode = externalAttributes >> 16;
        m_entries.push_back(std::move(entry));
        at = next;
    }
    CheckLayout();
}

bool CZipArchive::IsFolder(const Entry& entry)
{
    return entry.name.endsWith('/') || entry.name.endsWith('\\');
}

// No entry inflates past its declared size, so the declared sizes bound what the archive can
// write, but only while each entry has data of its own: names that point into one stream
// unpack it again under each name.
void CZipArchive::CheckLayout()
{
    std::vector<size_t> order(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        Entry& entry = m_entries[i];
        const QByteArray local = ReadAt(qint64(entry.localHeaderOffset), kLocalHeaderSize);
        if (U32(local.constData()) != kLocalHeader)
            Fail(CZipException::kDamaged);
        entry.dataOffset = qint64(entry.localHeaderOffset) + kLocalHeaderSize +
                           U16(local.constData() + 26) + U16(local.constData() + 28);
        if (entry.dataOffset + qint64(entry.packedSize) > m_centralDirectoryOffset)
            Fail(CZipException::kDamaged);
        order[i] = i;
    }
    // Each entry spans its local header and its data; a data descriptor behind the data holds
    // nothing that unpacks.
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return m_entries[a].localHeaderOffset < m_entries[b].localHeaderOffset;
    });
    for (size_t i = 1; i < order.size(); ++i) {
        const Entry& before = m_entries[order[i - 1]];
        const Entry& after = m_entries[order[i]];
        if (before.dataOffset + qint64(before.packedSize) > qint64(after.localHeaderOffset))
            throw CZipException(
                QStringLiteral("Entries %1 and %2 overlap in zip file")
                    .arg(QString::fromUtf8(before.name), QString::fromUtf8(after.name)));
    }

    quint64 total = 0;
    for (const Entry& entry : m_entries) {
        if (!IsFolder(entry))
            total += entry.size;
    }
    if (total > quint64(m_maxTotalSize))
        throw CZipException(QStringLiteral("Zip file unpacks to %1 bytes, more than the %2 allowed")
                                .arg(total)
                                .arg(m_maxTotalSize));
}

QString CZipArchive::BareName(const QByteArray& name)
{
    const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    const QByteArray bare = name.mid(slash + 1);
    if (bare.isEmpty() || bare == "." || bare == ".." || bare.contains('\0'))
        Fail("Unsafe file name in zip file");
    return QString::fromUtf8(bare);
}

bool CZipArchive::ExtractFile(int index, const QString& folder)
{
    if (index < 0 || index >= GetCount() || !m_file.isOpen())
        Fail("No such entry in zip file");
    const Entry& entry = m_entries[size_t(index)];
    if (IsFolder(entry))
        return false; // a folder: everything lands directly in the target folder
    const QString name = BareName(entry.name);
    if (entry.flags & kEncrypted)
        Fail("Encrypted entries are not supported");
    if (entry.method != kStored && entry.method != kDeflated)
        Fail("Unsupported compression method");
    if (qint64(entry.size) > kMaxEntrySize)
        Fail("Entry too large");

    if (entry.method == kStored && entry.packedSize != entry.size)
        Fail(CZipException::kDamaged);

    // The old file is replaced only after the new one was written whole and its CRC matched.
    QSaveFile out(folder + u'/' + name);
    if (!out.open(QIODevice::WriteOnly))
        throw CZipException(
            QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
    if (!m_file.seek(entry.dataOffset))
        Fail(CZipException::kDamaged);

    z_stream stream{};
    if (entry.method == kDeflated && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        Fail("Out of memory");
    struct InflateEnd {
        z_stream* s;
        bool active;
        ~InflateEnd()
        {
            if (active)
                inflateEnd(s);
        }
    } inflateEnd{&stream, entry.method == kDeflated};

    QByteArray in(kBufferSize, Qt::Uninitialized);
    QByteArray buffer(kBufferSize, Qt::Uninitialized);
    quint64 left = entry.packedSize;
    quint64 written = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool streamEnded = entry.method == kStored;
    const auto take = [&](const char* data, quint64 size) {
        written += size;
        if (written > entry.size)
            Fail(CZipException::kDamaged); // inflates beyond what the archive declares
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(size));
        if (out.write(data, qint64(size)) != qint64(size))
            throw CZipException(
                QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
    };
    while (left > 0) {
        const qint64 want = qint64(std::min<quint64>(left, quint64(in.size())));
        if (m_file.read(in.data(), want) != want)
            Fail(CZipException::kDamaged);
        left -= quint64(want);
        if (entry.method == kStored) {
            take(in.constData(), quint64(want));
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = uInt(want);
        while (stream.avail_in > 0 && !streamEnded) {
            stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            stream.avail_out = uInt(buffer.size());
            const int status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                Fail(CZipException::kDamaged);
            take(buffer.constData(), quint64(buffer.size()) - stream.avail_out);
            streamEnded = status == Z_STREAM_END;
            if (status == Z_BUF_ERROR && stream.avail_out != 0)
                break;
        }
    }
    // Data that was all read may still hold output.
    while (!streamEnded && entry.method == kDeflated) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        const int status = inflate(&stream, Z_FINISH);
        if (status != Z_STREAM_END && status != Z_BUF_ERROR && status != Z_OK)
            Fail(CZipException::kDamaged);
        const quint64 produced = quint64(buffer.size()) - stream.avail_out;
        take(buffer.constData(), produced);
        streamEnded = status == Z_STREAM_END;
        if (!streamEnded && produced == 0)
            Fail(CZipException::kDamaged);
    }
    if (written != entry.size)
        Fail(CZipException::kDamaged);
    if (crc != entry.crc)
        Fail(CZipException::kCrcMismatch);

    // Keep the owner's execute bit that a Unix zipper recorded; set-user-id and the like never.
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (entry.fromUnix && (entry.unixMode & 0100))
        permissions |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    out.setPermissions(permissions);
    if (!out.commit())
        throw CZipException(
            QStringLiteral("Cannot write %1: %2").arg(out.fileName(), out.errorString()));
    return true;
}
