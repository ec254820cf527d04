// The data of a file found in an MFT record, read again from the record at its location: for
// copies, previews and the deep scan's merged search, shared by the NTFS engines.
#pragma once

#include <cstdint>

#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_data_copy.h"
#include "engines/ntfs/ntfs_record_reader.h"
#include "platform/status.h"

namespace keltra::ntfs {

// Where the unnamed $DATA of base record `number`, lying at `sector`, keeps its bytes. The
// record's read error; 87 when the sector holds no FILE record; kNoSuchAttribute without data.
Status ReadDataLayout(const RecordReader& reader, uint64_t sector, uint64_t number,
                      StreamLayout& out);

// The kData* flags (scan_engine.h) of that file: compressed when its $DATA is, encrypted
// when its $DATA or its $STANDARD_INFORMATION attributes say so. 0 when the record cannot be
// read.
uint32_t ReadDataForm(const RecordReader& reader, uint64_t sector, uint64_t number);
// The same from record `number` already read, its fixups applied.
uint32_t DataFormOf(const RecordReader& reader, std::span<const std::byte> record,
                    uint64_t number);

// Delivers the first `size` bytes of that data to `sink` (ReadStreamData). A record without
// data (an empty file) gives no bytes and kOk.
Status ReadRecordFileData(const RecordReader& reader, uint64_t sector, uint64_t number,
                          uint64_t size, const PieceSink& sink);

}  // namespace keltra::ntfs
