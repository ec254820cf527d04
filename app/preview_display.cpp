#include "app/preview_display.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QUrl>

#include "app/preview_embedded_jpeg.h"
#include "app/preview_heif.h"

namespace keltra {

namespace {

// A TIFF header, in either byte order, or one of the camera makers' variants (Olympus,
// Panasonic): such a file may be a RAW whose picture to show is the JPEG it carries.
bool StartsLikeTiff(std::span<const std::byte> d) {
    if (d.size() < 4) return false;
    const auto c = [&d](size_t i) { return std::to_integer<char>(d[i]); };
    return (c(0) == 'I' && c(1) == 'I') || (c(0) == 'M' && c(1) == 'M');
}

QImage DecodeJpeg(std::span<const std::byte> jpeg) {
    QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()), static_cast<qsizetype>(jpeg.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    return reader.read();
}

// What Qt's image readers cannot show: HEIF and AVIF through libheif, a camera's RAW file
// through the largest JPEG it carries. A TIFF that Qt did read keeps Qt's picture unless the
// JPEG inside it is the larger one (a RAW's preview beside its small first image).
QImage DecodeWithoutQt(const QString& path, const QImage& fromQt) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) return fromQt;
    const uchar* mapped = file.map(0, file.size());
    if (mapped == nullptr) return fromQt;
    const std::span<const std::byte> data(reinterpret_cast<const std::byte*>(mapped),
                                          static_cast<size_t>(file.size()));
    if (!fromQt.isNull() && !StartsLikeTiff(data)) return fromQt;
    if (fromQt.isNull()) {
        if (QImage heif = DecodeHeif(data); !heif.isNull()) return heif;
    }
    const auto jpeg = LargestEmbeddedJpeg(data);
    if (jpeg.empty()) return fromQt;
    QImage preview = DecodeJpeg(jpeg);
    if (preview.isNull()) return fromQt;
    if (!fromQt.isNull() &&
        qint64{fromQt.width()} * fromQt.height() >= qint64{preview.width()} * preview.height()) {
        return fromQt;
    }
    return preview;
}

}  // namespace

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
    QImage picture = DecodeWithoutQt(path, reader.read());
    if (picture.isNull()) return {};
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
