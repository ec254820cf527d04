// A whole-source pass (pieces read ahead on another thread, each sector offered only when the
// carver's screen lets it through) carves exactly what the plainest loop carves: every sector
// read on its own and offered to the carver, in order, skipping what each carved file covers.
// The deep scan's pass, screened and pipelined, finds what its searches find when every sector
// is offered to each of them in a plain loop; stopped anywhere and continued, it finds and
// recovers what one uninterrupted scan does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engines/carver/signature_carver.h"
#include "engines/deep/carve_pass.h"
#include "engines/deep/deep_pass.h"
#include "engines/deep/deep_scan.h"
#include "engines/deep/examiner_chain.h"
#include "engines/deep/lost_volume_folders.h"
#include "engines/deep/sector_pass.h"
#include "engines/exfat/deep_exfat_search.h"
#include "engines/fat/deep_fat_search.h"
#include "engines/ntfs/deep_ntfs_search.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kSector = 512;

void PadToSector(std::vector<std::byte>& bytes) {
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector);
}

void AppendZeros(std::vector<std::byte>& image, uint64_t sectors) {
    image.resize(image.size() + sectors * kSector);
}

void AppendRandom(std::vector<std::byte>& image, uint64_t sectors, std::mt19937& random) {
    const size_t at = image.size();
    image.resize(at + sectors * kSector);
    for (size_t b = at; b < image.size(); ++b) image[b] = std::byte(random() & 0xFF);
}

void Append(std::vector<std::byte>& image, std::vector<std::byte> file) {
    PadToSector(file);
    image.insert(image.end(), file.begin(), file.end());
}

// `file` with `zeros` zero bytes put in at `at`.
std::vector<std::byte> WithZerosInside(std::vector<std::byte> file, size_t at, size_t zeros) {
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), zeros, std::byte{0});
    return file;
}

// A 24-bit BMP of a black square: its pixels are all zero sectors.
std::vector<std::byte> BlackBmp(uint32_t side) {
    const uint32_t pixels = side * side * 3;
    std::vector<std::byte> bmp(54 + pixels);
    const auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) bmp[at + i] = std::byte((value >> (8 * i)) & 0xFF);
    };
    bmp[0] = std::byte{'B'};
    bmp[1] = std::byte{'M'};
    put(2, static_cast<uint32_t>(bmp.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, side, 4);
    put(22, side, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, pixels, 4);
    return bmp;
}

// Every sample of the carving folders between gaps of random bytes and of zeros of many
// lengths (inside a chunk, across chunks, across the reader's pieces), files whose content holds
// long zero runs, and an M2TS stream met again right after zeros.
std::vector<std::byte> MixedImage() {
    std::vector<std::byte> image;
    std::mt19937 random(2026);
    AppendZeros(image, 3);
    const uint64_t gaps[] = {1, 2, 7, 130, 300, 1, 5000};
    size_t n = 0;
    for (const std::string folder : {"signatures", "formats", "carving", "photos"}) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(test::TestDataPath(folder))) {
            const auto ext = entry.path().extension();
            if (ext != ".sh" && ext != ".py") files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const uint64_t gap = gaps[n % std::size(gaps)];
            if (n++ % 2 == 0) {
                AppendZeros(image, gap);
            } else {
                AppendRandom(image, gap, random);
            }
            Append(image, test::ReadWholeFile(file.string()));
        }
    }
    // Content with zero runs: the end searches read through them.
    const auto pdf = test::ReadWholeFile(test::TestDataPath("signatures/sample.pdf"));
    AppendZeros(image, 20000);  // 10 MiB: more than two pieces
    Append(image, WithZerosInside(pdf, pdf.size() / 2, 300 * kSector));
    AppendRandom(image, 9, random);
    const auto zip = test::ReadWholeFile(test::TestDataPath("signatures/sample.zip"));
    Append(image, WithZerosInside(zip, zip.size() - 22, 200 * kSector));
    AppendZeros(image, 1);
    Append(image, BlackBmp(200));
    AppendRandom(image, 3, random);
    // A second M2TS stream whose first packet has a time stamp, right after zeros that follow
    // the first: it is a stream of its own only if the zeros were offered as sectors are.
    const auto mts = test::ReadWholeFile(test::TestDataPath("signatures/sample.mts"));
    Append(image, mts);
    AppendZeros(image, 4);
    Append(image, mts);
    AppendRandom(image, 8300, random);
    AppendZeros(image, 17);
    return image;
}

using CarvedFile = std::tuple<std::string, uint64_t, uint64_t, uint32_t>;

std::vector<CarvedFile> Listing(SignatureCarver& engine) {
    std::vector<FoundRecord> found;
    EXPECT_EQ(engine.ListFolder(nullptr, 0, found), kOk);
    std::vector<CarvedFile> files;
    for (const FoundRecord& r : found) {
        files.emplace_back(std::string(r.Name()), r.location, r.size, r.contentIntact);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(PassIdentity, WholeRangeCarvingFindsWhatASectorBySectorLoopFinds) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::vector<std::byte> image = MixedImage();
    const std::string path = dir / "mixed.img";
    test::WriteWholeFile(path, image);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, path), kOk);
    const uint64_t total = source.totalSectors;
    ASSERT_GT(total * kSector, 3 * SectorPass::kPieceBytes);

    // The reference: one read per sector, every sector offered, nothing else.
    SignatureCarver plain;
    plain.SetLogFolder(dir / "plain");
    fs::create_directories(dir / "plain");
    ASSERT_EQ(plain.Open(SourceRef::Image(path, 1)), kOk);
    plain.StartPass();
    uint64_t filesFound = 0;
    std::vector<std::byte> sector(kSector);
    for (uint64_t lba = 0; lba < total;) {
        uint32_t read = 0;
        ASSERT_EQ(ReadSectors(source, 1, sector, lba, kSector, read), kOk);
        uint64_t skip = 1;
        const Status s =
            plain.CarveSector(kSector, sector, lba, lba, total, -1, source, skip, filesFound);
        ASSERT_TRUE(s == kOk || s == kErrInvalidParameter) << s;
        lba += skip;
    }
    ASSERT_EQ(plain.FlushLog(), kOk);

    SignatureCarver pass;
    pass.SetLogFolder(dir / "pass");
    fs::create_directories(dir / "pass");
    ASSERT_EQ(pass.Open(SourceRef::Image(path, 1)), kOk);
    ASSERT_EQ(CarveWholeRange(pass, source, kSector, {0, total}, nullptr, nullptr), kOk);

    const auto expected = Listing(plain);
    const auto got = Listing(pass);
    EXPECT_GT(expected.size(), 100u);
    EXPECT_EQ(got, expected);
    // The files put in whole with zeros inside and the second M2TS stream were carved.
    const auto carvedAs = [&](std::string_view extension) {
        return std::count_if(got.begin(), got.end(), [&](const CarvedFile& f) {
            return std::get<0>(f).ends_with(extension);
        });
    };
    EXPECT_GE(carvedAs(".mts"), 3);
    EXPECT_GE(carvedAs(".bmp"), 2);

    // The same bytes come back from both.
    std::vector<FoundRecord> plainFound, passFound;
    ASSERT_EQ(plain.ListFolder(nullptr, 0, plainFound), kOk);
    ASSERT_EQ(pass.ListFolder(nullptr, 0, passFound), kOk);
    ASSERT_EQ(plainFound.size(), passFound.size());
    const auto byName = [](const FoundRecord& a, const FoundRecord& b) {
        return std::string_view(a.Name()) < std::string_view(b.Name());
    };
    std::sort(plainFound.begin(), plainFound.end(), byName);
    std::sort(passFound.begin(), passFound.end(), byName);
    for (size_t i = 0; i < plainFound.size(); ++i) {
        const std::string name(passFound[i].Name());
        ASSERT_EQ(plain.RecoverRecord(plainFound[i], dir / ("out-plain/" + name), 0), kOk);
        ASSERT_EQ(pass.RecoverRecord(passFound[i], dir / ("out-pass/" + name), 0), kOk);
        ASSERT_EQ(test::ReadWholeFile(dir / ("out-plain/" + name)),
                  test::ReadWholeFile(dir / ("out-pass/" + name)))
            << name;
    }
}

// A disk without partition table: the mixed image's first half, the FAT photo volume and the
// NTFS photo volume with their boot sectors gone (found only by the deep FAT and NTFS
// searches), between zeros, then the mixed image's second half.
std::vector<std::byte> DiskOfEveryKind() {
    const std::vector<std::byte> mixed = MixedImage();
    const size_t half = mixed.size() / 2 / kSector * kSector;
    std::vector<std::byte> disk(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(half));
    for (const char* fixture : {"photos_fat.img", "photos_ntfs.img"}) {
        std::vector<std::byte> volume = test::ReadWholeFile(test::FixturePath(fixture));
        std::fill_n(volume.begin(), kSector, std::byte{0});
        std::fill_n(volume.end() - kSector, kSector, std::byte{0});
        Append(disk, std::move(volume));
        AppendZeros(disk, 3000);
    }
    disk.insert(disk.end(), mixed.begin() + static_cast<std::ptrdiff_t>(half), mixed.end());
    return disk;
}

struct StopAt {
    int passCalls = 0;
    int stopAt = 0;               // 0: never
    std::vector<uint64_t> done;   // sectors passed at each pass call
    static int OnProgress(void* user, int, int weight, int, uint64_t current, uint64_t, uint64_t,
                          int) {
        auto* self = static_cast<StopAt*>(user);
        if (weight != DeepScan::kPassWeight) return 0;
        self->done.push_back(current);
        return ++self->passCalls == self->stopAt ? kCancelled.value() : 0;
    }
};

// Opens the image (`resumed`: whether an unfinished scan of it was found) and scans it.
Status RunDeepScan(DeepScan& engine, const std::string& image, StopAt& stop,
                bool* resumed = nullptr) {
    if (const Status s = engine.Open(SourceRef::Image(image, 1)); s != kOk) return s;
    if (resumed != nullptr) *resumed = engine.Resuming();
    engine.SetCallbacks(StopAt::OnProgress, nullptr, &stop, 100);
    return engine.Scan(std::nullopt);
}

// Every file the scan lists, by path: its size and the SHA-256 of what recovering it gives.
std::map<std::string, std::pair<uint64_t, std::string>> Recovered(DeepScan& engine,
                                                                  const std::string& scratch) {
    std::map<std::string, std::pair<uint64_t, std::string>> out;
    test::WalkTree(engine, [&](const std::string& path, const FoundRecord& r) {
        if (r.isFolder != 0) return;
        const std::string target = scratch + "/" + std::to_string(out.size());
        std::string digest = "not recovered";
        if (engine.RecoverRecord(r, target, 0) == kOk) digest = test::Sha256OfFile(target);
        out[path + "@" + std::to_string(r.location)] = {r.size, digest};
    });
    return out;
}

TEST(PassIdentity, DeepScanStoppedAnywhereAndContinuedFindsWhatOneScanFinds) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::vector<std::byte> disk = DiskOfEveryKind();
    ASSERT_GT(disk.size(), 3 * SectorPass::kPieceBytes);

    test::WriteWholeFile(dir / "whole.img", disk);
    DeepScan whole;
    StopAt never;
    ASSERT_EQ(RunDeepScan(whole, dir / "whole.img", never), kOk);
    fs::create_directories(dir / "out");
    const auto expected = Recovered(whole, dir / "out");
    const auto kinds = [&](std::string_view part) {
        return std::count_if(expected.begin(), expected.end(),
                             [&](const auto& f) { return f.first.find(part) != std::string::npos; });
    };
    EXPECT_GT(expected.size(), 100u);
    EXPECT_GT(kinds(".jpg"), 10);
    ASSERT_GT(never.passCalls, 40);

    // Stops just before a chunk in which a found file starts: early, in the middle, near the
    // end of the disk.
    std::vector<uint64_t> starts;
    for (const auto& [key, file] : expected) {
        starts.push_back(std::stoull(key.substr(key.rfind('@') + 1)));
    }
    std::sort(starts.begin(), starts.end());
    std::vector<int> stops;
    for (const size_t share : {5, 50, 95}) {
        const uint64_t start = starts[starts.size() * share / 100];
        const auto before = std::lower_bound(never.done.begin(), never.done.end(), start);
        stops.push_back(static_cast<int>(std::max<std::ptrdiff_t>(1, before - never.done.begin())));
    }
    for (const int stopAt : stops) {
        SCOPED_TRACE(stopAt);
        const std::string image = dir / ("stopped" + std::to_string(stopAt) + ".img");
        test::WriteWholeFile(image, disk);
        {
            DeepScan first;
            StopAt stop;
            stop.stopAt = stopAt;
            ASSERT_EQ(RunDeepScan(first, image, stop), kCancelled);
        }
        DeepScan continued;
        StopAt rest;
        bool resumed = false;
        ASSERT_EQ(RunDeepScan(continued, image, rest, &resumed), kOk);
        ASSERT_TRUE(resumed);
        const std::string out = dir / ("out" + std::to_string(stopAt));
        fs::create_directories(out);
        EXPECT_EQ(Recovered(continued, out), expected);
    }
}


// A disk of every kind with volumes whose boot sectors are kept: an exFAT card and the disk of
// lost volumes, so that the deep exFAT search and the finder of boot sectors have work too.
std::vector<std::byte> DiskWithBootSectors() {
    std::vector<std::byte> disk = DiskOfEveryKind();
    for (const char* fixture : {"photos_exfat.img", "lost_volumes.img"}) {
        AppendZeros(disk, 5);
        Append(disk, test::ReadWholeFile(test::FixturePath(fixture)));
    }
    AppendZeros(disk, 7);
    return disk;
}

// A search as it is without its screen: offered every sector.
class Unscreened final : public SectorExaminer {
  public:
    explicit Unscreened(SectorExaminer& search) : search_(search) {}
    Status Begin(const PassStart& start) override { return search_.Begin(start); }
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override {
        return search_.Examine(span, firstSector, at);
    }
    Status Finish(const PassEnd& end) override { return search_.Finish(end); }

  private:
    SectorExaminer& search_;
};

// The deep scan's searches, in its order, and what each found.
struct Searches {
    DeepFatSearch fat;
    DeepNtfsSearch ntfs;
    DeepExFatSearch exfat;
    LostVolumeFolders volumes;
    SignatureCarver carver;
    std::vector<std::unique_ptr<Unscreened>> unscreened;

    // `screened`: each search with its screen, else every sector offered to each.
    ExaminerChain Chain(bool screened) {
        using Reach = ExaminerChain::Reach;
        ExaminerChain chain;
        const auto add = [&](SectorExaminer& search, Reach reach) {
            if (screened) return chain.Add(search, reach);
            unscreened.push_back(std::make_unique<Unscreened>(search));
            chain.Add(*unscreened.back(), reach);
        };
        add(fat, Reach::SectorBySector);
        add(ntfs, Reach::SectorBySector);
        add(exfat, Reach::EverySector);
        add(volumes, Reach::EverySector);
        add(carver, Reach::SectorBySector);
        return chain;
    }

    // Every file of every search by path, with its size and the SHA-256 of what recovering it
    // gives, and the volumes of the boot sectors met.
    std::map<std::string, std::pair<uint64_t, std::string>> Found(const std::string& scratch) {
        std::map<std::string, std::pair<uint64_t, std::string>> out;
        const std::pair<const char*, FoundFiles*> searches[] = {
            {"fat:", &fat}, {"ntfs:", &ntfs}, {"exfat:", &exfat}, {"carved:", &carver}};
        for (const auto& [kind, search] : searches) {
            test::WalkTree(*search, [&](const std::string& path, const FoundRecord& r) {
                const std::string target = scratch + "/" + std::to_string(out.size());
                std::string digest = "folder";
                if (r.isFolder == 0) {
                    digest = search->RecoverRecord(r, target, 0) == kOk
                                 ? test::Sha256OfFile(target)
                                 : "not recovered";
                }
                out[kind + path + "@" + std::to_string(r.location)] = {r.size, digest};
            });
        }
        for (const FoundVolume& v : volumes.BootVolumes()) {
            out["volume " + v.FileSystemName() + "@" + std::to_string(v.firstSector)] = {
                v.sectorCount, v.label};
        }
        return out;
    }
};

TEST(PassIdentity, ScreenedPipelinedDeepPassFindsWhatAPlainLoopOfferingEverySectorFinds) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::vector<std::byte> disk = DiskWithBootSectors();
    const std::string path = dir / "disk.img";
    test::WriteWholeFile(path, disk);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, path), kOk);
    const uint64_t total = source.totalSectors;
    const SourceRef ref = SourceRef::Image(path, 1);
    const SourceIdentity identity{path, 0, total, kSector, "head:test"};
    const auto begin = [&](ExaminerChain& chain, const std::string& folder) {
        fs::create_directories(folder);
        return chain.Begin({ref, identity, static_cast<int>(kSector), folder,
                            [](std::string_view) { return std::optional<std::string>(); }});
    };
    const auto finish = [&](ExaminerChain& chain) {
        return chain.Finish({source, kSector, [](const FoundRecord&) { return false; }});
    };

    // The reference: 64 KiB chunks read one after the other, every sector offered to every
    // search, a carved file's sectors skipped.
    Searches plain;
    ExaminerChain plainChain = plain.Chain(false);
    ASSERT_EQ(begin(plainChain, dir / "plain"), kOk);
    uint64_t filesFound = 0;
    constexpr size_t kChunkSectors = SectorPass::kChunkBytes / kSector;
    std::vector<std::byte> chunk(SectorPass::kChunkBytes);
    for (uint64_t lba = 0; lba < total;) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, total - lba));
        uint32_t read = 0;
        ASSERT_EQ(ReadSectors(source, count, chunk, lba, kSector, read), kOk);
        PassPosition at{source, kSector, lba, total, -1, filesFound};
        Status stopped = kOk;
        uint64_t examinedTo = 0;
        const uint64_t skip = plainChain.ExamineBuffer(std::span(chunk).first(read * kSector), {},
                                                       lba, kChunkSectors, at, stopped, examinedTo);
        ASSERT_EQ(stopped, kOk);
        lba += kChunkSectors + skip;
    }
    ASSERT_EQ(finish(plainChain), kOk);

    Searches screened;
    ExaminerChain screenedChain = screened.Chain(true);
    ASSERT_EQ(begin(screenedChain, dir / "screened"), kOk);
    DeepPass pass({source, static_cast<int>(kSector), 0, total}, nullptr);
    DeepScanState state;
    ASSERT_EQ(pass.Run(screenedChain, nullptr, filesFound, state,
                       [](uint64_t, uint64_t, int) { return kOk; }),
              kOk);
    ASSERT_EQ(finish(screenedChain), kOk);

    fs::create_directories(dir / "out-plain");
    fs::create_directories(dir / "out-screened");
    const auto expected = plain.Found(dir / "out-plain");
    // Every search found something.
    for (const std::string_view kind : {"fat:", "ntfs:", "exfat:", "carved:", "volume "}) {
        EXPECT_GT(std::count_if(expected.begin(), expected.end(),
                                [&](const auto& f) { return f.first.starts_with(kind); }),
                  0)
            << kind;
    }
    EXPECT_GT(expected.size(), 150u);
    EXPECT_EQ(screened.Found(dir / "out-screened"), expected);
}

}  // namespace
}  // namespace keltra
