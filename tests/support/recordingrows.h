#pragma once

#include "engine/jobrows.h"

#include <QStringList>

#include <mutex>

// Row operations that only write down what a job reported, in order, one line a report:
// "progress TOTAL RECEIVED", "completed", "queued", "converting TOTAL CURRENT", "converted",
// "failed REASON", "paused", "removed". Reports may come from any thread.
class CRecordingRows final : public CJobRows {
public:
    void ShowDownloadProgress(const CDownloadThread* job, quint64 total, quint64 received,
                              quint32 elapsedMs) override;
    void ShowDownloadCompleted(const CDownloadThread* job) override;
    void ShowConversionQueued(const CDownloadThread* job) override;
    void ShowConversionProgress(const CDownloadThread* job, quint32 total,
                                quint32 current) override;
    void ShowConversionCompleted(const CDownloadThread* job) override;
    void ShowFailed(const CDownloadThread* job, const QString& reason) override;
    void ShowPaused(const CDownloadThread* job) override;
    void RemoveJobRow(const CDownloadThread* job) override;

    QStringList Reports() const;
    // The reports with each run of the same kind written once: "progress", "completed", ...
    QStringList Kinds() const;
    // The elapsed times of the download progress reports, in order.
    QList<quint32> ElapsedTimes() const;

private:
    void Add(QString line);

    mutable std::mutex m_mutex;
    QStringList m_reports;
    QList<quint32> m_elapsed;
};
