// Names read from a disk become parts of paths only through this function, so that no name a
// corrupt or hostile volume holds can reach outside the folder a file is recovered into.
#pragma once

#include <string>
#include <string_view>

namespace keltra {

// The longest single path component the file systems we write to accept, in bytes.
inline constexpr size_t kMaxComponentBytes = 255;

// A found file or folder name made safe as one path component:
// - "/", "\" and control characters (below 0x20, and 0x7F) become "_";
// - an empty name becomes "_", "." becomes "_" and ".." becomes "__";
// - a name longer than 255 bytes is cut at a character boundary, keeping a short extension.
// Every other byte is kept as it stands.
std::string SafePathComponent(std::string_view name);

// `name` cut to at most `maxBytes` at a character boundary; a short extension (16 bytes at
// most) is kept, so that a cut name still has its type.
std::string CutNameKeepingExtension(std::string_view name, size_t maxBytes);

}  // namespace keltra
