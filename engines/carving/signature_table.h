// The ordered table of known file formats: extension, type code, recogniser and end finder.
// The first row whose recogniser answers wins, so the order is part of the behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engines/carving/carve_session.h"
#include "engines/carving/file_type_code.h"

namespace keltra {

// Does this sector begin a file of this kind? The row's code, another code of the same
// family, or kTypeNone. Needing more bytes than given answers kTypeNone.
using Recogniser = FileTypeCode (*)(CarveSession& session, std::span<const std::byte> bytes);
// Given a recognised header sector, the file's size in bytes from the start of that sector.
using EndFinder = uint64_t (*)(CarveSession& session, std::span<const std::byte> header);

// What a recogniser tests first: byte `offset` is one of `bytes`. A row may name a second
// anchor; the recogniser can only answer when one of them holds. Used to dispatch cheaply.
struct Anchor {
    uint8_t offset = 0;
    std::string_view bytes;  // empty: no anchor
};

struct SignatureRow {
    std::string_view extension;  // lower case, no dot
    FileTypeCode code;
    Recogniser recognise;  // null only on the terminating row
    EndFinder findEnd;     // null: recognised but never carved
    Anchor anchor;
    Anchor otherAnchor;
    bool readsDisk = false;  // the recogniser may read the source after its cheap test
    // The recogniser's answer also depends on what earlier attempts left in the session.
    bool readsSession = false;
};

// The rows of every known format and the terminating row (code kTypeNone, no functions).
std::span<const SignatureRow> FileSignatureTable();

// The first row whose recogniser answers, in table order, and its answer; null and kTypeNone
// when none does.
struct Recognition {
    const SignatureRow* row = nullptr;
    FileTypeCode code = kTypeNone;
};
Recognition RecogniseSector(CarveSession& session, std::span<const std::byte> bytes);

// Sets `bit` in marks[i] for each whole sector i of `sectors` for which some row's anchors hold,
// the cheap test before any recogniser can answer: RecogniseSector answers nothing for the
// sectors left unmarked, whatever the session.
void MarkAnchoredSectors(std::span<const std::byte> sectors, size_t sectorSize,
                         std::span<uint8_t> marks, uint8_t bit);

// Whether RecogniseSector may answer for `bytes` in some session: some row applies whose answer
// depends on the session or the disk, or a recogniser that reads neither answers (run with
// `scratch`, a session of the sector size that nothing else uses).
bool SomeRecogniserMayAnswer(CarveSession& scratch, std::span<const std::byte> bytes);

// True when any row's recogniser answers with a code other than `ignored`.
bool AnyRecogniserAnswers(CarveSession& session, std::span<const std::byte> bytes,
                          FileTypeCode ignored = kTypeNone);

// Whether a sector of `sectorBytes` zero bytes can start a file: some recogniser that applies
// to it answers, or one whose answer depends on the disk or the session applies.
bool ZeroSectorMayStartFile(size_t sectorBytes);

// Formats that share one container, whose files are readable under any of the family's
// extensions: TIFF and the camera RAW files built on it; ISO base media (MP4, QuickTime, 3GP,
// HEIF, AVIF, CR3, M4A...); Ogg; AIFF. kNoFamily for every other format.
enum class ContainerFamily { kNoFamily, kTiff, kIsoMedia, kOgg, kAiff };
ContainerFamily FamilyOf(FileTypeCode code);

// The first row with this code / with this extension (case-insensitive); null when none.
const SignatureRow* FirstRowWithCode(FileTypeCode code);
const SignatureRow* FirstRowWithExtension(std::string_view extension);

}  // namespace keltra
