#include "app/disk_list.h"

#include <QHeaderView>

#include "app/message_format.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "app/ui/markup_item_delegate.h"
#include "storage/disk_queries.h"

namespace keltra {

namespace {

constexpr int kRowHeight = 30;
constexpr int kEntryRole = Qt::UserRole + 1;      // index into entries_; -1 for a disk row
constexpr int kRemovableRole = Qt::UserRole + 2;  // the row's disk is removable

// The markup of a partition row's name column.
QString PartitionName(const VolumeEntry& entry) {
    const bool letter = entry.letter < 128 && std::isalpha(entry.letter);
    if (letter) {
        return FormatMessage("{f 5}{x 2}%c:\\ %s{/f}", {QString(QChar(entry.letter)),
                                                        QString::fromStdString(entry.volumeLabel)});
    }
    if (static_cast<int64_t>(entry.freeBytes) < 0) return "{f 5}{x 2}*:\\{/f}";
    return FormatMessage("{f 5}{x 2}%d:\\ %s{/f}", {QString::number(entry.letter),
                                                    QString::fromStdString(entry.volumeLabel)});
}

}  // namespace

CDiskListUI::CDiskListUI(QWidget* parent) : QTreeWidget(parent) {
    setItemDelegate(new CMarkupItemDelegate(kRowHeight, this));
    setUniformRowHeights(true);
}

void CDiskListUI::Build(const DiskMap& disks) {
    clear();
    entries_.clear();
    for (const auto& [diskNumber, entries] : disks) {
        if (entries.empty()) continue;
        const bool removable = IsRemovableDisk(diskNumber);
        auto* disk = new QTreeWidgetItem(this);
        disk->setText(
            0, FormatMessage(removable ? "{f 5}{x 5}{i removable_drive.png 1 0}{x 2}%s %d{/5}"
                                       : "{f 5}{x 5}{i physical_drive.png 1 0}{x 2}%s %d{/5}",
                             {MessageText(removable ? "MSG0202" : "MSG0201"),
                              QString::number(diskNumber + 1)}));
        disk->setData(0, kEntryRole, -1);
        disk->setData(0, kRemovableRole, removable);
        for (const auto& entry : entries) {
            auto* row = new QTreeWidgetItem(disk);
            row->setText(0, PartitionName(entry));
            row->setData(0, kPictureRole,
                         removable ? "file='drive_usb.png' dest='28,0,50,24'"
                                   : "file='drive.png' dest='28,0,50,24'");
            row->setText(
                1, FormatMessage("{f 5}%s{/f}", {QString::fromStdString(entry.fileSystemName)}));
            row->setText(2, FormatMessage("{f 5}%s{/f}", {SizeText(entry.totalBytes)}));
            row->setData(0, kEntryRole, static_cast<int>(entries_.size()));
            row->setData(0, kRemovableRole, removable);
            entries_.push_back(entry);
        }
        disk->setExpanded(true);
    }
}

const VolumeEntry* CDiskListUI::EntryOf(const QTreeWidgetItem* item) const {
    if (item == nullptr) return nullptr;
    const int index = item->data(0, kEntryRole).toInt();
    return index >= 0 && index < static_cast<int>(entries_.size()) ? &entries_[index] : nullptr;
}

void CDiskListUI::SelectDefaultRow() {
    for (int d = 0; d < topLevelItemCount(); ++d) {
        QTreeWidgetItem* disk = topLevelItem(d);
        if (disk->data(0, kRemovableRole).toBool() && disk->childCount() > 0) {
            setCurrentItem(disk->child(0));
            return;
        }
    }
    // Row 1 counts the rows as shown: the first disk's first partition, or the second disk.
    if (topLevelItemCount() > 0) {
        QTreeWidgetItem* first = topLevelItem(0);
        QTreeWidgetItem* second = first->childCount() > 0   ? first->child(0)
                                  : topLevelItemCount() > 1 ? topLevelItem(1)
                                                            : nullptr;
        if (second != nullptr) setCurrentItem(second);
    }
}

}  // namespace keltra
