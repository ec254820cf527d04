#include "app/create_image_flow.h"

#include <sys/stat.h>

#include <QFileDialog>
#include <QThread>
#include <filesystem>

#include "app/apply_section.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/size_text.h"
#include "storage/disk_queries.h"
#include "storage/image_destination.h"
#include "storage/rescue_map_file.h"
#include "storage/sector_source.h"

namespace keltra {

namespace {

constexpr int kPathLimit = 520;

// The folder that will hold the image (the path's own folder; the file may not exist yet).
std::string HoldingFolder(const std::string& imagePath) {
    std::filesystem::path folder = std::filesystem::path(imagePath).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

}  // namespace

ImageSourceChoice ImageOfVolume(const VolumeEntry& entry) {
    uint32_t sectorSize = kImageSectorSize;
    SectorSource disk;
    // A size that cannot be read only weakens the room check: a copy that runs out of room
    // still says so.
    if (OpenDiskSource(disk, entry.diskNumber) == kOk) {
        IgnoreStatus(disk.handle.LogicalSectorSize(sectorSize), "counted in 512-byte sectors");
    }
    return {entry, entry.diskNumber, entry.length * sectorSize};
}

ImageSourceChoice ImageOfDisk(int diskNumber) {
    ImageSourceChoice source{std::nullopt, diskNumber, 0};
    IgnoreStatus(DiskLengthBytes(diskNumber, source.sizeBytes), "no room check, as above");
    return source;
}

QString DefaultImageName(const ImageSourceChoice& source) {
    if (source.volume) {
        return FormatMessage(
            QStringLiteral("%d (%s, %s)"),
            {QString::number(source.volume->letter),
             QString::fromStdString(source.volume->fileSystemName), SizeText(source.sizeBytes)});
    }
    return QStringLiteral("Physical Disk %1").arg(source.diskNumber + 1);
}

std::string ImageDestinationProblem(bool onSource, const std::optional<std::string>& fileSystem,
                                    std::optional<uint64_t> freeBytes, uint64_t imageBytes) {
    if (onSource) return "MSG0218";
    if (fileSystem) {
        const QString upper = QString::fromStdString(*fileSystem).toUpper();
        // exFAT holds files of any size; only FAT12, FAT16 and FAT32 have the limits.
        const bool fat =
            upper.contains(QLatin1String("FAT")) && !upper.contains(QLatin1String("EXFAT"));
        const bool fat32 = fat && upper.contains(QLatin1String("FAT32"));
        if (fat32 && imageBytes > kFat32MaxImageBytes) return "MSG0220";
        if (fat && !fat32 && imageBytes > kFatMaxImageBytes) return "MSG0219";
    }
    if (freeBytes && *freeBytes <= imageBytes) return "MSG0221";
    return {};
}

std::string ImageDestinationProblem(const std::string& imagePath, const ImageSourceChoice& source) {
    const uint64_t first = source.volume ? source.volume->start : 0;
    const uint64_t count = source.volume ? source.volume->length : UINT64_MAX;
    const bool onSource = ImageLandsOnSource(imagePath, source.diskNumber, first, count);
    const std::string folder = HoldingFolder(imagePath);
    std::optional<std::string> fileSystem;
    if (std::string name; VolumeFileSystemName(folder, name) == kOk) fileSystem = name;
    std::optional<uint64_t> freeBytes;
    if (uint64_t bytes = 0; VolumeFreeBytes(folder, bytes) == kOk) freeBytes = bytes;
    // A copy that goes on from its map needs room only for what it has not written yet.
    uint64_t needed = source.sizeBytes;
    struct stat st {};
    std::error_code error;
    if (std::filesystem::exists(RescueMapPath(imagePath), error) &&
        ::stat(imagePath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        needed -= std::min<uint64_t>(needed, static_cast<uint64_t>(st.st_blocks) * 512);
    }
    return ImageDestinationProblem(onSource, fileSystem, freeBytes, needed);
}

std::string ImageOutcomeMessage(const CCreateImageProcessWnd& window, int windowResult,
                                QStringList& args) {
    const QString map = QString::fromStdString(RescueMapPath(window.ImagePath()));
    const RescueProgress p = window.FinalProgress();
    if (windowResult == CCreateImageProcessWnd::kResultCancelled) {
        args = {map};
        return "MSG0234";
    }
    if (windowResult == CCreateImageProcessWnd::kResultFailed) {
        if (window.CopyResult() == kErrNotReady) {
            args = {map};
            return "MSG0235";
        }
        if (!window.Problem().empty()) {
            args = {QString::fromStdString(window.Problem())};
            return "MSG0236";
        }
        return "MSG0217";
    }
    if (p.badBytes + p.untriedBytes != 0) {
        args = {SizeText(p.badBytes + p.untriedBytes), QString::number(p.badAreas), map};
        return "MSG0233";
    }
    return {};
}

std::optional<std::string> CreateImageFromSource(QWidget* owner, const ImageSourceChoice& source) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // An image with its map beside it is continued, not replaced: the question is ours.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(QStringLiteral("Image Files (*.img)"));
    dialog.setDefaultSuffix(QStringLiteral("img"));
    dialog.selectFile(DefaultImageName(source) + QStringLiteral(".img"));
    std::string path;
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        path = dialog.selectedFiles().first().toStdString();
        if (path.size() > kPathLimit) continue;
        std::error_code error;
        if (std::filesystem::exists(path, error) &&
            !std::filesystem::exists(RescueMapPath(path), error) &&
            ShowMessage(kMessageQuestion, owner,
                        FormatMessage(MessageText("MSG0237"), {QString::fromStdString(path)})) !=
                kAnswerOk) {
            continue;
        }
        const std::string problem = ImageDestinationProblem(path, source);
        if (problem.empty()) break;
        ShowMessage(kMessageInformation, owner, MessageText(problem));
    }
    CCreateImageProcessWnd window(owner, path, source);
    const int result = window.exec();
    QStringList args;
    if (const std::string key = ImageOutcomeMessage(window, result, args); !key.empty()) {
        if (result == CCreateImageProcessWnd::kResultFailed) QThread::msleep(100);
        ShowMessage(key == "MSG0217" || key == "MSG0236" ? kMessageInformation : kMessageWarning,
                    owner, FormatMessage(MessageText(key), args));
    }
    if (ShowMessage(kMessageQuestion, owner, MessageText("MSG0214")) != kAnswerOk) {
        return std::nullopt;
    }
    return path;
}

}  // namespace keltra
