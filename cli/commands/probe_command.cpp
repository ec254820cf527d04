#include <fmt/format.h>

#include <array>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands/command.h"
#include "cli/commands/probe_deep.h"
#include "cli/commands/source_argument.h"
#include "engines/layouts/boot_area.h"
#include "engines/layouts/exfat_geometry.h"
#include "storage/image_volumes.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

struct ProbeOptions {
    std::string source;
    bool json = false;
    bool deep = false;
};

nlohmann::ordered_json BootFields(SourceClass c, std::span<const std::byte> boot) {
    nlohmann::ordered_json j;
    if (c == SourceClass::Ntfs) {
        const NtfsBootFields f = ReadNtfsBootFields(boot);
        j["bytes_per_sector"] = f.bytesPerSector;
        j["sectors_per_cluster"] = f.sectorsPerClusterRaw;
        j["total_sectors"] = f.totalSectors;
        j["mft_cluster"] = f.mftCluster;
        j["mft_mirror_cluster"] = f.mftMirrorCluster;
        j["clusters_per_record"] = f.clustersPerRecordRaw;
        j["serial_number"] = fmt::format("{:016X}", f.serialNumber);
    } else if (IsFat(c)) {
        const FatBootFields f = ReadFatBootFields(boot, c == SourceClass::Fat32);
        j["bytes_per_sector"] = f.bytesPerSector;
        j["sectors_per_cluster"] = f.sectorsPerCluster;
        j["reserved_sectors"] = f.reservedSectors;
        j["fat_count"] = f.fatCount;
        j["root_entries"] = f.rootEntries;
        j["total_sectors"] = f.totalSectors;
        j["fat_sectors"] = f.fatSectors;
        if (c == SourceClass::Fat32) j["root_cluster"] = f.rootCluster;
        j["cluster_count"] = f.clusterCount;
        j["label"] = f.label;
    } else if (c == SourceClass::ExFat) {
        const std::optional<ExFatGeometry> g = ReadExFatGeometry(boot);
        if (!g) return j;
        j["bytes_per_sector"] = g->bytesPerSector;
        j["sectors_per_cluster"] = g->sectorsPerCluster;
        j["total_sectors"] = g->volumeSectors;
        j["fat_offset"] = g->fatOffset;
        j["fat_sectors"] = g->fatSectors;
        j["fat_count"] = g->fatCount;
        j["cluster_heap_offset"] = g->clusterHeapOffset;
        j["cluster_count"] = g->clusterCount;
        j["root_cluster"] = g->rootCluster;
        j["serial_number"] = fmt::format("{:08X}", g->serialNumber);
        // The boot region lies inside the 16 KiB read unless its sectors are larger than 1 KiB.
        if (boot.size() >= size_t{g->bytesPerSector} * kExFatBootRegionSectors) {
            j["boot_checksum"] =
                ExFatBootChecksumMatches(boot, g->bytesPerSector) ? "valid" : "wrong";
        }
    }
    return j;
}

std::string Cell(const nlohmann::ordered_json& value) {
    if (value.is_null()) return "-";
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// The partitions of an image that holds a partition table, as a disk's are listed.
int PrintImageTable(const SourceArgument& sourceArg, const ImageVolumes& image, bool json) {
    nlohmann::ordered_json j;
    j["source"] = sourceArg.text;
    j["table"] = image.tableType == "dos"   ? "MBR"
                 : image.tableType == "gpt" ? "GPT"
                                            : image.tableType;
    j["sector_size"] = kImageSectorSize;
    j["sector_count"] = image.totalSectors;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const VolumeEntry& e : image.entries) {
        nlohmann::ordered_json row;
        const bool volume = e.partitionNumber > 0;
        row["partition"] = volume ? nlohmann::ordered_json(e.partitionNumber) : nullptr;
        row["start_sector"] = e.start;
        row["sector_count"] = e.length;
        row["kind"] = volume ? nlohmann::ordered_json(fmt::format("0x{:02X}", e.kind))
                             : nlohmann::ordered_json("unallocated");
        row["file_system"] = e.fileSystemName.empty() ? nlohmann::ordered_json()
                                                      : nlohmann::ordered_json(e.fileSystemName);
        row["label"] = e.volumeLabel.empty() ? nlohmann::ordered_json()
                                             : nlohmann::ordered_json(e.volumeLabel);
        row["source"] = volume ? sourceArg.text + "@" + std::to_string(e.partitionNumber)
                               : fmt::format("{}@{}:{}", sourceArg.text, e.start, e.length);
        rows.push_back(std::move(row));
    }
    j["partitions"] = std::move(rows);
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const ImageTableProblem& problem : image.problems) problems.push_back(problem.Text());
    j["problems"] = std::move(problems);
    if (json) {
        std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kExitOk;
    }
    for (const char* key : {"source", "table", "sector_size", "sector_count"}) {
        std::cout << fmt::format("{:<22} {}\n", key, Cell(j[key]));
    }
    std::cout << fmt::format("{:>9}  {:>12}  {:>12}  {:<11}  {:<11}  {:<11}  {}\n", "partition",
                             "start", "sectors", "kind", "file system", "label", "source");
    for (const auto& row : j["partitions"]) {
        std::cout << fmt::format("{:>9}  {:>12}  {:>12}  {:<11}  {:<11}  {:<11}  {}\n",
                                 Cell(row["partition"]), Cell(row["start_sector"]),
                                 Cell(row["sector_count"]), Cell(row["kind"]),
                                 Cell(row["file_system"]), Cell(row["label"]), Cell(row["source"]));
    }
    for (const ImageTableProblem& problem : image.problems) {
        std::cout << "problem: " << problem.Text() << "\n";
    }
    return kExitOk;
}

int RunProbe(const ProbeOptions& options) {
    SourceArgument sourceArg;
    std::string error;
    if (!ParseSourceArgument(options.source, sourceArg, error)) {
        std::cerr << "keltra: " << error << "\n";
        return kExitRuntimeError;
    }
    if (options.deep) return RunDeepProbe(sourceArg, options.json);
    if (sourceArg.IsWholeImage()) {
        ImageVolumes image;
        if (ListImageVolumes(sourceArg.imagePath, image) == kOk && !image.tableType.empty()) {
            return PrintImageTable(sourceArg, image, options.json);
        }
        for (const ImageTableProblem& problem : image.problems) {
            std::cerr << "keltra: warning: '" << sourceArg.text << "': " << problem.Text() << "\n";
        }
    }
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    uint64_t sectorCount = 0;
    Status status;
    if (sourceArg.isImage) {
        status = OpenImageSource(source, sourceArg.imagePath);
        sectorCount = sourceArg.IsWholeImage() ? source.totalSectors : sourceArg.sectorCount;
    } else {
        status = OpenDiskSource(source, sourceArg.diskNumber);
        if (status == kOk) status = source.handle.LogicalSectorSize(sectorSize);
        sectorCount = sourceArg.sectorCount;
    }
    if (status != kOk) {
        std::cerr << "keltra: cannot open '" << sourceArg.text << "': " << StatusMessage(status)
                  << "\n";
        return kExitRuntimeError;
    }
    auto boot = std::make_unique<std::array<std::byte, kBootAreaBytes>>();
    uint64_t backupSector = 0;
    if (ReadBootArea(source, sourceArg.startSector, sectorSize, *boot, sectorCount,
                     &backupSector) != kOk) {
        std::cerr << "keltra: cannot read the 16 KiB boot area of '" << sourceArg.text
                  << "': the source is too small or unreadable\n";
        return kExitRuntimeError;
    }
    const SourceClass c = ClassifyBootArea(*boot);
    nlohmann::ordered_json j;
    j["source"] = sourceArg.text;
    j["class"] = SourceClassName(c);
    j["sector_size"] = sectorSize;
    j["sector_count"] = sectorCount;
    if (!sourceArg.isImage) j["disk"] = sourceArg.diskNumber;
    if (!sourceArg.IsWholeImage()) j["start_sector"] = sourceArg.startSector;
    // The first sector is damaged and this backup boot sector describes the volume instead.
    if (backupSector != 0) j["backup_boot_sector"] = backupSector;
    if (c == SourceClass::Ntfs || IsFat(c) || c == SourceClass::ExFat) {
        j["boot_sector"] = BootFields(c, *boot);
    }
    if (options.json) {
        std::cout << j.dump() << "\n";
        return kExitOk;
    }
    for (const auto& [key, value] : j.items()) {
        if (key == "boot_sector") {
            std::cout << "boot_sector\n";
            for (const auto& [k, v] : value.items()) {
                std::cout << fmt::format("  {:<20} {}\n", k,
                                         v.is_string() ? v.get<std::string>() : v.dump());
            }
        } else {
            std::cout << fmt::format("{:<22} {}\n", key, Cell(value));
        }
    }
    return kExitOk;
}

}  // namespace

void AddProbeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ProbeOptions>();
    CLI::App* sub =
        app.add_subcommand("probe",
                           "Classify a source and show its boot-sector fields, or list the "
                           "partitions of an image that holds a partition table");
    sub->add_option("SOURCE", options->source, kSourceForms)->required();
    sub->add_flag("--json", options->json, "print one JSON object");
    sub->add_flag("--deep", options->deep,
                  "read every sector for the boot sectors of volumes (lost partitions) and list "
                  "each volume found with the SOURCE that scans it");
    sub->callback([&run, options] { run = [options] { return RunProbe(*options); }; });
}

}  // namespace keltra::cli
