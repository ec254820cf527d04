#include "engines/photo/photo_metadata.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <mutex>

#include "engines/extension_categories.h"
#include "engines/recovery_target.h"
#include "platform/text.h"

// libexiv2 0.27 hands its objects out in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace keltra {

namespace {

// The library's own switches, set once before the first picture: its warnings about damaged
// files would go to stderr, and its XMP parser must be made ready before threads use it.
void PrepareLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

Exiv2::Image::AutoPtr OpenPicture(std::span<const std::byte> picture) {
    PrepareLibrary();
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(picture.data()),
                                  static_cast<long>(picture.size()));
    image->readMetadata();
    return image;
}

std::string TagText(const Exiv2::ExifData& exif, const char* key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0) return {};
    return it->toString();
}

// Printable ASCII and UTF-8 bytes kept, control characters dropped, blanks at both ends cut.
std::string CleanText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0) break;
        if (u >= 0x20 && u != 0x7f) out += c;
    }
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

bool ReadNumber(std::string_view text, size_t at, size_t digits, int& value) {
    if (at + digits > text.size()) return false;
    const char* begin = text.data() + at;
    const auto [end, ec] = std::from_chars(begin, begin + digits, value);
    return ec == std::errc() && end == begin + digits;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string DateTaken::IsoText() const {
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", year, month, day, hour, minute,
                       second);
}

std::string DateTaken::NameText() const {
    return fmt::format("{:04}-{:02}-{:02} {:02}-{:02}-{:02}", year, month, day, hour, minute,
                       second);
}

std::optional<DateTaken> ParseExifDate(std::string_view text) {
    // "YYYY:MM:DD HH:MM:SS"
    if (text.size() < 19) return std::nullopt;
    for (const size_t at : {size_t{4}, size_t{7}}) {
        if (text[at] != ':' && text[at] != '-' && text[at] != '/') return std::nullopt;
    }
    if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    DateTaken d;
    if (!ReadNumber(text, 0, 4, d.year) || !ReadNumber(text, 5, 2, d.month) ||
        !ReadNumber(text, 8, 2, d.day) || !ReadNumber(text, 11, 2, d.hour) ||
        !ReadNumber(text, 14, 2, d.minute) || !ReadNumber(text, 17, 2, d.second)) {
        return std::nullopt;
    }
    // Digital cameras began in the 1970s; a year past 9999 cannot be written as four digits.
    if (d.year < 1970 || d.month < 1 || d.month > 12 || d.day < 1 ||
        d.day > DaysInMonth(d.year, d.month) || d.hour > 23 || d.minute > 59 || d.second > 60) {
        return std::nullopt;
    }
    d.second = std::min(d.second, 59);
    return d;
}

PhotoMetadata ReadPhotoMetadata(std::span<const std::byte> picture) {
    PhotoMetadata metadata;
    if (picture.empty()) return metadata;
    try {
        const Exiv2::Image::AutoPtr image = OpenPicture(picture);
        const Exiv2::ExifData& exif = image->exifData();
        // The original date where EXIF puts it, or where some RAW formats do (IFD0).
        for (const char* key : {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal",
                                "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"}) {
            metadata.taken = ParseExifDate(TagText(exif, key));
            if (metadata.taken) break;
        }
        metadata.camera = CleanText(TagText(exif, "Exif.Image.Model"));
    } catch (const std::exception&) {
        // Not a picture the library knows, or damaged past its metadata.
    }
    return metadata;
}

std::vector<std::byte> EmbeddedPreviewJpeg(std::span<const std::byte> picture) {
    if (picture.empty()) return {};
    try {
        const Exiv2::Image::AutoPtr image = OpenPicture(picture);
        Exiv2::PreviewManager previews(*image);
        const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        // Listed from the smallest to the largest.
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            if (it->mimeType_ != "image/jpeg") continue;
            const Exiv2::PreviewImage preview = previews.getPreviewImage(*it);
            const auto* data = reinterpret_cast<const std::byte*>(preview.pData());
            if (preview.size() == 0) continue;
            return {data, data + preview.size()};
        }
    } catch (const std::exception&) {
        // No preview that can be read.
    }
    return {};
}

bool IsRawPictureName(std::string_view name) {
    static constexpr std::string_view kRaw[] = {
        "3fr", "arw", "cr2", "cr3", "crw", "dcr", "dng", "erf", "iiq", "kdc", "mef", "mos",
        "mrw", "nef", "nrw", "orf", "pef", "raf", "rw2", "rwl", "sr2", "srf", "srw", "x3f"};
    const std::string extension = AsciiLower(ExtensionOf(name));
    return std::find(std::begin(kRaw), std::end(kRaw), extension) != std::end(kRaw);
}

bool IsCarvedPhoto(const FoundRecord& record) {
    return record.isFolder == 0 && record.origin == static_cast<uint32_t>(RecordOrigin::Carving) &&
           GetFileCategory(record.Name()) == CategoryName(FileCategory::Photo);
}

PhotoMetadata ReadFoundPhotoMetadata(FoundFiles& engine, const FoundRecord& record) {
    if (!IsCarvedPhoto(record)) return {};
    std::vector<std::byte> head(
        static_cast<size_t>(std::min<uint64_t>(record.size, kPhotoMetadataHeadBytes)));
    size_t got = 0;
    // A read error part-way leaves the bytes read before it, which may well hold the EXIF.
    IgnoreStatus(engine.ReadRecordHead(record, head, got), "what was read before an error is used");
    return ReadPhotoMetadata(std::span(head).first(std::min(got, head.size())));
}

std::string NameByDateTaken(const PhotoMetadata& metadata, std::string_view foundName) {
    if (!metadata.taken) return {};
    std::string name = metadata.taken->NameText();
    const std::string_view extension = ExtensionOf(foundName);
    if (!extension.empty()) {
        name += '.';
        name += extension;
    }
    return name;
}

}  // namespace keltra

#pragma GCC diagnostic pop
