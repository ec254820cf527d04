// Draws a cell of the thumbnail grid: the picture (or the type's icon) centred in its square,
// a "damaged" badge on what did not decode whole, the tick box in the top left corner and the
// name below. A click on the box, or Space on the current cell, ticks the file in the list
// model's tick column, so the grid and the list tick the same files.
#pragma once

#include <QStyledItemDelegate>

namespace keltra {

class CThumbnailGrid;

class CThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    CThumbnailDelegate(CThumbnailGrid* grid, QObject* parent);

    // Every cell's size.
    QSize CellSize() const;
    // The tick box of the cell in `cell`.
    static QRect CheckRect(const QRect& cell);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

  private:
    CThumbnailGrid* grid_;
};

}  // namespace keltra
