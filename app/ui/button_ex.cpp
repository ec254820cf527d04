#include "app/ui/button_ex.h"

#include <QPainter>

namespace keltra {

void CButtonExUI::SetImage(const QString& attributes) {
    imageText_ = attributes;
    image_ = ParsePictureAttr(attributes);
    update();
}

void CButtonExUI::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    if (image_.IsEmpty()) return;
    QPainter painter(this);
    if (!isEnabled()) painter.setOpacity(0.45);
    PaintPicture(painter, rect(), image_);
}

void CButtonExUI::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    emit OnHot();
}

void CButtonExUI::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    emit OffHot();
}

}  // namespace keltra
