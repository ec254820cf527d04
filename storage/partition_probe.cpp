#include "storage/partition_probe.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <string_view>

#include "storage/volume_entry.h"

namespace keltra {

namespace {

struct ProbeDeleter {
    void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

Probe NewProbe(const FileHandle& device, uint64_t offset, uint64_t length) {
    Probe probe(blkid_new_probe());
    if (!probe || !device.IsOpen()) return nullptr;
    if (blkid_probe_set_device(probe.get(), device.Descriptor(), static_cast<blkid_loff_t>(offset),
                               static_cast<blkid_loff_t>(length)) != 0) {
        return nullptr;
    }
    return probe;
}

std::string Lookup(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    size_t size = 0;
    if (blkid_probe_lookup_value(probe, name, &value, &size) != 0 || value == nullptr) return {};
    return std::string(value, strnlen(value, size));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsExtendedType(uint8_t type) {
    return type == 0x05 || type == 0x0F || type == 0x85;
}

}  // namespace

std::optional<std::vector<PartitionSlot>> ReadPartitionTable(const FileHandle& disk,
                                                             std::string* tableType) {
    Probe probe = NewProbe(disk, 0, 0);
    if (!probe) return std::nullopt;
    blkid_partlist list = blkid_probe_get_partitions(probe.get());
    blkid_parttable root = list != nullptr ? blkid_partlist_get_table(list) : nullptr;
    if (root == nullptr) return std::nullopt;
    // An exFAT boot sector ends like an MBR; libblkid then reports an empty "dos" table over
    // a volume that fills the device. A table without partitions over a file system is none.
    if (blkid_partlist_numof_partitions(list) <= 0 &&
        std::string_view(blkid_parttable_get_type(root) ? blkid_parttable_get_type(root) : "") ==
            "dos" &&
        ProbeFileSystem(disk, 0, 0)) {
        return std::nullopt;
    }
    if (tableType != nullptr) {
        const char* type = blkid_parttable_get_type(root);
        *tableType = type != nullptr ? type : "";
    }
    std::vector<PartitionSlot> slots;
    const int count = blkid_partlist_numof_partitions(list);
    for (int i = 0; i < count; ++i) {
        blkid_partition part = blkid_partlist_get_partition(list, i);
        if (part == nullptr) continue;
        blkid_parttable table = blkid_partition_get_table(part);
        const char* tableType = table ? blkid_parttable_get_type(table) : nullptr;
        const bool dos = tableType != nullptr && std::string_view(tableType) == "dos";
        // A BSD or Solaris label inside a partition is that partition's business.
        if (table != nullptr && blkid_parttable_get_parent(table) != nullptr && !dos) continue;
        PartitionSlot slot;
        slot.number = blkid_partition_get_partno(part);
        // libblkid counts in 512-byte units whatever the device's sector size.
        slot.startBytes = static_cast<uint64_t>(blkid_partition_get_start(part)) * 512;
        slot.lengthBytes = static_cast<uint64_t>(blkid_partition_get_size(part)) * 512;
        if (dos) {
            slot.typeByte = static_cast<uint8_t>(blkid_partition_get_type(part));
            if (blkid_partition_is_extended(part) || IsExtendedType(slot.typeByte)) continue;
        } else if (const char* guid = blkid_partition_get_type_string(part)) {
            slot.typeGuid = Lower(guid);
        }
        if (slot.lengthBytes == 0) continue;
        slots.push_back(std::move(slot));
    }
    return slots;
}

std::optional<FileSystemFound> ProbeFileSystem(const FileHandle& device, uint64_t offset,
                                               uint64_t length) {
    Probe probe = NewProbe(device, offset, length);
    if (!probe) return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(
        probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 0);
    if (blkid_do_safeprobe(probe.get()) != 0) return std::nullopt;
    FileSystemFound found;
    found.type = Lookup(probe.get(), "TYPE");
    if (found.type.empty()) return std::nullopt;
    found.version = Lookup(probe.get(), "VERSION");
    found.label = Lookup(probe.get(), "LABEL");
    return found;
}

std::string FileSystemDisplayName(const std::string& type, const std::string& version) {
    const std::string t = Lower(type);
    if (t == "ntfs" || t == "ntfs3") return "NTFS";
    if (t == "vfat" || t == "msdos" || t == "fat") {
        const std::string v = Lower(version);
        return v == "fat12" || v == "fat16" ? "FAT" : "FAT32";
    }
    if (t == "exfat") return "exFAT";
    return type;
}

uint8_t KindOfFileSystemName(const std::string& displayName) {
    if (displayName == "NTFS") return kKindNtfs;
    if (displayName == "FAT32") return kKindFat32;
    if (displayName == "FAT") return kKindFat;
    return 0;
}

uint8_t KindOfGptType(const std::string& typeGuid) {
    struct Known {
        std::string_view guid;
        uint8_t kind;
    };
    static constexpr std::array<Known, 7> kKnown{{
        {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", 0x07},  // Microsoft basic data
        {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", 0xEF},  // EFI system
        {"0fc63daf-8483-4772-8e79-3d69d8477de4", 0x83},  // Linux file system
        {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", 0x82},  // Linux swap
        {"e6d6d379-f507-44c2-a23c-238f2a3df928", 0x8E},  // Linux LVM
        {"a19d880f-05fc-4d3b-a006-743f0f84911e", 0xFD},  // Linux RAID
        {"48465300-0000-11aa-aa11-00306543ecac", 0xAF},  // Apple HFS+
    }};
    for (const Known& k : kKnown) {
        if (k.guid == typeGuid) return k.kind;
    }
    return 0xEE;  // the byte that stands for a GPT disk in an MBR
}

}  // namespace keltra
