// A push button that draws a skin picture over its background (`image`, in the
// picture-attribute form) and reports when the pointer enters ("onhot") and leaves ("offhot").
#pragma once

#include <QPushButton>
#include <QString>

#include "app/ui/picture_attr.h"

namespace keltra {

class CButtonExUI : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString image READ Image WRITE SetImage)

  public:
    explicit CButtonExUI(QWidget* parent = nullptr) : QPushButton(parent) {}

    QString Image() const { return imageText_; }
    void SetImage(const QString& attributes);

  signals:
    void OnHot();
    void OffHot();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QString imageText_;
    PictureAttr image_;
};

}  // namespace keltra
