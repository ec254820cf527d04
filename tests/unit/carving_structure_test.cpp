// Carved files whose end comes from their own structure (box, element, tag, chunk, section,
// directory sizes, a deflate stream, a last "%%EOF"), made by the tools that write them
// (tests/data/carving/make_carving_samples.sh and tests/data/signatures/make_corpus.sh): they
// come back byte-exact however they lie, and cut or damaged ones are marked damaged and fall
// back to the table's rule.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/signature_table.h"
#include "support/sector_image.h"
#include "support/test_support.h"

namespace keltra {
namespace {

constexpr size_t kSector = test::SectorImage::kSector;

struct Sample {
    const char* path;  // under tests/data
    FileTypeCode code;
};

const std::vector<Sample> kSamples = {
    {"carving/strips_lzw.tif", kTypeTiff},
    {"carving/tiled.tif", kTypeTiff},
    {"carving/motorola.tif", kTypeTiff},
    {"signatures/sample.tif", kTypeTiff},
    {"carving/rle.psd", kTypePhotoshop},
    {"carving/raw.psd", kTypePhotoshop},
    {"signatures/sample.psd", kTypePhotoshop},
    {"carving/audio.mp4", kTypeMp4},
    {"carving/faststart.mp4", kTypeMp4},
    {"signatures/sample.mp4", kTypeMp4},
    {"signatures/signed.mp4", kTypeMp4},
    {"carving/sound.mov", kTypeQuickTime},
    {"signatures/sample.mov", kTypeQuickTime},
    {"carving/phone.3gp", kType3gp},
    {"signatures/sample.3gp", kType3gp},
    {"carving/audio.mkv", kTypeMatroska},
    {"signatures/sample.mkv", kTypeMatroska},
    {"carving/audio.flv", kTypeFlv},
    {"signatures/sample.flv", kTypeFlv},
    {"carving/document.pdf", kTypePdf},
    {"signatures/sample.pdf", kTypePdf},
    {"carving/mixed.zip", kTypeZip},
    {"carving/stored.zip", kTypeZip},
    {"carving/streamed.zip", kTypeZip},
    {"signatures/sample.zip", kTypeZip},
    {"carving/document.odt", kTypeZip},
    {"carving/document.docx", kTypeWordOpenXml},
    {"signatures/sample.docx", kTypeWordOpenXml},
    {"signatures/sample.xlsx", kTypeExcelOpenXml},
    {"signatures/sample.pptx", kTypePowerPointOpenXml},
    {"carving/member.ppm.gz", kTypeGzip},
    {"carving/members.gz", kTypeGzip},
    {"signatures/sample.gz", kTypeGzip},
    {"carving/archive.7z", kType7z},
    {"signatures/sample.7z", kType7z},
    {"carving/chunks.png", kTypePng},
    {"signatures/sample.png", kTypePng},
    {"carving/baseline.jpg", kTypeJpeg},
    {"carving/progressive.jpg", kTypeJpeg},
    {"signatures/exif.jpg", kTypeJpeg},
    {"signatures/sample.mmf", kTypeMmf},
    {"signatures/sample.mxf", kTypeMxf},
    {"signatures/sample.mts", kTypeM2ts},
    {"signatures/sample.doc", kTypeFla},
    {"signatures/sample.xls", kTypeFla},
    {"signatures/sample.ppt", kTypeFla},
    {"signatures/sample.mp2", kTypeMpegAudioLayer2},
    {"signatures/sample.mp3", kTypeMp3},
    // Today's phones, cameras and the web (tests/data/formats).
    {"formats/phone.heic", kTypeHeic},
    {"formats/photo.avif", kTypeAvif},
    {"formats/canon.cr3", kTypeCr3},
    {"formats/sound.m4a", kTypeM4a},
    {"formats/video.m4v", kTypeM4v},
    {"formats/phone.3g2", kType3g2},
    {"formats/classic.mov", kTypeQuickTime},
    {"formats/canon.cr2", kTypeCr2},
    {"formats/nikon.nef", kTypeNef},
    {"formats/coolpix.nrw", kTypeNrw},
    {"formats/sony.arw", kTypeArw},
    {"formats/sony.sr2", kTypeSr2},
    {"formats/olympus.orf", kTypeOrf},
    {"formats/panasonic.rw2", kTypeRw2},
    {"formats/leica.rwl", kTypeRwl},
    {"formats/phone.dng", kTypeDng},
    {"formats/pentax.pef", kTypePef},
    {"formats/samsung.srw", kTypeSrw},
    {"formats/hasselblad.3fr", kType3fr},
    {"formats/epson.erf", kTypeErf},
    {"formats/kodak.dcr", kTypeDcr},
    {"formats/leaf.mos", kTypeMos},
    {"formats/mamiya.mef", kTypeMef},
    {"formats/fuji.raf", kTypeRaf},
    {"formats/sigma.x3f", kTypeX3f},
    {"formats/minolta.mrw", kTypeMrw},
    {"formats/canon.crw", kTypeCrw},
    {"formats/photo.webp", kTypeWebp},
    {"formats/lossless.webp", kTypeWebp},
    {"formats/boxed.jxl", kTypeJpegXl},
    {"formats/bare.jxl", kTypeJpegXl},
    {"formats/modular.jxl", kTypeJpegXl},
    {"formats/groups.jxl", kTypeJpegXl},
    {"formats/animation.jxl", kTypeJpegXl},
    {"formats/photo.jp2", kTypeJp2},
    {"formats/stream.j2c", kTypeJ2c},
    {"formats/photo.ppm", kTypePpm},
    {"formats/photo.pgm", kTypePgm},
    {"formats/photo.pbm", kTypePbm},
    {"formats/sound.ogg", kTypeOgg},
    {"formats/voice.opus", kTypeOpus},
    {"formats/sound.oga", kTypeOga},
    {"formats/video.ogv", kTypeOgv},
    {"formats/sound.flac", kTypeFlac},
    {"formats/sound.aiff", kTypeAiff},
    {"formats/sound.aifc", kTypeAifc},
    {"formats/program.mpg", kTypeMpeg},
    {"formats/program.vob", kTypeMpeg},
    {"formats/tiny.gif", kTypeGif},
    {"formats/icon.png", kTypePng},
    {"formats/click.wav", kTypeWave},
    {"formats/scanner.tif", kTypeTiff},
    {"formats/layers.xcf", kTypeXcf},
    {"formats/camcorder.dv", kTypeDv},
};

struct Carved {
    Status status = -1;
    FileTypeCode type = kTypeNone;
    uint64_t size = 0;
    bool damaged = false;
};

Carved CarveAt(CarveSession& session, const test::SectorImage& image, uint64_t sector) {
    const SectorSource source = image.Source();
    Carved c;
    std::string name;
    c.status = CarveAtSector(session, kSector, source, image.Sector(sector), sector, 0,
                             image.SectorCount(), -1, 0, name, c.type, c.size);
    c.damaged = session.damaged;
    return c;
}

std::vector<std::byte> Random(std::mt19937& rng, size_t bytes) {
    std::vector<std::byte> v(bytes);
    for (auto& b : v) b = static_cast<std::byte>(rng());
    return v;
}

std::vector<std::byte> GifHeaderSector() {
    std::vector<std::byte> v(kSector);
    const std::string_view gif = "GIF89a";
    for (size_t i = 0; i < gif.size(); ++i) v[i] = static_cast<std::byte>(gif[i]);
    return v;
}

uint64_t SectorsOf(size_t bytes) {
    return (bytes + kSector - 1) / kSector;
}

class CarvingStructure : public ::testing::Test {
  protected:
    CarveSession session;
};

// Every sample twice: once between random sectors with random bytes in the slack of its last
// sector (where searching for a footer or the next header overshoots), once back to back with
// the next sample.
TEST_F(CarvingStructure, SamplesComeBackByteExactWhereverTheyLie) {
    std::mt19937 rng(21);
    test::SectorImage image(4);
    struct Placed {
        const Sample* sample;
        uint64_t sector;
        size_t bytes;
    };
    std::vector<Placed> placed;
    for (bool backToBack : {false, true}) {
        for (const Sample& s : kSamples) {
            const auto file = test::ReadWholeFile(test::TestDataPath(s.path));
            ASSERT_FALSE(file.empty()) << s.path;
            if (!backToBack) image.Put(image.SectorCount(), Random(rng, 2 * kSector));
            const uint64_t at = image.SectorCount();
            image.Put(at, file);
            if (!backToBack) {
                image.Put(at + SectorsOf(file.size()), Random(rng, kSector));
                const auto slack = Random(rng, SectorsOf(file.size()) * kSector - file.size());
                std::copy(
                    slack.begin(), slack.end(),
                    image.Bytes().begin() + static_cast<ptrdiff_t>(at * kSector + file.size()));
            }
            placed.push_back({&s, at, file.size()});
        }
    }
    image.Put(image.SectorCount(), Random(rng, 4 * kSector));
    for (const Placed& p : placed) {
        SCOPED_TRACE(std::string(p.sample->path) + " at " + std::to_string(p.sector));
        const Carved c = CarveAt(session, image, p.sector);
        ASSERT_EQ(c.status, kOk);
        EXPECT_EQ(c.type, p.sample->code);
        EXPECT_EQ(c.size, p.bytes);
        EXPECT_FALSE(c.damaged);
    }
}

// A copy cut short and followed by other data and then another file's header is recovered up
// to that header, as before, and marked damaged.
TEST_F(CarvingStructure, CutFilesFallBackToTheNextHeaderAndAreDamaged) {
    std::mt19937 rng(5);
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.path);
        const auto file = test::ReadWholeFile(test::TestDataPath(s.path));
        const size_t keep = std::max<size_t>(kSector + 100, file.size() * 3 / 5);
        if (keep >= file.size()) continue;
        test::SectorImage image(2);
        image.Put(1, std::span(file).first(keep));
        const uint64_t rest = image.SectorCount();
        image.Put(rest, Random(rng, 3 * kSector));
        const uint64_t next = image.SectorCount();
        image.Put(next, GifHeaderSector());
        image.Put(next + 1, Random(rng, 2 * kSector));
        // Random bytes in the cut file's last sector, too.
        auto bytes = image.Bytes();
        const auto tail = Random(rng, rest * kSector - (kSector + keep));
        std::copy(tail.begin(), tail.end(), bytes.begin() + static_cast<ptrdiff_t>(kSector + keep));

        const Carved c = CarveAt(session, image, 1);
        ASSERT_EQ(c.status, kOk);
        EXPECT_EQ(c.type, s.code);
        const std::string_view path = s.path;
        if (path == "carving/faststart.mp4" || path == "signatures/sample.mmf" ||
            path == "formats/phone.heic" || path == "formats/photo.avif" ||
            path == "formats/photo.webp" || path == "formats/lossless.webp" ||
            path == "formats/boxed.jxl" || path == "formats/bare.jxl" ||
            path == "formats/modular.jxl" ||
            path == "formats/photo.pgm") {
            // Cut inside data the structure steps over (media data after the movie box or the
            // picture's items, the one track chunk, a frame's sections), with no other file in
            // that stretch: nothing
            // shows the cut.
            EXPECT_EQ(c.size, file.size());
            continue;
        }
        if (s.code == kTypeMp3 || s.code == kTypeMpegAudioLayer2 || s.code == kTypeM2ts ||
            s.code == kTypeMpeg) {
            // A stream may end after any frame or packet: a cut one ends with the frame that
            // the cut falls in.
            EXPECT_LT(c.size, keep + 1500);
            EXPECT_GT(c.size, keep);
            continue;
        }
        EXPECT_TRUE(c.damaged);
        if (FamilyOf(s.code) == ContainerFamily::kOgg && c.size == file.size()) {
            // The cut falls in the last page, whose CRC fails: the end it gives stands.
            continue;
        }
        EXPECT_EQ(c.size, (next - 1) * kSector);
    }
}

// Damage that leaves the structure's lengths in place: the end stays exact, the file is marked.
// Damage that hides the end falls back to the table's rule.
TEST_F(CarvingStructure, DamageInsideAWholeFileMarksItButKeepsItsEnd) {
    struct Case {
        const char* path;
        std::string_view find;  // where to damage: first occurrence of these bytes
        size_t offset;          // from there
        std::byte value;
    };
    using namespace std::string_view_literals;
    const std::vector<Case> cases = {
        {"carving/chunks.png", "IDAT"sv, 40, std::byte{0x5A}},          // a failed chunk CRC
        {"carving/mixed.zip", "PK\x05\x06"sv, 10, std::byte{0x07}},     // entry count
        {"carving/mixed.zip", "PK\x05\x06"sv, 16, std::byte{0x01}},     // directory offset
        {"carving/member.ppm.gz", "\x1F\x8B"sv, 500, std::byte{0x00}},  // no end of its own
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.path) + " +" + std::to_string(k.offset));
        auto file = test::ReadWholeFile(test::TestDataPath(k.path));
        const auto hit = std::search(file.begin(), file.end(), k.find.begin(), k.find.end(),
                                     [](std::byte a, char b) { return a == std::byte(b); });
        ASSERT_NE(hit, file.end());
        const size_t at = static_cast<size_t>(hit - file.begin()) + k.offset;
        file[at] = file[at] == k.value ? ~k.value : k.value;
        test::SectorImage image(2);
        image.Put(1, file);
        const uint64_t next = image.SectorCount() + 2;
        image.Put(next, GifHeaderSector());
        const Carved c = CarveAt(session, image, 1);
        ASSERT_EQ(c.status, kOk);
        EXPECT_TRUE(c.damaged);
        // A deflate stream that no longer inflates, or not to what its trailer says, has no
        // end of its own.
        if (std::string_view(k.path).ends_with(".gz")) {
            EXPECT_EQ(c.size, (next - 1) * kSector);
        } else {
            EXPECT_EQ(c.size, file.size());
        }
    }

    // A JPEG whose scan is overwritten after its header: damaged, and ended by its marker.
    auto jpg = test::ReadWholeFile(test::TestDataPath("carving/baseline.jpg"));
    const auto sos =
        std::search(jpg.begin(), jpg.end(), std::begin("\xFF\xDA"), std::begin("\xFF\xDA") + 2,
                    [](std::byte a, char b) { return a == std::byte(b); });
    ASSERT_NE(sos, jpg.end());
    const size_t scan = static_cast<size_t>(sos - jpg.begin()) + 20;
    jpg[scan] = std::byte{0xFF};
    jpg[scan + 1] = std::byte{0x02};
    test::SectorImage image(2);
    image.Put(1, jpg);
    image.Put(image.SectorCount() + 2, GifHeaderSector());
    const Carved c = CarveAt(session, image, 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_TRUE(c.damaged);
    EXPECT_EQ(c.size, jpg.size());
}

// A PDF split in two on the disk, foreign sectors between its halves: the search runs across
// the gap to the last "%%EOF", but the cross-reference pointer no longer leads home.
TEST_F(CarvingStructure, APdfSplitByForeignSectorsIsDamaged) {
    std::mt19937 rng(9);
    const auto pdf = test::ReadWholeFile(test::TestDataPath("carving/document.pdf"));
    const size_t half = pdf.size() / 2 / kSector * kSector;
    test::SectorImage image(2);
    image.Put(1, std::span(pdf).first(half));
    image.Put(image.SectorCount(), Random(rng, 3 * kSector));
    const uint64_t second = image.SectorCount();
    image.Put(second, std::span(pdf).subspan(half));
    image.Put(image.SectorCount(), std::vector<std::byte>(2 * kSector));
    const Carved c = CarveAt(session, image, 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, (second - 1) * kSector + (pdf.size() - half));
    EXPECT_TRUE(c.damaged);
}

// A structure that jumps over the next file (a movie cut inside its media data, whose movie box
// came first) is not trusted: the file ends where the next begins, and the next is carved.
TEST_F(CarvingStructure, AFileCutInsideJumpedDataDoesNotSwallowTheNext) {
    const auto mp4 = test::ReadWholeFile(test::TestDataPath("carving/faststart.mp4"));
    const auto png = test::ReadWholeFile(test::TestDataPath("signatures/sample.png"));
    const size_t keep = mp4.size() - 700;
    test::SectorImage image(2);
    image.Put(1, std::span(mp4).first(keep));
    const uint64_t pngAt = image.SectorCount();
    image.Put(pngAt, png);
    image.Put(image.SectorCount(), std::vector<std::byte>(4 * kSector));
    Carved c = CarveAt(session, image, 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_TRUE(c.damaged);
    EXPECT_EQ(c.size, (pngAt - 1) * kSector);
    c = CarveAt(session, image, pngAt);
    EXPECT_EQ(c.size, png.size());
    EXPECT_FALSE(c.damaged);
}

// ---- XCF and DV written here: what the samples of the real tools do not show ----

class ByteWriter {
  public:
    // Big-endian, `bytes` wide; bytes above the eighth are zeros.
    void Be(uint64_t value, size_t bytes) {
        for (size_t i = bytes; i-- > 0;) out.push_back(ByteOf(value, i));
    }
    void Text(std::string_view text) {
        for (const char c : text) out.push_back(std::byte(c));
    }
    void SetBe(size_t at, uint64_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i)
            out[at + i] = ByteOf(value, bytes - 1 - i);
    }
    std::vector<std::byte> out;

  private:
    // Byte `index` of `value`, counted from the lowest; zero above the eighth.
    static std::byte ByteOf(uint64_t value, size_t index) {
        return index < sizeof value ? std::byte((value >> (8 * index)) & 0xFF) : std::byte{0};
    }
};

// An XCF laid out as GIMP lays it out: one RGB layer of 70x10 pixels (two tiles across) without
// a mask, no channel, the tiles of its level, then a dummy level (a size and a 32-bit zero),
// which is the file's last byte. Pointers are 64 bits from version 11 on.
std::vector<std::byte> MakeXcf(unsigned version, uint8_t compression) {
    constexpr uint64_t kWidth = 70, kHeight = 10, kBpp = 3;
    const size_t pointer = version >= 11 ? 8 : 4;
    ByteWriter w;
    w.Text("gimp xcf ");
    w.Text(version == 0 ? std::string("file") : "v" + std::string(version < 10 ? "00" : "0") +
                                                     std::to_string(version));
    w.Be(0, 1);
    w.Be(kWidth, 4);
    w.Be(kHeight, 4);
    w.Be(0, 4);
    if (version >= 4) w.Be(150, 4);
    w.Be(17, 4);  // compression
    w.Be(1, 4);
    w.Be(compression, 1);
    w.Be(0, 8);  // end of the properties
    const size_t layerPointer = w.out.size();
    w.Be(0, pointer);
    w.Be(0, pointer);  // end of the layers
    w.Be(0, pointer);  // no channel
    w.SetBe(layerPointer, w.out.size(), pointer);
    w.Be(kWidth, 4);
    w.Be(kHeight, 4);
    w.Be(0, 4);  // RGB
    w.Be(6, 4);
    w.Text(std::string_view("Layer\0", 6));
    w.Be(0, 8);
    const size_t hierarchyPointer = w.out.size();
    w.Be(0, pointer);
    w.Be(0, pointer);  // no mask
    w.SetBe(hierarchyPointer, w.out.size(), pointer);
    w.Be(kWidth, 4);
    w.Be(kHeight, 4);
    w.Be(kBpp, 4);
    const size_t levelPointers = w.out.size();
    w.Be(0, 3 * pointer);  // the level, the dummy, the end
    w.SetBe(levelPointers, w.out.size(), pointer);
    w.Be(kWidth, 4);
    w.Be(kHeight, 4);
    const size_t tilePointers = w.out.size();
    w.Be(0, 3 * pointer);
    for (const uint64_t columns : {uint64_t{64}, kWidth - 64}) {
        w.SetBe(tilePointers + (columns == 64 ? 0 : pointer), w.out.size(), pointer);
        const uint64_t pixels = columns * kHeight;
        std::vector<std::byte> plain(pixels * kBpp);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = std::byte((i * 7) % 251);
        if (compression == 0) {
            w.out.insert(w.out.end(), plain.begin(), plain.end());
        } else if (compression == 1) {
            // The first byte of each pixel as one long run, the others as runs of different
            // bytes of at most 127.
            w.Be(127, 1);
            w.Be(pixels, 2);
            w.Be(0x40, 1);
            for (uint64_t b = 1; b < kBpp; ++b) {
                for (uint64_t done = 0; done < pixels;) {
                    const uint64_t n = std::min<uint64_t>(127, pixels - done);
                    w.Be(256 - n, 1);
                    for (uint64_t k = 0; k < n; ++k) w.out.push_back(plain[(done + k) * kBpp + b]);
                    done += n;
                }
            }
        } else {
            uLongf size = compressBound(plain.size());
            std::vector<Bytef> packed(size);
            compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(plain.data()),
                      plain.size(), 6);
            for (uLongf i = 0; i < size; ++i) w.out.push_back(std::byte(packed[i]));
        }
    }
    w.SetBe(levelPointers + pointer, w.out.size(), pointer);
    w.Be(kWidth / 2, 4);
    w.Be(kHeight / 2, 4);
    w.Be(0, 4);
    return w.out;
}

// Every pointer width and tile coding ends at the dummy level's last byte. A tile whose runs
// overshoot its pixels, or a pointer past what lies on the disk, is damage: the file is marked
// and ends by the table's rule.
TEST_F(CarvingStructure, XcfEndsAtTheFurthestByteItsStructuresReach) {
    for (const unsigned version : {0U, 3U, 10U, 11U, 12U}) {
        for (const uint8_t compression : {0, 1, 2}) {
            SCOPED_TRACE("version " + std::to_string(version) + ", compression " +
                         std::to_string(compression));
            const auto xcf = MakeXcf(version, compression);
            test::SectorImage image(2);
            image.Put(1, xcf);
            const uint64_t next = image.SectorCount() + 2;
            image.Put(next, GifHeaderSector());
            Carved c = CarveAt(session, image, 1);
            ASSERT_EQ(c.status, kOk);
            EXPECT_EQ(c.type, kTypeXcf);
            EXPECT_EQ(c.size, xcf.size());
            EXPECT_FALSE(c.damaged);
            if (compression != 1) continue;

            auto overshoot = xcf;
            // The long run of the first tile's first stream: one pixel more than the tile has.
            const std::array<std::byte, 4> run{std::byte{127}, std::byte{2}, std::byte{128},
                                               std::byte{0x40}};
            const auto at = std::search(overshoot.begin(), overshoot.end(), run.begin(), run.end());
            ASSERT_NE(at, overshoot.end());
            *(at + 2) = std::byte{129};
            image.Put(1, overshoot);
            c = CarveAt(session, image, 1);
            EXPECT_TRUE(c.damaged);
            EXPECT_EQ(c.size, (next - 1) * kSector);
        }
    }
    // The file's last sector gone from the disk: the dummy level lies past the end.
    const auto xcf = MakeXcf(12, 1);
    test::SectorImage cut(SectorsOf(xcf.size()));
    cut.Put(1, std::span(xcf).first((SectorsOf(xcf.size()) - 1) * kSector));
    const Carved c = CarveAt(session, cut, 1);
    EXPECT_TRUE(c.damaged);
}

// DIF blocks as a DV camcorder writes them: `frames` frames of the 525/60 system (10 sequences)
// or the 625/50 one (12), each block's ID giving its section, sequence and number.
std::vector<std::byte> MakeDv(int frames, bool pal) {
    const int sequences = pal ? 12 : 10;
    std::vector<std::byte> out;
    for (int f = 0; f < frames; ++f) {
        for (int s = 0; s < sequences; ++s) {
            for (int block = 0; block < 150; ++block) {
                int section = 4, number = 0;
                if (block == 0) {
                    section = 0;
                } else if (block < 3) {
                    section = 1;
                    number = block - 1;
                } else if (block < 6) {
                    section = 2;
                    number = block - 3;
                } else if ((block - 6) % 16 == 0) {
                    section = 3;
                    number = (block - 6) / 16;
                } else {
                    number = (block - 6) / 16 * 15 + (block - 6) % 16 - 1;
                }
                std::array<std::byte, 80> b{};
                b.fill(std::byte(0x11 * (f + 1)));
                b[0] = std::byte(section << 5 | 0x10 | (f & 0x0F));
                b[1] = std::byte(s << 4 | 0x07);
                b[2] = std::byte(number);
                if (block == 0) b[3] = std::byte(pal ? 0xBF : 0x3F);
                out.insert(out.end(), b.begin(), b.end());
            }
        }
    }
    return out;
}

// Whole frames of either system, up to a frame of the other system or anything else. A frame
// whose later sequences are gone is damage: marked, and ended by the table's rule.
TEST_F(CarvingStructure, DvEndsAfterItsLastWholeFrame) {
    for (const bool pal : {false, true}) {
        SCOPED_TRACE(pal ? "625/50" : "525/60");
        const auto dv = MakeDv(3, pal);
        test::SectorImage image(2);
        image.Put(1, dv);
        image.Put(image.SectorCount(), MakeDv(1, !pal));
        const uint64_t next = image.SectorCount() + 2;
        image.Put(next, GifHeaderSector());
        Carved c = CarveAt(session, image, 1);
        ASSERT_EQ(c.status, kOk);
        EXPECT_EQ(c.type, kTypeDv);
        EXPECT_EQ(c.size, dv.size());
        EXPECT_FALSE(c.damaged);

        auto broken = dv;
        const size_t frame = broken.size() / 3;
        broken[frame + 5 * 150 * 80 + 1] = std::byte{0};  // sequence 5 of the second frame
        image.Put(1, broken);
        c = CarveAt(session, image, 1);
        EXPECT_TRUE(c.damaged);
        EXPECT_LT(c.size, next * kSector);
    }
}

}  // namespace
}  // namespace keltra
