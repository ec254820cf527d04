#include "app/preview_extraction.h"

#include "engines/extension_categories.h"

namespace keltra {

void PreviewExtraction::ClassifyMedia() {
    const std::string_view extension = ExtensionOf(record.Name());
    audio = ExtensionInList(extension, kAudioExtensions);
    media = audio || ExtensionInList(extension, kVideoExtensions);
}

}  // namespace keltra
