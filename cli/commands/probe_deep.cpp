#include "cli/commands/probe_deep.h"

#include <fmt/format.h>

#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/commands/command.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/progress_line.h"
#include "engines/deep/volume_boot_finder.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

constexpr uint32_t kChunkBytes = 1 << 20;

// The argument that scans the volume on its own; a volume that runs past the source's end is
// cut there.
std::string VolumeSource(const SourceArgument& source, const FoundVolume& v, uint64_t total) {
    const uint64_t count = std::min(v.sectorCount, total - std::min(total, v.firstSector));
    if (source.isImage) return fmt::format("{}@{}:{}", source.imagePath, v.firstSector, count);
    return fmt::format("disk:{}:{}:{}", source.diskNumber, v.firstSector, count);
}

}  // namespace

int RunDeepProbe(const SourceArgument& sourceArg, bool json) {
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    Status status = sourceArg.isImage ? OpenImageSource(source, sourceArg.imagePath)
                                      : OpenDiskSource(source, sourceArg.diskNumber);
    if (status == kOk && !sourceArg.isImage) status = source.handle.LogicalSectorSize(sectorSize);
    if (status != kOk) {
        std::cerr << "keltra: cannot open '" << sourceArg.text << "': " << StatusMessage(status)
                  << "\n";
        return kExitRuntimeError;
    }
    const uint64_t first = sourceArg.startSector;
    const uint64_t end =
        sourceArg.sectorCount == 0
            ? source.totalSectors
            : std::min(source.totalSectors, first + sourceArg.sectorCount);
    InterruptGuard interrupt;
    ProgressLine progress;
    VolumeBootFinder finder;
    std::vector<std::byte> buffer(kChunkBytes);
    const uint32_t chunkSectors = kChunkBytes / sectorSize;
    uint64_t unreadable = 0;
    for (uint64_t lba = first; lba < end; lba += chunkSectors) {
        if (InterruptGuard::Requested()) {
            progress.Clear();
            std::cerr << "keltra: stopped\n";
            return kExitCancelled;
        }
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, end - lba));
        uint32_t read = 0;
        if (ReadSectors(source, want, buffer, lba, static_cast<int>(sectorSize), read) != kOk) {
            read = 0;
        }
        unreadable += want - read;
        for (uint32_t i = 0; i < read; ++i) {
            finder.Examine(std::span<const std::byte>(buffer).subspan(size_t{i} * sectorSize,
                                                                      sectorSize),
                           lba + i);
        }
        progress.Show(fmt::format("Searching for volumes: {}%", (lba - first) * 100 / (end - first)));
    }
    progress.Clear();
    std::vector<FoundVolume> volumes = finder.Resolve(source, sectorSize);
    // The volume the source itself begins with is the source, not a lost one.
    std::erase_if(volumes, [&](const FoundVolume& v) { return v.firstSector == first; });

    nlohmann::ordered_json j;
    j["source"] = sourceArg.text;
    j["sector_size"] = sectorSize;
    j["sectors_searched"] = end - first;
    j["unreadable_sectors"] = unreadable;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const FoundVolume& v : volumes) {
        nlohmann::ordered_json row;
        row["file_system"] = v.FileSystemName();
        row["start_sector"] = v.firstSector;
        row["sector_count"] = v.sectorCount;
        row["size"] = VolumeSizeText(v.sectorCount * sectorSize);
        row["label"] = v.label.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(v.label);
        row["name"] = v.FolderName();
        row["past_end"] = v.firstSector + v.sectorCount > source.totalSectors;
        row["source"] = VolumeSource(sourceArg, v, source.totalSectors);
        rows.push_back(std::move(row));
    }
    j["volumes"] = std::move(rows);
    if (json) {
        std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kExitOk;
    }
    std::cout << fmt::format("{:<22} {}\n", "source", sourceArg.text);
    std::cout << fmt::format("{:<22} {}\n", "sectors_searched", end - first);
    if (unreadable != 0) std::cout << fmt::format("{:<22} {}\n", "unreadable_sectors", unreadable);
    if (volumes.empty()) {
        std::cout << "no volume found outside the source's own\n";
        return kExitOk;
    }
    std::cout << fmt::format("{:<11}  {:>12}  {:>12}  {:>10}  {:<11}  {}\n", "file system",
                             "start", "sectors", "size", "label", "source");
    for (const auto& row : j["volumes"]) {
        std::cout << fmt::format(
            "{:<11}  {:>12}  {:>12}  {:>10}  {:<11}  {}{}\n", row["file_system"].get<std::string>(),
            row["start_sector"].get<uint64_t>(), row["sector_count"].get<uint64_t>(),
            row["size"].get<std::string>(),
            row["label"].is_null() ? std::string("-") : row["label"].get<std::string>(),
            row["source"].get<std::string>(),
            row["past_end"].get<bool>() ? "  (runs past the source's end)" : "");
    }
    return kExitOk;
}

}  // namespace keltra::cli
