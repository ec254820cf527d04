#include "engines/ntfs/ntfs_fixups.h"

#include <cstring>

namespace keltra::ntfs {

void ApplyFixups(std::span<std::byte> record) {
    const size_t count = record.size() / kFixupStride;
    for (size_t i = 1; i <= count; ++i) {
        const size_t saved = kUpdateSequenceOffset + 2 * i;
        if (saved + 2 > record.size()) return;
        std::memcpy(record.data() + i * kFixupStride - 2, record.data() + saved, 2);
    }
}

}  // namespace keltra::ntfs
