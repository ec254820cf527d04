// The source page's disk list ("DiskList"): a row per disk with, below it, a row per entry of
// the disk and partition list (volumes and unallocated stretches); a row per disk this process
// cannot read, greyed, with the reason; and an "Image File" group with a row per image file
// added, below which an image that holds a partition table has a row per volume and stretch,
// as a disk has. Rows are 30 high, their texts row markup. Partition, image and image volume
// rows point at the main window's source items.
#pragma once

#include <QTreeWidget>
#include <cstdint>
#include <string>

#include "app/source_item.h"

namespace keltra {

class CDiskListUI : public QTreeWidget {
    Q_OBJECT

  public:
    explicit CDiskListUI(QWidget* parent = nullptr);

    // A disk row (tag: the disk number), identified by `identity` (its device node), kept above
    // the image group. Disk names come from the current language ("MSG0201" fixed, "MSG0202"
    // removable).
    QTreeWidgetItem* AddDisk(int diskNumber, const std::string& identity, bool removable);
    // A partition row of `source` under `disk`.
    QTreeWidgetItem* AddPartition(QTreeWidgetItem* disk, SourceItem* source);
    // A greyed disk row that cannot be selected: the device and why it cannot be read.
    void AddUnreadableDisk(const QString& device, const QString& reason);
    // An image row of `source` (made with the group row on first use).
    QTreeWidgetItem* AddImage(SourceItem* source, uint64_t sizeBytes);
    // The file system column of a row (an image of one volume names what it holds).
    static void ShowFileSystem(QTreeWidgetItem* row, const QString& fileSystem);
    // A row under `image` for `source`, a volume or stretch of the image's partition table.
    QTreeWidgetItem* AddImageVolume(QTreeWidgetItem* image, SourceItem* source);
    void SetImagesVisible(bool visible);
    // Takes an image row out, with its volume rows (and the group row after the last image).
    void RemoveImage(QTreeWidgetItem* imageRow);

    // The disk row of `identity`; null when it is not listed.
    QTreeWidgetItem* DiskRow(const std::string& identity) const;
    static std::string IdentityOf(const QTreeWidgetItem* diskRow);
    static bool IsRemovableRow(const QTreeWidgetItem* row);
    // The source behind a partition, image or image volume row; null for any other row.
    static SourceItem* SourceOf(const QTreeWidgetItem* item);
    // The entry behind a partition row of a disk; null for any other row.
    static const VolumeEntry* EntryOf(const QTreeWidgetItem* item);

    // The row chosen after a mode button: the first partition row of a removable disk, else
    // the second row shown when there is more than one.
    void SelectDefaultRow();

    // The file-system column as wide as its widest text (a file system, or why a disk cannot
    // be read), but never more than two fifths of the list, so that the names keep their room
    // in the smallest window; a text cut there shows whole as the row's tip.
    void FitColumns();

  signals:
    // "Remove from list" in an image or image volume row's context menu, or Delete on it.
    void RemoveImageAsked(QTreeWidgetItem* row);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The row is an image's or one of its volumes'.
    static bool IsImageRow(const QTreeWidgetItem* row);

    QTreeWidgetItem* imageGroup_ = nullptr;
};

}  // namespace keltra
