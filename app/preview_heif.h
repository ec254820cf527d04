// Decoding HEIF pictures (HEIC from phones, AVIF) with libheif, for the preview: Qt's own
// image plugins read neither.
#pragma once

#include <QImage>
#include <cstddef>
#include <span>

namespace keltra {

// The primary picture of a HEIF or AVIF file; a null image when the data is none or does not
// decode.
QImage DecodeHeif(std::span<const std::byte> data);

}  // namespace keltra
