#include "engines/ntfs/ntfs_record_data.h"

#include <vector>

#include "engines/scan_engine.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "platform/little_endian.h"

namespace keltra::ntfs {

Status ReadDataLayout(const RecordReader& reader, uint64_t sector, uint64_t number,
                      StreamLayout& out) {
    std::vector<std::byte> bytes(reader.Volume().recordSize);
    const Status s = reader.ReadAt(sector, bytes);
    if (s != kOk) return s;
    if (!ReadRecordHeader(bytes)) return kErrInvalidParameter;
    return ReadStream(reader, bytes, number, kData, out);
}

uint32_t ReadDataForm(const RecordReader& reader, uint64_t sector, uint64_t number) {
    std::vector<std::byte> bytes(reader.Volume().recordSize);
    if (reader.ReadAt(sector, bytes) != kOk) return 0;
    return DataFormOf(reader, bytes, number);
}

uint32_t DataFormOf(const RecordReader& reader, std::span<const std::byte> bytes,
                    uint64_t number) {
    const auto header = ReadRecordHeader(bytes);
    if (!header) return 0;
    uint32_t form = 0;
    StreamLayout stream;
    if (ReadStream(reader, bytes, number, kData, stream) == kOk) {
        if (stream.Compressed()) form |= kDataCompressed;
        if (stream.encrypted) form |= kDataEncrypted;
    }
    // The file attributes of $STANDARD_INFORMATION (bytes 32-35 of its content).
    constexpr uint32_t kFileEncrypted = 0x4000;
    if (const auto si = FindAttribute(bytes, *header, kStandardInformation, false)) {
        const auto c = si->Content();
        if (c.size() >= 36 && (Le32(c, 32) & kFileEncrypted) != 0) form |= kDataEncrypted;
    }
    return form;
}

Status ReadRecordFileData(const RecordReader& reader, uint64_t sector, uint64_t number,
                          uint64_t size, const PieceSink& sink) {
    StreamLayout stream;
    const Status s = ReadDataLayout(reader, sector, number, stream);
    if (s == kNoSuchAttribute) return kOk;
    if (s != kOk) return s;
    return ReadStreamData(reader.Source(), reader.Volume(), stream, size, sink);
}

}  // namespace keltra::ntfs
