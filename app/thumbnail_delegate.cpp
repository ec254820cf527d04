#include "app/thumbnail_delegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/apply_section.h"
#include "app/file_list_model.h"
#include "app/thumbnail_decoder.h"

namespace keltra {

namespace {

constexpr int kPadding = 8;      // around the picture
constexpr int kTextHeight = 20;  // the name's line
constexpr int kCheckSize = 18;

// A cell may be wider than the picture's square when the grid spreads its columns.
QRect PictureRect(const QRect& cell) {
    return {cell.left() + (cell.width() - ThumbnailCells::kEdge) / 2, cell.top() + kPadding,
            ThumbnailCells::kEdge, ThumbnailCells::kEdge};
}

}  // namespace

CThumbnailDelegate::CThumbnailDelegate(ThumbnailCells* cells, QObject* parent)
    : QStyledItemDelegate(parent), cells_(cells) {}

QSize CThumbnailDelegate::CellSize() const {
    return {ThumbnailCells::kEdge + 2 * kPadding,
            ThumbnailCells::kEdge + 2 * kPadding + kTextHeight};
}

// On the name's line, left of the name: a box at the top of a cell would sit right under the
// name of the picture above it and read as that picture's.
QRect CThumbnailDelegate::CheckRect(const QRect& cell) {
    return {cell.left() + 4, PictureRect(cell).bottom() + 4 + (kTextHeight - kCheckSize) / 2,
            kCheckSize, kCheckSize};
}

QSize CThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return CellSize();
}

void CThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const QRect cell = option.rect;
    QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    painter->save();
    // The selection's and the pointer's background, as the list draws it.
    QStyleOptionViewItem panel(option);
    panel.rect = cell.adjusted(2, 2, -2, -2);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, option.widget);

    const uint32_t file = cells_->FileAt(index.row());
    const QRect square = PictureRect(cell);
    const Thumbnail* thumbnail = cells_->ThumbnailOf(file);
    const QImage& image = thumbnail != nullptr && !thumbnail->image.isNull() ? thumbnail->image
                                                                             : cells_->IconOf(file);
    const QSize size =
        image.size().width() > square.width() || image.size().height() > square.height()
            ? image.size().scaled(square.size(), Qt::KeepAspectRatio)
            : image.size();
    // Standing on the name, so that pictures of every shape line up above their names.
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(square.center());
    placed.moveBottom(square.bottom());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(placed, image);
    if (thumbnail != nullptr && !thumbnail->image.isNull()) {
        painter->setPen(QColor(0, 0, 0, 40));
        painter->drawRect(placed.adjusted(0, 0, -1, -1));
    }

    if (cells_->Damaged(file)) {
        const QString text = MessageText("MSG0837");
        QFont font = option.font;
        font.setBold(true);
        font.setPixelSize(11);
        painter->setFont(font);
        const QRect textRect = QFontMetrics(font).boundingRect(text).adjusted(-5, -2, 5, 2);
        QRect badge(QPoint(0, 0), textRect.size());
        badge.moveBottomRight(square.bottomRight() - QPoint(2, 2));
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0xc6, 0x28, 0x28));
        painter->drawRoundedRect(badge, 4, 4);
        painter->setPen(Qt::white);
        painter->drawText(badge, Qt::AlignCenter, text);
    }

    QStyleOptionViewItem check(option);
    check.rect = CheckRect(cell);
    check.features |= QStyleOptionViewItem::HasCheckIndicator;
    const bool checked =
        index.siblingAtColumn(CFileListModel::kCheckColumn).data(Qt::CheckStateRole).toInt() ==
        Qt::Checked;
    check.state =
        (option.state & QStyle::State_Enabled) | (checked ? QStyle::State_On : QStyle::State_Off);
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, option.widget);

    const int textLeft = check.rect.right() + 4;
    const QRect textRect(textLeft, square.bottom() + 4, cell.right() - 4 - textLeft, kTextHeight);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(name, Qt::ElideMiddle, textRect.width()));
    painter->restore();
}

bool CThumbnailDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                     const QStyleOptionViewItem& option, const QModelIndex& index) {
    bool toggle = false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            // A press on the box only ticks; it neither selects nor opens the file.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return CheckRect(option.rect).contains(mouse->position().toPoint());
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            toggle = mouse->button() == Qt::LeftButton &&
                     CheckRect(option.rect).contains(mouse->position().toPoint());
            break;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            toggle = key == Qt::Key_Space || key == Qt::Key_Select;
            break;
        }
        default:
            break;
    }
    if (!toggle) return false;
    const QModelIndex box = index.siblingAtColumn(CFileListModel::kCheckColumn);
    const bool checked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

}  // namespace keltra
