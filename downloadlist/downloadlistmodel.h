#pragma once

#include "downloadlist/downloadrecord.h"
#include "engine/jobrows.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

class CDownloadThread;

// The rows of the Download List: one per job, holding the job's latest figures. Workers write
// the figures under one lock; the cell texts are derived when a view asks. While a listed job
// runs, the UI thread looks for changed rows every kRefreshMs and tells the views, so a report
// per 512-byte piece stays cheap and no worker ever waits for the UI thread.
class CDownloadListModel final : public QAbstractTableModel, public CJobRows {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDownloadListModel)

public:
    enum Column { FileName, Status, Progress, Size, Downloaded, Speed, FullPath, ColumnCount };
    enum Role {
        JobRole = Qt::UserRole + 1, // the row's job as quintptr
        PercentRole,                // the Progress cell's number, invalid while it is empty
    };
    static constexpr int kRefreshMs = 100;
    // Up to this many blocks of neighbouring rows leave one block at a time; more leave in one
    // relayout of the views.
    static constexpr int kRemovalsTold = 8;

    explicit CDownloadListModel(QObject* parent = nullptr);

    // Appends a row for job ("Starting"), or re-uses the row it already has.
    void AddJobRow(CDownloadThread* job, const QString& name, const QString& fullPath);
    // Appends a row kept from an earlier session; it has no job until it is started again.
    void AddRecord(const CDownloadRecord& record);
    // The rows whose jobs have come to an end the next session can show: finished, failed or
    // paused, in order.
    QList<CDownloadRecord> Records() const;
    // The row as a record: what it shows and what it takes to start it again.
    CDownloadRecord RecordOf(int row) const;
    // The row's job; none for a row kept from an earlier session that was not started again.
    CDownloadThread* JobOf(int row) const;
    // Whether a row's Full Path equals path, folding only the letters A to Z.
    bool IsPathListed(const QString& path) const;
    // The index of the first row of job, or -1.
    int FindJobRow(const CDownloadThread* job) const;
    // The text a cell shows now; empty outside the list.
    QString CellText(int row, int column) const;

    void ShowDownloadProgress(const CDownloadThread* job, quint64 total, quint64 received,
                              quint32 elapsedMs) override;
    void ShowDownloadCompleted(const CDownloadThread* job) override;
    void ShowConversionQueued(const CDownloadThread* job) override;
    void ShowConversionProgress(const CDownloadThread* job, quint32 total,
                                quint32 current) override;
    void ShowConversionCompleted(const CDownloadThread* job) override;
    void ShowFailed(const CDownloadThread* job, const QString& reason) override;
    void ShowPaused(const CDownloadThread* job) override;
    void RemoveJobRow(const CDownloadThread* job) override;

    // Tells the views of every change so far now, instead of at the next refresh tick.
    void Refresh();

    // Removes the rows that have finished: "Completed" after a download or a conversion, and
    // "Failed". Their jobs are not touched. Returns how many went.
    int ClearCompleted();
    // Removes each of rows whose job does not run; returns how many went.
    int RemoveRows(const QList<int>& rows);
    // Marks each of rows that shows "Starting" or "Downloading" as "Cancelling" and sets its
    // job's cancel flag, in one step against the job's own reports, so a job that completes at
    // that moment still shows "Completed". Returns how many were marked.
    int CancelRows(const QList<int>& rows);
    // Asks the job of each of rows whose transfer is starting or running to pause; its row
    // reads "Paused" once the transfer has stopped. Returns how many were asked.
    int PauseRows(const QList<int>& rows);
    // Whether the row may be paused (its transfer is starting or running), resumed ("Paused"),
    // tried again ("Failed") or removed (its job does not run), and whether its job runs.
    bool CanPause(int row) const;
    bool CanResume(int row) const;
    bool CanRetry(int row) const;
    bool CanRemove(int row) const { return !IsRunning(row); }
    bool IsRunning(int row) const;
    // Gives the row job, which is about to run again into it: "Starting", and no reason.
    void RestartRow(int row, CDownloadThread* job);
    // Orders the rows by the texts of column as shown, compared as the user's locale sorts
    // text, case-sensitively; rows with equal texts keep their order.
    void SortRows(int column, bool ascending);

    static QString SizeText(quint64 bytes);
    static QString SpeedText(quint64 received, quint32 elapsedMs);
    static QString PercentText(qint64 percent);
    // What is left of a transfer at its rate so far, "Time left: 1:05"; empty while unknown.
    static QString TimeLeftText(quint64 total, quint64 received, quint32 elapsedMs);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Finished rows can be dragged out as their files.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

signals:
    // Rows went (a worker's, or by a command); emitted on the model's thread once the views
    // have been told.
    void jobRowsRemoved();

private:
    // What the row shows and what it takes to start it again, and what only a running job has.
    struct Row : CDownloadRecord {
        CDownloadThread* job = nullptr; // not owned; none for a row kept from a session before
        bool removed = false;           // a worker removed it; it goes at the next refresh
        // The bytes received when this run of the transfer began: its rate counts from there.
        quint64 receivedAtStart = 0;
        std::optional<std::pair<quint64, quint32>> speed; // received this run, elapsedMs
    };

    // Runs update on job's row under the lock; a job without a row is left alone.
    template <typename Update>
    void UpdateJobRow(const CDownloadThread* job, Update&& update);
    // Removes every row for which leaves(row) holds, with the views told; returns how many went.
    template <typename Leaves>
    int RemoveRowsWhere(Leaves&& leaves);
    // Puts the rows in the order of order, which names old rows; rows it leaves out go. One
    // relayout of the views, whose persistent indexes follow their rows.
    void Relayout(const std::vector<int>& order, QAbstractItemModel::LayoutChangeHint hint);
    // Whether the row's job runs, and will report again.
    static bool RunsLocked(const Row& row);
    // Whether the row's transfer is starting or running: it may be cancelled or paused.
    static bool TransfersLocked(const Row& row);
    bool HasStatus(int row, int status) const;
    int FindJobRowLocked(const CDownloadThread* job) const;
    // Works out again where each job's row is, after rows moved or went.
    void IndexJobsLocked();
    bool ValidRowLocked(int row) const { return row >= 0 && size_t(row) < m_rows.size(); }
    QVariant ToolTipLocked(const Row& row, int column) const;
    QString CellTextLocked(const Row& row, int column) const;
    void NoteChangeLocked(int row);
    void OnRefreshTick();

    mutable std::mutex m_mutex;
    std::vector<Row> m_rows;
    // The first row of each job, so that a report finds its row at once however long the list.
    std::unordered_map<const CDownloadThread*, int> m_rowOfJob;
    // What changed since the views were last told; guarded by m_mutex.
    int m_changedFirst = -1;
    int m_changedLast = -1;
    bool m_removalPending = false;
    QTimer m_refreshTimer; // runs while a listed job may still report
};
