// One preview: the found file and what its engine gave for it, a temporary file (pictures,
// audio, video) or bytes in a buffer (everything else).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/found_record.h"

namespace keltra {

// Bytes of a file shown as text: 256 lines of 1,024 characters.
inline constexpr uint32_t kPreviewBufferBytes = 256 * 1024;

struct PreviewExtraction {
    FoundRecord record = EmptyRecord();
    std::string tempPath;  // empty when the data came in the buffer
    std::vector<std::byte> buffer = std::vector<std::byte>(kPreviewBufferBytes);
    uint32_t size = 0;   // bytes of the buffer filled
    bool media = false;  // audio or video
    bool audio = false;

    // Sets the flags from the record's extension: audio (and media), or video (media).
    void ClassifyMedia();
    // Played by the player rather than shown.
    bool Played() const { return media && !tempPath.empty(); }
};

}  // namespace keltra
