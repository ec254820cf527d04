// A frame that draws skin pictures: `bkimage` behind its children, `image` over its
// background (both in the picture-attribute form, e.g. "file='banner_bg.png' corner='0,0,0,70'").
#pragma once

#include <QFrame>
#include <QString>

#include "app/ui/picture_attr.h"

namespace keltra {

class CPictureFrame : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString bkimage READ BkImage WRITE SetBkImage)
    Q_PROPERTY(QString image READ Image WRITE SetImage)

  public:
    explicit CPictureFrame(QWidget* parent = nullptr) : QFrame(parent) {}

    QString BkImage() const { return bkImageText_; }
    void SetBkImage(const QString& attributes);
    QString Image() const { return imageText_; }
    void SetImage(const QString& attributes);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString bkImageText_;
    QString imageText_;
    PictureAttr bkImage_;
    PictureAttr image_;
};

}  // namespace keltra
