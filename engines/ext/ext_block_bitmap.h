// Which blocks of an ext2/3/4 volume are in use, read from its block group descriptors and block
// bitmaps (flex_bg, 64-bit descriptors, meta_bg and groups whose bitmap was never initialised
// included), and the free runs between them, so that a deep scan reads only free space.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// The superblock fields the bitmap needs.
struct ExtLayout {
    uint32_t blockSize = 0;
    uint64_t blockCount = 0;
    uint32_t firstDataBlock = 0;
    uint32_t blocksPerGroup = 0;
    uint32_t descriptorSize = 32;
    uint32_t reservedGdtBlocks = 0;
    uint32_t firstMetaGroup = 0;
    bool metaGroups = false;
    bool sparseSuper = false;
    bool sparseSuper2 = false;
    uint32_t backupGroups[2] = {0, 0};
    bool groupChecksums = false;    // the uninitialised flags of a descriptor can be trusted
    uint64_t inodeTableBlocks = 0;  // per group

    uint64_t GroupCount() const;
    // Whether the group keeps a copy of the superblock (and of the descriptors).
    bool GroupHasSuper(uint64_t group) const;
    uint64_t GroupFirstBlock(uint64_t group) const;
    // Blocks of descriptors in the table that follows a superblock (meta_bg: its groups only).
    uint64_t DescriptorBlocks() const;
    // Where the descriptor of the group lies: its block and its offset in it.
    uint64_t DescriptorBlock(uint64_t group) const;
};

// Reads the layout from the 1,024 bytes of a superblock; false when they are no usable one.
bool ReadExtLayout(std::span<const std::byte> superblock, ExtLayout& layout);

class ExtBlockBitmap {
  public:
    // Reads the superblock and every group's bitmap of the volume of `volumeSectors` sectors at
    // `startSector`. 87 when the volume holds no ext superblock this reads; a bitmap that
    // cannot be read leaves its group free (scanned whole).
    Status Load(const SectorSource& source, uint32_t sectorSize, uint64_t startSector,
                uint64_t volumeSectors);
    bool IsLoaded() const { return loaded_; }
    bool IsAllocated(uint64_t block) const;

    // The next unallocated run at or after `position` (sectors from the volume start); the
    // sectors past the last whole block count as unallocated. At or past `volumeSectors`, or
    // when nothing is free any more: position = volumeSectors, length = 0.
    void NextFreeRange(uint64_t& position, uint64_t& length, uint64_t volumeSectors) const;

  private:
    void MarkRange(uint64_t first, uint64_t count);
    // Marks what a group whose bitmap was never written holds: its superblock and descriptor
    // copies, and the bitmaps and inode tables that lie in it.
    void MarkUninitialisedGroup(uint64_t group, std::span<const std::byte> descriptor);
    uint64_t NextWithBit(uint64_t from, bool set) const;

    ExtLayout layout_;
    uint32_t sectorsPerBlock_ = 0;
    std::vector<uint8_t> bits_;
    bool loaded_ = false;
};

}  // namespace keltra
