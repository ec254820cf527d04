#include <fmt/format.h>

#include <array>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands/command.h"
#include "cli/commands/source_argument.h"
#include "engines/engine_factory.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

struct ProbeOptions {
    std::string source;
    bool json = false;
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
    }
    return j;
}

int RunProbe(const ProbeOptions& options) {
    SourceArgument sourceArg;
    std::string error;
    if (!ParseSourceArgument(options.source, sourceArg, error)) {
        std::cerr << "keltra: " << error << "\n";
        return kExitRuntimeError;
    }
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    uint64_t sectorCount = 0;
    Status status;
    if (sourceArg.isImage) {
        status = OpenImageSource(source, sourceArg.imagePath);
        sectorCount = source.totalSectors;
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
    if (ReadBootArea(source, sourceArg.startSector, sectorSize, *boot) != kOk) {
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
    if (!sourceArg.isImage) {
        j["disk"] = sourceArg.diskNumber;
        j["start_sector"] = sourceArg.startSector;
    }
    if (c == SourceClass::Ntfs || IsFat(c)) j["boot_sector"] = BootFields(c, *boot);
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
            std::cout << fmt::format("{:<22} {}\n", key,
                                     value.is_string() ? value.get<std::string>() : value.dump());
        }
    }
    return kExitOk;
}

}  // namespace

void AddProbeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ProbeOptions>();
    CLI::App* sub =
        app.add_subcommand("probe", "Classify a source and show its boot-sector fields");
    sub->add_option("SOURCE", options->source, "image file, device node, or disk:N[:START:COUNT]")
        ->required();
    sub->add_flag("--json", options->json, "print one JSON object");
    sub->callback([&run, options] { run = [options] { return RunProbe(*options); }; });
}

}  // namespace keltra::cli
