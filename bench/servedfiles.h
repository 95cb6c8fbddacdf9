#pragma once

#include <QString>
#include <QTemporaryDir>

// Files of pseudo-random content in a memory-backed folder (/dev/shm), made once per run for a
// local server to send: files of zeros, or sparse ones, read faster than real content does.
class CServedFiles final {
public:
    // Makes count files of bytes each, or fewer distinct ones (shared by the jobs in turn) when
    // the folder lacks the room while keeping reserveBytes free for what the benchmark writes.
    CServedFiles(int count, qint64 bytes, qint64 reserveBytes);
    CServedFiles(const CServedFiles&) = delete;
    CServedFiles& operator=(const CServedFiles&) = delete;

    // Empty when the files exist; else why they do not.
    QString Error() const { return m_error; }
    QString Folder() const { return m_dir.path(); }
    qint64 Bytes() const { return m_bytes; }
    int Distinct() const { return m_distinct; }
    // The name of the file the i-th job fetches.
    QString Name(int i) const;
    // Whether path holds exactly what the i-th job's file holds.
    bool SameAs(int i, const QString& path) const;

    // A memory-backed folder for inputs and outputs alike, so that no disk sets the pace.
    static QString MemoryFolder();
    // The bytes free in MemoryFolder().
    static qint64 FreeBytes();

private:
    QTemporaryDir m_dir;
    qint64 m_bytes = 0;
    int m_distinct = 0;
    QString m_error;
};
