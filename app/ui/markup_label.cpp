#include "app/ui/markup_label.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>

#include "app/ui/markup.h"
#include "app/ui/skin_fonts.h"

namespace keltra {

CMarkupLabel::CMarkupLabel(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    Rebuild();
}

void CMarkupLabel::SetText(const QString& markup) {
    if (markup == text_) return;
    text_ = markup;
    Rebuild();
}

void CMarkupLabel::SetTextColor(const QColor& color) {
    color_ = color;
    update();
}

void CMarkupLabel::SetFontIndex(int index) {
    fontIndex_ = index;
    Rebuild();
}

void CMarkupLabel::Rebuild() {
    document_.setDefaultFont(SkinFont(fontIndex_));
    SetMarkup(document_, text_);
    updateGeometry();
    update();
}

QSize CMarkupLabel::sizeHint() const {
    document_.setTextWidth(-1);
    const QSizeF natural = document_.size();
    return QSize(qCeil(natural.width()), qCeil(natural.height()));
}

QSize CMarkupLabel::minimumSizeHint() const {
    const int line = QFontMetrics(SkinFont(fontIndex_)).height();
    return QSize(0, line);
}

int CMarkupLabel::heightForWidth(int width) const {
    document_.setTextWidth(width);
    return qCeil(document_.size().height());
}

void CMarkupLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    document_.setTextWidth(width());
    const qreal height = document_.size().height();
    painter.translate(0, qMax<qreal>(0, (this->height() - height) / 2));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text,
                             color_.isValid() ? color_ : palette().color(QPalette::WindowText));
    document_.documentLayout()->draw(&painter, context);
}

void CMarkupLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Rebuild();
}

}  // namespace keltra
