// Reading one MFT FILE record: its header, its attributes one after the other, and the
// attribute contents the quick engine uses ($STANDARD_INFORMATION, $FILE_NAME, $DATA and run
// lists). Every read is bounded by the record and by the attribute it belongs to, so a damaged
// record yields fewer attributes, never a read outside the buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/ntfs/ntfs_geometry.h"

namespace keltra::ntfs {

inline constexpr uint32_t kFileSignature = 0x454C4946;  // "FILE"

inline constexpr uint32_t kStandardInformation = 0x10;
inline constexpr uint32_t kAttributeList = 0x20;
inline constexpr uint32_t kFileName = 0x30;
inline constexpr uint32_t kData = 0x80;

// Attribute header flags (bytes 12-13): the data is compressed (any of the low bits: the
// compression method), encrypted, or sparse.
inline constexpr uint16_t kAttributeCompressionMask = 0x00FF;
inline constexpr uint16_t kAttributeEncrypted = 0x4000;
inline constexpr uint16_t kAttributeSparse = 0x8000;

inline constexpr uint16_t kRecordInUse = 0x0001;
inline constexpr uint16_t kRecordIsDirectory = 0x0002;

inline constexpr uint8_t kNamespaceWin32 = 1;
inline constexpr uint8_t kNamespaceDos = 2;

struct RecordHeader {
    uint16_t firstAttribute = 0;
    uint16_t flags = 0;
    uint32_t bytesInUse = 0;
    uint32_t baseRecord = 0;  // low 32 bits of the base record reference; 0 in a base record

    bool IsDirectory() const { return (flags & kRecordIsDirectory) != 0; }
};

// The header of a record that carries the "FILE" signature; nothing otherwise.
std::optional<RecordHeader> ReadRecordHeader(std::span<const std::byte> record);

// One attribute, as a view into its record.
struct Attribute {
    uint32_t type = 0;
    std::span<const std::byte> bytes;  // the whole attribute, header included
    bool nonResident = false;
    uint8_t nameLength = 0;

    bool Unnamed() const { return nameLength == 0; }
    uint16_t Flags() const;
    // Resident content (bounded by the attribute); empty for a non-resident attribute.
    std::span<const std::byte> Content() const;
    // Non-resident header fields; 0 when the attribute is resident or too short for them.
    uint64_t LowestVcn() const;
    uint64_t RealSize() const;
    uint64_t InitializedSize() const;
    // Log2 of the clusters per compression unit (byte 34); 0 when resident or too short.
    uint8_t CompressionUnit() const;
};

// The attributes of a record in their order. The walk ends at the end marker, at a type of 0
// or of 0xFDFDFDFD and above, at a length too short for a header, and at an attribute that
// would reach past the record's bytes in use.
class AttributeWalker {
  public:
    AttributeWalker(std::span<const std::byte> record, const RecordHeader& header);
    std::optional<Attribute> Next();

  private:
    std::span<const std::byte> record_;
    size_t offset_ = 0;
    size_t end_ = 0;
};

// The first attribute of the type in the record (unnamed only, when `unnamedOnly`).
std::optional<Attribute> FindAttribute(std::span<const std::byte> record,
                                       const RecordHeader& header, uint32_t type, bool unnamedOnly);

struct StandardInformation {
    uint64_t created = 0;
    uint64_t modified = 0;
    uint64_t accessed = 0;
};
std::optional<StandardInformation> ReadStandardInformation(const Attribute& attribute);

struct FileName {
    uint32_t parent = 0;  // low 32 bits of the parent folder's reference
    uint64_t created = 0;
    uint64_t modified = 0;
    uint64_t accessed = 0;
    uint64_t realSize = 0;
    uint8_t nameSpace = 0;
    std::u16string name;
};
std::optional<FileName> ReadFileName(const Attribute& attribute);

// Decodes the run list of a non-resident attribute, bounded by the attribute's length alone,
// and appends the runs with absolute starting clusters (each run list counts from cluster 0).
// A run without starting-cluster bytes is sparse. A header byte of 0, a length field of 0 or
// of 8 bytes and more, a starting-cluster field of 8 bytes and more, or a run that would reach
// past the attribute ends the list.
void DecodeRunList(const Attribute& attribute, std::vector<DataRun>& out);

}  // namespace keltra::ntfs
