// What a picture says of itself: the date it was taken and the camera that took it, read from
// its EXIF with libexiv2 (JPEG, TIFF and the TIFF-based RAW formats, PNG, WebP, HEIF), and the
// preview JPEG a RAW file carries. The command line and the desktop program both read them
// here, from the first bytes of a found file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/found_files.h"

namespace keltra {

// A date and time as the camera's clock showed it (EXIF keeps no time zone).
struct DateTaken {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    // "2023-07-14T18:03:22".
    std::string IsoText() const;
    // "2023-07-14 18-03-22": usable as a file name everywhere.
    std::string NameText() const;
    friend bool operator==(const DateTaken&, const DateTaken&) = default;
};

struct PhotoMetadata {
    std::optional<DateTaken> taken;
    std::string camera;  // the camera model, printable characters only; empty when unknown
};

// How much of a found picture is read to find its EXIF: a JPEG keeps it in its first 64 KiB,
// TIFF-based files in their first IFDs, which writers put near the start.
inline constexpr size_t kPhotoMetadataHeadBytes = 256 * 1024;

// "2023:07:14 18:03:22" (the EXIF form; "-" or "/" between the date's parts also taken); nothing
// for a blank ("0000:00:00 00:00:00"), a malformed or an impossible date.
std::optional<DateTaken> ParseExifDate(std::string_view text);

// The date taken (the original date, else the digitised one, else the file's date) and the
// camera model from the picture's bytes, which may be cut short; nothing for what holds no EXIF
// or is damaged past reading.
PhotoMetadata ReadPhotoMetadata(std::span<const std::byte> picture);

// The largest JPEG preview that a RAW (or TIFF) file embeds, found in its bytes; empty when it
// holds none.
std::vector<std::byte> EmbeddedPreviewJpeg(std::span<const std::byte> picture);

// Whether the name is that of a camera's RAW format (shown through its embedded preview).
bool IsRawPictureName(std::string_view name);

// Whether the found file is a carved picture that may hold EXIF: only carved files lack a
// name and a date of their own.
bool IsCarvedPhoto(const FoundRecord& record);

// The metadata of a carved picture, read through its engine from the file's first
// kPhotoMetadataHeadBytes; empty for other files and when the data cannot be read.
PhotoMetadata ReadFoundPhotoMetadata(FoundFiles& engine, const FoundRecord& record);

// "2023-07-14 18-03-22.jpg": the date taken with the found name's extension; empty without a
// date.
std::string NameByDateTaken(const PhotoMetadata& metadata, std::string_view foundName);

}  // namespace keltra
