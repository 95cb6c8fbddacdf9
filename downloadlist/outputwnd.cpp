#include "downloadlist/outputwnd.h"

#include "controls/desktopnotifier.h"
#include "controls/shelllayer.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/downloadliststore.h"
#include "downloadlist/outputlist.h"
#include "engine/downloadthread.h"
#include "res/stringtable.h"

#include <QPointer>
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

    connect(m_pModel, &CDownloadListModel::jobRowsRemoved, this, [this] {
        ReleaseFinishedJobs();
        ScheduleSave();
    });
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &COutputWnd::SaveList);
    connect(m_wndList, &COutputList::restartRequested, this, &COutputWnd::RestartRows);
}

COutputWnd::~COutputWnd()
{
    // Workers report into this pane; none may run once it is gone.
    for (const auto& job : m_jobs)
        job->RequestStop();
    for (const auto& job : m_jobs)
        job->wait();
    // A save still waiting, or a job that ended just now and was not heard of yet.
    SaveList();
    m_jobs.clear();
}

void COutputWnd::KeepListIn(const QString& path)
{
    m_store = std::make_unique<CDownloadListStore>(path);
    for (const CDownloadRecord& record : m_store->Load())
        m_pModel->AddRecord(record);
    m_saved = m_pModel->Records();
}

void COutputWnd::NotifyDesktop()
{
    if (m_notifier)
        return;
    m_notifier = new CDesktopNotifier(QDBusConnection::sessionBus(), this);
    connect(this, &COutputWnd::jobEndedUnseen, m_notifier, &CDesktopNotifier::Notify);
    connect(m_notifier, &CDesktopNotifier::activated, this,
            [](const QString& path) { CShellLayer::Open(path); });
}

void COutputWnd::ScheduleSave()
{
    if (m_store && !m_saveTimer.isActive())
        m_saveTimer.start();
}

void COutputWnd::SaveList()
{
    if (!m_store)
        return;
    QList<CDownloadRecord> records = m_pModel->Records();
    // Progress reports change nothing here: the file is written only when a row came to an end.
    if (records == m_saved)
        return;
    if (m_store->Save(records))
        m_saved = std::move(records);
}

void COutputWnd::Adopt(std::unique_ptr<CDownloadThread> job)
{
    job->m_pOutputWnd = m_pModel;
    // Queued: the thread's end is heard on this thread, after the job's last report.
    connect(
        job.get(), &QThread::finished, this,
        [this, ended = QPointer<CDownloadThread>(job.get())] {
            if (ended)
                OnJobEnded(ended);
        },
        Qt::QueuedConnection);
    m_jobs.push_back(std::move(job));
}

void COutputWnd::OnJobEnded(CDownloadThread* job)
{
    const int row = m_pModel->FindJobRow(job);
    if (row >= 0 && !m_pModel->IsRunning(row) && !window()->isActiveWindow()) {
        const CDownloadRecord record = m_pModel->RecordOf(row);
        // A paused job stopped because the user asked; the others have news.
        if (record.status != IDS_PAUSED)
            emit jobEndedUnseen(record.path, LoadResString(record.status));
    }
    ScheduleSave();
    ReleaseFinishedJobs();
}

CDownloadThread* COutputWnd::StartJob(std::unique_ptr<CDownloadThread> job, const QString& name,
                                      const QString& fullPath)
{
    CDownloadThread* started = job.get();
    Adopt(std::move(job));
    m_pModel->AddJobRow(started, name, fullPath);
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
            job = made.get();
            Adopt(std::move(made));
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
