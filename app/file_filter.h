// What the results page's filters let through: names holding a text (ignoring case), sizes in
// a range, dates in a range, and, when damaged files are hidden, only files whose first data
// passed the content check. The type tree's and the folder tree's counts, the list and "All"
// all follow it.
#pragma once

#include <QString>
#include <cstdint>
#include <limits>

#include "engines/found_record.h"

namespace keltra {

struct FileFilter {
    QString name;  // empty: any name
    uint64_t minSize = 0;
    uint64_t maxSize = std::numeric_limits<uint64_t>::max();
    bool hideDamaged = false;
    // FILETIMEs, both ends included. A file without a date passes only while the range is
    // open at both ends.
    uint64_t fromTime = 0;
    uint64_t toTime = std::numeric_limits<uint64_t>::max();

    bool DateLimited() const {
        return fromTime != 0 || toTime != std::numeric_limits<uint64_t>::max();
    }
    bool Active() const {
        return !name.isEmpty() || minSize != 0 || maxSize != std::numeric_limits<uint64_t>::max() ||
               hideDamaged || DateLimited();
    }
    // `date`: the file's date as the results know it (0: none).
    bool Passes(const FoundRecord& record, uint64_t date) const {
        if (record.size < minSize || record.size > maxSize) return false;
        if (DateLimited() && (date == 0 || date < fromTime || date > toTime)) return false;
        if (hideDamaged && record.contentIntact == 0) return false;
        return name.isEmpty() || QString::fromUtf8(record.Name()).contains(name, Qt::CaseInsensitive);
    }
};

}  // namespace keltra
