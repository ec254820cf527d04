#include "engines/ntfs/ntfs_attribute_list.h"

#include <algorithm>
#include <optional>
#include <set>

#include "engines/ntfs/ntfs_attributes.h"
#include "platform/little_endian.h"

namespace keltra::ntfs {

namespace {

// A list longer than this is damaged: a real one holds a few thousand entries at most.
constexpr uint64_t kMaxListBytes = 1024 * 1024;
constexpr size_t kListEntryBytes = 26;
// More names than this for one file means a damaged list.
constexpr size_t kMaxListedAttributes = 64;

struct ListEntry {
    uint32_t type;
    bool unnamed;
    uint64_t vcn;
    uint64_t record;
    uint16_t id;
};

void TakeSizes(const Attribute& a, StreamLayout& out) {
    out.realSize = a.RealSize();
    out.initializedSize = std::min(a.InitializedSize(), out.realSize);
    out.compressionUnit = (a.Flags() & kAttributeCompressionMask) != 0 ? a.CompressionUnit() : 0;
    out.encrypted = (a.Flags() & kAttributeEncrypted) != 0;
}

void TakeResident(const Attribute& a, StreamLayout& out) {
    const auto c = a.Content();
    out.resident = true;
    out.residentData.assign(c.begin(), c.end());
    out.realSize = c.size();
    out.initializedSize = c.size();
    out.encrypted = (a.Flags() & kAttributeEncrypted) != 0;
}

// The list's bytes: resident content, or the clusters of its runs.
bool ListBytes(const RecordReader& reader, const Attribute& list, std::vector<std::byte>& out) {
    if (!list.nonResident) {
        const auto c = list.Content();
        out.assign(c.begin(), c.end());
        return true;
    }
    const uint64_t size = list.RealSize();
    if (size > kMaxListBytes) return false;
    std::vector<DataRun> runs;
    DecodeRunList(list, runs);
    const Geometry& g = reader.Volume();
    out.clear();
    for (const DataRun& run : runs) {
        if (out.size() >= size) break;
        if (run.sparse || run.clusters > kMaxListBytes / g.ClusterBytes()) return false;
        const size_t at = out.size();
        out.resize(at + run.clusters * g.ClusterBytes());
        uint32_t read = 0;
        const uint32_t count = static_cast<uint32_t>(run.clusters * g.sectorsPerCluster);
        if (ReadSectors(reader.Source(), count, std::span(out).subspan(at),
                        g.SectorOfCluster(run.lcn), static_cast<int>(g.bytesPerSector),
                        read) != kOk) {
            return false;
        }
    }
    out.resize(std::min<uint64_t>(out.size(), size));
    return true;
}

std::vector<ListEntry> ParseList(std::span<const std::byte> bytes) {
    std::vector<ListEntry> entries;
    size_t pos = 0;
    while (bytes.size() - pos >= kListEntryBytes) {
        const uint16_t length = Le16(bytes, pos + 4);
        if (length < kListEntryBytes || length > bytes.size() - pos) break;
        ListEntry e;
        e.type = Le32(bytes, pos);
        e.unnamed = Byte(bytes, pos + 6) == 0;
        e.vcn = Le64(bytes, pos + 8);
        e.record = Le64(bytes, pos + 16) & 0xFFFFFFFFFFFFull;
        e.id = Le16(bytes, pos + 24);
        entries.push_back(e);
        pos += length;
    }
    return entries;
}

// The extent starting at `vcn` of the unnamed attribute of `type` in the record.
std::optional<Attribute> FindExtent(std::span<const std::byte> record, uint32_t type,
                                    uint64_t vcn) {
    const auto header = ReadRecordHeader(record);
    if (!header) return std::nullopt;
    AttributeWalker walker(record, *header);
    while (auto a = walker.Next()) {
        if (a->type == type && a->Unnamed() &&
            (a->nonResident ? a->LowestVcn() == vcn : vcn == 0)) {
            return a;
        }
    }
    return std::nullopt;
}

// Loads record `wanted` into `other` unless it is the base or already there; the span of the
// record that holds the entry's attribute, or nothing.
std::optional<std::span<const std::byte>> Holder(const RecordReader& reader,
                                                 std::span<const std::byte> base, uint64_t number,
                                                 uint64_t wanted, std::vector<std::byte>& other,
                                                 uint64_t& loaded) {
    if (wanted == number) return base;
    if (loaded != wanted) {
        loaded = UINT64_MAX;
        if (reader.ReadNumber(wanted, other) != kOk) return std::nullopt;
        const auto h = ReadRecordHeader(other);
        if (!h || h->baseRecord != static_cast<uint32_t>(number)) return std::nullopt;
        loaded = wanted;
    }
    return std::span<const std::byte>(other);
}

std::optional<Attribute> ListAttribute(std::span<const std::byte> record) {
    const auto header = ReadRecordHeader(record);
    if (!header) return std::nullopt;
    return FindAttribute(record, *header, kAttributeList, false);
}

Status FollowList(const RecordReader& reader, std::span<const std::byte> base, uint64_t number,
                  uint32_t type, const std::vector<ListEntry>& entries, StreamLayout& out) {
    std::vector<std::byte> other(reader.Volume().recordSize);
    uint64_t loaded = UINT64_MAX;
    bool found = false;
    uint64_t next = 0;  // the VCN the next extent should start at
    for (const ListEntry& e : entries) {
        if (e.type != type || !e.unnamed) continue;
        if (found && (out.resident || e.vcn < next)) continue;  // repeated or going back
        const auto holder = Holder(reader, base, number, e.record, other, loaded);
        if (!holder) continue;
        const auto extent = FindExtent(*holder, type, e.vcn);
        if (!extent) continue;
        if (!extent->nonResident) {
            if (found) continue;
            TakeResident(*extent, out);
            found = true;
            continue;
        }
        if (e.vcn > next) {
            out.runs.push_back({0, e.vcn - next, true});
            next = e.vcn;
        }
        if (e.vcn == 0) TakeSizes(*extent, out);
        const size_t first = out.runs.size();
        DecodeRunList(*extent, out.runs);
        next = e.vcn;
        for (size_t i = first; i < out.runs.size(); ++i) next += out.runs[i].clusters;
        found = true;
    }
    return found ? kOk : kNoSuchAttribute;
}

}  // namespace

Status ReadStream(const RecordReader& reader, std::span<const std::byte> record, uint64_t number,
                  uint32_t type, StreamLayout& out) {
    out = StreamLayout{};
    const auto header = ReadRecordHeader(record);
    if (!header) return kNoSuchAttribute;
    std::optional<Attribute> own;
    std::optional<Attribute> list;
    AttributeWalker walker(record, *header);
    while (auto a = walker.Next()) {
        if (a->type == kAttributeList && !list) list = a;
        if (a->type == type && a->Unnamed() && !own) own = a;
    }
    if (list) {
        std::vector<std::byte> bytes;
        if (ListBytes(reader, *list, bytes) &&
            FollowList(reader, record, number, type, ParseList(bytes), out) == kOk) {
            return kOk;
        }
        out = StreamLayout{};
    }
    if (!own) return kNoSuchAttribute;
    if (!own->nonResident) {
        TakeResident(*own, out);
    } else {
        TakeSizes(*own, out);
        DecodeRunList(*own, out.runs);
    }
    return kOk;
}

}  // namespace keltra::ntfs

namespace keltra::ntfs {

void CollectListedAttributes(const RecordReader& reader, std::span<const std::byte> record,
                             uint64_t number, uint32_t type,
                             std::vector<std::vector<std::byte>>& out) {
    const auto list = ListAttribute(record);
    std::vector<std::byte> bytes;
    if (!list || !ListBytes(reader, *list, bytes)) return;
    std::vector<std::byte> other(reader.Volume().recordSize);
    uint64_t loaded = UINT64_MAX;
    std::set<std::pair<uint64_t, uint16_t>> taken;
    for (const ListEntry& e : ParseList(bytes)) {
        if (e.type != type || out.size() >= kMaxListedAttributes) continue;
        if (!taken.insert({e.record, e.id}).second) continue;
        const auto holder = Holder(reader, record, number, e.record, other, loaded);
        if (!holder) continue;
        const auto header = ReadRecordHeader(*holder);
        AttributeWalker walker(*holder, *header);
        while (auto a = walker.Next()) {
            if (a->type == type && Le16(a->bytes, 14) == e.id) {
                out.emplace_back(a->bytes.begin(), a->bytes.end());
                break;
            }
        }
    }
}

}  // namespace keltra::ntfs
