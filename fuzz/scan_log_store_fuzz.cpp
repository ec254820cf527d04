// Reopening a scan log from arbitrary bytes: the first four bytes give the lengths of the
// relation and folder-info files, the rest is split between them and the main file. Every
// operation must end without a crash or a hang, and records appended after the reopen must
// continue the indices.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engines/scan_log_store.h"
#include "fuzz/scratch_folder.h"

namespace {

const std::string& Folder() {
    static const std::string folder = keltra::fuzz::MakeScratchFolder("keltra-store-fuzz");
    return folder;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    size_t relationBytes = data[0] | (data[1] << 8);
    size_t folderBytes = (data[2] | (data[3] << 8)) * 4;
    data += 4;
    size -= 4;
    relationBytes = std::min(relationBytes, size);
    folderBytes = std::min(folderBytes, size - relationBytes);
    const std::string main = Folder() + "/log";
    Write(main + "_Relation", data, relationBytes);
    Write(main + "_DirInfo", data + relationBytes, folderBytes);
    Write(main, data + relationBytes + folderBytes, size - relationBytes - folderBytes);

    uint32_t count = 0;
    {
        keltra::ScanLogStore store;
        if (store.OpenLog(Folder(), "log") != keltra::kOk) std::abort();
        std::vector<keltra::FoundRecord> out;
        IgnoreStatus(store.ListChildren(0, out), "any answer will do on arbitrary bytes");
        uint32_t files = 0;
        IgnoreStatus(store.CountFiles(0, files), "any answer will do on arbitrary bytes");
        for (const keltra::FoundRecord& r : out) {
            std::vector<keltra::FoundRecord> ancestors;
            IgnoreStatus(store.Ancestors(r, ancestors), "any answer will do on arbitrary bytes");
            IgnoreStatus(store.CountFiles(keltra::ParentKey(r.key, 1), files),
                         "any answer will do on arbitrary bytes");
        }
        out.clear();
        IgnoreStatus(store.SearchByExtension("*.jpg|*.mp3|*.doc|", out),
                     "any answer will do on arbitrary bytes");
        count = store.RecordCount();
        keltra::FoundRecord& added = store.NewRecord();
        if (added.recordIndex != count + 1) std::abort();
        added.isFolder = 1;
        added.key = 77;
        added.SetName("added");
        store.Link(keltra::ParentKey(1, 1), added.recordIndex, 77, "added");
        if (store.Flush() != keltra::kOk) std::abort();
    }
    keltra::ScanLogStore reopened;
    if (reopened.OpenLog(Folder(), "log") != keltra::kOk) std::abort();
    if (reopened.RecordCount() != count + 1) std::abort();
    keltra::FoundRecord folder;
    if (reopened.FindFolderRecord(77, folder) != keltra::kOk) std::abort();
    return 0;
}
