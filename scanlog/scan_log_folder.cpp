#include "scanlog/scan_log_folder.h"

#include <fmt/format.h>

#include "platform/app_folders.h"
#include "platform/text.h"

namespace keltra {

std::string ScanLogFolder() {
    return ApplicationDataFolder() + "/KeltraPhotoRecovery/ScanLog";
}

std::string MakeLogName(std::string_view prefix, int64_t startSector, const LocalTimeFields& time) {
    const std::string name = fmt::format("{}{}_{}{}{}{}{:>2}", prefix, startSector, time.year,
                                         time.month, time.day, time.hour, time.minute);
    return std::string(Utf8Prefix(name, 259));
}

std::string MakeLogName(std::string_view prefix, int64_t startSector) {
    return MakeLogName(prefix, startSector, LocalTimeNow());
}

}  // namespace keltra
