// What a found file's content-intact flag says, by the engine that found it. A file-system
// engine sets it to 0 when the file's first bytes do not match its extension (such photos are
// not listed: their data is overwritten). Carving names files after the type it recognised, so
// there 0 means that the file's structure showed it damaged or cut; such files are listed and
// recovered, marked as damaged.
#pragma once

#include <string_view>

#include "engines/found_record.h"

namespace keltra {

enum class ContentVerdict {
    kIntact,
    kNotItsType,  // a file-system engine's file whose first bytes are of another type
    kDamaged,     // a carved file whose structure is broken
};

inline ContentVerdict VerdictOf(const FoundRecord& r) {
    if (r.contentIntact != 0) return ContentVerdict::kIntact;
    return r.origin == static_cast<uint32_t>(RecordOrigin::Carving) ? ContentVerdict::kDamaged
                                                                    : ContentVerdict::kNotItsType;
}

// The note shown after a file that is not intact; empty for an intact one.
inline std::string_view VerdictNote(ContentVerdict verdict) {
    switch (verdict) {
        case ContentVerdict::kNotItsType:
            return "content does not match its type";
        case ContentVerdict::kDamaged:
            return "damaged";
        case ContentVerdict::kIntact:
            break;
    }
    return {};
}

}  // namespace keltra
