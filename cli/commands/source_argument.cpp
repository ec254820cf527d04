#include "cli/commands/source_argument.h"

#include <sys/stat.h>

#include <charconv>
#include <vector>

#include "platform/disk_names.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && !text.empty();
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

bool FillWholeDisk(SourceArgument& out, std::string& error) {
    SectorSource disk;
    if (const Status s = OpenDiskSource(disk, out.diskNumber); s != kOk) {
        error = "cannot open disk " + std::to_string(out.diskNumber) + ": " + StatusMessage(s);
        return false;
    }
    if (out.sectorCount == 0) out.sectorCount = disk.totalSectors - out.startSector;
    if (out.startSector >= disk.totalSectors ||
        out.sectorCount > disk.totalSectors - out.startSector) {
        error = "the range passes the end of disk " + std::to_string(out.diskNumber) + " (" +
                std::to_string(disk.totalSectors) + " sectors)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseSourceArgument(const std::string& text, SourceArgument& out, std::string& error) {
    out = {};
    out.text = text;
    if (text.rfind("disk:", 0) == 0) {
        const auto parts = Split(text.substr(5), ':');
        if ((parts.size() != 1 && parts.size() != 3) || !ParseNumber(parts[0], out.diskNumber) ||
            out.diskNumber < 0 ||
            (parts.size() == 3 &&
             (!ParseNumber(parts[1], out.startSector) || !ParseNumber(parts[2], out.sectorCount) ||
              out.sectorCount == 0))) {
            error = "bad source '" + text + "': expected disk:N or disk:N:START:COUNT";
            return false;
        }
        return FillWholeDisk(out, error);
    }
    struct stat st {};
    if (::stat(text.c_str(), &st) != 0) {
        error = "cannot open '" + text + "': " + StatusMessage(LastStatus());
        return false;
    }
    if (S_ISBLK(st.st_mode)) {
        if (const auto part = PartitionOfDevice(text)) {
            out.diskNumber = part->diskNumber;
            out.startSector = part->startSector;
            out.sectorCount = part->sectorCount;
            return FillWholeDisk(out, error);
        }
        if (const auto disk = DiskNumberOfDevice(text)) {
            out.diskNumber = *disk;
            return FillWholeDisk(out, error);
        }
        error = "'" + text + "' is not one of this machine's disks or partitions";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "'" + text + "' is neither an image file nor a disk";
        return false;
    }
    out.isImage = true;
    out.imagePath = text;
    return true;
}

}  // namespace keltra::cli
