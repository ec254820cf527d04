// The volume's up-case table: how exFAT compares names without regard to case, and the name
// hash its stream extensions keep.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace keltra {

class ExFatUpcase {
  public:
    // Until a table is loaded, only a-z are up-cased (the part every table must hold); the full
    // map is made only when a table is loaded, so an unloaded one costs nothing to make or copy.
    ExFatUpcase() = default;
    // Loads the table as stored: a list of up-cased characters from U+0000 on, where 0xFFFF
    // followed by a count n stands for n characters that map to themselves. Characters the
    // table does not reach map to themselves.
    void Load(std::span<const std::byte> stored);

    char16_t Upper(char16_t c) const {
        if (!map_.empty()) return map_[c];
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
    }
    // The name hash of the stream extension: over the up-cased name, low byte then high byte.
    uint16_t NameHash(std::u16string_view name) const;
    // The name as exFAT compares it: every character up-cased.
    std::u16string Folded(std::u16string_view name) const;

    // The checksum the up-case table's entry keeps of the table as stored.
    static uint32_t TableChecksum(std::span<const std::byte> stored);

  private:
    std::vector<char16_t> map_;  // empty until a table is loaded
};

}  // namespace keltra
