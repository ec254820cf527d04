// Draws list and tree cells whose text is row markup (see markup.h), with the cell's picture
// (item data kPictureRole, in the picture-attribute form) placed by its `dest` inside the cell.
#pragma once

#include <QStyledItemDelegate>

class QTextDocument;

namespace keltra {

inline constexpr int kPictureRole = Qt::UserRole + 101;

class CMarkupItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit CMarkupItemDelegate(int rowHeight, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    // Room kept right of a cell's text, so that columns sized to their cells do not touch.
    static constexpr int kTextMargin = 8;

    // Where the text begins: right of the cell's picture.
    static int TextOffset(const QModelIndex& index);
    static void LayOut(QTextDocument& document, const QModelIndex& index);

    int rowHeight_;
};

}  // namespace keltra
