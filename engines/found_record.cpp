#include "engines/found_record.h"

#include "platform/text.h"

namespace keltra {

void FoundRecord::SetName(std::string_view text) {
    const std::string_view fitted = Utf8Prefix(text, sizeof(name) - 1);
    std::memset(name, 0, sizeof(name));
    std::memcpy(name, fitted.data(), fitted.size());
}

}  // namespace keltra
