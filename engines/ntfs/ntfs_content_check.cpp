#include "engines/ntfs/ntfs_content_check.h"

#include <algorithm>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/extension_categories.h"
#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_data_copy.h"

namespace keltra::ntfs {

ContentCheckPlan PlanContentCheck(const RecordReader& reader, std::span<const std::byte> record,
                                  uint64_t number, std::string_view name) {
    const auto answer = [](bool intact) { return ContentCheckPlan{intact ? 1u : 0u, 0}; };
    if (name.find('.') == std::string_view::npos) return answer(true);
    const std::string_view extension = ExtensionOf(name);
    const Geometry& geometry = reader.Volume();
    const int bps = static_cast<int>(geometry.bytesPerSector);
    StreamLayout stream;
    if (ReadStream(reader, record, number, kData, stream) != kOk) return answer(true);
    if (stream.resident) {
        if (stream.residentData.empty()) return answer(false);
        return answer(CheckFileContent(stream.residentData, extension, reader.Source(), bps, 0) !=
                      0);
    }
    if (stream.runs.empty() || stream.runs.front().sparse) return answer(true);
    const uint64_t sector = geometry.SectorOfCluster(stream.runs.front().lcn);
    if (sector == 0) return answer(true);
    if (!stream.Compressed()) return ContentCheckPlan{std::nullopt, sector};
    // The first sector's worth of the data, decompressed.
    std::vector<std::byte> first(geometry.bytesPerSector);
    size_t got = 0;
    const Status s = ReadStreamData(
        reader.Source(), geometry, stream, first.size(), [&](std::span<const std::byte> piece) {
            std::copy(piece.begin(), piece.end(), first.begin() + static_cast<ptrdiff_t>(got));
            got += piece.size();
            return kOk;
        });
    if ((s != kOk && s != kErrFileCorrupt) || got == 0) return answer(true);
    return answer(CheckFileContent(first, extension, reader.Source(), bps, sector) != 0);
}

uint32_t ContentIntact(const RecordReader& reader, std::span<const std::byte> record,
                       uint64_t number, std::string_view name) {
    const ContentCheckPlan plan = PlanContentCheck(reader, record, number, name);
    if (plan.intact) return *plan.intact;
    const Geometry& geometry = reader.Volume();
    const int bps = static_cast<int>(geometry.bytesPerSector);
    std::vector<std::byte> first(geometry.bytesPerSector);
    uint32_t read = 0;
    if (ReadSectors(reader.Source(), 1, first, plan.sector, bps, read) != kOk || read != 1) {
        return 1;
    }
    return CheckFileContent(first, ExtensionOf(name), reader.Source(), bps, plan.sector) != 0 ? 1
                                                                                             : 0;
}

}  // namespace keltra::ntfs
