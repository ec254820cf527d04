// The walk over a TIFF file's directory tree that finds the furthest byte the tree points at,
// and notes what names a camera RAW file (Make, Model, DNGVersion, sensor data).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engines/carving/camera_raw_names.h"
#include "engines/carving/file_bytes.h"

namespace keltra {

class TiffDirectoryWalk {
  public:
    // `file`: the carved file's bytes, the TIFF header at offset 0.
    TiffDirectoryWalk(CarvedFileBytes& file, bool bigEndian);

    // The end of the furthest piece; broken when a directory of the main tree is no directory
    // (an unknown type, a count or offset past the source), or when no directory names any
    // image data; unknown when strips have no byte counts. A maker note's or a private directory that does not read as one is kept as
    // the bytes its tag gives and not followed: makers write what they like there.
    StructureEnd Run();

    const TiffMarks& Marks() const { return marks_; }
    // Where the pieces the walk took begin: a preview there is the file's own, not a new file.
    const std::vector<uint64_t>& PieceStarts() const { return starts_; }

  private:
    // A directory still to read: where, the offset its values count from, its byte order, and
    // whether it belongs to the main tree (else it is a maker's and read leniently).
    struct Pending {
        uint64_t at;
        uint64_t base;
        bool big;
        bool strict;
        bool makerNote;
    };
    struct Entry {
        uint16_t tag = 0;
        uint64_t type = 0;
        uint64_t count = 0;
        uint64_t valueAt = 0;  // absolute: in the entry, or where its offset points
    };

    bool Directory(const Pending& dir, std::vector<Pending>& pending);
    void MakerNote(const Entry& note, bool big);
    void ReadMarks(const Entry& e, bool big, bool first);
    std::optional<uint64_t> U(uint64_t at, size_t bytes, bool big);
    std::optional<uint64_t> Value(const Entry& e, uint64_t k, bool big);
    bool Cover(uint64_t at, uint64_t length, uint64_t& end);

    CarvedFileBytes& file_;
    bool big_;
    uint64_t end_ = 8;
    uint64_t pieces_ = 0;
    bool imageData_ = false;
    bool unsized_ = false;
    uint64_t firstDirectory_ = 0;
    TiffMarks marks_;
    std::vector<uint64_t> starts_;
};

}  // namespace keltra
