#include "engines/safe_name.h"

#include "engines/extension_categories.h"
#include "platform/text.h"

namespace keltra {
namespace {

// Extensions longer than this are not worth keeping when a long name is cut.
constexpr size_t kMaxKeptExtension = 16;

bool IsUnsafeByte(unsigned char c) {
    return c == '/' || c == '\\' || c < 0x20 || c == 0x7F;
}

}  // namespace

std::string SafePathComponent(std::string_view name) {
    if (name.empty() || name == ".") return "_";
    if (name == "..") return "__";
    std::string safe;
    safe.reserve(name.size());
    for (const char c : name) safe += IsUnsafeByte(static_cast<unsigned char>(c)) ? '_' : c;
    return CutNameKeepingExtension(safe, kMaxComponentBytes);
}

std::string CutNameKeepingExtension(std::string_view name, size_t maxBytes) {
    if (name.size() <= maxBytes) return std::string(name);
    const std::string_view extension = ExtensionOf(name);
    if (extension.empty() || extension.size() > kMaxKeptExtension ||
        extension.size() + 2 > maxBytes) {
        return std::string(Utf8Prefix(name, maxBytes));
    }
    const std::string_view stem(name.data(), name.size() - extension.size() - 1);
    std::string cut(Utf8Prefix(stem, maxBytes - extension.size() - 1));
    cut += '.';
    cut += extension;
    return cut;
}

}  // namespace keltra
