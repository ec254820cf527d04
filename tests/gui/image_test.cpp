// Disk images from the window: a loop device copied byte for byte, then scanned as a source;
// the checks on the chosen path.
#include <sys/mount.h>

#include <QLabel>
#include <QTest>
#include <filesystem>

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
    void init() {
        languages_ = std::make_unique<test::ScratchLanguages>();
        appData_ = std::make_unique<test::ScopedAppDataFolder>();
    }
    void cleanup() {
        appData_.reset();
        languages_.reset();
    }

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
        const std::string fixture = test::FixturePath("fat16.img");
        if (!fs::exists(fixture)) QSKIP("fat16.img is not built");
        test::LoopDevice loop(fixture);
        if (!loop.Valid()) QSKIP("no loop devices here");
        const auto disk = DiskNumberOfDevice(loop.Device());
        QVERIFY(disk.has_value());
        test::ScratchDir mountPoint;
        ReadOnlyMount mount(loop.Device(), mountPoint.Path().string(), "vfat");
        if (!mount.Mounted()) QSKIP("cannot mount here");
        const std::string onFat = mountPoint / "image.img";

        // The volume being copied holds the path.
        ImageSourceChoice self{std::nullopt, *disk, 1024};
        QCOMPARE(ImageDestinationProblem(onFat, self), std::string("MSG0218"));
        // Another source onto this FAT16 volume: over 2 GiB does not fit a FAT file, and
        // neither does more than its free space.
        ImageSourceChoice other{std::nullopt, -1, 3ULL << 30};
        QCOMPARE(ImageDestinationProblem(onFat, other), std::string("MSG0219"));
        other.sizeBytes = 1ULL << 30;
        QCOMPARE(ImageDestinationProblem(onFat, other), std::string("MSG0221"));
        // Somewhere with room.
        test::ScratchDir elsewhere;
        other.sizeBytes = 4096;
        QCOMPARE(ImageDestinationProblem(elsewhere / "x.img", other), std::string());
    }

    void DefaultNames() {
        VolumeEntry entry;
        entry.letter = 3;
        entry.fileSystemName = "FAT32";
        QCOMPARE(DefaultImageName({entry, 0, 1536}), QString("3 (FAT32, 1.50 KB)"));
        QCOMPARE(DefaultImageName({std::nullopt, 1, 0}), QString("Physical Disk 2"));
    }

  private:
    std::unique_ptr<test::ScratchLanguages> languages_;
    std::unique_ptr<test::ScopedAppDataFolder> appData_;
};

KELTRA_GUI_TEST("Image", ImageTest);

}  // namespace
}  // namespace keltra

#include "image_test.moc"
