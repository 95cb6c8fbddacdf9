#pragma once

#include <QFile>
#include <QString>

#include <vector>

// Reads a ZIP archive and extracts its entries by index into a folder under their bare names.
// It unpacks a program that will run, so it trusts nothing in the archive: names cannot leave
// the folder, sizes are capped per entry and per archive, entries may not share data, and a
// file is replaced only once its copy checked out.
// Failures raise CZipException.
class CZipArchive final {
public:
    // No entry may inflate beyond this, whatever the archive declares.
    static constexpr qint64 kMaxEntrySize = qint64(512) * 1024 * 1024;
    // Nor may all entries together: entries that each stay under their cap still add up.
    static constexpr qint64 kMaxTotalSize = qint64(1) << 30;
    static constexpr qsizetype kBufferSize = 65536;

    // maxTotalSize replaces the archive's cap, so that tests can reach it without GiBs of data.
    explicit CZipArchive(qint64 maxTotalSize = kMaxTotalSize) : m_maxTotalSize(maxTotalSize) {}
    CZipArchive(const CZipArchive&) = delete;
    CZipArchive& operator=(const CZipArchive&) = delete;

    // Reads the central directory and every entry's local header; raises CZipException when
    // the file cannot be read, is not a ZIP archive, its directory is damaged, two entries'
    // data overlap, or the entries add up to more than the archive's cap.
    void Open(const QString& path);
    int GetCount() const { return int(m_entries.size()); }
    // Writes entry index into folder under its bare name, replacing a file of that name.
    // Folder entries are skipped. Returns true when a file was written.
    bool ExtractFile(int index, const QString& folder);
    void Close();

private:
    struct Entry {
        QByteArray name;
        quint16 flags = 0;
        quint16 method = 0;
        quint32 crc = 0;
        quint64 packedSize = 0;
        quint64 size = 0;
        quint64 localHeaderOffset = 0;
        qint64 dataOffset = 0;
        bool fromUnix = false;
        quint32 unixMode = 0;
    };

    void ReadCentralDirectory();
    void CheckLayout();
    QByteArray ReadAt(qint64 offset, qint64 size);
    static QString BareName(const QByteArray& name);
    static bool IsFolder(const Entry& entry);

    qint64 m_maxTotalSize = kMaxTotalSize;
    QFile m_file;
    qint64 m_centralDirectoryOffset = 0;
    std::vector<Entry> m_entries;
};
