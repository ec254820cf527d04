// The source page's disk list ("DiskList"): a row per disk and, below it, a row per entry of
// the disk and partition list (volumes and unallocated stretches). Rows are 30 high, their
// texts row markup.
#pragma once

#include <QTreeWidget>
#include <vector>

#include "storage/volume_entry.h"

namespace keltra {

class CDiskListUI : public QTreeWidget {
    Q_OBJECT

  public:
    explicit CDiskListUI(QWidget* parent = nullptr);

    // Rebuilds the rows from the enumeration, in its order; disk names come from the current
    // language ("MSG0201" fixed, "MSG0202" removable).
    void Build(const DiskMap& disks);
    // The entry behind a partition row; null for a disk row.
    const VolumeEntry* EntryOf(const QTreeWidgetItem* item) const;
    // The row chosen after a mode button: the first partition row of a removable disk, else
    // the second row when there is more than one.
    void SelectDefaultRow();

  private:
    std::vector<VolumeEntry> entries_;  // indexed by the rows' entry role
};

}  // namespace keltra
