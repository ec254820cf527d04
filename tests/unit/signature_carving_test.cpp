#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/signature_table.h"
#include "support/sector_image.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using namespace std::string_view_literals;
constexpr size_t kSector = 512;

std::vector<std::byte> Corpus(const std::string& name) {
    return test::ReadWholeFile(test::TestDataPath("signatures/" + name));
}

std::vector<std::byte> Bytes(std::string_view text) {
    std::vector<std::byte> v(text.size());
    std::memcpy(v.data(), text.data(), text.size());
    return v;
}

using Image = test::SectorImage;

struct Carved {
    Status status = -1;
    std::string name;
    FileTypeCode type = kTypeNone;
    uint64_t size = 0;
};

Carved CarveAt(CarveSession& session, const SectorSource& source, const Image& image,
               uint64_t sector) {
    Carved c;
    c.status = CarveAtSector(session, kSector, source, image.Sector(sector), sector, 0,
                             image.SectorCount(), -1, 0, c.name, c.type, c.size);
    return c;
}

// A header sector for a stop: a GIF signature then zeros.
std::vector<std::byte> GifHeaderSector() {
    auto v = Bytes("GIF89a");
    v.resize(kSector);
    return v;
}

uint64_t SectorsOf(size_t bytes) {
    return (bytes + kSector - 1) / kSector;
}

class SignatureCarving : public ::testing::Test {
  protected:
    CarveSession session;
};

TEST_F(SignatureCarving, TableRowsCodesAndCarvableExtensions) {
    const auto table = FileSignatureTable();
    ASSERT_EQ(table.size(), 86u + 46u);
    EXPECT_EQ(table.back().code, kTypeNone);
    EXPECT_EQ(table.back().recognise, nullptr);
    std::string carvable;
    for (size_t i = 0; i < table.size() - 1; ++i) {
        // The pictures and media, then the zip-based documents, PDF, gzip, 7z and zip; then
        // the newer formats, every one carved.
        const bool zipToZip = i >= 52 && i <= 74 && i != 69;  // mso07: never answered
        EXPECT_EQ(table[i].findEnd != nullptr, i < 37 || zipToZip || i >= 85)
            << table[i].extension;
        if (table[i].findEnd != nullptr && FirstRowWithCode(table[i].code) == &table[i]) {
            carvable += std::string(table[i].extension) + " ";
        }
    }
    EXPECT_EQ(carvable,
              "mpeg mp4 rmvb wmv swf avi flv 3gp mkv ts mts mxf mp3 mid ape wav mov mp2 mmf fla "
              "gif bmp jpg png psd tif ico docx xlsx pptx pdf gz 7z zip heic heif avif cr3 m4a m4v "
              "3g2 cr2 nef nrw arw sr2 srf orf rw2 rwl dng pef srw 3fr erf kdc dcr iiq mos mef raf "
              "x3f mrw crw webp jxl jp2 j2c ppm pgm pbm ogg opus oga ogv flac aiff aifc xcf dv ");
    EXPECT_EQ(table[59].extension, "xlsx");  // the second xlsx row, never reached
    EXPECT_EQ(FirstRowWithExtension("XLSX"), &table[56]);
}

// Every corpus file at a sector boundary with zeros after it, and a GIF header some sectors
// further on: the row's code, and the size its end rule gives.
TEST_F(SignatureCarving, CorpusFilesAreCarvedWithTheirCodeAndSize) {
    enum Rule { kExact, kNextHeader, kNotCarved };
    struct Case {
        const char* file;
        FileTypeCode code;
        Rule rule;
    };
    const std::vector<Case> cases = {
        {"jfif.jpg", kTypeJpeg, kExact},
        {"exif.jpg", kTypeJpeg, kExact},
        {"sample.png", kTypePng, kExact},
        {"sample.gif", kTypeGif, kExact},
        {"sample.bmp", kTypeBmp, kExact},
        {"sample.tif", kTypeTiff, kExact},
        {"sample.psd", kTypePhotoshop, kExact},
        {"sample.ico", kTypeIcon, kExact},
        {"sample.wav", kTypeWave, kExact},
        {"sample.mp3", kTypeMp3, kExact},
        {"sample.mid", kTypeMidi, kExact},
        {"sample.mp2", kTypeMpegAudioLayer2, kExact},
        {"sample.mmf", kTypeMmf, kExact},
        {"sample.wma", kTypeAsf, kExact},
        {"sample.avi", kTypeAvi, kExact},
        {"sample.mp4", kTypeMp4, kExact},
        {"signed.mp4", kTypeMp4, kExact},
        {"sample.mov", kTypeQuickTime, kExact},
        {"sample.3gp", kType3gp, kExact},
        {"sample.mkv", kTypeMatroska, kExact},
        {"sample.flv", kTypeFlv, kExact},
        {"sample.mpg", kTypeMpeg, kExact},
        {"sample.m1v", kTypeMpeg, kExact},
        {"sample.ts", kTypeTransportStream, kExact},
        {"sample.mts", kTypeM2ts, kExact},
        {"sample.mxf", kTypeMxf, kExact},
        {"sample.wmv", kTypeAsf, kExact},
        {"sample.swf", kTypeFlash, kExact},
        {"sample.rm", kTypeRealMedia, kNextHeader},
        {"sample.doc", kTypeFla, kExact},
        {"sample.xls", kTypeFla, kExact},
        {"sample.ppt", kTypeFla, kExact},
        {"sample.docx", kTypeWordOpenXml, kExact},
        {"sample.xlsx", kTypeExcelOpenXml, kExact},
        {"sample.pptx", kTypePowerPointOpenXml, kExact},
        {"sample.pdf", kTypePdf, kExact},
        {"sample.zip", kTypeZip, kExact},
        {"sample.gz", kTypeGzip, kExact},
        {"sample.7z", kType7z, kExact},
        {"sample.cab", kTypeNone, kNotCarved},
        {"sample.db", kTypeNone, kNotCarved},
        {"sample.ttf", kTypeNone, kNotCarved},
        {"sample.exe", kTypeNone, kNotCarved},
        {"sample.dll", kTypeNone, kNotCarved},
        {"sample.sys", kTypeNone, kNotCarved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = Corpus(c.file);
        ASSERT_FALSE(file.empty());
        constexpr uint64_t kStart = 3;
        const uint64_t stop = kStart + SectorsOf(file.size()) + 5;
        Image image(stop + 4);
        image.Put(kStart, file);
        image.Put(stop, GifHeaderSector());
        const SectorSource source = image.Source();
        const Carved got = CarveAt(session, source, image, kStart);
        if (c.rule == kNotCarved) {
            EXPECT_EQ(got.status, kErrInvalidParameter);
            continue;
        }
        ASSERT_EQ(got.status, kOk);
        EXPECT_EQ(got.type, c.code);
        EXPECT_EQ(got.name, "3." + std::string(FirstRowWithCode(c.code)->extension));
        switch (c.rule) {
            case kExact:
                EXPECT_EQ(got.size, file.size());
                break;
            case kNextHeader:
                EXPECT_EQ(got.size, (stop - kStart) * kSector);
                break;
            case kNotCarved:
                break;
        }
    }
}

// Each corpus file passes the content check under its own extension.
TEST_F(SignatureCarving, CorpusFilesPassTheContentCheckOfTheirExtension) {
    const std::map<std::string, std::string> files = {
        {"jfif.jpg", "jpg"},
        {"exif.jpg", "jpeg"},
        {"signed.mp4", "mp4"},
        {"sample.m1v", "mpg"},
    };
    for (const auto& entry :
         std::filesystem::directory_iterator(test::TestDataPath("signatures"))) {
        const std::string name = entry.path().filename().string();
        if (name == "make_corpus.sh") continue;
        SCOPED_TRACE(name);
        std::string ext = files.count(name) ? files.at(name) : name.substr(name.find('.') + 1);
        const auto file = Corpus(name);
        Image image(2);
        image.Put(1, file);
        const SectorSource source = image.Source();
        const auto first = std::span(file).first(std::min(file.size(), kSector));
        EXPECT_EQ(CheckFileContent(first, ext, source, kSector, 1), 1);
        EXPECT_EQ(CheckFileContent(first, "txt", source, kSector, 1), 1);
    }
}

TEST_F(SignatureCarving, ContentCheckClassifiesOfficeFiles) {
    struct Case {
        const char* file;
        const char* wrongExtension;
        FileTypeCode code;
    };
    for (const Case& c :
         {Case{"sample.doc", "xls", kTypeWord}, Case{"sample.xls", "doc", kTypeExcel},
          Case{"sample.ppt", "doc", kTypePowerPoint}, Case{"sample.docx", "xlsx", kTypeWordOpenXml},
          Case{"sample.xlsx", "docx", kTypeExcelOpenXml},
          Case{"sample.pptx", "docx", kTypePowerPointOpenXml}}) {
        SCOPED_TRACE(c.file);
        const auto file = Corpus(c.file);
        Image image(1);
        image.Put(1, file);
        const SectorSource source = image.Source();
        const auto first = std::span(file).first(kSector);
        const std::string ext = std::string(c.file).substr(7);
        EXPECT_EQ(CheckFileContent(first, ext, source, kSector, 1), 1);
        std::string upper = ext;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_EQ(CheckFileContent(first, upper, source, kSector, 1), 1);
        EXPECT_EQ(CheckFileContent(first, c.wrongExtension, source, kSector, 1), 0);
        EXPECT_EQ(CheckFileContent(first, "mso07", source, kSector, 1), 0);
        const bool isZip = c.code == kTypeWordOpenXml || c.code == kTypeExcelOpenXml ||
                           c.code == kTypePowerPointOpenXml;
        if (isZip) {
            EXPECT_EQ(CheckFileContent(first, "zip", source, kSector, 1), 1);
        }
        // The recogniser reads the directory of a compound file from the disk after the header.
        session.source = &source;
        session.currentSector = 1;
        EXPECT_EQ(FirstRowWithExtension(ext)->recognise(session, first), c.code);
    }
    // A plain zip is no open-XML document; unreadable compound files are "other".
    const auto zip = Corpus("sample.zip");
    Image image(1);
    image.Put(1, zip);
    const SectorSource source = image.Source();
    EXPECT_EQ(CheckFileContent(zip, "docx", source, kSector, 1), 0);
    EXPECT_EQ(CheckFileContent(zip, "zip", source, kSector, 1), 1);
    const auto docFile = Corpus("sample.doc");
    const auto doc = std::span(docFile).first(kSector);
    Image lone(1);
    lone.Put(0, doc);
    const SectorSource loneSource = lone.Source();
    EXPECT_EQ(CheckFileContent(doc, "ole", loneSource, kSector, 0), 1);
    EXPECT_EQ(CheckFileContent(doc, "doc", loneSource, kSector, 0), 0);
}

// The dispatch on first bytes gives what a walk of the whole table gives.
TEST_F(SignatureCarving, DispatchAgreesWithATableWalk) {
    auto walk = [&](std::span<const std::byte> b, FileTypeCode ignored, bool stopScan) {
        for (const SignatureRow& row : FileSignatureTable()) {
            if (row.recognise == nullptr) break;
            const FileTypeCode code = row.recognise(session, b);
            if (code != kTypeNone && code != ignored) {
                return stopScan ? kTypeFla : code;
            }
        }
        return kTypeNone;
    };
    std::vector<std::vector<std::byte>> sectors;
    for (const auto& entry :
         std::filesystem::directory_iterator(test::TestDataPath("signatures"))) {
        auto file = test::ReadWholeFile(entry.path().string());
        file.resize(std::max(file.size(), kSector * 40));
        for (size_t s = 0; s < 40; ++s) {
            sectors.emplace_back(file.begin() + s * kSector, file.begin() + (s + 1) * kSector);
        }
    }
    std::mt19937 rng(7);
    const size_t corpusSectors = sectors.size();
    for (size_t i = 0; i < corpusSectors; ++i) {  // near misses: one byte of the start changed
        for (int k = 0; k < 4; ++k) {
            auto v = sectors[i];
            v[rng() % 24] = static_cast<std::byte>(rng());
            sectors.push_back(std::move(v));
        }
    }
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::byte> v(kSector);
        for (auto& b : v) b = static_cast<std::byte>(rng());
        sectors.push_back(std::move(v));
    }
    Image image(1);
    for (const auto& s : sectors) image.Put(image.SectorCount(), s);
    const SectorSource source = image.Source();
    CarveSession& ctx = session;
    ctx.source = &source;
    ctx.sectorSize = kSector;
    int answered = 0;
    for (size_t i = 0; i < sectors.size(); ++i) {
        ctx.currentSector = i + 1;
        for (int flag : {0, 1}) {
            ctx.transportStreamFlag = flag;
            ctx.m2tsFlag = flag;
            const FileTypeCode expected = walk(sectors[i], kTypeNone, false);
            const Recognition got = RecogniseSector(session, sectors[i]);
            ASSERT_EQ(got.code, expected) << "sector " << i;
            if (expected != kTypeNone) {
                ++answered;
                EXPECT_EQ(got.row->recognise(session, sectors[i]), expected);
            }
            for (FileTypeCode ignored : {kTypeNone, kTypeMpeg, kTypeMpegAudioLayer2}) {
                ASSERT_EQ(AnyRecogniserAnswers(session, sectors[i], ignored),
                          walk(sectors[i], ignored, true) != kTypeNone)
                    << "sector " << i;
            }
        }
    }
    EXPECT_GT(answered, 80);
}

TEST_F(SignatureCarving, AFileEndsWhereTheNextBegins) {
    const auto rm = Corpus("sample.rm");
    const auto jpg = Corpus("jfif.jpg");
    const auto png = Corpus("sample.png");
    Image image(40);
    image.Put(2, rm);
    const uint64_t jpgAt = 2 + SectorsOf(rm.size());
    image.Put(jpgAt, jpg);
    image.Put(jpgAt + 1, png);
    const SectorSource source = image.Source();
    Carved c = CarveAt(session, source, image, 2);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, (jpgAt - 2) * kSector);
    c = CarveAt(session, source, image, jpgAt);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, jpg.size());
    c = CarveAt(session, source, image, jpgAt + 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, png.size());
}

TEST_F(SignatureCarving, VolumeMetadataInsideAVideoEndsIt) {
    for (const char* name : {"sample.rm", "sample.mpg", "sample.mts", "sample.ts"}) {
        SCOPED_TRACE(name);
        session.transportStreams.clear();
        const auto file = Corpus(name);
        Image image(SectorsOf(file.size()) + 10);
        image.Put(1, file);
        image.Put(4, Bytes("FILE0\x00\x03\x00"sv));
        const SectorSource source = image.Source();
        const Carved c = CarveAt(session, source, image, 1);
        ASSERT_EQ(c.status, kOk);
        EXPECT_EQ(c.size, 3 * kSector);
    }
    std::vector<std::byte> s(kSector);
    for (std::string_view text : {"FILE"sv, "INDX"sv, "$\0S\0T\0A\0"sv}) {
        std::fill(s.begin(), s.end(), std::byte{0});
        std::memcpy(s.data(), text.data(), text.size());
        EXPECT_TRUE(IsVolumeMetadataSector(s)) << text;
    }
    std::fill(s.begin(), s.end(), std::byte{0});
    std::memcpy(s.data(), "RSTR", 4);
    EXPECT_FALSE(IsVolumeMetadataSector(s));
    std::memcpy(s.data() + 301, "N\0T\0F\0S\0", 8);
    EXPECT_TRUE(IsVolumeMetadataSector(s));
    for (std::string_view oem :
         {"MSDOS5.0"sv, "MSWIN4.1"sv, "NTFS    "sv, "EXFAT   "sv, "mkfs.fat"sv}) {
        std::fill(s.begin(), s.end(), std::byte{0});
        std::memcpy(s.data(), "\xEB\x58\x90", 3);
        std::memcpy(s.data() + 3, oem.data(), 8);
        EXPECT_EQ(IsVolumeMetadataSector(s), oem != "mkfs.fat") << oem;
    }
    EXPECT_FALSE(IsVolumeMetadataSector(std::span(s).first(31)));

    // A FAT directory sector: one file entry, then zeros.
    std::fill(s.begin(), s.end(), std::byte{0});
    std::memcpy(s.data(), "README  TXT\x20", 12);
    for (size_t at : {14u, 22u}) {  // creation and modification: 12:00:00 on 1 January 2020
        std::memcpy(s.data() + at, "\x00\x60\x21\x50", 4);
    }
    std::memcpy(s.data() + 18, "\x21\x50", 2);
    s[26] = std::byte{5};
    s[28] = std::byte{100};
    EXPECT_TRUE(IsVolumeMetadataSector(s));
    s[0] = std::byte{0x01};
    EXPECT_FALSE(IsVolumeMetadataSector(s));
}

// A transport stream is carved once: its later sectors that begin with aligned packets do not
// start new streams, whether the sector before shows the packets or the stream's range does.
TEST_F(SignatureCarving, TransportStreamIsCarvedOnce) {
    const auto ts = Corpus("sample.ts");
    const uint64_t sectors = SectorsOf(ts.size());
    ASSERT_GT(sectors, 48u);
    Image image(sectors + 8);
    image.Put(1, ts);
    const SectorSource source = image.Source();
    int streams = 0;
    for (uint64_t s = 0; s < image.SectorCount(); ++s) {
        const Carved c = CarveAt(session, source, image, s);
        if (c.status == kOk) {
            EXPECT_EQ(c.type, kTypeTransportStream);
            EXPECT_EQ(c.size, ts.size());
            ++streams;
        }
    }
    EXPECT_EQ(streams, 1);
    ASSERT_EQ(session.transportStreams.size(), 1u);
    EXPECT_EQ(session.transportStreams[0].firstSector, 1u);
    EXPECT_EQ(session.transportStreams[0].lastSector, sectors);

    // Sector 48 starts a packet (47 sectors are 128 packets). The sector before it shows
    // packets; alone, only the range keeps it from being a new stream.
    Image cut(sectors + 8);
    cut.Put(48, std::span(ts).subspan(47 * kSector));
    const SectorSource cutSource = cut.Source();
    EXPECT_EQ(CarveAt(session, cutSource, cut, 48).status, kErrInvalidParameter);
    // A second carver at work in the same process (another source) has streams of its own.
    CarveSession otherCarver;
    EXPECT_EQ(CarveAt(otherCarver, cutSource, cut, 48).status, kOk);
    EXPECT_EQ(CarveAt(session, cutSource, cut, 48).status, kErrInvalidParameter);
    session.transportStreams.clear();
    EXPECT_EQ(CarveAt(session, cutSource, cut, 48).status, kOk);
}

TEST_F(SignatureCarving, EndRuleEdgeCases) {
    // A JPEG that ends inside its header sector is sized without reading the disk.
    const auto jpg = Corpus("jfif.jpg");
    ASSERT_LT(jpg.size(), kSector);
    Image image(4);
    image.Put(1, jpg);
    image.Put(2, Bytes("\xFF\xD9"sv));
    const SectorSource failing = image.Source(2 * kSector);
    EXPECT_EQ(CarveAt(session, failing, image, 1).size, jpg.size());

    // An Exif JPEG whose thumbnail ends after the header sector: its end marker, followed by
    // more of the file, is passed over for the image's own end in the same chunk.
    const auto exif = Corpus("exif.jpg");
    std::vector<std::byte> photo(exif.begin(), exif.begin() + 20);
    photo.resize(700, std::byte{0x11});
    for (const auto b : Bytes("\xFF\xD9"sv)) photo.push_back(b);
    photo.resize(1500, std::byte{0x22});
    for (const auto b : Bytes("\xFF\xD9"sv)) photo.push_back(b);
    Image photoImage(300);
    photoImage.Put(1, photo);
    const SectorSource photoSource = photoImage.Source();
    EXPECT_EQ(CarveAt(session, photoSource, photoImage, 1).size, photo.size());

    // Nothing carvable: the outputs stay as they were.
    Carved untouched{-1, "keep", kTypeGif, 7};
    untouched.status = CarveAtSector(session, kSector, photoSource, photoImage.Sector(0), 0, 0, 300,
                                     -1, 0, untouched.name, untouched.type, untouched.size);
    EXPECT_EQ(untouched.status, kErrInvalidParameter);
    EXPECT_EQ(untouched.name, "keep");
    EXPECT_EQ(untouched.type, kTypeGif);
    EXPECT_EQ(untouched.size, 7u);

    // A GIF whose first 00 3B is followed by other bytes goes on to the next one.
    auto gif = Corpus("sample.gif");
    std::vector<std::byte> longGif(gif.begin(), gif.end() - 1);
    longGif.resize(kSector + 10, std::byte{0x41});
    longGif.push_back(std::byte{0x00});
    longGif.push_back(std::byte{0x3B});
    Image gifImage(6);
    gifImage.Put(1, longGif);
    const SectorSource gifSource = gifImage.Source();
    EXPECT_EQ(CarveAt(session, gifSource, gifImage, 1).size, longGif.size());

    // BMP size 0 carves as 0 bytes; FWS of version 6 is not Flash.
    auto bmp = Corpus("sample.bmp");
    std::fill(bmp.begin() + 2, bmp.begin() + 6, std::byte{0});
    Image bmpImage(4);
    bmpImage.Put(1, bmp);
    const SectorSource bmpSource = bmpImage.Source();
    const Carved zero = CarveAt(session, bmpSource, bmpImage, 1);
    EXPECT_EQ(zero.status, kOk);
    EXPECT_EQ(zero.size, 0u);
    auto swf = Corpus("sample.swf");
    swf[3] = std::byte{6};
    EXPECT_EQ(RecogniseSector(session, swf).code, kTypeNone);

    // A generic file that runs to the last sector of the source is carved to that sector.
    const auto flv = Corpus("sample.rm");
    Image tail(1);
    tail.Put(1, flv);
    const SectorSource tailSource = tail.Source();
    EXPECT_EQ(CarveAt(session, tailSource, tail, 1).size, SectorsOf(flv.size()) * kSector);

    // A read fault after the header ends the search at what was read.
    Image faulty(300);
    faulty.Put(1, flv);
    const SectorSource faultySource = faulty.Source(200 * kSector);
    EXPECT_EQ(CarveAt(session, faultySource, faulty, 1).size, 199 * kSector);
}

TEST_F(SignatureCarving, MonkeysAudioEndsWithItsTagFooter) {
    // No Debian tool writes Monkey's Audio, so the file is put together here: header, frames,
    // an APEv2 tag (32-byte header, one item, 32-byte footer).
    std::vector<std::byte> ape = Bytes("MAC \x96\x0F"sv);
    ape.resize(3000, std::byte{0x55});
    auto tagPart = [](std::string_view flags) {
        auto v = Bytes("APETAGEX\xD0\x07\x00\x00"sv);
        v.resize(32, std::byte{0});
        std::memcpy(v.data() + 20, flags.data(), flags.size());
        return v;
    };
    const auto head = tagPart("\x00\x00\x00\xA0"sv);
    const auto foot = tagPart("\x00\x00\x00\x80"sv);
    ape.insert(ape.end(), head.begin(), head.end());
    const auto item = Bytes("\x05\x00\x00\x00\x00\x00\x00\x00Title\x00Hello"sv);
    ape.insert(ape.end(), item.begin(), item.end());
    ape.insert(ape.end(), foot.begin(), foot.end());
    Image image(20);
    image.Put(1, ape);
    const SectorSource source = image.Source();
    const Carved c = CarveAt(session, source, image, 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.type, kTypeMonkeysAudio);
    EXPECT_EQ(c.size, ape.size());
}

TEST_F(SignatureCarving, MidiTrackWalkCrossesSectors) {
    // Two tracks; the second tag lies across the end of the header sector.
    std::vector<std::byte> mid = Bytes("MThd\x00\x00\x00\x06\x00\x01\x00\x02\x00\x60"sv);
    auto track = [&](size_t length) {
        const auto tag = Bytes("MTrk");
        mid.insert(mid.end(), tag.begin(), tag.end());
        for (int shift : {24, 16, 8, 0}) mid.push_back(static_cast<std::byte>(length >> shift));
        mid.resize(mid.size() + length, std::byte{0x90});
    };
    track(kSector - 14 - 8 - 3);
    track(700);
    Image image(10);
    image.Put(1, mid);
    const SectorSource source = image.Source();
    const Carved c = CarveAt(session, source, image, 1);
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, mid.size());
}

TEST_F(SignatureCarving, AsfBroadcastAndSizeLimits) {
    auto wmv = Corpus("sample.wmv");
    const auto properties = std::search(wmv.begin(), wmv.end(), std::begin("\xA1\xDC\xAB\x8C"),
                                        std::begin("\xA1\xDC\xAB\x8C") + 4,
                                        [](std::byte a, char b) { return a == std::byte(b); });
    ASSERT_NE(properties, wmv.end());
    properties[88] |= std::byte{1};
    Image image(30);
    image.Put(1, wmv);
    const SectorSource source = image.Source();
    EXPECT_EQ(CarveAt(session, source, image, 1).size, kSector);
}

int CancelAll(void*, int, int, int, uint64_t, uint64_t, uint64_t, int) {
    return kCancelled.value();
}
int StopQuietly(void*, int, int, int, uint64_t, uint64_t, uint64_t, int) {
    return 1;
}

TEST_F(SignatureCarving, ProgressCallbackCancelsOrCutsTheSearch) {
    const auto flv = Corpus("sample.flv");
    Image image(400);
    image.Put(1, flv);
    const SectorSource source = image.Source();
    session.progress = CancelAll;
    Carved c = CarveAt(session, source, image, 1);
    EXPECT_EQ(c.status, kCancelled);
    session.progress = StopQuietly;
    c = CarveAt(session, source, image, 1);
    EXPECT_EQ(c.status, kOk);
    EXPECT_EQ(c.size, kSector);
    // No total sectors: no division by zero.
    std::string name;
    FileTypeCode type{};
    uint64_t size = 0;
    session.progress = CancelAll;
    EXPECT_EQ(
        CarveAtSector(session, kSector, source, image.Sector(1), 1, 0, 0, -1, 0, name, type, size),
        kCancelled);
    EXPECT_EQ(
        CarveAtSector(session, 100, source, image.Sector(1), 1, 0, 0, -1, 0, name, type, size),
        kErrInvalidParameter);
}

}  // namespace
}  // namespace keltra
