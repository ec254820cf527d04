#include "engines/found_record.h"

#include "engines/safe_name.h"
#include "platform/text.h"

namespace keltra {

void FoundRecord::SetName(std::string_view text) {
    // A name too long for the record keeps its extension, which gives the file its type.
    const std::string fitted = CutNameKeepingExtension(text, sizeof(name) - 1);
    std::memset(name, 0, sizeof(name));
    std::memcpy(name, fitted.data(), fitted.size());
}

}  // namespace keltra
