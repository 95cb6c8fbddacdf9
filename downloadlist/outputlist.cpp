#include "downloadlist/outputlist.h"

#include "controls/shelllayer.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/progressdelegate.h"
#include "res/stringtable.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>

namespace {

constexpr int kColumnWidths[CDownloadListModel::ColumnCount] = {240, 110, 80, 80, 80, 80, 200};

} // namespace

COutputList::COutputList(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    setItemDelegateForColumn(CDownloadListModel::Progress, new CProgressDelegate(this));
    // Finished rows leave as their files, for a file manager or another program.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);

    m_actClearCompleted = new QAction(QStringLiteral("&Clear Completed"), this);
    m_actPlayVideo = new QAction(QStringLiteral("Play Video"), this);
    m_actCancelDownload = new QAction(QStringLiteral("Cancel Download"), this);
    connect(m_actClearCompleted, &QAction::triggered, this, &COutputList::OnClearCompleted);
    connect(m_actPlayVideo, &QAction::triggered, this, &COutputList::OnPlayVideo);
    connect(m_actCancelDownload, &QAction::triggered, this, &COutputList::OnCancelDownload);

    m_actPause = new QAction(QStringLiteral("&Pause"), this);
    m_actResume = new QAction(QStringLiteral("&Resume"), this);
    m_actRetry = new QAction(QStringLiteral("Re&try"), this);
    m_actOpenFolder = new QAction(QStringLiteral("Open Containing &Folder"), this);
    m_actRemove = new QAction(QStringLiteral("Remove from &List"), this);
    // Delete works while the list has the focus, not elsewhere in the window.
    m_actRemove->setShortcut(QKeySequence::Delete);
    m_actRemove->setShortcutContext(Qt::WidgetShortcut);
    addAction(m_actRemove);
    connect(m_actPause, &QAction::triggered, this, &COutputList::OnPause);
    connect(m_actResume, &QAction::triggered, this,
            [this] { OnRestart(&CDownloadListModel::CanResume); });
    connect(m_actRetry, &QAction::triggered, this,
            [this] { OnRestart(&CDownloadListModel::CanRetry); });
    connect(m_actRemove, &QAction::triggered, this, &COutputList::OnRemove);
    connect(m_actOpenFolder, &QAction::triggered, this, &COutputList::OnOpenFolder);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &COutputList::OnHeaderClicked);
    connect(this, &QAbstractItemView::doubleClicked, this, &COutputList::OnDoubleClicked);
}

void COutputList::SetRows(CDownloadListModel* model)
{
    setModel(model);
    for (int c = 0; c < CDownloadListModel::ColumnCount; ++c)
        setColumnWidth(c, kColumnWidths[c]);
}

CDownloadListModel* COutputList::Rows() const
{
    return qobject_cast<CDownloadListModel*>(model());
}

QList<int> COutputList::SelectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int COutputList::FirstSelectedRow() const
{
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst();
}

bool COutputList::CanPlayVideo() const
{
    const int row = FirstSelectedRow();
    return row >= 0 && !HasFailed(row) &&
           Rows()->CellText(row, CDownloadListModel::Progress)
                   .compare(QLatin1String("100%"), Qt::CaseInsensitive) == 0;
}

bool COutputList::HasFailed(int row) const
{
    // A row can fail at "100%": its last write failed, or the converter reached the end and
    // then failed. Its file is cut short or missing.
    return Rows()->CellText(row, CDownloadListModel::Status) == LoadResString(IDS_FAILED);
}

QList<int> COutputList::SelectedRowsWhere(bool (CDownloadListModel::*test)(int) const) const
{
    QList<int> rows;
    for (const int row : SelectedRows()) {
        if ((Rows()->*test)(row))
            rows << row;
    }
    return rows;
}

void COutputList::UpdateCommandStates()
{
    m_actPlayVideo->setEnabled(CanPlayVideo());
    m_actPause->setEnabled(!SelectedRowsWhere(&CDownloadListModel::CanPause).isEmpty());
    m_actResume->setEnabled(!SelectedRowsWhere(&CDownloadListModel::CanResume).isEmpty());
    m_actRetry->setEnabled(!SelectedRowsWhere(&CDownloadListModel::CanRetry).isEmpty());
    m_actOpenFolder->setEnabled(!SelectedFile().isEmpty());
    m_actRemove->setEnabled(!SelectedRowsWhere(&CDownloadListModel::CanRemove).isEmpty());
}

void COutputList::contextMenuEvent(QContextMenuEvent* event)
{
    UpdateCommandStates();
    QMenu menu(this);
    menu.addAction(m_actClearCompleted);
    menu.addAction(m_actPlayVideo);
    menu.addAction(m_actCancelDownload);
    menu.addSeparator();
    menu.addAction(m_actPause);
    menu.addAction(m_actResume);
    menu.addAction(m_actRetry);
    menu.addAction(m_actOpenFolder);
    menu.addAction(m_actRemove);
    setFocus(Qt::PopupFocusReason);
    menu.exec(event->globalPos());
}

void COutputList::OnClearCompleted()
{
    Rows()->ClearCompleted();
}

void COutputList::OnPlayVideo()
{
    const int row = FirstSelectedRow();
    if (row < 0) {
        QMessageBox::warning(this, QString(), LoadResString(IDS_SELECT_VIDEO_FIRST));
        return;
    }
    // The row may have failed while the menu that offered the command was open.
    if (HasFailed(row))
        return;
    CShellLayer::Open(Rows()->CellText(row, CDownloadListModel::FullPath));
}

void COutputList::OnCancelDownload()
{
    if (SelectedRows().isEmpty())
        return;
    if (QMessageBox::question(this, QString(), LoadResString(IDS_CONFIRM_CANCEL),
                              QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    // The question runs a loop of its own, in which the rows of jobs cancelled before may leave
    // and the rows below them move up. The selection follows its rows; numbers taken before the
    // question would name neighbours.
    Rows()->CancelRows(SelectedRows());
}

void COutputList::OnPause()
{
    Rows()->PauseRows(SelectedRows());
}

void COutputList::OnRestart(bool (CDownloadListModel::*allowed)(int) const)
{
    // Asked again now: a row may have changed since the menu was opened.
    const QList<int> rows = SelectedRowsWhere(allowed);
    if (!rows.isEmpty())
        emit restartRequested(rows);
}

void COutputList::OnRemove()
{
    Rows()->RemoveRows(SelectedRows());
}

QString COutputList::SelectedFile() const
{
    const int row = FirstSelectedRow();
    if (row < 0)
        return {};
    const QString path = Rows()->CellText(row, CDownloadListModel::FullPath);
    return QFileInfo(path).isFile() ? path : QString();
}

void COutputList::OnOpenFolder()
{
    // Asked again now: the file may have gone since the menu was opened.
    if (const QString path = SelectedFile(); !path.isEmpty())
        CShellLayer::ShowInFolder(path);
}

void COutputList::keyPressEvent(QKeyEvent* event)
{
    // Enter opens the selected finished row's file, as Play Video does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        if (CanPlayVideo())
            OnPlayVideo();
        event->accept();
        return;
    }
    // Delete reaches here when Remove from List was last shown disabled: the rows it names now
    // decide, not the menu's state.
    if (event->matches(QKeySequence::Delete)) {
        OnRemove();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void COutputList::CancelActiveDownloads()
{
    QList<int> all;
    for (int i = 0; i < Rows()->rowCount(); ++i)
        all << i;
    Rows()->CancelRows(all);
}

void COutputList::OnHeaderClicked(int column)
{
    m_bSortAscending = column == m_nSortColumn ? !m_bSortAscending : true;
    m_nSortColumn = column;
    Rows()->SortRows(column, m_bSortAscending);
}

void COutputList::OnDoubleClicked(const QModelIndex& index)
{
    // A double-click below the last row hits no row: there is nothing to open.
    if (index.isValid())
        CShellLayer::Open(Rows()->CellText(index.row(), CDownloadListModel::FullPath));
}
