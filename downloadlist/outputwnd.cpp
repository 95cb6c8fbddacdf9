#include "downloadlist/outputwnd.h"

#include "downloadlist/downloadrecord.h"

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
    connect(m_wndList, &COutputList::restartRequested, this, &COutputWnd::RestartRows);
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

void COutputWnd::RestartRows(const QList<int>& rows)
{
    for (const int row : rows) {
        CDownloadThread* job = m_pModel->JobOf(row);
        if (job) {
            if (!job->HasEnded())
                continue;
            // Its run has returned; the thread itself may take a moment more to finish.
            job->wait();
            job->PrepareRestart();
        } else {
            const CDownloadRecord record = m_pModel->RecordOf(row);
            if (record.url.isEmpty())
                continue;
            auto made = std::make_unique<CDownloadThread>();
            made->m_strUrl = record.url;
            made->m_strPath = record.path;
            made->m_bConvert = record.format != 0;
            made->m_nFormat = record.format;
            // What the row last showed is what the file held when the session ended.
            if (record.total && record.received) {
                made->m_nKept = *record.received;
                made->m_nKeptTotal = *record.total;
            }
            made->m_pOutputWnd = m_pModel;
            job = made.get();
            m_jobs.push_back(std::move(made));
            connect(job, &QThread::finished, this, &COutputWnd::ReleaseFinishedJobs,
                    Qt::QueuedConnection);
        }
        m_pModel->RestartRow(row, job);
        job->start();
    }
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
