#pragma once

#include <QStyledItemDelegate>

// Paints a Progress cell as a bar filled to the row's percentage, with the cell's own text.
class CProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
