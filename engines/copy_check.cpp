#include "engines/copy_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/extension_categories.h"
#include "storage/sector_source.h"

namespace keltra {
namespace {

// The copy as a source of 512-byte sectors, its last one filled up with zeros as a disk's
// slack would be.
class CopyReader final : public SectorReader {
  public:
    CopyReader(const FileHandle& copy, uint64_t bytes) : copy_(copy), bytes_(bytes) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        const uint64_t padded =
            (bytes_ + kImageSectorSize - 1) / kImageSectorSize * kImageSectorSize;
        if (offset >= padded) return kOk;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), padded - offset));
        size_t got = 0;
        if (offset < bytes_) {
            const size_t inFile = static_cast<size_t>(std::min<uint64_t>(want, bytes_ - offset));
            if (const Status s = copy_.ReadAt(offset, buffer.first(inFile), got); s != kOk)
                return s;
        }
        std::memset(buffer.data() + got, 0, want - got);
        done = want;
        return kOk;
    }

  private:
    const FileHandle& copy_;
    uint64_t bytes_;
};

}  // namespace

bool CopyPassesContentCheck(const FoundRecord& record, const FileHandle& copy, uint64_t bytes) {
    if (record.contentIntact == 0 || record.isFolder != 0 || bytes == 0) return true;
    // The tests look at the first sector, as the scans gave it them, and read on through the
    // source where they need more.
    std::vector<std::byte> head(kImageSectorSize);
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(bytes, head.size()));
    size_t got = 0;
    if (copy.ReadAt(0, std::span(head).first(wanted), got) != kOk || got != wanted) return false;
    SectorSource source;
    OpenReaderSource(source, std::make_unique<CopyReader>(copy, bytes),
                     (bytes + kImageSectorSize - 1) / kImageSectorSize);
    return CheckFileContent(head, ExtensionOf(record.Name()), source,
                            static_cast<int>(kImageSectorSize), 0) != 0;
}

}  // namespace keltra
