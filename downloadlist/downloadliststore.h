#pragma once

#include "downloadlist/downloadrecord.h"

#include <QList>
#include <QString>

// Keeps the finished and failed rows of the Download List in one JSON file between runs.
//
// The file: {"format": "quillmoor-download-list", "version": 1, "rows": [ROW...]}, a ROW being
// {"name", "path", "url": string, "format": 0..7, "status": 111|119|121, "percent"?: whole
// number, "total"?, "received"?: decimal string of an unsigned 64-bit count, "reason"?: string}.
// Byte counts are strings because a JSON number holds whole numbers exactly only up to 2^53.
//
// Reading is all or nothing: one bad row makes the whole file count as damaged, so the list
// shown is never a silently thinned one. A damaged or foreign file is renamed aside
// (downloads.json.damaged-YYYYMMDD-HHMMSS, never over an earlier one) for the user to look
// at, and the list starts empty.
class CDownloadListStore final {
    Q_DISABLE_COPY_MOVE(CDownloadListStore)

public:
    static constexpr const char* kFormat = "quillmoor-download-list";
    static constexpr int kVersion = 1;
    // A file larger than this is not read: a kept list is a few hundred bytes a row.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
    // Whole numbers that a JSON number holds exactly.
    static constexpr qint64 kMaxPercent = qint64(1) << 53;

    // downloads.json in the user's data folder for this application (organisation and name as
    // QCoreApplication has them), under $XDG_DATA_HOME when it is set.
    static QString DefaultPath();

    explicit CDownloadListStore(QString path = DefaultPath());

    QString Path() const { return m_path; }

    // The kept rows in their order. A missing file gives an empty list and no problem. A file
    // that cannot be read, is damaged or is not ours gives an empty list, is renamed aside,
    // and problem (when given) says why and where it went.
    QList<CDownloadRecord> Load(QString* problem = nullptr);

    // Replaces the file with records, atomically, creating its folder when missing. Refuses,
    // writing nothing, a record that Load would not take back (a running job's status, a
    // format out of range, no name or path). On failure error (when given) names the file and
    // the system's reason, and an earlier file is left as it was.
    bool Save(const QList<CDownloadRecord>& records, QString* error = nullptr);

    // Why Load would refuse record, or an empty string.
    static QString RecordProblem(const CDownloadRecord& record);

private:
    QString SetAside(const QString& why);

    QString m_path;
    // A damaged file that could not be renamed aside: Save must not replace it.
    bool m_damagedInPlace = false;
};
