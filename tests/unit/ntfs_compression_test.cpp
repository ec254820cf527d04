// NTFS compressed and encrypted data: the LZNT1 decoder on hand-made chunks, the compression
// units of the copy routine on a made-up volume in memory, and the quick and deep NTFS engines
// on a volume whose compressed folder ntfs-3g filled, checked against The Sleuth Kit's
// tsk_recover and the files' own sha256.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engines/ntfs/quick_ntfs_scan.h"
#include "engines/ntfs/lznt1.h"
#include "engines/ntfs/ntfs_data_copy.h"
#include "engines/ntfs/deep_ntfs_search.h"
#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/ntfs_record_pass.h"
#include "support/test_support.h"
#include "tests/unit/fat_test_support.h"

namespace keltra {
namespace {

using namespace ntfs;

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

// A compressed chunk: "abc", then one back-reference of `length` bytes 3 back.
std::vector<std::byte> AbcChunk(size_t length) {
    const uint16_t token = static_cast<uint16_t>((2 << 12) | (length - 3));
    auto chunk = Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', token & 0xFF, token >> 8});
    return chunk;
}

std::string Decoded(std::span<const std::byte> out, size_t length) {
    return std::string(reinterpret_cast<const char*>(out.data()), length);
}

TEST(Lznt1, DecodesLiteralsBackReferencesAndStoredChunks) {
    // A reference overlapping the bytes it writes.
    std::vector<std::byte> out(8192, std::byte{0x55});
    auto r = DecompressLznt1(AbcChunk(9), out);
    EXPECT_FALSE(r.corrupt);
    EXPECT_EQ(r.written, 12u);
    EXPECT_EQ(Decoded(out, 12), "abcabcabcabc");
    EXPECT_EQ(out[12], std::byte{0}) << "the rest of the output is zeros";

    // The second chunk begins at the next 4,096 bytes; a stored chunk is copied as it is.
    std::vector<std::byte> in = AbcChunk(4);
    std::vector<std::byte> stored(4096);
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<std::byte>(i * 7);
    in.push_back(std::byte{0xFF});
    in.push_back(std::byte{0x3F});
    in.insert(in.end(), stored.begin(), stored.end());
    in.push_back(std::byte{0});
    in.push_back(std::byte{0});
    in.insert(in.end(), {std::byte{0x05}, std::byte{0xB0}});  // after the end mark: not read
    r = DecompressLznt1(in, out);
    EXPECT_FALSE(r.corrupt);
    EXPECT_EQ(r.written, 8192u);
    EXPECT_EQ(Decoded(out, 8), std::string("abcabca\0", 8));
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), out.begin() + 4096));

    // Past 16 bytes into a chunk the offset takes one more bit: 20 literals, then 5 bytes
    // from 20 back.
    std::vector<std::byte> far = Bytes({0x00, 0xB0, 0x00});
    const std::string letters = "ABCDEFGHIJKLMNOPQRST";
    for (size_t i = 0; i < 8; ++i) far.push_back(static_cast<std::byte>(letters[i]));
    far.push_back(std::byte{0x00});
    for (size_t i = 8; i < 16; ++i) far.push_back(static_cast<std::byte>(letters[i]));
    far.push_back(std::byte{0x10});
    for (size_t i = 16; i < 20; ++i) far.push_back(static_cast<std::byte>(letters[i]));
    const uint16_t token = static_cast<uint16_t>((19 << 11) | 2);
    far.push_back(static_cast<std::byte>(token & 0xFF));
    far.push_back(static_cast<std::byte>(token >> 8));
    far[0] = static_cast<std::byte>(far.size() - 3);
    r = DecompressLznt1(far, out);
    EXPECT_FALSE(r.corrupt);
    EXPECT_EQ(Decoded(out, r.written), letters + "ABCDE");
}

TEST(Lznt1, CorruptChunksStopWithinTheSpans) {
    std::vector<std::byte> out(4096);
    // A reference before the chunk's start.
    auto r = DecompressLznt1(Bytes({0x03, 0xB0, 0x02, 'x', 0x00, 0x70}), out);
    EXPECT_TRUE(r.corrupt);
    EXPECT_EQ(Decoded(out, r.written), "x") << "what came before the fault stays";
    // A chunk longer than the input, and a reference cut off by the input's end.
    EXPECT_TRUE(DecompressLznt1(Bytes({0x40, 0xB0, 0x00, 'x'}), out).corrupt);
    EXPECT_TRUE(DecompressLznt1(Bytes({0x02, 0xB0, 0x02, 'x', 0x00}), out).corrupt);
    // More data than a chunk holds: 4,096 bytes, then one more literal.
    std::vector<std::byte> longChunk = AbcChunk(4093);
    longChunk.push_back(std::byte{0x00});
    longChunk.push_back(std::byte{'z'});
    longChunk[0] = static_cast<std::byte>(longChunk.size() - 3);
    r = DecompressLznt1(longChunk, out);
    EXPECT_TRUE(r.corrupt);
    EXPECT_EQ(r.written, 4096u);
    // An output shorter than the data: filled, never passed.
    std::vector<std::byte> small(5);
    r = DecompressLznt1(AbcChunk(9), small);
    EXPECT_TRUE(r.corrupt);
    EXPECT_EQ(Decoded(small, 5), "abcab");
    EXPECT_EQ(DecompressLznt1({}, small).written, 0u);
    EXPECT_EQ(DecompressLznt1(AbcChunk(9), {}).written, 0u);
}

// A compressed stream of 512-byte clusters in units of 16 (8 KiB): a sparse unit, a stored one,
// a compressed one, a corrupt one, and a last unit of three stored clusters.
TEST(NtfsDataCopy, CompressionUnitsAreDecompressedInOrder) {
    constexpr size_t kCluster = 512;
    std::vector<std::byte> disk(100 * kCluster);
    for (size_t i = 0; i < 16 * kCluster; ++i) disk[10 * kCluster + i] = std::byte(i * 13 + 1);
    const auto abc = AbcChunk(4093);
    std::copy(abc.begin(), abc.end(), disk.begin() + 40 * kCluster);
    const auto corrupt = Bytes({0x00, 0xB8, 0x00, 'q'});
    std::copy(corrupt.begin(), corrupt.end(), disk.begin() + 50 * kCluster);
    for (size_t i = 0; i < 3 * kCluster; ++i) disk[60 * kCluster + i] = std::byte(i * 5 + 3);

    SectorSource source;
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(disk), disk.size() / 512);
    Geometry g;
    g.sectorCount = disk.size() / 512;
    StreamLayout stream;
    stream.compressionUnit = 4;
    stream.runs = {{0, 16, true},  {10, 16, false}, {40, 1, false}, {0, 15, true},
                   {50, 1, false}, {0, 15, true},   {60, 3, false}};
    stream.realSize = 4 * 8192 + 3 * kCluster - 100;
    stream.initializedSize = stream.realSize;

    std::vector<std::byte> want(8192);
    want.insert(want.end(), disk.begin() + 10 * kCluster, disk.begin() + 26 * kCluster);
    std::vector<std::byte> unit(8192);
    for (size_t i = 0; i < 4096; ++i) unit[i] = static_cast<std::byte>("abc"[i % 3]);
    want.insert(want.end(), unit.begin(), unit.end());
    want.insert(want.end(), 8192, std::byte{0});
    want.insert(want.end(), disk.begin() + 60 * kCluster, disk.begin() + 63 * kCluster - 100);

    std::vector<std::byte> got;
    const auto collect = [&got](std::span<const std::byte> piece) {
        EXPECT_LE(piece.size(), kCopyPieceBytes);
        got.insert(got.end(), piece.begin(), piece.end());
        return kOk;
    };
    EXPECT_EQ(ReadStreamData(source, g, stream, stream.realSize, collect), kErrFileCorrupt)
        << "all is given, then the corrupt unit is told";
    EXPECT_TRUE(got == want);

    // Asked for less: the data stops there. Bytes past the initialized size are zeros.
    got.clear();
    EXPECT_EQ(ReadStreamData(source, g, stream, 9000, collect), kOk);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()));
    EXPECT_EQ(got.size(), 9000u);
    got.clear();
    stream.initializedSize = 8192 + 100;
    EXPECT_EQ(ReadStreamData(source, g, stream, 3 * 8192, collect), kOk);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 8292, want.begin()));
    EXPECT_TRUE(
        std::all_of(got.begin() + 8292, got.end(), [](std::byte b) { return b == std::byte{0}; }));

    // A unit size no volume has is damage: the clusters are given as they lie.
    got.clear();
    stream.compressionUnit = 31;
    stream.initializedSize = stream.realSize;
    EXPECT_EQ(ReadStreamData(source, g, stream, 16 * 8192, collect), kOk);
    EXPECT_TRUE(std::equal(got.begin() + 16 * kCluster, got.begin() + 32 * kCluster,
                           disk.begin() + 10 * kCluster));
}

struct ManifestLine {
    std::string sha;
    uint64_t size;
    std::string path;
};

std::vector<ManifestLine> Manifest() {
    std::ifstream in(test::FixturePath("ntfs_compressed.manifest"));
    std::vector<ManifestLine> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ManifestLine m;
        fields >> m.sha >> m.size;
        std::getline(fields >> std::ws, m.path);
        out.push_back(m);
    }
    return out;
}

// Files of the manifest that `engine` lists under their path, with their size, and copies
// byte-exact.
int ExactCopies(FoundFiles& engine, const test::ScratchDir& out, const std::string& tag) {
    const auto tree = test::ListTree(engine);
    int exact = 0;
    for (const ManifestLine& m : Manifest()) {
        const auto it = tree.find(m.path);
        if (it == tree.end()) {
            ADD_FAILURE() << tag << ": " << m.path << " not listed";
            continue;
        }
        EXPECT_EQ(it->second.record.size, m.size) << tag << ": " << m.path;
        EXPECT_EQ(it->second.record.contentIntact, 1u) << tag << ": " << m.path;
        EXPECT_EQ(engine.DataForm(it->second.record), kDataCompressed) << tag << ": " << m.path;
        const std::string target = out / (tag + "/" + m.path);
        EXPECT_EQ(engine.RecoverRecord(it->second.record, target, 0), kOk) << tag << m.path;
        if (test::Sha256OfFile(target) == m.sha) ++exact;
    }
    return exact;
}

TEST(NtfsCompressedVolume, QuickAndDeepCopyWhatTskRecoverCopies) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    const std::string image = test::FixturePath("ntfs_compressed.img");
    const auto manifest = Manifest();
    ASSERT_EQ(manifest.size(), 7u);

    const std::string tsk = scratch / "tsk";
    ASSERT_EQ(std::system(("tsk_recover '" + image + "' '" + tsk + "' >/dev/null").c_str()), 0);
    int tskExact = 0;
    for (const ManifestLine& m : manifest) {
        if (std::filesystem::exists(tsk + "/" + m.path) &&
            test::Sha256OfFile(tsk + "/" + m.path) == m.sha) {
            ++tskExact;
        }
    }

    QuickNtfsScan quick;
    ASSERT_EQ(quick.Open(SourceRef::Image(image, 1)), kOk);
    quick.SetLogFolder(scratch / "quick");
    ASSERT_EQ(quick.Scan(std::nullopt), kOk);
    const int quickExact = ExactCopies(quick, scratch, "quick");

    DeepNtfsSearch deep;
    ASSERT_EQ(deep.Open(SourceRef::Image(image, 1)), kOk);
    deep.SetLogFolder(scratch / "deep");
    ASSERT_EQ(deep.OpenLog(std::nullopt), kOk);
    SectorSource pass;
    ASSERT_EQ(OpenImageSource(pass, image), kOk);
    test::RunNtfsRecordPass(deep, pass, 0, pass.totalSectors);
    const int deepExact = ExactCopies(deep, scratch, "deep");

    std::printf(
        "compressed NTFS: byte-exact copies of %zu deleted files: tsk_recover %d, "
        "quick %d, deep %d\n",
        manifest.size(), tskExact, quickExact, deepExact);
    EXPECT_EQ(quickExact, static_cast<int>(manifest.size()));
    EXPECT_EQ(deepExact, static_cast<int>(manifest.size()));
    EXPECT_GE(quickExact, tskExact);

    // A preview is decompressed too.
    const auto tree = test::ListTree(quick);
    std::vector<std::byte> buffer(64);
    std::string temp;
    uint32_t size = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(quick.ReadRecordData(tree.at("Packed/notes.txt").record, temp, buffer, size, nullptr,
                                   nullptr),
              kOk);
    EXPECT_EQ(Decoded(buffer, 7), "000000 ");
}

// The $DATA attribute of the record `number` of an NTFS image in `bytes`: its offset.
size_t DataAttributeOffset(std::span<const std::byte> bytes, uint32_t number) {
    const uint64_t clusterBytes = uint64_t{Le16(bytes, 11)} * Byte(bytes, 13);
    const uint64_t record = Le64(bytes, 48) * clusterBytes + uint64_t{number} * 1024;
    size_t at = record + Le16(bytes, record + 20);
    while (Le32(bytes, at) != 0x80) at += Le32(bytes, at + 4);
    return at;
}

// ntfs-3g cannot encrypt: an encrypted file is made by marking random.bin's $DATA encrypted
// instead of compressed. Its copy is then its clusters as they lie.
TEST(NtfsCompressedVolume, EncryptedFilesAreCopiedRawAndMarked) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    auto bytes = test::ReadWholeFile(test::FixturePath("ntfs_compressed.img"));
    const std::string fls =
        test::RunCommand("fls -rd '" + test::FixturePath("ntfs_compressed.img") + "'");
    const size_t name = fls.find(":\tPacked/random.bin");
    ASSERT_NE(name, std::string::npos);
    const uint32_t number = static_cast<uint32_t>(std::stoul(fls.substr(fls.rfind(' ', name) + 1)));
    const size_t data = DataAttributeOffset(bytes, number);
    bytes[data + 12] = std::byte{0x00};
    bytes[data + 13] = std::byte{0x40};
    const std::string image = scratch / "encrypted.img";
    test::WriteWholeFile(image, bytes);

    const auto r =
        test::RunKeltra({"scan", image, "--json"}, {"XDG_DATA_HOME=" + (scratch / "xdg")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> byPath;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);
        byPath[j["path"].get<std::string>() + j["name"].get<std::string>()] = j;
    }
    ASSERT_TRUE(byPath.count("Packed/random.bin")) << r.out;
    EXPECT_EQ(byPath["Packed/random.bin"]["encrypted"], true);
    EXPECT_EQ(byPath["Packed/random.bin"]["compressed"], false);
    EXPECT_EQ(byPath["Packed/notes.txt"]["encrypted"], false);
    EXPECT_EQ(byPath["Packed/notes.txt"]["compressed"], true);
    EXPECT_EQ(byPath["Packed"]["compressed"], false) << "folders are not asked";

    QuickNtfsScan quick;
    ASSERT_EQ(quick.Open(SourceRef::Image(image, 1)), kOk);
    quick.SetLogFolder(scratch / "quick");
    ASSERT_EQ(quick.Scan(std::nullopt), kOk);
    const auto tree = test::ListTree(quick);
    ASSERT_EQ(quick.RecoverRecord(tree.at("Packed/random.bin").record, scratch / "out.bin", 0),
              kOk);
    // Its clusters as they lie (one run): the two whole units are the file's own bytes, the
    // last one its LZNT1 chunks.
    const auto copy = test::ReadWholeFile(scratch / "out.bin");
    ASSERT_EQ(copy.size(), 150000u);
    const auto original = test::ReadWholeFile(test::FixturePath("ntfs_compressed.img"));
    const auto start =
        std::search(original.begin(), original.end(), copy.begin(), copy.begin() + 4096);
    ASSERT_NE(start, original.end());
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), start));
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 131072, start));
}

}  // namespace
}  // namespace keltra
