#include "app/type_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace keltra {

namespace {

// Photo, audio, video, document, archive, others.
constexpr QRgb kCategoryColours[] = {0xff3b82c4, 0xff8e5cc2, 0xffc2553b,
                                     0xff3b9a6a, 0xffb08a2e, 0xff6f7780};

}  // namespace

QImage TypeIcon(const QString& extension, int category, bool folder, int edge) {
    QImage icon(edge, edge, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour(kCategoryColours[category >= 0 && category < 6 ? category : 5]);
    if (folder) {
        const QRectF body(edge * 0.1, edge * 0.3, edge * 0.8, edge * 0.55);
        painter.setBrush(colour.lighter(130));
        painter.setPen(QPen(colour.darker(120), 1.5));
        painter.drawRoundedRect(QRectF(edge * 0.1, edge * 0.22, edge * 0.35, edge * 0.2), 3, 3);
        painter.drawRoundedRect(body, 4, 4);
        return icon;
    }
    const qreal w = edge * 0.62, h = edge * 0.8, fold = edge * 0.18;
    const qreal left = (edge - w) / 2, top = (edge - h) / 2;
    QPainterPath sheet;
    sheet.moveTo(left, top);
    sheet.lineTo(left + w - fold, top);
    sheet.lineTo(left + w, top + fold);
    sheet.lineTo(left + w, top + h);
    sheet.lineTo(left, top + h);
    sheet.closeSubpath();
    painter.setPen(QPen(QColor(0xa0, 0xa6, 0xad), 1.2));
    painter.setBrush(QColor(0xfb, 0xfb, 0xfc));
    painter.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(left + w - fold, top);
    corner.lineTo(left + w - fold, top + fold);
    corner.lineTo(left + w, top + fold);
    corner.closeSubpath();
    painter.setBrush(QColor(0xdd, 0xe0, 0xe4));
    painter.drawPath(corner);
    const QRectF band(left - edge * 0.06, top + h * 0.52, w + edge * 0.12, h * 0.26);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(band, 3, 3);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(8, static_cast<int>(band.height() * 0.55)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString text = extension.isEmpty() ? QStringLiteral("?") : extension.left(5).toUpper();
    painter.drawText(band, Qt::AlignCenter, text);
    return icon;
}

}  // namespace keltra
