// A carved file's own bytes, read by their offset from the header sector, for the end finders
// that follow a format's structure (box, tag, element, chunk and section sizes) instead of
// searching for the next header. Whole sectors of the carve session's source are read in
// 64 KiB windows; nothing at or past the format's limit, nor past the source's end, is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engines/carving/carve_session.h"
#include "engines/carving/file_type_code.h"

namespace keltra {

// What following a format's structure told of a carved file's end.
struct StructureEnd {
    enum Verdict {
        kFound,    // `size` is where the structure ends
        kUnknown,  // the structure does not say (a streamed file with no sizes written)
        kBroken,   // the structure is damaged or cut: the file is not intact
    };
    Verdict verdict = kUnknown;
    uint64_t size = 0;
    // Found, but with damage that leaves the end in place (a failed checksum).
    bool damaged = false;

    static StructureEnd Found(uint64_t bytes, bool isDamaged = false) {
        return {kFound, bytes, isDamaged};
    }
    static StructureEnd Unknown() { return {kUnknown, 0, false}; }
    static StructureEnd Broken() { return {kBroken, 0, true}; }
};

// The size the structure gave, else the size of the table's rule, `rule()`. A broken
// structure, or damage found on the way, marks the carved file damaged in the session.
uint64_t EndOrRule(CarveSession& session, const StructureEnd& end,
                   uint64_t (*rule)(CarveSession&, std::span<const std::byte>),
                   std::span<const std::byte> header);

// Names the file being carved by `type` (of the same family as its recogniser's answer), when
// its structure, read whole, tells more than its header did. kTypeTiff and the like leave the
// recogniser's name.
void NameCarvedFile(CarveSession& session, FileTypeCode type);

// Confirms an end that a structure gave: no sector of the file after its header may start
// another known file or hold volume metadata, as one does where the file was cut and its rest
// overwritten (and the structure, jumping over data it does not check or reading foreign bytes
// that happen to fit, ends somewhere past the cut). Such a file is broken; any other verdict is
// returned as it is.
// Headers of type `ignored` (a stream's own frames that can start sectors) start nothing.
StructureEnd ConfirmedByStopScan(CarveSession& session, const StructureEnd& end,
                                 FileTypeCode ignored = kTypeNone);
// The same for a file that holds whole files of its own where its structure says (the previews
// of a camera's RAW file, the frames of a movie): a sector that starts at one of the byte
// offsets `inner` starts nothing new.
StructureEnd ConfirmedByStopScan(CarveSession& session, const StructureEnd& end,
                                 std::vector<uint64_t> inner);

class CarvedFileBytes {
  public:
    // `limit`: the largest file the format's rule allows, in bytes from the header sector.
    CarvedFileBytes(CarveSession& session, uint64_t limit);

    // Copies the bytes at `offset` into `out`; false when any of them lies at or past the
    // limit or the source's end, when a read fails, or when the progress callback stopped the
    // search.
    bool Read(uint64_t offset, std::span<std::byte> out);
    // The bytes from `offset` to the end of the window that holds it (at least one byte);
    // empty where Read would fail. Valid until the next call.
    std::span<const std::byte> Window(uint64_t offset);

    std::optional<uint64_t> Be(uint64_t offset, size_t bytes);
    std::optional<uint64_t> Le(uint64_t offset, size_t bytes);
    // The bytes at `offset` equal `text`.
    bool Holds(uint64_t offset, std::string_view text);
    // First position at or after `from` (and before `before`) where `needle` starts.
    std::optional<uint64_t> Find(std::string_view needle, uint64_t from, uint64_t before);

    // Bytes of the file that lie on the source, within the limit.
    uint64_t Available() const { return available_; }
    // The progress callback asked the search to end.
    bool Stopped() const { return stopped_; }

  private:
    bool Fill(uint64_t offset);

    CarveSession& session_;
    uint64_t available_ = 0;
    std::vector<std::byte> window_;
    uint64_t windowStart_ = 0;
    size_t windowBytes_ = 0;
    uint64_t sectorsRead_ = 0;
    bool stopped_ = false;
};

}  // namespace keltra
