// One found file's thumbnail made from its bytes: pictures through Qt's image plugins, scaled
// while they decode; a RAW file through the preview JPEG it carries; a video through its first
// frame when a decoder program is installed; what cannot be shown as an icon. Runs on any
// thread; holds nothing between calls.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace keltra {

struct Thumbnail {
    enum class Kind {
        Picture,          // the picture itself, scaled
        EmbeddedPreview,  // the preview JPEG a RAW (or TIFF) file carries
        VideoFrame,       // a video's first frame
        Icon,             // nothing to show: the view draws the type's icon
    };
    QImage image;        // null for Kind::Icon
    Kind kind = Kind::Icon;
    bool damaged = false;  // the data is cut or broken: what decoded is shown, marked
    QSize pictureSize;     // the full picture's pixels, when the data tells

    // Bytes the cache counts for it.
    qint64 Cost() const { return image.sizeInBytes() + 64; }
};

struct ThumbnailOptions {
    int edge = 128;  // the longer side of a thumbnail, in pixels
    // The program that takes a video's first frame ("ffmpeg"); empty or not found: an icon.
    QString videoDecoder;
    int videoTimeoutMs = 10000;
};

// Whether the name is a video, whose thumbnail needs the decoder program.
bool IsVideoName(const QString& name);

// The thumbnail of a file named `name` whose bytes (all of them, or as many as were read) are
// `bytes`. `knownDamaged`: the engine found the file not intact.
Thumbnail DecodeThumbnail(const QByteArray& bytes, const QString& name, bool knownDamaged,
                          const ThumbnailOptions& options);

// The thumbnail from the preview a picture's first bytes already hold (a camera JPEG's EXIF
// thumbnail, a RAW file's previews), when it is at least `minEdge` pixels on its longer side;
// nothing otherwise. Saves reading a large file whole.
std::optional<Thumbnail> ThumbnailFromHead(const QByteArray& head, const QString& name,
                                           int minEdge, const ThumbnailOptions& options);

}  // namespace keltra
