#include "app/preview_display.h"

#include <QImageReader>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QUrl>

namespace keltra {

QString PreviewText(std::span<const std::byte> data) {
    QString text;
    text.reserve(static_cast<qsizetype>(data.size() + data.size() / kPreviewLineChars + 1));
    size_t column = 0;
    for (const std::byte b : data) {
        const auto c = static_cast<unsigned char>(b);
        text += c == 0 ? QChar(u'.') : QChar(static_cast<char16_t>(c));
        if (++column == kPreviewLineChars) {
            text += u'\n';
            column = 0;
        }
    }
    if (column != 0 || data.empty()) text += u'\n';
    return text;
}

QImage LoadPreviewPicture(const QString& path) {
    // The temporary file is named for its kind, not its format: the content decides.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    QImage picture = reader.read();
    if (picture.width() <= 2 && picture.height() <= 2) return {};
    return picture;
}

bool ShowPicture(QTextEdit* edit, const QString& path) {
    edit->clear();
    const QImage picture = LoadPreviewPicture(path);
    if (picture.isNull()) return false;
    InsertPicture(edit, picture);
    return true;
}

void InsertPicture(QTextEdit* edit, const QImage& original) {
    edit->clear();
    QImage picture = original;
    const QSize room = edit->viewport()->size() - QSize(12, 12);
    if (room.isValid() && (picture.width() > room.width() || picture.height() > room.height())) {
        picture = picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    // Clearing the edit dropped the document's resources, so the name can be the same each time.
    const QUrl name(QStringLiteral("preview://picture"));
    edit->document()->addResource(QTextDocument::ImageResource, name, picture);
    QTextImageFormat format;
    format.setName(name.toString());
    format.setWidth(picture.width());
    format.setHeight(picture.height());
    QTextCursor cursor(edit->document());
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centred);
    cursor.insertImage(format);
}

}  // namespace keltra
