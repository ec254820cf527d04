#include "engines/ntfs/ntfs_record_data.h"

#include <vector>

#include "engines/ntfs/ntfs_attributes.h"

namespace keltra::ntfs {

Status ReadDataLayout(const RecordReader& reader, uint64_t sector, uint64_t number,
                      StreamLayout& out) {
    std::vector<std::byte> bytes(reader.Volume().recordSize);
    const Status s = reader.ReadAt(sector, bytes);
    if (s != kOk) return s;
    if (!ReadRecordHeader(bytes)) return kErrInvalidParameter;
    return ReadStream(reader, bytes, number, kData, out);
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
