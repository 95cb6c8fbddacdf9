#include "downloadlist/downloadlistmodel.h"

#include "engine/downloadthread.h"
#include "res/asciicase.h"
#include "res/stringtable.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <climits>

namespace {

constexpr int kHeaderIds[CDownloadListModel::ColumnCount] = {
    IDS_FILE_NAME, IDS_STATUS, IDS_PROGRESS, IDS_SIZE, IDS_DOWNLOADED, IDS_SPEED, IDS_FULL_PATH,
};

constexpr quint64 kKiB = 1024;
constexpr quint64 kMiB = 1024 * 1024;

} // namespace

CDownloadListModel::CDownloadListModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CDownloadListModel::OnRefreshTick);
}

QString CDownloadListModel::SizeText(quint64 bytes)
{
    if (bytes > kMiB)
        return QString::asprintf("%.1fMB", double(bytes) / double(kMiB));
    if (bytes > kKiB)
        return QString::asprintf("%.1fKB", double(bytes) / double(kKiB));
    return bytes > 0 ? QStringLiteral("1KB") : QStringLiteral("0KB");
}

QString CDownloadListModel::SpeedText(quint64 received, quint32 elapsedMs)
{
    if (elapsedMs == 0)
        return {};
    // Bytes per millisecond; one of them is shown as 1.0KB/Sec.
    const double rate = double(received) / double(elapsedMs);
    if (rate < 1.0)
        return QString::asprintf("%dBytes/Sec", int(rate * 1024.0));
    if (rate < 1024.0)
        return QString::asprintf("%.1fKB/Sec", rate);
    return QString::asprintf("%.1fMB/Sec", rate / 1024.0);
}

QString CDownloadListModel::PercentText(qint64 percent)
{
    return QString::number(percent) + u'%';
}

QString CDownloadListModel::TimeLeftText(quint64 total, quint64 received, quint32 elapsedMs)
{
    if (elapsedMs == 0 || received == 0 || received >= total)
        return {};
    // In floating point: the product of a large file's bytes and a long time would overflow.
    const auto seconds =
        quint64(double(total - received) * double(elapsedMs) / double(received) / 1000.0);
    const QString clock = seconds >= 3600
                              ? QString::asprintf("%llu:%02llu:%02llu", seconds / 3600,
                                                  seconds / 60 % 60, seconds % 60)
                              : QString::asprintf("%llu:%02llu", seconds / 60, seconds % 60);
    return QStringLiteral("Time left: ") + clock;
}

bool CDownloadListModel::RunsLocked(const Row& row)
{
    return row.job && !row.removed && !row.job->HasEnded();
}

bool CDownloadListModel::TransfersLocked(const Row& row)
{
    return RunsLocked(row) && (row.status == IDS_STARTING || row.status == IDS_DOWNLOADING);
}

int CDownloadListModel::FindJobRowLocked(const CDownloadThread* job) const
{
    if (!job)
        return -1;
    const auto found = m_rowOfJob.find(job);
    return found == m_rowOfJob.end() ? -1 : found->second;
}

void CDownloadListModel::IndexJobsLocked()
{
    m_rowOfJob.clear();
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].job && !m_rows[i].removed)
            m_rowOfJob.emplace(m_rows[i].job, int(i));
    }
}

int CDownloadListModel::FindJobRow(const CDownloadThread* job) const
{
    std::unique_lock lock(m_mutex);
    return FindJobRowLocked(job);
}

void CDownloadListModel::AddJobRow(CDownloadThread* job, const QString& name,
                                   const QString& fullPath)
{
    if (!job)
        return;
    // Only the UI thread inserts or erases rows, so the count cannot change between the two
    // locked sections; workers only write fields.
    std::unique_lock lock(m_mutex);
    int row = FindJobRowLocked(job);
    const bool isNew = row < 0;
    if (isNew) {
        row = int(m_rows.size());
        lock.unlock();
        beginInsertRows({}, row, row);
        lock.lock();
        Row added;
        added.job = job;
        m_rows.push_back(std::move(added));
        m_rowOfJob.emplace(job, row);
    }
    Row& r = m_rows[size_t(row)];
    r.name = name;
    r.path = fullPath;
    r.url = job->m_strUrl;
    // A conversion job of no known format converts as Xvid does.
    r.format = !job->m_bConvert                             ? 0
               : job->m_nFormat >= 1 && job->m_nFormat <= 7 ? job->m_nFormat
                                                            : 6;
    r.status = IDS_STARTING;
    lock.unlock();
    if (isNew)
        endInsertRows();
    else
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void CDownloadListModel::AddRecord(const CDownloadRecord& record)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    {
        std::unique_lock lock(m_mutex);
        m_rows.push_back(Row{record});
    }
    endInsertRows();
}

CDownloadRecord CDownloadListModel::RecordOf(int row) const
{
    std::unique_lock lock(m_mutex);
    return ValidRowLocked(row) ? CDownloadRecord(m_rows[size_t(row)]) : CDownloadRecord();
}

QList<CDownloadRecord> CDownloadListModel::Records() const
{
    QList<CDownloadRecord> records;
    std::unique_lock lock(m_mutex);
    for (const Row& r : m_rows) {
        const bool ended = r.status == IDS_COMPLETED || r.status == IDS_CONVERSION_COMPLETED ||
                           r.status == IDS_FAILED || r.status == IDS_PAUSED;
        // A conversion job reads "Completed" for a moment before it converts: that row has not
        // ended, whatever its text says.
        if (ended && !r.removed && !RunsLocked(r))
            records << CDownloadRecord(r);
    }
    return records;
}

CDownloadThread* CDownloadListModel::JobOf(int row) const
{
    std::unique_lock lock(m_mutex);
    return ValidRowLocked(row) && !m_rows[size_t(row)].removed ? m_rows[size_t(row)].job : nullptr;
}

bool CDownloadListModel::IsRunning(int row) const
{
    std::unique_lock lock(m_mutex);
    return ValidRowLocked(row) && RunsLocked(m_rows[size_t(row)]);
}

bool CDownloadListModel::CanPause(int row) const
{
    std::unique_lock lock(m_mutex);
    return ValidRowLocked(row) && TransfersLocked(m_rows[size_t(row)]);
}

bool CDownloadListModel::HasStatus(int row, int status) const
{
    std::unique_lock lock(m_mutex);
    return ValidRowLocked(row) && !m_rows[size_t(row)].removed &&
           m_rows[size_t(row)].status == status;
}

bool CDownloadListModel::CanResume(int row) const
{
    return HasStatus(row, IDS_PAUSED);
}

bool CDownloadListModel::CanRetry(int row) const
{
    return HasStatus(row, IDS_FAILED);
}

void CDownloadListModel::RestartRow(int row, CDownloadThread* job)
{
    {
        std::unique_lock lock(m_mutex);
        if (!ValidRowLocked(row) || !job)
            return;
        Row& r = m_rows[size_t(row)];
        if (r.job != job) {
            if (r.job)
                m_rowOfJob.erase(r.job);
            r.job = job;
            m_rowOfJob.emplace(job, row);
        }
        r.status = IDS_STARTING;
        r.speed.reset();
        r.reason.clear();
    }
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

bool CDownloadListModel::IsPathListed(const QString& path) const
{
    std::unique_lock lock(m_mutex);
    for (const Row& r : m_rows) {
        if (!r.removed && EqualsIgnoringAsciiCase(r.path, path))
            return true;
    }
    return false;
}

QString CDownloadListModel::CellText(int row, int column) const
{
    std::unique_lock lock(m_mutex);
    if (row < 0 || size_t(row) >= m_rows.size())
        return {};
    return CellTextLocked(m_rows[size_t(row)], column);
}

QString CDownloadListModel::CellTextLocked(const Row& row, int column) const
{
    switch (column) {
    case FileName:
        return row.name;
    case Status:
        return LoadResString(row.status);
    case Progress:
        return row.percent ? PercentText(*row.percent) : QString();
    case Size:
        return row.total ? SizeText(*row.total) : QString();
    case Downloaded:
        return row.received ? SizeText(*row.received) : QString();
    case Speed:
        return row.speed ? SpeedText(row.speed->first, row.speed->second) : QString();
    case FullPath:
        return row.path;
    default:
        return {};
    }
}

template <typename Update>
void CDownloadListModel::UpdateJobRow(const CDownloadThread* job, Update&& update)
{
    std::unique_lock lock(m_mutex);
    const int row = FindJobRowLocked(job);
    if (row < 0)
        return;
    update(m_rows[size_t(row)]);
    NoteChangeLocked(row);
}

void CDownloadListModel::NoteChangeLocked(int row)
{
    if (m_changedLast < 0) {
        m_changedFirst = m_changedLast = row;
    } else {
        m_changedFirst = std::min(m_changedFirst, row);
        m_changedLast = std::max(m_changedLast, row);
    }
}

void CDownloadListModel::OnRefreshTick()
{
    // Asked before the refresh: a job seen ended here has made its last report already.
    bool reporting = false;
    {
        std::unique_lock lock(m_mutex);
        reporting = std::any_of(m_rows.begin(), m_rows.end(), RunsLocked);
    }
    Refresh();
    if (!reporting)
        m_refreshTimer.stop();
}

void CDownloadListModel::Refresh()
{
    std::unique_lock lock(m_mutex);
    const int first = m_changedFirst;
    const int last = std::min(m_changedLast, int(m_rows.size()) - 1);
    const bool removal = m_removalPending;
    m_changedFirst = m_changedLast = -1;
    m_removalPending = false;
    lock.unlock();

    if (last >= 0 && first <= last)
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
    // Erase the rows that workers emptied.
    if (removal && RemoveRowsWhere([](const Row& r) { return r.removed; }) > 0)
        emit jobRowsRemoved();
}

int CDownloadListModel::ClearCompleted()
{
    const int removed = RemoveRowsWhere([](const Row& r) {
        return r.status == IDS_COMPLETED || r.status == IDS_CONVERSION_COMPLETED ||
               r.status == IDS_FAILED;
    });
    if (removed > 0)
        emit jobRowsRemoved();
    return removed;
}

int CDownloadListModel::RemoveRows(const QList<int>& rows)
{
    std::vector<const Row*> chosen;
    {
        std::unique_lock lock(m_mutex);
        for (const int i : rows) {
            if (!ValidRowLocked(i))
                continue;
            const Row& r = m_rows[size_t(i)];
            if (!r.removed && !RunsLocked(r))
                chosen.push_back(&r);
        }
    }
    // Rows do not move while the UI thread is here, so their addresses name them.
    std::sort(chosen.begin(), chosen.end());
    const int removed = RemoveRowsWhere(
        [&chosen](const Row& r) { return std::binary_search(chosen.begin(), chosen.end(), &r); });
    if (removed > 0)
        emit jobRowsRemoved();
    return removed;
}

template <typename Leaves>
int CDownloadListModel::RemoveRowsWhere(Leaves&& leaves)
{
    // Only the UI thread erases rows, so what is found under the lock still holds once the views
    // have been told. Workers may write fields meanwhile, never move rows.
    std::vector<bool> goes;
    int removed = 0;
    int blocks = 0;
    {
        std::unique_lock lock(m_mutex);
        goes.reserve(m_rows.size());
        for (size_t i = 0; i < m_rows.size(); ++i) {
            goes.push_back(leaves(std::as_const(m_rows[i])));
            if (goes.back()) {
                ++removed;
                blocks += i == 0 || !goes[i - 1] ? 1 : 0;
            }
        }
    }
    if (removed == 0)
        return 0;
    if (blocks <= kRemovalsTold) {
        // A few blocks of neighbours, each told to the views as it goes, from the bottom up so
        // that the rows above keep their places.
        std::unique_lock lock(m_mutex, std::defer_lock);
        for (int last = int(goes.size()) - 1; last >= 0; --last) {
            if (!goes[size_t(last)])
                continue;
            int first = last;
            while (first > 0 && goes[size_t(first - 1)])
                --first;
            beginRemoveRows({}, first, last);
            lock.lock();
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            IndexJobsLocked();
            lock.unlock();
            endRemoveRows();
            last = first;
        }
        return removed;
    }
    // Many blocks: one relayout, instead of a removal, and a pass of every view over every
    // row, per block.
    std::vector<int> kept;
    kept.reserve(goes.size() - size_t(removed));
    for (size_t i = 0; i < goes.size(); ++i) {
        if (!goes[i])
            kept.push_back(int(i));
    }
    Relayout(kept, QAbstractItemModel::NoLayoutChangeHint);
    return removed;
}

void CDownloadListModel::Relayout(const std::vector<int>& order,
                                  QAbstractItemModel::LayoutChangeHint hint)
{
    emit layoutAboutToBeChanged({}, hint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> newRowOf;
    {
        std::unique_lock lock(m_mutex);
        newRowOf.assign(m_rows.size(), -1);
        std::vector<Row> arranged;
        arranged.reserve(order.size());
        for (size_t i = 0; i < order.size(); ++i) {
            newRowOf[size_t(order[i])] = int(i);
            arranged.push_back(std::move(m_rows[size_t(order[i])]));
        }
        m_rows = std::move(arranged);
        IndexJobsLocked();
        // The views repaint every row after a layout change.
        m_changedFirst = m_changedLast = -1;
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const int row = newRowOf[size_t(index.row())];
        after << (row < 0 ? QModelIndex() : this->index(row, index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, hint);
}

int CDownloadListModel::CancelRows(const QList<int>& rows)
{
    int cancelled = 0;
    {
        std::unique_lock lock(m_mutex);
        for (const int i : rows) {
            if (i < 0 || size_t(i) >= m_rows.size())
                continue;
            Row& r = m_rows[size_t(i)];
            // A job that has ended reports nothing more; its row is left as it is.
            if (!TransfersLocked(r))
                continue;
            r.status = IDS_CANCELLING;
            r.job->m_bCancel.store(true, std::memory_order_relaxed);
            NoteChangeLocked(i);
            ++cancelled;
        }
    }
    Refresh();
    return cancelled;
}

int CDownloadListModel::PauseRows(const QList<int>& rows)
{
    int asked = 0;
    std::unique_lock lock(m_mutex);
    for (const int i : rows) {
        if (!ValidRowLocked(i))
            continue;
        const Row& r = m_rows[size_t(i)];
        if (!TransfersLocked(r))
            continue;
        r.job->m_bPause.store(true, std::memory_order_relaxed);
        ++asked;
    }
    return asked;
}

void CDownloadListModel::SortRows(int column, bool ascending)
{
    std::vector<int> order;
    {
        std::unique_lock lock(m_mutex);
        std::vector<std::pair<QString, int>> keys;
        keys.reserve(m_rows.size());
        for (size_t i = 0; i < m_rows.size(); ++i)
            keys.emplace_back(CellTextLocked(m_rows[i], column), int(i));
        std::stable_sort(keys.begin(), keys.end(), [ascending](const auto& a, const auto& b) {
            const int order = QString::localeAwareCompare(a.first, b.first);
            return ascending ? order < 0 : order > 0;
        });
        order.reserve(keys.size());
        for (const auto& key : keys)
            order.push_back(key.second);
    }
    // Only this thread moves rows: the order found still names every row.
    Relayout(order, QAbstractItemModel::VerticalSortHint);
}

void CDownloadListModel::ShowDownloadProgress(const CDownloadThread* job, quint64 total,
                                              quint64 received, quint32 elapsedMs)
{
    if (total == 0)
        return;
    UpdateJobRow(job, [&](Row& r) {
        r.percent = qint64(received * 100 / total);
        r.total = total;
        r.received = received;
        // A run's first report comes before its first byte, at 0 ms, on a row still "Starting":
        // a continued transfer counts its rate from what it had then. Later reports within the
        // first millisecond also say 0 ms; they start nothing.
        if (r.status == IDS_STARTING && elapsedMs == 0)
            r.receivedAtStart = received;
        if (elapsedMs > 1000)
            r.speed = std::pair(received - std::min(received, r.receivedAtStart), elapsedMs);
        r.status = IDS_DOWNLOADING;
    });
}

void CDownloadListModel::ShowDownloadCompleted(const CDownloadThread* job)
{
    UpdateJobRow(job, [](Row& r) {
        r.percent = 100;
        r.speed.reset();
        r.status = IDS_COMPLETED;
    });
}

void CDownloadListModel::ShowConversionQueued(const CDownloadThread* job)
{
    UpdateJobRow(job, [](Row& r) {
        r.percent = 0;
        r.status = IDS_CONVERSION_QUEUED;
    });
}

void CDownloadListModel::ShowConversionProgress(const CDownloadThread* job, quint32 total,
                                                quint32 current)
{
    if (total == 0)
        return;
    UpdateJobRow(job, [&](Row& r) {
        r.percent = qint64(quint64(current) * 100 / total);
        r.status = IDS_CONVERTING;
    });
}

void CDownloadListModel::ShowConversionCompleted(const CDownloadThread* job)
{
    UpdateJobRow(job, [](Row& r) {
        r.percent = 100;
        r.status = IDS_CONVERSION_COMPLETED;
    });
}

void CDownloadListModel::ShowFailed(const CDownloadThread* job, const QString& reason)
{
    UpdateJobRow(job, [&reason](Row& r) {
        // A speed next to a job that no longer runs would mislead.
        r.speed.reset();
        r.status = IDS_FAILED;
        r.reason = reason.simplified();
    });
}

void CDownloadListModel::ShowPaused(const CDownloadThread* job)
{
    UpdateJobRow(job, [](Row& r) {
        r.speed.reset();
        r.status = IDS_PAUSED;
    });
}

void CDownloadListModel::RemoveJobRow(const CDownloadThread* job)
{
    std::unique_lock lock(m_mutex);
    const int row = FindJobRowLocked(job);
    if (row < 0)
        return;
    // The row stays in place, unreachable by any job, until the UI thread erases it with the
    // views told; only the UI thread changes the number of rows.
    m_rows[size_t(row)].removed = true;
    m_rowOfJob.erase(job);
    m_removalPending = true;
    NoteChangeLocked(row);
}

int CDownloadListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    std::unique_lock lock(m_mutex);
    return int(m_rows.size());
}

int CDownloadListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CDownloadListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount)
        return {};
    std::unique_lock lock(m_mutex);
    if (size_t(index.row()) >= m_rows.size())
        return {};
    const Row& row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return CellTextLocked(row, index.column());
    case Qt::ToolTipRole:
        return ToolTipLocked(row, index.column());
    case JobRole:
        return QVariant::fromValue(quintptr(row.job));
    case PercentRole:
        if (index.column() == Progress && row.percent)
            return *row.percent;
        return {};
    default:
        return {};
    }
}

QVariant CDownloadListModel::ToolTipLocked(const Row& row, int column) const
{
    // A failed row says why; a running transfer how long it has to go.
    if (row.status == IDS_FAILED && !row.reason.isEmpty())
        return row.reason;
    if (row.status == IDS_DOWNLOADING && row.speed && row.total) {
        const QString left = TimeLeftText(*row.total - std::min(*row.total, row.receivedAtStart),
                                          row.speed->first, row.speed->second);
        if (!left.isEmpty())
            return left;
    }
    return CellTextLocked(row, column);
}

Qt::ItemFlags CDownloadListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return flags;
    std::unique_lock lock(m_mutex);
    if (ValidRowLocked(index.row())) {
        const int status = m_rows[size_t(index.row())].status;
        if (status == IDS_COMPLETED || status == IDS_CONVERSION_COMPLETED)
            flags |= Qt::ItemIsDragEnabled;
    }
    return flags;
}

QStringList CDownloadListModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData* CDownloadListModel::mimeData(const QModelIndexList& indexes) const
{
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
        if (!(flags(index) & Qt::ItemIsDragEnabled))
            continue;
        const QUrl url = QUrl::fromLocalFile(CellText(index.row(), FullPath));
        if (!urls.contains(url))
            urls << url;
    }
    if (urls.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

QVariant CDownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return LoadResString(kHeaderIds[section]);
}
