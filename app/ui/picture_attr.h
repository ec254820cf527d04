// Picture attributes of the skin: "file='banner_bg.png' corner='0,0,0,70'",
// "file='checkbox.png' source='0,22,12,34' dest='2,0,14,12'". `source` picks a rectangle of the
// picture (a sprite), `dest` places it inside the control (else it fills the control), and
// `corner` gives the left, top, right and bottom margins that keep their size while the middle
// stretches (nine-slice).
#pragma once

#include <QMargins>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;

namespace keltra {

struct PictureAttr {
    QString file;
    QRect source;  // null: the whole picture
    QRect dest;    // null: the whole control
    QMargins corner;

    bool IsEmpty() const { return file.isEmpty(); }
};

// Reads the attributes; unknown attributes and malformed numbers are ignored. A text without
// "file=" is taken as a bare file name.
PictureAttr ParsePictureAttr(const QString& text);

// A skin picture by file name, from the program's resources; the double-size drawing is used on
// screens that scale by more than 1. Null when there is no such picture.
QPixmap SkinPixmap(const QString& file, qreal devicePixelRatio = 1.0);

// Draws the picture into `bounds` (the control's rectangle) as the attributes say.
void PaintPicture(QPainter& painter, const QRect& bounds, const PictureAttr& picture);

// The picture cut and scaled to `size` logical pixels, ready for an icon.
QPixmap PictureToPixmap(const PictureAttr& picture, QSize size, qreal devicePixelRatio = 1.0);

}  // namespace keltra
