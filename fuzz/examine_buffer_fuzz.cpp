// The deep scan over an arbitrary small disk held in memory: the quick engine that the boot
// area picks, then the pass, whose every chunk goes through ExamineBuffer (FILE records, FAT
// folder starts and directory sectors, carving), then the folders of both searches and the
// root listing. The first input byte picks how soon the progress callback stops the scan.
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "engines/deep/deep_scan.h"
#include "fuzz/scratch_folder.h"
#include "scanlog/scan_history.h"

namespace {

using namespace keltra;

// The scan history and the image live in a private folder in memory; the history is made
// there by pointing the data folder at it before its first use.
const std::string& Folder() {
    static const std::string folder = [] {
        std::string made = fuzz::MakeScratchFolder("keltra-examine-fuzz");
        ::setenv("XDG_DATA_HOME", made.c_str(), 1);
        return made;
    }();
    return folder;
}

struct StopAfter {
    int calls = 0;
    int limit = 0;  // 0: never
    static int OnProgress(void* user, int, int, int, uint64_t, uint64_t, uint64_t, int) {
        auto* self = static_cast<StopAfter*>(user);
        return self->limit != 0 && ++self->calls >= self->limit ? kCancelled : 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (256u << 10)) return 0;
    const std::string image = Folder() + "/disk.img";
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    StopAfter stop{0, data[0] & 7};
    std::string scanFolder;
    {
        DeepScan deep;
        if (deep.Open(SourceRef::Image(image, 1)) == kErrHandleEof) return 0;
        deep.SetCallbacks(&StopAfter::OnProgress, nullptr, &stop, 100);
        deep.Scan(std::nullopt);
        scanFolder = ScanHistory::Instance().CurrentScanFolder();
        std::vector<FoundRecord> root;
        deep.ListFolder(nullptr, 0, root);
        int folders = 0;
        for (const FoundRecord& r : root) {
            if (r.isFolder == 0 || ++folders > 8) continue;
            std::vector<FoundRecord> children;
            deep.ListFolder(&r, 1, children);
            std::string path;
            if (!children.empty()) deep.GetRecordPath(children.front(), path);
        }
        std::vector<FoundRecord> found;
        deep.FindByExtensions("jpg;png;txt", found);
    }
    // Every input starts a new scan: the one just made is forgotten with its folder.
    ScanHistory::Instance().ForgetScan(scanFolder);
    return 0;
}
