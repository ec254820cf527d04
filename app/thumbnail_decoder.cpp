#include "app/thumbnail_decoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <span>

#include "app/heif_picture.h"
#include "engines/photo/photo_metadata.h"
#include "engines/recovery_target.h"

namespace keltra {

namespace {

std::span<const std::byte> AsBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::byte*>(bytes.constData()),
            static_cast<size_t>(bytes.size())};
}

// Whether the data ends as its format ends: a JPEG's end-of-image marker after its last scan
// (not the one of the small picture its EXIF holds; trailers some cameras append allowed), a
// PNG's IEND chunk, a GIF's trailer byte. Formats without a closing mark are taken as whole.
bool EndsWhole(const QByteArray& bytes, const QByteArray& format) {
    if (format == "jpeg" || format == "jpg") {
        const qsizetype lastScan = bytes.lastIndexOf(QByteArray("\xff\xda", 2));
        return lastScan >= 0 && bytes.indexOf(QByteArray("\xff\xd9", 2), lastScan) >= 0;
    }
    if (format == "png") return bytes.right(64).contains("IEND");
    if (format == "gif") {
        qsizetype end = bytes.size();
        while (end > 0 && bytes[end - 1] == '\0') --end;
        return end > 0 && bytes[end - 1] == ';';
    }
    return true;
}

// Decodes a picture scaled to fit `edge`, keeping its shape; turned as its EXIF says.
std::optional<Thumbnail> DecodePicture(const QByteArray& bytes, int edge, Thumbnail::Kind kind) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead()) return std::nullopt;
    const QByteArray format = reader.format();
    Thumbnail thumbnail;
    thumbnail.kind = kind;
    thumbnail.pictureSize = reader.size();
    if (thumbnail.pictureSize.isValid() &&
        (thumbnail.pictureSize.width() > edge || thumbnail.pictureSize.height() > edge)) {
        reader.setScaledSize(thumbnail.pictureSize.scaled(edge, edge, Qt::KeepAspectRatio));
    }
    QImage image;
    const bool read = reader.read(&image);
    if (image.isNull()) return std::nullopt;
    if (image.width() > edge || image.height() > edge) {
        image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    thumbnail.image = std::move(image);
    thumbnail.damaged = !read || !EndsWhole(bytes, format);
    return thumbnail;
}

std::optional<Thumbnail> DecodeEmbeddedPreview(const QByteArray& bytes, int edge) {
    const std::vector<std::byte> jpeg = EmbeddedPreviewJpeg(AsBytes(bytes));
    if (jpeg.empty()) return std::nullopt;
    const QByteArray preview(reinterpret_cast<const char*>(jpeg.data()),
                             static_cast<qsizetype>(jpeg.size()));
    return DecodePicture(preview, edge, Thumbnail::Kind::EmbeddedPreview);
}

// The first frame through the decoder program, from a private temporary copy of the bytes.
std::optional<Thumbnail> DecodeVideoFrame(const QByteArray& bytes, const ThumbnailOptions& options) {
    if (options.videoDecoder.isEmpty()) return std::nullopt;
    const QString program = QStandardPaths::findExecutable(options.videoDecoder);
    if (program.isEmpty()) return std::nullopt;
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) return std::nullopt;
    QProcess process;
    const QString scale = QStringLiteral("scale=w=%1:h=%1:force_original_aspect_ratio=decrease")
                              .arg(options.edge);
    process.start(program, {"-nostdin", "-v", "error", "-i", file.fileName(), "-frames:v", "1",
                            "-vf", scale, "-f", "image2pipe", "-c:v", "png", "-"});
    if (!process.waitForFinished(options.videoTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    QImage frame;
    if (process.exitCode() != 0 || !frame.loadFromData(process.readAllStandardOutput(), "PNG")) {
        return std::nullopt;
    }
    Thumbnail thumbnail;
    thumbnail.kind = Thumbnail::Kind::VideoFrame;
    thumbnail.image = std::move(frame);
    return thumbnail;
}

}  // namespace

bool IsVideoName(const QString& name) {
    return GetFileCategory(name.toStdString()) == "video";
}

Thumbnail DecodeThumbnail(const QByteArray& bytes, const QString& name, bool knownDamaged,
                          const ThumbnailOptions& options) {
    std::optional<Thumbnail> thumbnail;
    if (IsVideoName(name)) {
        thumbnail = DecodeVideoFrame(bytes, options);
    } else if (IsRawPictureName(name.toStdString())) {
        thumbnail = DecodeEmbeddedPreview(bytes, options.edge);
        if (!thumbnail) thumbnail = DecodePicture(bytes, options.edge, Thumbnail::Kind::Picture);
    } else if (LooksLikeHeif(bytes)) {
        if (std::optional<HeifPicture> heif = DecodeHeifPicture(bytes, options.edge)) {
            thumbnail.emplace();
            thumbnail->kind = Thumbnail::Kind::Picture;
            thumbnail->image = std::move(heif->image);
            thumbnail->pictureSize = heif->pictureSize;
        }
    } else {
        thumbnail = DecodePicture(bytes, options.edge, Thumbnail::Kind::Picture);
        // A TIFF Qt cannot read may still carry a preview.
        if (!thumbnail) thumbnail = DecodeEmbeddedPreview(bytes, options.edge);
    }
    if (!thumbnail) {
        thumbnail.emplace();
        // A picture that yields nothing at all is broken; other files simply have no picture.
        thumbnail->damaged = GetFileCategory(name.toStdString()) == "photo" && !bytes.isEmpty();
    }
    thumbnail->damaged = thumbnail->damaged || knownDamaged;
    return *thumbnail;
}

std::optional<Thumbnail> ThumbnailFromHead(const QByteArray& head, const QString& name,
                                           int minEdge, const ThumbnailOptions& options) {
    if (GetFileCategory(name.toStdString()) != "photo") return std::nullopt;
    std::optional<Thumbnail> thumbnail = DecodeEmbeddedPreview(head, options.edge);
    if (!thumbnail || thumbnail->damaged) return std::nullopt;
    const QSize size = thumbnail->pictureSize;
    if (std::max(size.width(), size.height()) < minEdge) return std::nullopt;
    return thumbnail;
}

}  // namespace keltra
