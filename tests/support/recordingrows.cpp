#include "tests/support/recordingrows.h"

void CRecordingRows::Add(QString line)
{
    std::lock_guard lock(m_mutex);
    m_reports << std::move(line);
}

void CRecordingRows::ShowDownloadProgress(const CDownloadThread*, quint64 total, quint64 received,
                                          quint32 elapsedMs)
{
    {
        std::lock_guard lock(m_mutex);
        m_elapsed << elapsedMs;
    }
    Add(QStringLiteral("progress %1 %2").arg(total).arg(received));
}

void CRecordingRows::ShowDownloadCompleted(const CDownloadThread*)
{
    Add(QStringLiteral("completed"));
}

void CRecordingRows::ShowConversionQueued(const CDownloadThread*)
{
    Add(QStringLiteral("queued"));
}

void CRecordingRows::ShowConversionProgress(const CDownloadThread*, quint32 total, quint32 current)
{
    Add(QStringLiteral("converting %1 %2").arg(total).arg(current));
}

void CRecordingRows::ShowConversionCompleted(const CDownloadThread*)
{
    Add(QStringLiteral("converted"));
}

void CRecordingRows::ShowFailed(const CDownloadThread*, const QString& reason)
{
    Add(QStringLiteral("failed ") + reason);
}

void CRecordingRows::ShowPaused(const CDownloadThread*)
{
    Add(QStringLiteral("paused"));
}

void CRecordingRows::RemoveJobRow(const CDownloadThread*)
{
    Add(QStringLiteral("removed"));
}

QStringList CRecordingRows::Reports() const
{
    std::lock_guard lock(m_mutex);
    return m_reports;
}

QStringList CRecordingRows::Kinds() const
{
    QStringList kinds;
    for (const QString& report : Reports()) {
        const QString kind = report.section(u' ', 0, 0);
        if (kinds.isEmpty() || kinds.constLast() != kind)
            kinds << kind;
    }
    return kinds;
}

QList<quint32> CRecordingRows::ElapsedTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_elapsed;
}
