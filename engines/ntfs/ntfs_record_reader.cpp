#include "engines/ntfs/ntfs_record_reader.h"

#include "engines/ntfs/ntfs_fixups.h"

namespace keltra::ntfs {

Status RecordReader::ReadAt(uint64_t sector, std::span<std::byte> out) const {
    if (out.size() < geometry_.recordSize) return kErrInvalidParameter;
    const auto record = out.first(geometry_.recordSize);
    uint32_t read = 0;
    Status s = ReadSectors(source_, geometry_.sectorsPerRecord, record, sector,
                           static_cast<int>(geometry_.bytesPerSector), read);
    if (s == kOk && read != geometry_.sectorsPerRecord) s = kErrReadFault;
    if (s != kOk) return s;
    ApplyFixups(record);
    return kOk;
}

Status RecordReader::ReadNumber(uint64_t number, std::span<std::byte> out) const {
    const auto sector = mft_.SectorOfRecord(number);
    if (!sector) return kErrInvalidParameter;
    return ReadAt(*sector, out);
}

}  // namespace keltra::ntfs
