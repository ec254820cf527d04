// Disk images from the window: a loop device copied byte for byte, then scanned as a source;
// the checks on the chosen path.
#include <sys/mount.h>

#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/create_image_flow.h"
#include "app/create_image_process_wnd.h"
#include "app/ui/apply_section.h"
#include "engines/engine_factory.h"
#include "gui_test_support.h"
#include "platform/disk_names.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

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
        QCOMPARE(window.CopyResult(), 0);
        QCOMPARE(test::Sha256OfFile(image), test::Sha256OfFile(fixture));
        QVERIFY(window.findChild<QLabel*>("stage")->text().endsWith(QString::fromStdString(image)));
        QVERIFY(window.findChild<QLabel*>("percent")->text().endsWith("100%"));

        // The new image scans as a source of its own.
        auto engine = CreateImageEngine(image, 1, false);
        QVERIFY(engine != nullptr);
        QCOMPARE(engine->Scan(std::nullopt), 0);
        QVERIFY(engine->GetRecordCount() > 0);
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
