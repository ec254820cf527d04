// The five extension lists that sort a name into photo, audio, video, document, archive or
// others. The test is a plain substring search of the lower-cased extension in the list, so
// "jp" counts as a photo (it occurs inside "*.jpg|").
#pragma once

#include <string>
#include <string_view>

namespace keltra {

enum class FileCategory { Photo, Audio, Video, Document, Archive, Others };

extern const std::string_view kPhotoExtensions;
extern const std::string_view kAudioExtensions;
extern const std::string_view kVideoExtensions;
extern const std::string_view kDocumentExtensions;
extern const std::string_view kArchiveExtensions;

// The text after the last "." of a name; empty when there is no "." or nothing follows it.
std::string_view ExtensionOf(std::string_view name);

// The lower-cased extension occurs in the list. An empty extension never does.
bool ExtensionInList(std::string_view extension, std::string_view list);

// Photo, audio, video, document, archive tested in that order; others when none matches.
FileCategory CategoryOf(std::string_view name);

// "photo", "audio", "video", "document", "archive", "others".
std::string_view CategoryName(FileCategory category);

// The list of a category; empty for others.
std::string_view CategoryExtensions(FileCategory category);

}  // namespace keltra
