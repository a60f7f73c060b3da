#pragma once
// Draws the Status cell of the transferring row as a progress bar with its percentage, so
// the progress reads at a glance in the narrow column; the whole text (bytes and rate)
// stays the cell's tool tip and accessible text. Every other cell is drawn as usual.

#include <QStyledItemDelegate>

class QueueProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
