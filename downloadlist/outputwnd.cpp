#include "downloadlist/outputwnd.h"

#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputlist.h"
#include "engine/downloadthread.h"
#include "res/stringtable.h"

#include <QTabWidget>

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget(parent)
{
    setObjectName(QStringLiteral("DownloadList"));
    m_pModel = new CDownloadListModel(this);
    m_wndTabs = new QTabWidget(this);
    m_wndTabs->setTabPosition(QTabWidget::South);
    m_wndTabs->setDocumentMode(true);
    m_wndList = new COutputList(m_wndTabs);
    m_wndList->SetRows(m_pModel);
    m_wndTabs->addTab(m_wndList, LoadResString(IDS_DOWNLOAD_TAB));
    setWidget(m_wndTabs);

    connect(m_pModel, &CDownloadListModel::jobRowsRemoved, this, &COutputWnd::ReleaseFinishedJobs);
}

COutputWnd::~COutputWnd()
{
    // Workers report into this pane; none may run once it is gone.
    for (const auto& job : m_jobs)
        job->RequestStop();
    for (const auto& job : m_jobs)
        job->wait();
    m_jobs.clear();
}

int COutputWnd::FindJobRow(const CDownloadThread* job) const
{
    return m_pModel->FindJobRow(job);
}

void COutputWnd::AddJobRow(CDownloadThread* job, const QString& name, const QString& fullPath)
{
    m_pModel->AddJobRow(job, name, fullPath);
}

bool COutputWnd::IsPathListed(const QString& path) const
{
    return m_pModel->IsPathListed(path);
}

CDownloadThread* COutputWnd::StartJob(std::unique_ptr<CDownloadThread> job, const QString& name,
                                      const QString& fullPath)
{
    CDownloadThread* started = job.get();
    m_jobs.push_back(std::move(job));
    AddJobRow(started, name, fullPath);
    connect(started, &QThread::finished, this, &COutputWnd::ReleaseFinishedJobs,
            Qt::QueuedConnection);
    started->start();
    return started;
}

std::vector<const CDownloadThread*> COutputWnd::Jobs() const
{
    std::vector<const CDownloadThread*> jobs;
    for (const auto& job : m_jobs)
        jobs.push_back(job.get());
    return jobs;
}

void COutputWnd::CancelAll()
{
    m_wndList->CancelActiveDownloads();
}

void COutputWnd::ReleaseFinishedJobs()
{
    std::erase_if(m_jobs, [this](const std::unique_ptr<CDownloadThread>& job) {
        return job->HasEnded() && m_pModel->FindJobRow(job.get()) < 0;
    });
}

void COutputWnd::ShowDownloadProgress(const CDownloadThread* job, quint64 total, quint64 received,
                                      quint32 elapsedMs)
{
    m_pModel->ShowDownloadProgress(job, total, received, elapsedMs);
}

void COutputWnd::ShowDownloadCompleted(const CDownloadThread* job)
{
    m_pModel->ShowDownloadCompleted(job);
}

void COutputWnd::ShowConversionQueued(const CDownloadThread* job)
{
    m_pModel->ShowConversionQueued(job);
}

void COutputWnd::ShowConversionProgress(const CDownloadThread* job, quint32 total, quint32 current)
{
    m_pModel->ShowConversionProgress(job, total, current);
}

void COutputWnd::ShowConversionCompleted(const CDownloadThread* job)
{
    m_pModel->ShowConversionCompleted(job);
}

void COutputWnd::ShowFailed(const CDownloadThread* job)
{
    m_pModel->ShowFailed(job);
}

void COutputWnd::RemoveJobRow(const CDownloadThread* job)
{
    m_pModel->RemoveJobRow(job);
}
