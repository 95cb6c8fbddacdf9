#pragma once

#include "downloadlist/downloadrecord.h"

#include <QDockWidget>
#include <QList>
#include <QTimer>

#include <memory>
#include <vector>

class CDesktopNotifier;
class CDownloadListModel;
class CDownloadListStore;
class CDownloadThread;
class COutputList;
class QTabWidget;

// The docked Download List pane: a tab "Download" whose page lists one row per job. The pane
// owns the jobs it starts and hands each its rows to report into; it keeps a job until its
// thread has ended and it has no row, and on destruction it stops the running ones and waits
// for them, so no worker outlives the rows.
class COutputWnd final : public QDockWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COutputWnd)

public:
    // How long the kept list waits before it is written, gathering the rows that end meanwhile.
    static constexpr int kSaveDelayMs = 250;

    explicit COutputWnd(QWidget* parent = nullptr);
    ~COutputWnd() override;

    CDownloadListModel* Rows() const { return m_pModel; }
    COutputList* List() const { return m_wndList; }

    // Takes the job over, gives it the rows, adds its row with AddJobRow and starts its thread,
    // in that order: the job belongs to the pane from the moment a row refers to it, and its
    // first report finds the row. Returns the job, which the pane keeps until it has ended and
    // has no row.
    CDownloadThread* StartJob(std::unique_ptr<CDownloadThread> job, const QString& name,
                              const QString& fullPath);
    // The jobs the pane holds, running or kept for a row.
    std::vector<const CDownloadThread*> Jobs() const;
    // For the window's close: every transfer that is starting or running is cancelled, without
    // asking.
    void CancelAll();

    // Keeps the rows whose jobs came to an end (finished, failed, paused) in the file at path:
    // those kept there come back now, and the file follows every row that comes to an end or
    // leaves. A damaged file is set aside and the list starts empty.
    void KeepListIn(const QString& path);
    // Tells the desktop, through its notification service, when a job ends while the window is
    // not the active one; a click on the notice plays the file.
    void NotifyDesktop();

    // Starts the jobs of rows again into the same rows: those that have ended, and those kept
    // from an earlier session, for which it makes a job from what the row holds.
    void RestartRows(const QList<int>& rows);

signals:
    // A job came to an end (finished or failed) while the window was not the active one.
    void jobEndedUnseen(const QString& path, const QString& status);

private:
    // Takes the job over and learns when it ends.
    void Adopt(std::unique_ptr<CDownloadThread> job);
    void OnJobEnded(CDownloadThread* job);
    // Writes the rows that have come to an end to the kept list, when they changed.
    void SaveList();
    // Saves a moment later: jobs that end together are written once, and the window does not
    // wait for the disk once per job.
    void ScheduleSave();
    // Deletes the jobs whose threads have ended and that no row refers to any more.
    void ReleaseFinishedJobs();

    CDownloadListModel* m_pModel = nullptr;
    QTabWidget* m_wndTabs = nullptr;
    COutputList* m_wndList = nullptr;
    std::vector<std::unique_ptr<CDownloadThread>> m_jobs;
    std::unique_ptr<CDownloadListStore> m_store;
    QList<CDownloadRecord> m_saved; // what the kept list holds now
    QTimer m_saveTimer;
    CDesktopNotifier* m_notifier = nullptr;
};
