#include "app/ui/markup_item_delegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextDocument>

#include "app/ui/markup.h"
#include "app/ui/picture_attr.h"
#include "app/ui/skin_fonts.h"

namespace keltra {

void CMarkupItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    painter->save();
    int textLeft = option.rect.left();
    const QString picture = index.data(kPictureRole).toString();
    if (!picture.isEmpty()) {
        const PictureAttr attr = ParsePictureAttr(picture);
        PaintPicture(*painter, option.rect, attr);
        if (!attr.dest.isNull()) textLeft += attr.dest.right() + 1;
    }
    QTextDocument document;
    document.setDefaultFont(SkinFont(0));
    SetMarkup(document, index.data(Qt::DisplayRole).toString());
    const qreal height = document.size().height();
    painter->translate(textLeft, option.rect.top() + (option.rect.height() - height) / 2);
    painter->setClipRect(QRect(0, 0, option.rect.right() - textLeft, option.rect.height()));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    context.palette.setColor(QPalette::Text, option.palette.color(QPalette::Text));
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

QSize CMarkupItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(rowHeight_);
    return size;
}

}  // namespace keltra
