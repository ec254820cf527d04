// Draws list and tree cells whose text is row markup (see markup.h), with the cell's picture
// (item data kPictureRole, in the picture-attribute form) placed by its `dest` inside the cell.
#pragma once

#include <QStyledItemDelegate>

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
    int rowHeight_;
};

}  // namespace keltra
