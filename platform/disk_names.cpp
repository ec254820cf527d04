#include "platform/disk_names.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace keltra {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

unsigned long long ReadNumber(const fs::path& path) {
    try {
        return std::stoull(ReadLine(path));
    } catch (...) {
        return 0;
    }
}

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// "sda" < "sdb" < "sdaa"; "nvme0n1" < "nvme0n2" < "nvme0n10": runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const std::string da = a.substr(i, ie - i), db = b.substr(j, je - j);
            const std::string ta = da.substr(std::min(da.find_first_not_of('0'), da.size()));
            const std::string tb = db.substr(std::min(db.find_first_not_of('0'), db.size()));
            if (ta.size() != tb.size()) return ta.size() < tb.size();
            if (ta != tb) return ta < tb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string KernelName(const std::string& devicePath) {
    std::error_code ec;
    const fs::path real = fs::canonical(devicePath, ec);
    return (ec ? fs::path(devicePath) : real).filename().string();
}

}  // namespace

std::vector<WholeDisk> ListWholeDisks(const std::string& sysBlock) {
    std::vector<WholeDisk> disks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
        const std::string name = entry.path().filename().string();
        if (StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "sr")) {
            continue;
        }
        const bool loop = StartsWith(name, "loop");
        if (loop && ReadLine(entry.path() / "loop" / "backing_file").empty()) continue;
        if (ReadNumber(entry.path() / "size") == 0) continue;
        disks.push_back({name, "/dev/" + name});
    }
    std::sort(disks.begin(), disks.end(), [](const WholeDisk& a, const WholeDisk& b) {
        const bool la = StartsWith(a.name, "loop"), lb = StartsWith(b.name, "loop");
        if (la != lb) return lb;
        return NaturalLess(a.name, b.name);
    });
    return disks;
}

std::optional<std::string> DiskDevicePath(int diskNumber) {
    if (diskNumber < 0) return std::nullopt;
    const auto disks = ListWholeDisks();
    if (static_cast<size_t>(diskNumber) >= disks.size()) return std::nullopt;
    return disks[static_cast<size_t>(diskNumber)].devicePath;
}

std::optional<int> DiskNumberOfDevice(const std::string& devicePath) {
    const std::string name = KernelName(devicePath);
    const auto disks = ListWholeDisks();
    for (size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].name == name) return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<PartitionPlace> PartitionOfDevice(const std::string& devicePath) {
    const std::string name = KernelName(devicePath);
    const fs::path part = fs::path("/sys/class/block") / name;
    std::error_code ec;
    if (!fs::exists(part / "partition", ec)) return std::nullopt;
    const fs::path parent = fs::canonical(part, ec).parent_path();
    if (ec) return std::nullopt;
    const auto disk = DiskNumberOfDevice("/dev/" + parent.filename().string());
    if (!disk) return std::nullopt;
    // sysfs counts in 512-byte units whatever the logical sector size.
    unsigned long long logical = ReadNumber(parent / "queue" / "logical_block_size");
    if (logical < 512) logical = 512;
    const unsigned long long per = logical / 512;
    return PartitionPlace{*disk, ReadNumber(part / "start") / per, ReadNumber(part / "size") / per};
}

}  // namespace keltra
