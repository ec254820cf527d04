// A label whose text is row markup (see markup.h), wrapped at word boundaries when it does not
// fit. `textColor` overrides the palette's text colour ("#FF0089BE" form accepted).
#pragma once

#include <QColor>
#include <QString>
#include <QTextDocument>
#include <QWidget>

namespace keltra {

class CMarkupLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ Text WRITE SetText)
    Q_PROPERTY(QColor textColor READ TextColor WRITE SetTextColor)
    Q_PROPERTY(int fontIndex READ FontIndex WRITE SetFontIndex)

  public:
    explicit CMarkupLabel(QWidget* parent = nullptr);

    QString Text() const { return text_; }
    void SetText(const QString& markup);
    // Invalid colour: the palette's.
    QColor TextColor() const { return color_; }
    void SetTextColor(const QColor& color);
    // The skin font the text starts in.
    int FontIndex() const { return fontIndex_; }
    void SetFontIndex(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Rebuild();

    QString text_;
    QColor color_;
    int fontIndex_ = 0;
    mutable QTextDocument document_;
};

}  // namespace keltra
