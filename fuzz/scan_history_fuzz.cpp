// Loading a scan history `config` from arbitrary bytes: only whole records are taken, the
// counter comes back, and a save followed by a load gives the same history.

#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/scratch_folder.h"
#include "scanlog/scan_history.h"

namespace {

const std::string& Folder() {
    static const std::string folder = keltra::fuzz::MakeScratchFolder("keltra-history-fuzz");
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(Folder() + "/config", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    keltra::ScanHistory history(Folder());
    const size_t expected =
        size < keltra::kConfigHeaderBytes
            ? 0
            : (size - keltra::kConfigHeaderBytes) / sizeof(keltra::ScanHistoryRecord);
    if (history.Records().size() != expected) std::abort();
    for (const keltra::ScanHistoryRecord& r : history.Records()) {
        (void)r.ImagePath();
        (void)r.ScanFolder();
    }
    keltra::ScanHistoryRecord found{};
    history.FindImageScan("/nonexistent/image.img", found);
    history.CurrentScanFolder();
    if (history.Save() != keltra::kOk) std::abort();
    keltra::ScanHistory reloaded(Folder());
    if (reloaded.Records().size() != history.Records().size() ||
        reloaded.FolderCounter() != history.FolderCounter()) {
        std::abort();
    }
    return 0;
}
