// Draws a cell of the thumbnail grid: the picture (or the type's icon) centred in its square,
// a "damaged" badge on what did not decode whole, the tick box in the top left corner and the
// name below. A click on the box, or Space on the current cell, ticks the file in the list
// model's tick column, so the grid and the list tick the same files.
#pragma once

#include <QImage>
#include <QStyledItemDelegate>
#include <cstdint>

namespace keltra {

struct Thumbnail;

// What the delegate paints a row with; the grid answers for its view.
class ThumbnailCells {
  public:
    static constexpr int kEdge = 128;  // a thumbnail's longer side

    virtual ~ThumbnailCells() = default;
    // The file of a row of the view.
    virtual uint32_t FileAt(int row) const = 0;
    // The thumbnail made for a file; null when there is none (yet).
    virtual const Thumbnail* ThumbnailOf(uint32_t file) = 0;
    // Whether the file is shown with the damaged badge.
    virtual bool Damaged(uint32_t file) = 0;
    // The icon of the file's type, at the thumbnails' size.
    virtual const QImage& IconOf(uint32_t file) = 0;
};

class CThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    CThumbnailDelegate(ThumbnailCells* cells, QObject* parent);

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
    ThumbnailCells* cells_;
};

}  // namespace keltra
