#include "cli/commands/source_argument.h"

#include <sys/stat.h>

#include <charconv>
#include <vector>

#include "platform/disk_names.h"
#include "storage/image_volumes.h"
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

// The image's volume as a source of its own.
SourceArgument VolumeSource(const SourceArgument& image, const VolumeEntry& volume) {
    SourceArgument out = image;
    out.startSector = volume.start;
    out.sectorCount = volume.length;
    out.partitionNumber = volume.partitionNumber;
    out.volumeName = ImageVolumeName(volume);
    out.text = image.text + "@" + std::to_string(volume.partitionNumber);
    return out;
}

// "IMAGE@N" or "IMAGE@START:COUNT", the image and the part already split.
bool ParseImagePart(const std::string& path, const std::string& part, SourceArgument& out,
                    std::string& error) {
    const std::string bad = "bad source '" + out.text +
                            "': expected IMAGE@N (a partition) or IMAGE@START:COUNT (sectors)";
    ImageVolumes image;
    if (const Status s = ListImageVolumes(path, image); s != kOk) {
        error = "cannot open '" + path + "': " + StatusMessage(s);
        return false;
    }
    SourceArgument whole = out;
    whole.isImage = true;
    whole.imagePath = path;
    whole.text = path;
    const auto parts = Split(part, ':');
    if (parts.size() == 2) {
        uint64_t start = 0, count = 0;
        if (!ParseNumber(parts[0], start) || !ParseNumber(parts[1], count) || count == 0) {
            error = bad;
            return false;
        }
        if (start >= image.totalSectors || count > image.totalSectors - start) {
            error = "the range passes the end of '" + path + "' (" +
                    std::to_string(image.totalSectors) + " sectors of 512 bytes)";
            return false;
        }
        out = whole;
        out.text += "@" + part;
        out.startSector = start;
        out.sectorCount = count;
        return true;
    }
    int number = 0;
    if (parts.size() != 1 || !ParseNumber(parts[0], number) || number < 1) {
        error = bad;
        return false;
    }
    if (image.tableType.empty()) {
        error = "'" + path + "'" +
                (image.problems.empty()
                     ? " holds no partition table; IMAGE@START:COUNT picks sectors of it"
                     : ": " + image.problems.front().Text());
        return false;
    }
    std::string numbers;
    for (const VolumeEntry& entry : image.entries) {
        if (entry.partitionNumber <= 0) continue;
        if (entry.partitionNumber == number) {
            out = VolumeSource(whole, entry);
            return true;
        }
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(entry.partitionNumber);
    }
    for (const ImageTableProblem& problem : image.problems) {
        if (problem.partition == number) {
            error = "'" + path + "': " + problem.Text();
            return false;
        }
    }
    error = "'" + path + "' has no partition " + std::to_string(number) +
            (numbers.empty() ? std::string(" (it has no usable partition)")
                             : "; its partitions: " + numbers);
    return false;
}

}  // namespace

std::vector<SourceArgument> ExpandImageVolumes(const SourceArgument& source,
                                               std::vector<std::string>& notes) {
    if (!source.IsWholeImage()) return {source};
    ImageVolumes image;
    if (ListImageVolumes(source.imagePath, image) != kOk) return {source};
    for (const ImageTableProblem& problem : image.problems) {
        notes.push_back("'" + source.text + "': " + problem.Text());
    }
    std::vector<SourceArgument> volumes;
    for (const VolumeEntry& entry : image.entries) {
        if (entry.partitionNumber <= 0) continue;
        volumes.push_back(VolumeSource(source, entry));
        volumes.back().inWholeImage = true;
    }
    if (volumes.empty()) return {source};
    return volumes;
}

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
        const Status missing = LastStatus();
        // A name that exists as written is never taken apart at its "@".
        const size_t at = text.rfind('@');
        if (at != std::string::npos && at > 0) {
            const std::string path = text.substr(0, at);
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                return ParseImagePart(path, text.substr(at + 1), out, error);
            }
        }
        error = "cannot open '" + text + "': " + StatusMessage(missing);
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
