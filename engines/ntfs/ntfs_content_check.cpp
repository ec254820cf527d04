#include "engines/ntfs/ntfs_content_check.h"

#include <algorithm>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/extension_categories.h"
#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_data_copy.h"

namespace keltra::ntfs {

uint32_t ContentIntact(const RecordReader& reader, std::span<const std::byte> record,
                       uint64_t number, std::string_view name, SectorReadCache* firstSectors) {
    if (name.find('.') == std::string_view::npos) return 1;
    const std::string_view extension = ExtensionOf(name);
    const Geometry& geometry = reader.Volume();
    const int bps = static_cast<int>(geometry.bytesPerSector);
    StreamLayout stream;
    if (ReadStream(reader, record, number, kData, stream) != kOk) return 1;
    if (stream.resident) {
        if (stream.residentData.empty()) return 0;
        return CheckFileContent(stream.residentData, extension, reader.Source(), bps, 0) != 0 ? 1
                                                                                              : 0;
    }
    if (stream.runs.empty() || stream.runs.front().sparse) return 1;
    const uint64_t sector = geometry.SectorOfCluster(stream.runs.front().lcn);
    if (sector == 0) return 1;
    std::vector<std::byte> first(geometry.bytesPerSector);
    if (stream.Compressed()) {
        // The first sector's worth of the data, decompressed.
        size_t got = 0;
        const Status s = ReadStreamData(
            reader.Source(), geometry, stream, first.size(), [&](std::span<const std::byte> piece) {
                std::copy(piece.begin(), piece.end(), first.begin() + static_cast<ptrdiff_t>(got));
                got += piece.size();
                return kOk;
            });
        if ((s != kOk && s != kErrFileCorrupt) || got == 0) return 1;
    } else {
        uint32_t read = 0;
        const Status s = firstSectors ? firstSectors->Read(sector, 1, first, read)
                                      : ReadSectors(reader.Source(), 1, first, sector, bps, read);
        if (s != kOk || read != 1) return 1;
    }
    return CheckFileContent(first, extension, reader.Source(), bps, sector) != 0 ? 1 : 0;
}

}  // namespace keltra::ntfs
