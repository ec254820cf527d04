// What the preview and the recovery of found files need of the window that shows them: the
// sources and their engines, the results, the current file and the listed ones.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/found_record.h"
#include "storage/volume_entry.h"

class QWidget;

namespace keltra {

class CResultsModel;
class ScanEngine;
struct SourceItem;

class ResultsView {
  public:
    virtual ~ResultsView() = default;

    // The window itself: the parent of the dialogs, and the holder of "PreviewEdit".
    virtual QWidget* Window() = 0;
    // The source whose engine stamps `tag` on its records; null when there is none.
    virtual SourceItem* SourceByTag(uint16_t tag) const = 0;
    // The engine that found `record`; null when its source is gone or not scanned.
    virtual ScanEngine* EngineOf(const FoundRecord& record) const = 0;
    // The sources of the last scan, in the order scanned.
    virtual const std::vector<SourceItem*>& ScannedSources() const = 0;
    // The partitions that have an engine, in source-list order.
    virtual std::vector<VolumeEntry> ScannedPartitions() const = 0;
    // The results shown; null when there are none.
    virtual CResultsModel* Results() const = 0;
    // The record of the file list's current row; null when no row is current.
    virtual const FoundRecord* SelectedRecord() const = 0;
    // The records of the file list's rows, in row order.
    virtual std::vector<FoundRecord> ListedRecords() const = 0;
};

}  // namespace keltra
