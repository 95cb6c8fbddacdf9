#include "downloadlist/outputlist.h"

#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/progressdelegate.h"

#include <QHeaderView>

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
    setAlternatingRowColors(false);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    setItemDelegateForColumn(CDownloadListModel::Progress, new CProgressDelegate(this));
}

void COutputList::SetRows(CDownloadListModel* model)
{
    setModel(model);
    for (int c = 0; c < CDownloadListModel::ColumnCount; ++c)
        setColumnWidth(c, kColumnWidths[c]);
}
