#pragma once

#include <QTableView>

class CDownloadListModel;
class QAction;

// The table that shows the Download List's rows, with the user's commands on them: the context
// menu (Clear Completed, Play Video, Cancel Download, then Pause, Resume, Retry, Open
// Containing Folder and Remove from List), opening a row's file by double-click or Enter, dragging
// finished rows out as files, and sorting by a header click.
class COutputList final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COutputList)

public:
    explicit COutputList(QWidget* parent = nullptr);

    void SetRows(CDownloadListModel* model);
    CDownloadListModel* Rows() const;

    // Cancels every transfer that is starting or running, without asking; for the window's close.
    void CancelActiveDownloads();

    // The commands, as the context menu offers them.
    QAction* ClearCompletedAction() const { return m_actClearCompleted; }
    QAction* PlayVideoAction() const { return m_actPlayVideo; }
    QAction* CancelDownloadAction() const { return m_actCancelDownload; }
    QAction* PauseAction() const { return m_actPause; }
    QAction* ResumeAction() const { return m_actResume; }
    QAction* RetryAction() const { return m_actRetry; }
    QAction* OpenFolderAction() const { return m_actOpenFolder; }
    QAction* RemoveAction() const { return m_actRemove; }
    // Enables the commands for the rows selected now, as the context menu shows them.
    void UpdateCommandStates();

    // Play Video is offered when the first selected row's Progress reads "100%" and it has not
    // failed.
    bool CanPlayVideo() const;
    // The selected row with the lowest index, or -1.
    int FirstSelectedRow() const;

    // The column of the last header click, and its direction.
    int SortColumn() const { return m_nSortColumn; }
    bool SortAscending() const { return m_bSortAscending; }

signals:
    // The user asked to start these rows' jobs again: Resume on "Paused" rows, Retry on
    // "Failed" ones. The pane owns the jobs and does it.
    void restartRequested(const QList<int>& rows);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnClearCompleted();
    void OnPlayVideo();
    void OnCancelDownload();
    void OnPause();
    void OnRestart(bool (CDownloadListModel::*allowed)(int) const);
    void OnRemove();
    void OnOpenFolder();
    // The first selected row's file, when it is there.
    QString SelectedFile() const;
    // The selected rows for which the model's test holds.
    QList<int> SelectedRowsWhere(bool (CDownloadListModel::*test)(int) const) const;
    void OnHeaderClicked(int column);
    void OnDoubleClicked(const QModelIndex& index);
    QList<int> SelectedRows() const;
    bool HasFailed(int row) const;

    QAction* m_actClearCompleted = nullptr;
    QAction* m_actPlayVideo = nullptr;
    QAction* m_actCancelDownload = nullptr;
    QAction* m_actPause = nullptr;
    QAction* m_actResume = nullptr;
    QAction* m_actRetry = nullptr;
    QAction* m_actOpenFolder = nullptr;
    QAction* m_actRemove = nullptr;
    int m_nSortColumn = 0;
    bool m_bSortAscending = false;
};
