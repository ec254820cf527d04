#include "engines/ntfs/ntfs_record_parse.h"

#include <vector>

#include "engines/ntfs/ntfs_attribute_list.h"

namespace keltra::ntfs {

namespace {

struct Times {
    uint64_t created = 0, modified = 0, accessed = 0;
};

void TakeName(const FileName& fn, RecordSummary& s, bool& timesFromName) {
    if (!s.hasName) {
        s.hasName = true;
        s.parent = fn.parent;
        s.name = fn.name;
        if (timesFromName) {
            s.created = fn.created;
            s.modified = fn.modified;
            s.accessed = fn.accessed;
        }
        if (!s.hasDataSize) s.size = fn.realSize;
    } else if (fn.nameSpace == kNamespaceWin32) {
        s.name = fn.name;
    }
}

}  // namespace

std::optional<RecordSummary> SummariseRecord(std::span<const std::byte> record) {
    const auto header = ReadRecordHeader(record);
    if (!header) return std::nullopt;
    RecordSummary s;
    s.header = *header;
    bool timesFromName = true;
    AttributeWalker walker(record, *header);
    while (auto a = walker.Next()) {
        switch (a->type) {
            case kStandardInformation:
                if (const auto si = ReadStandardInformation(*a); si && timesFromName) {
                    s.created = si->created;
                    s.modified = si->modified;
                    s.accessed = si->accessed;
                    timesFromName = false;
                }
                break;
            case kAttributeList:
                s.hasAttributeList = true;
                break;
            case kFileName:
                if (const auto fn = ReadFileName(*a)) TakeName(*fn, s, timesFromName);
                break;
            case kData:
                if (!a->Unnamed() || s.hasDataSize) break;
                if (!a->nonResident) {
                    s.size = a->Content().size();
                    s.hasDataSize = true;
                } else if (a->LowestVcn() == 0) {
                    s.size = a->RealSize();
                    s.hasDataSize = true;
                }
                break;
            default:
                break;
        }
    }
    return s;
}

void CompleteFromAttributeList(const RecordReader& reader, std::span<const std::byte> record,
                               uint64_t number, RecordSummary& summary) {
    if (!summary.hasAttributeList) return;
    if (!summary.hasName) {
        std::vector<std::vector<std::byte>> names;
        CollectListedAttributes(reader, record, number, kFileName, names);
        bool timesFromName = summary.created == 0 && summary.modified == 0;
        for (const auto& bytes : names) {
            Attribute a;
            a.type = kFileName;
            a.bytes = bytes;
            if (const auto fn = ReadFileName(a)) TakeName(*fn, summary, timesFromName);
        }
    }
    if (!summary.hasDataSize) {
        StreamLayout stream;
        if (ReadStream(reader, record, number, kData, stream) == kOk && stream.realSize != 0) {
            summary.size = stream.realSize;
            summary.hasDataSize = true;
        }
    }
}

}  // namespace keltra::ntfs
