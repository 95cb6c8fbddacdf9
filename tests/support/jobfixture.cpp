#include "tests/support/jobfixture.h"

#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"

#include <QFile>
#include <QFileInfo>

QPointer<CDownloadThread> StartJob(COutputWnd& pane, const QString& url, const QString& path,
                                   int format, const QString& converterFolder)
{
    auto job = std::make_unique<CDownloadThread>();
    job->m_strUrl = url;
    job->m_strPath = path;
    job->m_pOutputWnd = &pane;
    job->m_bConvert = format != 0;
    job->m_nFormat = format;
    if (!converterFolder.isEmpty())
        job->m_strConverterFolder = converterFolder;
    return pane.StartJob(std::move(job), QFileInfo(path).fileName(), path);
}

QStringList JobCells(const COutputWnd& pane, const CDownloadThread* job)
{
    const int row = pane.FindJobRow(job);
    QStringList cells;
    for (int c = CDownloadListModel::Status; c <= CDownloadListModel::Speed; ++c)
        cells << pane.Rows()->CellText(row, c);
    return cells;
}

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
