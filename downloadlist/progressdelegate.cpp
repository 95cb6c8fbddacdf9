#include "downloadlist/progressdelegate.h"

#include "downloadlist/downloadlistmodel.h"

#include <QApplication>
#include <QStyleOptionProgressBar>

void CProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    const QVariant percent = index.data(CDownloadListModel::PercentRole);
    if (!percent.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    // The item's own background first, so that a selected row keeps its highlight around the bar.
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text.clear();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.direction = option.direction;
    bar.fontMetrics = option.fontMetrics;
    bar.minimum = 0;
    bar.maximum = 100;
    // A converter may report a position past the media's end; the text says so, the bar stops.
    bar.progress = int(std::clamp<qint64>(percent.toLongLong(), 0, 100));
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}
