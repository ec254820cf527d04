// HEIF pictures (a phone's HEIC, AVIF where the library decodes it) through libheif, which Qt's
// image plugins do not read.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <optional>

namespace keltra {

struct HeifPicture {
    QImage image;
    QSize pictureSize;  // the primary picture's pixels
};

// Whether the bytes start as a HEIF file does (an ftyp box of a HEIF brand).
bool LooksLikeHeif(const QByteArray& bytes);

// The primary picture scaled to fit `edge` on its longer side (from the stored thumbnail when
// that is large enough); nothing when the bytes cannot be decoded.
std::optional<HeifPicture> DecodeHeifPicture(const QByteArray& bytes, int edge);

}  // namespace keltra
