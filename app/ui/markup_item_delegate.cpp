#include "app/ui/markup_item_delegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextDocument>
#include <cmath>

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
    const QString picture = index.data(kPictureRole).toString();
    if (!picture.isEmpty()) PaintPicture(*painter, option.rect, ParsePictureAttr(picture));
    const int textLeft = option.rect.left() + TextOffset(index);
    QTextDocument document;
    LayOut(document, index);
    const qreal height = document.size().height();
    painter->translate(textLeft, option.rect.top() + (option.rect.height() - height) / 2);
    painter->setClipRect(QRect(0, 0, option.rect.right() - textLeft, option.rect.height()));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    context.palette.setColor(QPalette::Text, option.palette.color(QPalette::Text));
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

QSize CMarkupItemDelegate::sizeHint(const QStyleOptionViewItem& /*option*/,
                                    const QModelIndex& index) const {
    // The width the markup takes when drawn, not that of its raw text with the tags in it.
    QTextDocument document;
    LayOut(document, index);
    const int width = TextOffset(index) + static_cast<int>(std::ceil(document.idealWidth()));
    return {width + kTextMargin, rowHeight_};
}

int CMarkupItemDelegate::TextOffset(const QModelIndex& index) {
    const QString picture = index.data(kPictureRole).toString();
    if (picture.isEmpty()) return 0;
    const PictureAttr attr = ParsePictureAttr(picture);
    return attr.dest.isNull() ? 0 : attr.dest.right() + 1;
}

void CMarkupItemDelegate::LayOut(QTextDocument& document, const QModelIndex& index) {
    document.setDefaultFont(SkinFont(0));
    SetMarkup(document, index.data(Qt::DisplayRole).toString());
}

}  // namespace keltra
