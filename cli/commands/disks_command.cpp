#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands/command.h"
#include "cli/commands/size_text.h"
#include "platform/disk_names.h"
#include "platform/file_handle.h"
#include "storage/disk_queries.h"
#include "storage/volume_enumerator.h"

namespace keltra::cli {

namespace {

struct DisksOptions {
    bool json = false;
};

enum class EntryRole { Volume, Unallocated, WholeDisk };

// A kind-0 entry is free space, or the whole disk when the disk holds no volume; the whole-disk
// entry alone names a device.
EntryRole RoleOf(const VolumeEntry& e) {
    if (e.kind != kKindNone) return EntryRole::Volume;
    return e.volumePath.empty() ? EntryRole::Unallocated : EntryRole::WholeDisk;
}

const char* RoleName(EntryRole role) {
    switch (role) {
        case EntryRole::Volume:
            return "volume";
        case EntryRole::Unallocated:
            return "unallocated";
        case EntryRole::WholeDisk:
            return "whole_disk";
    }
    return "";
}

struct DiskFacts {
    std::string device;
    uint64_t bytes = 0;
    uint32_t sectorSize = 512;
    bool removable = false;
};

DiskFacts FactsOf(int diskNumber) {
    DiskFacts facts;
    facts.device = DiskDevicePath(diskNumber).value_or("");
    FileHandle disk;
    if (FileHandle::OpenForReading(facts.device, disk) == kOk) {
        // What cannot be read is listed as 0, as for a disk that cannot be opened.
        IgnoreStatus(disk.Size(facts.bytes), "listed as 0");
        IgnoreStatus(disk.LogicalSectorSize(facts.sectorSize), "listed as 0");
    }
    facts.removable = IsRemovableDisk(diskNumber);
    return facts;
}

nlohmann::ordered_json EntryJson(const VolumeEntry& e) {
    nlohmann::ordered_json j;
    j["number"] = e.letter;
    j["role"] = RoleName(RoleOf(e));
    j["kind"] = e.kind;
    j["partition"] = e.partitionNumber;
    j["start_sector"] = e.start;
    j["sector_count"] = e.length;
    j["file_system"] = e.fileSystemName;
    j["label"] = e.volumeLabel;
    j["device"] = e.volumePath;
    j["mount_point"] = e.mountPoint;
    j["total_bytes"] = e.totalBytes;
    j["used_bytes"] = e.usedBytes;
    j["free_bytes"] = e.freeBytes;
    return j;
}

std::string EntryLine(const VolumeEntry& e) {
    const std::string sectors =
        fmt::format("sectors {}-{}", e.start, e.length == 0 ? e.start : e.start + e.length - 1);
    switch (RoleOf(e)) {
        case EntryRole::Unallocated:
            return fmt::format("{}  unallocated  {}  {}", e.letter, sectors,
                               ByteCountText(e.totalBytes));
        case EntryRole::WholeDisk:
            return fmt::format("{}  whole disk, no volume  {}  {}", e.letter, sectors,
                               ByteCountText(e.totalBytes));
        case EntryRole::Volume:
            break;
    }
    std::string line =
        fmt::format("{}  {}", e.letter, e.fileSystemName.empty() ? "unknown" : e.fileSystemName);
    if (!e.volumeLabel.empty()) line += fmt::format(" \"{}\"", e.volumeLabel);
    line += fmt::format("  type 0x{:02X}", e.kind);
    if (!e.volumePath.empty()) line += "  " + e.volumePath;
    line += "  " + sectors + "  " + ByteCountText(e.totalBytes);
    if (e.mountPoint.empty()) {
        line += ", not mounted";
    } else {
        line += fmt::format(", {} free, mounted on {}", ByteCountText(e.freeBytes), e.mountPoint);
    }
    return line;
}

// Why disk N is missing from the list: it could not be opened.
std::string OpenError(const std::string& device) {
    FileHandle disk;
    const Status s = FileHandle::OpenForReading(device, disk);
    return s == kOk ? std::string("no longer present") : StatusMessage(s);
}

int RunDisks(const DisksOptions& options) {
    DiskMap map;
    if (RefreshVolumes(map) == 0) {
        std::cerr << "keltra: cannot list the disks: /sys/block cannot be read\n";
        return kExitRuntimeError;
    }
    const auto wholeDisks = ListWholeDisks();
    if (options.json) {
        nlohmann::ordered_json disks = nlohmann::ordered_json::array();
        nlohmann::ordered_json unreadable = nlohmann::ordered_json::array();
        for (size_t i = 0; i < wholeDisks.size(); ++i) {
            const int number = static_cast<int>(i);
            const auto found = map.find(number);
            if (found == map.end()) {
                unreadable.push_back({{"disk", number},
                                      {"device", wholeDisks[i].devicePath},
                                      {"error", OpenError(wholeDisks[i].devicePath)}});
                continue;
            }
            const DiskFacts facts = FactsOf(number);
            nlohmann::ordered_json d;
            d["disk"] = number;
            d["device"] = facts.device;
            d["bytes"] = facts.bytes;
            d["sector_size"] = facts.sectorSize;
            d["removable"] = facts.removable;
            d["entries"] = nlohmann::ordered_json::array();
            for (const VolumeEntry& e : found->second) d["entries"].push_back(EntryJson(e));
            disks.push_back(d);
        }
        std::cout << nlohmann::ordered_json{{"disks", disks}, {"unreadable", unreadable}}.dump()
                  << "\n";
        return kExitOk;
    }
    if (wholeDisks.empty()) {
        std::cout << "No disks found.\n";
        return kExitOk;
    }
    for (size_t i = 0; i < wholeDisks.size(); ++i) {
        const int number = static_cast<int>(i);
        const auto found = map.find(number);
        if (found == map.end()) {
            std::cout << fmt::format("Disk {}  {}  cannot be read: {}\n", number,
                                     wholeDisks[i].devicePath, OpenError(wholeDisks[i].devicePath));
            continue;
        }
        const DiskFacts facts = FactsOf(number);
        std::cout << fmt::format("Disk {}  {}  {}  {}-byte sectors{}\n", number, facts.device,
                                 ByteCountText(facts.bytes), facts.sectorSize,
                                 facts.removable ? "  removable" : "");
        const auto& entries = found->second;
        for (size_t k = 0; k < entries.size(); ++k) {
            std::cout << (k + 1 == entries.size() ? "└─ " : "├─ ") << EntryLine(entries[k]) << "\n";
        }
    }
    return kExitOk;
}

}  // namespace

void AddDisksCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<DisksOptions>();
    CLI::App* sub = app.add_subcommand(
        "disks", "List the disks, their volumes and unallocated stretches, numbered as sources");
    sub->add_flag("--json", options->json, "print one JSON object");
    sub->callback([&run, options] { run = [options] { return RunDisks(*options); }; });
}

}  // namespace keltra::cli
