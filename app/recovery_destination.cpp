#include "app/recovery_destination.h"

#include <QFileDialog>

#include "app/apply_section.h"
#include "app/message_box.h"
#include "storage/destination_volume.h"

namespace keltra {

std::string TrimRecoveryFolder(std::string path) {
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

bool ConfirmRecoveryDestination(QWidget* owner, const std::string& folder,
                                const std::vector<VolumeEntry>& scannedPartitions) {
    // The root folder trims to "", which names "/" to the file system.
    const std::string onDisk = folder.empty() ? std::string("/") : folder;
    for (const VolumeEntry& entry : scannedPartitions) {
        if (!PathOnDiskArea(onDisk, entry.diskNumber, entry.start, entry.length)) continue;
        return ShowMessage(kMessageConfirm, owner, MessageText("MSG0805")) == kAnswerOk;
    }
    return true;
}

bool ChooseRecoveryDestination(QWidget* owner, const std::vector<VolumeEntry>& scannedPartitions,
                               std::string& recoverFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, QString::fromLatin1(kRecoveryFolderTitle), QString::fromStdString(recoverFolder),
        QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    recoverFolder = TrimRecoveryFolder(chosen.toStdString());
    return ConfirmRecoveryDestination(owner, recoverFolder, scannedPartitions);
}

}  // namespace keltra
