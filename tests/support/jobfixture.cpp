#include "tests/support/jobfixture.h"

#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"

#include <QFile>
#include <QFileInfo>

std::unique_ptr<CDownloadThread> MakeJob(const QString& url, const QString& path, int format,
                                         const QString& converterFolder)
{
    auto job = std::make_unique<CDownloadThread>();
    job->m_strUrl = url;
    job->m_strPath = path;
    job->m_bConvert = format != 0;
    job->m_nFormat = format;
    if (!converterFolder.isEmpty())
        job->m_strConverterFolder = converterFolder;
    return job;
}

QPointer<CDownloadThread> StartJob(COutputWnd& pane, std::unique_ptr<CDownloadThread> job)
{
    const QString path = job->m_strPath;
    return pane.StartJob(std::move(job), QFileInfo(path).fileName(), path);
}

QPointer<CDownloadThread> StartJob(COutputWnd& pane, const QString& url, const QString& path,
                                   int format, const QString& converterFolder)
{
    return StartJob(pane, MakeJob(url, path, format, converterFolder));
}

void StartJob(CDownloadListModel& rows, CDownloadThread& job)
{
    job.m_pOutputWnd = &rows;
    rows.AddJobRow(&job, QFileInfo(job.m_strPath).fileName(), job.m_strPath);
    job.start();
}

QStringList JobCells(const CDownloadListModel& rows, const CDownloadThread* job)
{
    const int row = rows.FindJobRow(job);
    QStringList cells;
    for (int c = CDownloadListModel::Status; c <= CDownloadListModel::Speed; ++c)
        cells << rows.CellText(row, c);
    return cells;
}

QStringList JobCells(const COutputWnd& pane, const CDownloadThread* job)
{
    return JobCells(*pane.Rows(), job);
}

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
