// The MFT record parser on arbitrary bytes: the input becomes the first sixteen FILE records of
// a small in-memory volume (each given the "FILE" signature, so that the fuzzer spends its time
// inside the records; the rest of the volume is zeros), and every record goes
// through the fixups, the attribute walk, the summary, the attribute list, the run lists and the
// reading of its data, as the quick scan and the copy take them.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_data_copy.h"
#include "engines/ntfs/ntfs_fixups.h"
#include "engines/ntfs/ntfs_folder_walk.h"
#include "engines/ntfs/ntfs_record_parse.h"

namespace {

using namespace keltra;
using namespace keltra::ntfs;

constexpr size_t kRecords = 16;
constexpr size_t kVolumeBytes = 64 * 1024;

class BytesReader : public SectorReader {
  public:
    explicit BytesReader(const std::vector<std::byte>& bytes) : bytes_(bytes) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= bytes_.size()) return kOk;
        done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return kOk;
    }

  private:
    const std::vector<std::byte>& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::byte> volume(kVolumeBytes);
    std::memcpy(volume.data(), data, std::min(size, volume.size()));
    for (size_t n = 0; n < kRecords; ++n) std::memcpy(volume.data() + n * 1024, "FILE", 4);

    Geometry g;
    g.sectorsPerCluster = 1;
    g.sectorCount = kVolumeBytes / 512;
    const MftMap mft(g, {{0, kRecords * 2, false}});
    SectorSource source;
    OpenReaderSource(source, std::make_unique<BytesReader>(volume), g.sectorCount);
    const RecordReader reader(source, g, mft);

    std::vector<std::byte> record(g.recordSize);
    std::vector<std::optional<uint32_t>> parents(kRecords);
    for (uint32_t n = 0; n < kRecords; ++n) {
        if (reader.ReadNumber(n, record) != kOk) continue;
        auto summary = SummariseRecord(record);
        if (!summary) continue;
        CompleteFromAttributeList(reader, record, n, *summary);
        if (summary->hasName && summary->header.IsDirectory()) parents[n] = summary->parent;
        AttributeWalker walker(record, summary->header);
        while (auto a = walker.Next()) {
            std::vector<DataRun> runs;
            DecodeRunList(*a, runs);
        }
        StreamLayout stream;
        if (ReadStream(reader, record, n, kData, stream) == kOk) {
            uint64_t delivered = 0;
            const uint64_t want = std::min<uint64_t>(summary->size, 1024 * 1024);
            IgnoreStatus(ReadStreamData(source, g, stream, want,
                                        [&](std::span<const std::byte> piece) {
                                            delivered += piece.size();
                                            return kOk;
                                        }),
                         "any answer will do on arbitrary bytes");
            if (delivered > want) __builtin_trap();
        }
    }
    FolderWalk walk([&](uint32_t n) { return n < kRecords ? parents[n] : std::nullopt; });
    for (uint32_t n = 0; n < kRecords; ++n) {
        if (parents[n]) (void)walk.DepthOf(*parents[n]);
    }
    return 0;
}
