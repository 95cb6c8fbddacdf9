#include "downloadlist/downloadlistmodel.h"

#include "engine/downloadthread.h"
#include "res/asciicase.h"
#include "res/stringtable.h"

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

int CDownloadListModel::FindJobRowLocked(const CDownloadThread* job) const
{
    if (!job)
        return -1;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].job == job)
            return int(i);
    }
    return -1;
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
        m_rows.push_back(Row{.job = job});
    }
    Row& r = m_rows[size_t(row)];
    r.name = name;
    r.path = fullPath;
    r.status = IDS_STARTING;
    lock.unlock();
    if (isNew)
        endInsertRows();
    else
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

bool CDownloadListModel::IsPathListed(const QString& path) const
{
    std::unique_lock lock(m_mutex);
    for (const Row& r : m_rows) {
        if (r.job && EqualsIgnoringAsciiCase(r.path, path))
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
        reporting = std::any_of(m_rows.begin(), m_rows.end(),
                                [](const Row& r) { return r.job && !r.job->HasEnded(); });
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
    if (removal && RemoveRowsWhere([](const Row& r) { return !r.job; }) > 0)
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

template <typename Leaves>
int CDownloadListModel::RemoveRowsWhere(Leaves&& leaves)
{
    // Only the UI thread erases rows, so the indexes found under the lock still hold once the
    // views have been told; one block of neighbours goes at a time, from the bottom up.
    int removed = 0;
    std::unique_lock lock(m_mutex);
    for (int last = int(m_rows.size()) - 1; last >= 0;) {
        if (!leaves(m_rows[size_t(last)])) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && leaves(m_rows[size_t(first - 1)]))
            --first;
        lock.unlock();
        beginRemoveRows({}, first, last);
        lock.lock();
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        lock.unlock();
        endRemoveRows();
        removed += last - first + 1;
        last = first - 1;
        lock.lock();
    }
    return removed;
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
            if (!r.job || r.job->HasEnded() ||
                (r.status != IDS_STARTING && r.status != IDS_DOWNLOADING))
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

void CDownloadListModel::SortRows(int column, bool ascending)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> newRowOf;
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
        std::vector<Row> sorted;
        sorted.reserve(m_rows.size());
        newRowOf.resize(m_rows.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            sorted.push_back(std::move(m_rows[size_t(keys[i].second)]));
            newRowOf[size_t(keys[i].second)] = int(i);
        }
        m_rows = std::move(sorted);
        // The views repaint every row after a layout change.
        m_changedFirst = m_changedLast = -1;
    }
    QModelIndexList after;
    for (const QModelIndex& index : before)
        after << this->index(newRowOf[size_t(index.row())], index.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
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
        if (elapsedMs > 1000)
            r.speed = std::pair(received, elapsedMs);
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

void CDownloadListModel::ShowFailed(const CDownloadThread* job)
{
    UpdateJobRow(job, [](Row& r) {
        // A speed next to a job that no longer runs would mislead.
        r.speed.reset();
        r.status = IDS_FAILED;
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
    m_rows[size_t(row)].job = nullptr;
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
    case Qt::ToolTipRole:
        return CellTextLocked(row, index.column());
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

QVariant CDownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return LoadResString(kHeaderIds[section]);
}
