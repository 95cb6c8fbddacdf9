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

CDownloadThread* COutputWnd::StartJob(std::unique_ptr<CDownloadThread> job, const QString& name,
                                      const QString& fullPath)
{
    CDownloadThread* started = job.get();
    started->m_pOutputWnd = m_pModel;
    m_jobs.push_back(std::move(job));
    m_pModel->AddJobRow(started, name, fullPath);
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
