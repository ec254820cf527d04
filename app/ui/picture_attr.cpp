#include "app/ui/picture_attr.h"

#include <QtWidgets/qdrawutil.h>

#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>

namespace keltra {

namespace {

// "l,t,r,b" -> four numbers, or nothing.
bool ParseFour(const QString& text, int (&out)[4]) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        out[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return false;
    }
    return true;
}

QRect RectFromCorners(const int (&v)[4]) {
    return QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1));
}

}  // namespace

PictureAttr ParsePictureAttr(const QString& text) {
    PictureAttr picture;
    static const QRegularExpression kAttr(QStringLiteral("(\\w+)\\s*=\\s*'([^']*)'"));
    auto matches = kAttr.globalMatch(text);
    if (!matches.hasNext()) {
        picture.file = text.trimmed();
        return picture;
    }
    while (matches.hasNext()) {
        const auto m = matches.next();
        const QString name = m.captured(1);
        const QString value = m.captured(2);
        int v[4];
        if (name == QLatin1String("file")) {
            picture.file = value;
        } else if (name == QLatin1String("source") && ParseFour(value, v)) {
            picture.source = RectFromCorners(v);
        } else if (name == QLatin1String("dest") && ParseFour(value, v)) {
            picture.dest = RectFromCorners(v);
        } else if (name == QLatin1String("corner") && ParseFour(value, v)) {
            picture.corner = QMargins(v[0], v[1], v[2], v[3]);
        }
    }
    return picture;
}

QPixmap SkinPixmap(const QString& file, qreal devicePixelRatio) {
    if (file.isEmpty()) return {};
    const QString base = QStringLiteral(":/skin/") + file;
    if (devicePixelRatio > 1.0) {
        QString doubled = base;
        doubled.insert(doubled.lastIndexOf('.'), QStringLiteral("@2x"));
        if (QFile::exists(doubled)) {
            QPixmap pixmap(doubled);
            pixmap.setDevicePixelRatio(2.0);
            return pixmap;
        }
    }
    return QPixmap(base);
}

void PaintPicture(QPainter& painter, const QRect& bounds, const PictureAttr& picture) {
    QPixmap pixmap = SkinPixmap(picture.file, painter.device()->devicePixelRatioF());
    if (pixmap.isNull()) return;
    const qreal scale = pixmap.devicePixelRatio();
    if (!picture.source.isNull()) {
        const QRect physical(picture.source.topLeft() * scale, picture.source.size() * scale);
        pixmap = pixmap.copy(physical);
        pixmap.setDevicePixelRatio(scale);
    }
    QRect target = bounds;
    if (!picture.dest.isNull()) {
        target = picture.dest.translated(bounds.topLeft()).intersected(bounds);
    }
    if (target.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (picture.corner.isNull()) {
        painter.drawPixmap(target, pixmap);
    } else {
        // The margins are in logical pixels on both sides of the copy.
        const QMargins physical(picture.corner.left() * scale, picture.corner.top() * scale,
                                picture.corner.right() * scale, picture.corner.bottom() * scale);
        QPixmap logical = pixmap;
        logical.setDevicePixelRatio(1.0);
        QMargins targetMargins = picture.corner;
        targetMargins.setTop(qMin(targetMargins.top(), target.height()));
        targetMargins.setBottom(
            qMin(targetMargins.bottom(), target.height() - targetMargins.top()));
        qDrawBorderPixmap(&painter, target, targetMargins, logical, logical.rect(), physical);
    }
    painter.restore();
}

QPixmap PictureToPixmap(const PictureAttr& picture, QSize size, qreal devicePixelRatio) {
    QPixmap out(size * devicePixelRatio);
    out.setDevicePixelRatio(devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    PictureAttr whole = picture;
    whole.dest = QRect();
    PaintPicture(painter, QRect(QPoint(0, 0), size), whole);
    return out;
}

}  // namespace keltra
