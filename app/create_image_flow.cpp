#include "app/create_image_flow.h"

#include <QFileDialog>
#include <QThread>
#include <filesystem>

#include "app/message_box.h"
#include "app/message_format.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "storage/disk_queries.h"
#include "storage/image_destination.h"
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
    if (OpenDiskSource(disk, entry.diskNumber) == kOk) disk.handle.LogicalSectorSize(sectorSize);
    return {entry, entry.diskNumber, entry.length * sectorSize};
}

ImageSourceChoice ImageOfDisk(int diskNumber) {
    ImageSourceChoice source{std::nullopt, diskNumber, 0};
    DiskLengthBytes(diskNumber, source.sizeBytes);
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

std::string ImageDestinationProblem(const std::string& imagePath, const ImageSourceChoice& source) {
    const uint64_t first = source.volume ? source.volume->start : 0;
    const uint64_t count = source.volume ? source.volume->length : UINT64_MAX;
    if (ImageLandsOnSource(imagePath, source.diskNumber, first, count)) return "MSG0218";
    const std::string folder = HoldingFolder(imagePath);
    std::string fileSystem;
    if (VolumeFileSystemName(folder, fileSystem) == kOk) {
        const QString upper = QString::fromStdString(fileSystem).toUpper();
        // exFAT holds files of any size; only FAT12/16/32 have the limits.
        const bool exFat = upper.contains(QLatin1String("EXFAT"));
        if (!exFat && upper.contains(QLatin1String("FAT32")) &&
            source.sizeBytes > kFat32MaxImageBytes) {
            return "MSG0220";
        }
        if (!exFat && upper.contains(QLatin1String("FAT")) &&
            !upper.contains(QLatin1String("FAT32")) && source.sizeBytes > kFatMaxImageBytes) {
            return "MSG0219";
        }
    }
    uint64_t freeBytes = 0;
    if (VolumeFreeBytes(folder, freeBytes) == kOk && freeBytes <= source.sizeBytes) {
        return "MSG0221";
    }
    return {};
}

std::optional<std::string> CreateImageFromSource(QWidget* owner, const ImageSourceChoice& source) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
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
        const std::string problem = ImageDestinationProblem(path, source);
        if (problem.empty()) break;
        ShowMessage(kMessageInformation, owner, MessageText(problem));
    }
    CCreateImageProcessWnd window(owner, path, source);
    if (window.exec() == CCreateImageProcessWnd::kResultFailed) {
        QThread::msleep(100);
        ShowMessage(kMessageInformation, owner, MessageText("MSG0217"));
    }
    if (ShowMessage(kMessageQuestion, owner, MessageText("MSG0214")) != kAnswerOk) {
        return std::nullopt;
    }
    return path;
}

}  // namespace keltra
