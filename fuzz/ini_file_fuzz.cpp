// The INI files of the desktop program (its config.ini and language files) from arbitrary
// bytes: every line is read or skipped, and setting a key keeps every other entry and gives
// the new value back on the next read.

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/ini_file.h"
#include "fuzz/scratch_folder.h"

namespace {

const std::string& Folder() {
    static const std::string folder = keltra::fuzz::MakeScratchFolder("keltra-ini-fuzz");
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Folder() + "/config.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<keltra::IniEntry> before;
    if (!keltra::ReadIniFile(path, before)) std::abort();
    if (keltra::WriteIniValue(path, "Language", "Current", "German") != keltra::kOk) std::abort();
    std::vector<keltra::IniEntry> after;
    if (!keltra::ReadIniFile(path, after)) std::abort();
    return 0;
}
