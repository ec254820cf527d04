#include "engines/ext/ext_block_bitmap.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace keltra {
namespace {

constexpr size_t kSuperblockOffset = 1024;
constexpr size_t kSuperblockBytes = 1024;
constexpr uint16_t kExtMagic = 0xEF53;
constexpr uint32_t kCompatSparseSuper2 = 0x0200;
constexpr uint32_t kIncompatMetaGroups = 0x0010;
constexpr uint32_t kIncompat64Bit = 0x0080;
constexpr uint32_t kRoCompatSparseSuper = 0x0001;
constexpr uint32_t kRoCompatGroupChecksum = 0x0010;
constexpr uint32_t kRoCompatMetadataChecksum = 0x0400;
constexpr uint16_t kGroupBlockUninit = 0x0002;
// Beyond this block size (64 KiB) no ext volume is made.
constexpr uint32_t kMaxBlockSize = 65536;

bool IsPowerOf(uint64_t value, uint64_t base) {
    while (value > 1 && value % base == 0) value /= base;
    return value == 1;
}

// A descriptor's 64-bit block address: the low half at `lo`, the high half at `hi` in the
// descriptors of 64 bytes or more.
uint64_t DescriptorBlockField(std::span<const std::byte> d, size_t lo, size_t hi) {
    uint64_t value = Le32(d, lo);
    if (d.size() >= 64) value |= static_cast<uint64_t>(Le32(d, hi)) << 32;
    return value;
}

}  // namespace

uint64_t ExtLayout::GroupCount() const {
    if (blocksPerGroup == 0 || blockCount <= firstDataBlock) return 0;
    return (blockCount - firstDataBlock + blocksPerGroup - 1) / blocksPerGroup;
}

bool ExtLayout::GroupHasSuper(uint64_t group) const {
    if (group == 0) return true;
    if (sparseSuper2) return group == backupGroups[0] || group == backupGroups[1];
    if (!sparseSuper || group == 1) return true;
    return IsPowerOf(group, 3) || IsPowerOf(group, 5) || IsPowerOf(group, 7);
}

uint64_t ExtLayout::GroupFirstBlock(uint64_t group) const {
    return firstDataBlock + group * blocksPerGroup;
}

uint64_t ExtLayout::DescriptorBlocks() const {
    const uint64_t groups =
        metaGroups ? firstMetaGroup * (blockSize / descriptorSize) : GroupCount();
    return (groups * descriptorSize + blockSize - 1) / blockSize;
}

uint64_t ExtLayout::DescriptorBlock(uint64_t group) const {
    const uint64_t perBlock = blockSize / descriptorSize;
    const uint64_t metaGroup = group / perBlock;
    if (!metaGroups || metaGroup < firstMetaGroup) return firstDataBlock + 1 + metaGroup;
    const uint64_t first = metaGroup * perBlock;
    return GroupFirstBlock(first) + (GroupHasSuper(first) ? 1 : 0);
}

bool ReadExtLayout(std::span<const std::byte> s, ExtLayout& layout) {
    if (s.size() < kSuperblockBytes || Le16(s, 0x38) != kExtMagic) return false;
    const uint32_t logSize = Le32(s, 0x18);
    if (logSize > 6) return false;
    layout.blockSize = 1024u << logSize;
    const uint32_t incompat = Le32(s, 0x60);
    const uint32_t roCompat = Le32(s, 0x64);
    layout.blockCount = Le32(s, 0x04);
    if ((incompat & kIncompat64Bit) != 0) {
        layout.blockCount |= static_cast<uint64_t>(Le32(s, 0x150)) << 32;
        layout.descriptorSize = Le16(s, 0xFE);
    }
    layout.firstDataBlock = Le32(s, 0x14);
    layout.blocksPerGroup = Le32(s, 0x20);
    layout.reservedGdtBlocks = Le16(s, 0xCE);
    layout.metaGroups = (incompat & kIncompatMetaGroups) != 0;
    layout.firstMetaGroup = Le32(s, 0x104);
    layout.sparseSuper = (roCompat & kRoCompatSparseSuper) != 0;
    layout.sparseSuper2 = (Le32(s, 0x5C) & kCompatSparseSuper2) != 0;
    layout.backupGroups[0] = Le32(s, 0x24C);
    layout.backupGroups[1] = Le32(s, 0x250);
    layout.groupChecksums = (roCompat & (kRoCompatGroupChecksum | kRoCompatMetadataChecksum)) != 0;
    // Revision 0 volumes have 128-byte inodes and no size field.
    const uint32_t inodeSize = Le32(s, 0x4C) == 0 ? 128 : Le16(s, 0x58);
    layout.inodeTableBlocks =
        (static_cast<uint64_t>(Le32(s, 0x28)) * inodeSize + layout.blockSize - 1) /
        layout.blockSize;
    return layout.blockSize <= kMaxBlockSize && layout.blocksPerGroup != 0 &&
           layout.blocksPerGroup <= layout.blockSize * 8 && layout.descriptorSize >= 32 &&
           layout.descriptorSize <= layout.blockSize &&
           (layout.descriptorSize & (layout.descriptorSize - 1)) == 0 &&
           layout.firstDataBlock < layout.blockCount;
}

void ExtBlockBitmap::MarkRange(uint64_t first, uint64_t count) {
    const uint64_t end = std::min<uint64_t>(first + count, layout_.blockCount);
    for (uint64_t b = first; b < end; ++b) bits_[b / 8] |= static_cast<uint8_t>(1u << (b % 8));
}

void ExtBlockBitmap::MarkUninitialisedGroup(uint64_t group, std::span<const std::byte> d) {
    const uint64_t first = layout_.GroupFirstBlock(group);
    const uint64_t end = first + layout_.blocksPerGroup;
    if (layout_.GroupHasSuper(group)) {
        MarkRange(first, 1 + layout_.DescriptorBlocks() +
                             (layout_.metaGroups ? 0 : layout_.reservedGdtBlocks));
    }
    if (layout_.metaGroups) {
        // A meta group keeps its descriptor block in its first, second and last group.
        const uint64_t perBlock = layout_.blockSize / layout_.descriptorSize;
        const uint64_t at = group % perBlock;
        if (group / perBlock >= layout_.firstMetaGroup &&
            (at == 0 || at == 1 || at == perBlock - 1)) {
            MarkRange(first + (layout_.GroupHasSuper(group) ? 1 : 0), 1);
        }
    }
    for (const uint64_t block :
         {DescriptorBlockField(d, 0x00, 0x20), DescriptorBlockField(d, 0x04, 0x24)}) {
        if (block >= first && block < end) MarkRange(block, 1);
    }
    const uint64_t table = DescriptorBlockField(d, 0x08, 0x28);
    if (table >= first && table < end) MarkRange(table, layout_.inodeTableBlocks);
}

Status ExtBlockBitmap::Load(const SectorSource& source, uint32_t sectorSize, uint64_t startSector,
                            uint64_t volumeSectors) {
    loaded_ = false;
    bits_.clear();
    if (sectorSize == 0 || sectorSize > kSuperblockOffset + kSuperblockBytes) {
        return kErrInvalidParameter;
    }
    const uint32_t headSectors = (kSuperblockOffset + kSuperblockBytes) / sectorSize;
    std::vector<std::byte> head(static_cast<size_t>(headSectors) * sectorSize);
    uint32_t read = 0;
    if (volumeSectors < headSectors ||
        ReadSectors(source, headSectors, head, startSector, static_cast<int>(sectorSize), read) !=
            kOk ||
        !ReadExtLayout(std::span(head).subspan(kSuperblockOffset, kSuperblockBytes), layout_) ||
        layout_.blockSize % sectorSize != 0) {
        return kErrInvalidParameter;
    }
    sectorsPerBlock_ = layout_.blockSize / sectorSize;
    // A superblock that claims more blocks than the volume holds is believed up to its end.
    layout_.blockCount = std::min<uint64_t>(layout_.blockCount, volumeSectors / sectorsPerBlock_);
    bits_.assign(static_cast<size_t>((layout_.blockCount + 7) / 8), 0);
    MarkRange(0, layout_.firstDataBlock);  // the boot block of 1 KiB-block volumes

    std::vector<std::byte> block(layout_.blockSize);
    std::vector<std::byte> bitmap(layout_.blockSize);
    uint64_t loadedBlock = UINT64_MAX;
    auto readBlock = [&](uint64_t number, std::span<std::byte> into) {
        if (number >= layout_.blockCount) return false;
        uint32_t got = 0;
        return ReadSectors(source, sectorsPerBlock_, into, startSector + number * sectorsPerBlock_,
                           static_cast<int>(sectorSize), got) == kOk;
    };
    const uint64_t groups = layout_.GroupCount();
    for (uint64_t g = 0; g < groups; ++g) {
        const uint64_t descriptorBlock = layout_.DescriptorBlock(g);
        if (descriptorBlock != loadedBlock) {
            if (!readBlock(descriptorBlock, block)) {
                loadedBlock = UINT64_MAX;
                continue;  // the group is scanned whole
            }
            loadedBlock = descriptorBlock;
        }
        const uint64_t perBlock = layout_.blockSize / layout_.descriptorSize;
        const auto descriptor = std::span<const std::byte>(block).subspan(
            (g % perBlock) * layout_.descriptorSize, layout_.descriptorSize);
        if (layout_.groupChecksums && (Le16(descriptor, 0x12) & kGroupBlockUninit) != 0) {
            MarkUninitialisedGroup(g, descriptor);
            continue;
        }
        if (!readBlock(DescriptorBlockField(descriptor, 0x00, 0x20), bitmap)) continue;
        const uint64_t first = layout_.GroupFirstBlock(g);
        const uint64_t count =
            std::min<uint64_t>(layout_.blocksPerGroup, layout_.blockCount - first);
        for (uint64_t i = 0; i < count; ++i) {
            if ((std::to_integer<uint8_t>(bitmap[i / 8]) >> (i % 8)) & 1u) MarkRange(first + i, 1);
        }
    }
    loaded_ = true;
    return kOk;
}

bool ExtBlockBitmap::IsAllocated(uint64_t b) const {
    return b < layout_.blockCount && ((bits_[b / 8] >> (b % 8)) & 1u) != 0;
}

uint64_t ExtBlockBitmap::NextWithBit(uint64_t from, bool set) const {
    uint64_t b = from;
    while (b < layout_.blockCount) {
        // Whole bytes at once where they cannot hold the bit looked for.
        if (b % 8 == 0 && bits_[b / 8] == (set ? 0x00 : 0xFF)) {
            b += 8;
            continue;
        }
        if (IsAllocated(b) == set) return b;
        ++b;
    }
    return layout_.blockCount;
}

void ExtBlockBitmap::NextFreeRange(uint64_t& position, uint64_t& length,
                                   uint64_t volumeSectors) const {
    length = 0;
    if (position >= volumeSectors) {
        position = volumeSectors;
        return;
    }
    if (!loaded_) {
        length = volumeSectors - position;
        return;
    }
    const uint64_t blocksEnd = layout_.blockCount * sectorsPerBlock_;
    if (position < blocksEnd) {
        const uint64_t startBlock = NextWithBit(position / sectorsPerBlock_, false);
        if (startBlock < layout_.blockCount) {
            const uint64_t endBlock = NextWithBit(startBlock, true);
            const uint64_t from = std::max(position, startBlock * sectorsPerBlock_);
            // A free run that reaches the last block goes on over the sectors behind it.
            const uint64_t to =
                endBlock >= layout_.blockCount ? volumeSectors : endBlock * sectorsPerBlock_;
            position = from;
            length = to - from;
            return;
        }
        position = blocksEnd;
    }
    if (position >= volumeSectors) {
        position = volumeSectors;
        return;
    }
    length = volumeSectors - position;
}

}  // namespace keltra
