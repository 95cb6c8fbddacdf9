#pragma once

#include <QString>

class CDownloadThread;

// The Download List's row operations as a job's worker sees them. Every operation may be
// called from any thread, writes only into the row whose job it names, and does nothing when
// that job has no row.
class CJobRows {
public:
    virtual ~CJobRows() = default;

    virtual void ShowDownloadProgress(const CDownloadThread* job, quint64 total, quint64 received,
                                      quint32 elapsedMs) = 0;
    virtual void ShowDownloadCompleted(const CDownloadThread* job) = 0;
    virtual void ShowConversionQueued(const CDownloadThread* job) = 0;
    virtual void ShowConversionProgress(const CDownloadThread* job, quint32 total,
                                        quint32 current) = 0;
    virtual void ShowConversionCompleted(const CDownloadThread* job) = 0;
    // The job could not finish what it set out to do; reason says why, naming what failed.
    virtual void ShowFailed(const CDownloadThread* job, const QString& reason) = 0;
    // The user paused the job's transfer; the row and the partial file stay.
    virtual void ShowPaused(const CDownloadThread* job) = 0;
    // Removes the row of a job whose transfer was cancelled.
    virtual void RemoveJobRow(const CDownloadThread* job) = 0;
};
