#include "engines/ntfs/ntfs_attributes.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace keltra::ntfs {

namespace {

constexpr size_t kRecordHeaderBytes = 48;
constexpr size_t kAttributeHeaderBytes = 16;
constexpr size_t kResidentHeaderBytes = 24;
constexpr size_t kNonResidentHeaderBytes = 64;
constexpr size_t kFileNameFixedBytes = 66;

}  // namespace

std::optional<RecordHeader> ReadRecordHeader(std::span<const std::byte> record) {
    if (record.size() < kRecordHeaderBytes || Le32(record, 0) != kFileSignature) {
        return std::nullopt;
    }
    RecordHeader h;
    h.firstAttribute = Le16(record, 20);
    h.flags = Le16(record, 22);
    h.bytesInUse = Le32(record, 24);
    h.baseRecord = Le32(record, 32);
    return h;
}

std::span<const std::byte> Attribute::Content() const {
    if (nonResident || bytes.size() < kResidentHeaderBytes) return {};
    const uint32_t length = Le32(bytes, 16);
    const uint16_t offset = Le16(bytes, 20);
    if (offset > bytes.size() || length > bytes.size() - offset) return {};
    return bytes.subspan(offset, length);
}

uint16_t Attribute::Flags() const {
    return bytes.size() >= kAttributeHeaderBytes ? Le16(bytes, 12) : 0;
}

uint8_t Attribute::CompressionUnit() const {
    return nonResident && bytes.size() >= kNonResidentHeaderBytes ? Byte(bytes, 34) : 0;
}

uint64_t Attribute::LowestVcn() const {
    return nonResident && bytes.size() >= kNonResidentHeaderBytes ? Le64(bytes, 16) : 0;
}
uint64_t Attribute::RealSize() const {
    return nonResident && bytes.size() >= kNonResidentHeaderBytes ? Le64(bytes, 48) : 0;
}
uint64_t Attribute::InitializedSize() const {
    return nonResident && bytes.size() >= kNonResidentHeaderBytes ? Le64(bytes, 56) : 0;
}

AttributeWalker::AttributeWalker(std::span<const std::byte> record, const RecordHeader& header)
    : record_(record),
      offset_(header.firstAttribute),
      end_(std::min<size_t>(header.bytesInUse, record.size())) {}

std::optional<Attribute> AttributeWalker::Next() {
    if (offset_ >= end_ || end_ - offset_ < kAttributeHeaderBytes) return std::nullopt;
    const uint32_t type = Le32(record_, offset_);
    const uint32_t length = Le32(record_, offset_ + 4);
    if (type == 0 || type >= 0xFDFDFDFDu || length < kAttributeHeaderBytes ||
        length > end_ - offset_) {
        offset_ = end_;
        return std::nullopt;
    }
    Attribute a;
    a.type = type;
    a.bytes = record_.subspan(offset_, length);
    a.nonResident = Byte(a.bytes, 8) != 0;
    a.nameLength = Byte(a.bytes, 9);
    offset_ += length;
    return a;
}

std::optional<Attribute> FindAttribute(std::span<const std::byte> record,
                                       const RecordHeader& header, uint32_t type,
                                       bool unnamedOnly) {
    AttributeWalker walker(record, header);
    while (auto a = walker.Next()) {
        if (a->type == type && (!unnamedOnly || a->Unnamed())) return a;
    }
    return std::nullopt;
}

std::optional<StandardInformation> ReadStandardInformation(const Attribute& attribute) {
    const auto c = attribute.Content();
    if (attribute.type != kStandardInformation || c.size() < 32) return std::nullopt;
    StandardInformation si;
    si.created = Le64(c, 0);
    si.modified = Le64(c, 8);
    si.accessed = Le64(c, 24);
    return si;
}

std::optional<FileName> ReadFileName(const Attribute& attribute) {
    const auto c = attribute.Content();
    if (attribute.type != kFileName || c.size() < kFileNameFixedBytes) return std::nullopt;
    FileName fn;
    fn.parent = Le32(c, 0);
    fn.created = Le64(c, 8);
    fn.modified = Le64(c, 16);
    fn.accessed = Le64(c, 32);
    fn.realSize = Le64(c, 48);
    const size_t length = Byte(c, 64);
    fn.nameSpace = Byte(c, 65);
    if (kFileNameFixedBytes + 2 * length > c.size()) return std::nullopt;
    fn.name.resize(length);
    for (size_t i = 0; i < length; ++i) {
        fn.name[i] = static_cast<char16_t>(Le16(c, kFileNameFixedBytes + 2 * i));
    }
    return fn;
}

void DecodeRunList(const Attribute& attribute, std::vector<DataRun>& out) {
    const auto a = attribute.bytes;
    if (!attribute.nonResident || a.size() < kNonResidentHeaderBytes) return;
    size_t pos = Le16(a, 32);
    uint64_t lcn = 0;
    while (pos < a.size()) {
        const uint8_t header = Byte(a, pos);
        const size_t lengthBytes = header & 0x0F;
        const size_t offsetBytes = header >> 4;
        if (header == 0 || lengthBytes == 0 || lengthBytes >= 8 || offsetBytes >= 8) return;
        if (1 + lengthBytes + offsetBytes > a.size() - pos) return;
        uint64_t length = 0;
        for (size_t i = 0; i < lengthBytes; ++i) {
            length |= uint64_t{Byte(a, pos + 1 + i)} << (8 * i);
        }
        DataRun run;
        run.clusters = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            uint64_t change = 0;
            for (size_t i = 0; i < offsetBytes; ++i) {
                change |= uint64_t{Byte(a, pos + 1 + lengthBytes + i)} << (8 * i);
            }
            const size_t bits = 8 * offsetBytes;
            if ((change >> (bits - 1)) & 1) change |= ~uint64_t{0} << bits;  // sign-extend
            lcn += change;  // wraps like the signed sum it stands for
            run.lcn = lcn;
        }
        out.push_back(run);
        pos += 1 + lengthBytes + offsetBytes;
    }
}

}  // namespace keltra::ntfs
