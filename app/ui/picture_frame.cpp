#include "app/ui/picture_frame.h"

#include <QPainter>

namespace keltra {

void CPictureFrame::SetBkImage(const QString& attributes) {
    bkImageText_ = attributes;
    bkImage_ = ParsePictureAttr(attributes);
    update();
}

void CPictureFrame::SetImage(const QString& attributes) {
    imageText_ = attributes;
    image_ = ParsePictureAttr(attributes);
    update();
}

void CPictureFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    PaintPicture(painter, rect(), bkImage_);
    PaintPicture(painter, rect(), image_);
}

}  // namespace keltra
