// Disk images from the window: a loop device copied byte for byte, then scanned as a source;
// the checks on the chosen path.
#include <sys/mount.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/apply_section.h"
#include "app/create_image_flow.h"
#include "app/create_image_process_wnd.h"
#include "app/rescue_map_view.h"
#include "engines/factory/engine_factory.h"
#include "gui_test_support.h"
#include "platform/disk_names.h"
#include "storage/rescue_map_file.h"
#include "support/failing_device.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

RescueMap LoadMap(const std::string& path) {
    std::optional<RescueMap> map;
    std::string error;
    // A map that cannot be loaded is an empty one, and the test looking at it fails on that.
    if (LoadRescueMap(path, map, error) != kOk) return RescueMap();
    return map.value_or(RescueMap());
}

// A read-only mount of a loop device, undone at the end.
class ReadOnlyMount {
  public:
    ReadOnlyMount(const std::string& device, const std::string& where, const char* type) {
        mounted_ = ::mount(device.c_str(), where.c_str(), type, MS_RDONLY, nullptr) == 0;
        where_ = where;
    }
    ~ReadOnlyMount() {
        if (mounted_) ::umount(where_.c_str());
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string where_;
    bool mounted_ = false;
};

class ImageTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void CopiesALoopDeviceByteForByte() {
        const std::string fixture = test::FixturePath("fat16.img");
        if (!fs::exists(fixture)) QSKIP("fat16.img is not built");
        test::LoopDevice loop(fixture);
        if (!loop.Valid()) QSKIP("no loop devices here");
        const auto disk = DiskNumberOfDevice(loop.Device());
        QVERIFY(disk.has_value());

        test::ScratchDir dir;
        const std::string image = dir / "copy.img";
        ImageSourceChoice source{std::nullopt, *disk, fs::file_size(fixture)};
        QCOMPARE(ImageDestinationProblem(image, source), std::string());
        CCreateImageProcessWnd window(nullptr, image, source);
        QCOMPARE(window.exec(), int(CCreateImageProcessWnd::kResultComplete));
        QCOMPARE(window.CopyResult(), kOk);
        QCOMPARE(test::Sha256OfFile(image), test::Sha256OfFile(fixture));
        QVERIFY(window.findChild<QLabel*>("stage")->text().endsWith(QString::fromStdString(image)));
        QVERIFY(window.findChild<QLabel*>("percent")->text().startsWith("Progress: 100%"));
        QVERIFY(!fs::exists(image + ".map.new"));
        QCOMPARE(LoadMap(image + ".map").BytesWith(AreaStatus::kFinished), fs::file_size(fixture));

        // The new image scans as a source of its own.
        auto engine = CreateEngine(SourceRef::Image(image, 1), false);
        QVERIFY(engine != nullptr);
        QCOMPARE(engine->Scan(std::nullopt), 0);
        QVERIFY(engine->GetRecordCount() > 0);
    }

    // A disk that really fails (nbdkit's ddrescue filter behind nbdfuse, as a loop device):
    // stopped half way, the copy keeps its map; the same file chosen again continues it to the
    // end, with every readable sector copied, the bad ones mapped and drawn, and the user told.
    void CopiesAFailingDiskStopsAndContinues() {
        if (const std::string why = test::FailingDevice::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
        constexpr uint64_t kBytes = 32ull << 20;
        test::ScratchDir dir;
        const std::string sourcePath = dir / "source.img";
        std::vector<std::byte> bytes(kBytes);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::byte>((i * 2654435761u) >> 13);
        }
        test::WriteWholeFile(sourcePath, bytes);
        // Whole pages, as the loop device reads its file: 4 KiB at 3 MiB, 256 KiB at 20 MiB.
        RescueMap truth(kBytes);
        truth.Mark(0, kBytes, AreaStatus::kFinished);
        truth.Mark(3ull << 20, 4096, AreaStatus::kBad);
        truth.Mark(20ull << 20, 256 << 10, AreaStatus::kBad);
        const std::string badMap = dir / "bad.map";
        QCOMPARE(SaveRescueMap(badMap, truth, {}), kOk);
        test::FailingDevice device(sourcePath, badMap, {"delay:delay-read=4ms"});
        QVERIFY2(device.Valid(), device.Error().c_str());
        test::LoopDevice loop(device.Path());
        if (!loop.Valid()) QSKIP("no loop devices here");
        const auto disk = DiskNumberOfDevice(loop.Device());
        QVERIFY(disk.has_value());
        const ImageSourceChoice source{std::nullopt, *disk, kBytes};
        const std::string image = dir / "card.img";

        QStringList args;
        {
            CCreateImageProcessWnd window(nullptr, image, source);
            // Stopped once a tenth is done, the question answered yes.
            test::SeenBox question;
            QTimer watch;
            watch.setInterval(20);
            connect(&watch, &QTimer::timeout, &window, [&] {
                if (window.findChild<QProgressBar*>("progress")->value() < 10) return;
                watch.stop();
                test::AnswerNextBox("okbtn", question);
                window.findChild<QPushButton*>("cancelbtn")->click();
            });
            watch.start();
            QCOMPARE(window.exec(), int(CCreateImageProcessWnd::kResultCancelled));
            QVERIFY(question.shown);
            const RescueMap kept = LoadMap(RescueMapPath(image));
            QVERIFY(kept.BytesWith(AreaStatus::kFinished) > 0);
            QVERIFY(kept.BytesWith(AreaStatus::kNonTried) > 0);
            QCOMPARE(ImageOutcomeMessage(window, CCreateImageProcessWnd::kResultCancelled, args),
                     std::string("MSG0234"));
            QCOMPARE(args, QStringList{QString::fromStdString(RescueMapPath(image))});
        }

        CCreateImageProcessWnd window(nullptr, image, source);
        QCOMPARE(window.exec(), int(CCreateImageProcessWnd::kResultComplete));
        QVERIFY(window.Continued());
        QVERIFY(window.findChild<QLabel*>("stage")->text().startsWith("Continuing image:"));
        const RescueMap map = LoadMap(RescueMapPath(image));
        QCOMPARE(map.Areas(), truth.Areas());
        const RescueProgress end = window.FinalProgress();
        QCOMPARE(end.badBytes, uint64_t{4096 + (256 << 10)});
        QCOMPARE(end.badAreas, size_t{2});
        QCOMPARE(end.untriedBytes, uint64_t{0});
        // The image: the source, with zeros where it could not be read.
        for (const RescueArea& area : truth.Areas()) {
            if (area.status != AreaStatus::kBad) continue;
            std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(area.pos), area.size, std::byte{0});
        }
        QVERIFY(test::ReadWholeFile(image) == bytes);
        // The counts, and the bad areas drawn in the map's picture.
        const QString counts = window.findChild<QLabel*>("counts")->text();
        QVERIFY2(counts.contains("Unreadable: 260.00 KB in 2 areas"), qPrintable(counts));
        const auto& cells = window.findChild<RescueMapView*>("sectormap")->Cells();
        QVERIFY(cells == truth.Cells(RescueMapView::kCells));
        QVERIFY(std::count(cells.begin(), cells.end(), AreaStatus::kBad) >= 2);
        QCOMPARE(ImageOutcomeMessage(window, CCreateImageProcessWnd::kResultComplete, args),
                 std::string("MSG0233"));
        QCOMPARE(args[1], QString("2"));
        test::Screenshot(window, "create_image_rescue");
    }

    void FailedCopyEndsWithThree() {
        test::ScratchDir dir;
        ImageSourceChoice source{std::nullopt, 9999, 0};  // no such disk
        CCreateImageProcessWnd window(nullptr, dir / "x.img", source);
        QCOMPARE(window.exec(), int(CCreateImageProcessWnd::kResultFailed));
        QVERIFY(window.CopyResult() != 0);
    }

    void PathChecksInOrder() {
        constexpr uint64_t kGiB = 1ULL << 30;
        // 3 GiB fits FAT32 but not FAT16; 5 GiB fits neither; exFAT and others have no limit.
        QCOMPARE(ImageDestinationProblem(false, "FAT32", 100 * kGiB, 3 * kGiB), std::string());
        QCOMPARE(ImageDestinationProblem(false, "FAT32", 100 * kGiB, 5 * kGiB),
                 std::string("MSG0220"));
        QCOMPARE(ImageDestinationProblem(false, "FAT", 100 * kGiB, 3 * kGiB),
                 std::string("MSG0219"));
        QCOMPARE(ImageDestinationProblem(false, "exFAT", 100 * kGiB, 5 * kGiB), std::string());
        QCOMPARE(ImageDestinationProblem(false, "ext4", 100 * kGiB, 5 * kGiB), std::string());
        // Exactly as much free space as the image needs is not enough; unknown space passes.
        QCOMPARE(ImageDestinationProblem(false, "ext4", 4096, 4096), std::string("MSG0221"));
        QCOMPARE(ImageDestinationProblem(false, std::nullopt, std::nullopt, 4096), std::string());
        // On the source comes first.
        QCOMPARE(ImageDestinationProblem(true, "FAT", 0, 5 * kGiB), std::string("MSG0218"));

        // A real volume: an ext4 file system on a loop device, mounted read-only.
        test::ScratchDir dir;
        const std::string volume = dir / "ext4.img";
        {
            std::ofstream(volume).close();
            fs::resize_file(volume, 8 << 20);
        }
        if (std::system(("mkfs.ext4 -q -F " + volume + " >/dev/null 2>&1").c_str()) != 0)
            QSKIP("mkfs.ext4 is not available");
        test::LoopDevice loop(volume);
        if (!loop.Valid()) QSKIP("no loop devices here");
        const auto disk = DiskNumberOfDevice(loop.Device());
        QVERIFY(disk.has_value());
        test::ScratchDir mountPoint;
        ReadOnlyMount mount(loop.Device(), mountPoint.Path().string(), "ext4");
        if (!mount.Mounted()) QSKIP("cannot mount here");
        const std::string onVolume = mountPoint / "image.img";
        QCOMPARE(ImageDestinationProblem(onVolume, {std::nullopt, *disk, 1024}),
                 std::string("MSG0218"));
        // From another source: the 8 MiB volume has no room for 1 GiB.
        QCOMPARE(ImageDestinationProblem(onVolume, {std::nullopt, -1, kGiB}),
                 std::string("MSG0221"));
        QCOMPARE(ImageDestinationProblem(dir / "x.img", {std::nullopt, *disk, 4096}),
                 std::string());
    }

    // An image to be continued from its map needs room only for what it does not hold yet.
    void ContinuingNeedsRoomOnlyForWhatIsLeft() {
        test::ScratchDir mountPoint;
        const std::string where = mountPoint.Path().string();
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=4m") != 0) QSKIP("cannot mount here");
        const std::string image = where + "/card.img";
        {
            std::ofstream out(image, std::ios::binary);
            const std::vector<char> written(3 << 20, 'x');
            out.write(written.data(), static_cast<std::streamsize>(written.size()));
        }
        const ImageSourceChoice source{std::nullopt, -1, 3584 << 10};
        const std::string alone = ImageDestinationProblem(image, source);
        RescueMap map(source.sizeBytes);
        map.Mark(0, 3 << 20, AreaStatus::kFinished);
        const bool saved = SaveRescueMap(RescueMapPath(image), map, {}) == kOk;
        const std::string withMap = ImageDestinationProblem(image, source);
        ::umount(where.c_str());
        QVERIFY(saved);
        QCOMPARE(alone, std::string("MSG0221"));
        QCOMPARE(withMap, std::string());
    }

    void DefaultNames() {
        VolumeEntry entry;
        entry.letter = 3;
        entry.fileSystemName = "FAT32";
        QCOMPARE(DefaultImageName({entry, 0, 1536}), QString("3 (FAT32, 1.50 KB)"));
        QCOMPARE(DefaultImageName({std::nullopt, 1, 0}), QString("Physical Disk 2"));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("Image", ImageTest);

}  // namespace
}  // namespace keltra

#include "image_test.moc"
