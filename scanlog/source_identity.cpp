#include "scanlog/source_identity.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/disk_names.h"
#include "platform/file_handle.h"
#include "platform/little_endian.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeaderLine = "keltra source 1";
// What the fingerprint is taken from.
constexpr size_t kFingerprintBytes = 16384;
// Where an ext superblock lies in its volume, and its fields.
constexpr size_t kExtSuperblock = 1024;
constexpr size_t kExtMagicAt = kExtSuperblock + 0x38;
constexpr size_t kExtUuidAt = kExtSuperblock + 0x68;
constexpr uint16_t kExtMagic = 0xEF53;
constexpr uint8_t kExtendedBootSignature = 0x29;

std::string Hex(std::span<const std::byte> bytes) {
    std::string text;
    for (std::byte b : bytes) text += fmt::format("{:02X}", std::to_integer<unsigned>(b));
    return text;
}

uint64_t Fnv1a(std::span<const std::byte> bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::byte b : bytes) {
        hash ^= std::to_integer<uint64_t>(b);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string CompanionPath(const std::string& folder, const std::string& logName) {
    return (fs::path(folder) / (logName.empty() ? std::string(kFolderSourceFile)
                                                : logName + std::string(kLogSourceSuffix)))
        .string();
}

bool IsCompanion(std::string_view name) {
    for (std::string_view suffix :
         {std::string_view("_Relation"), std::string_view("_DirInfo"), kLogSourceSuffix}) {
        if (name.ends_with(suffix)) return true;
    }
    return false;
}

// The first sector a log's name holds after its prefix ("Fast_2048_..." or
// "Fast_ExFat_2048_..." for the prefix "Fast_").
std::optional<int64_t> NamedFirstSector(std::string_view name, std::string_view prefix) {
    const size_t at = name.find(prefix);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = name.substr(at + prefix.size());
    if (!rest.empty() && rest.front() != '-' && (rest.front() < '0' || rest.front() > '9')) {
        const size_t underscore = rest.find('_');
        if (underscore == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(underscore + 1);
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (ec != std::errc() || end == rest.data() || end == rest.data() + rest.size() ||
        *end != '_') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string SourceIdentity::Text() const {
    return fmt::format("{}\ndevice {}\nfirst {}\ncount {}\nsector {}\nfingerprint {}\n",
                       kHeaderLine, device, firstSector, sectorCount, sectorSize, fingerprint);
}

std::optional<SourceIdentity> SourceIdentity::FromText(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::string line;
    if (!std::getline(in, line) || line != kHeaderLine) return std::nullopt;
    SourceIdentity identity;
    int fields = 0;
    auto number = [](std::string_view value, auto& out) {
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
        return ec == std::errc() && end == value.data() + value.size();
    };
    while (std::getline(in, line)) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) return std::nullopt;
        const std::string_view key = std::string_view(line).substr(0, blank);
        const std::string_view value = std::string_view(line).substr(blank + 1);
        bool ok = true;
        if (key == "device") {
            identity.device = std::string(value);
        } else if (key == "first") {
            ok = number(value, identity.firstSector);
        } else if (key == "count") {
            ok = number(value, identity.sectorCount);
        } else if (key == "sector") {
            ok = number(value, identity.sectorSize);
        } else if (key == "fingerprint") {
            identity.fingerprint = std::string(value);
        } else {
            continue;  // a field of a later version
        }
        if (!ok) return std::nullopt;
        ++fields;
    }
    if (fields != 5) return std::nullopt;
    return identity;
}

std::string SourceIdentity::Describe() const {
    std::string text =
        fmt::format("'{}', sectors {} to {}", device, firstSector, firstSector + sectorCount - 1);
    if (fingerprint.starts_with("serial:")) {
        text += ", volume serial " + fingerprint.substr(fingerprint.find(':', 7) + 1);
    }
    return text;
}

std::string VolumeFingerprint(std::span<const std::byte> first) {
    if (first.size() >= 512) {
        if (BytesEqual(first, 3, "NTFS    ")) return "serial:ntfs:" + Hex(first.subspan(0x48, 8));
        if (BytesEqual(first, 3, "EXFAT   ")) return "serial:exfat:" + Hex(first.subspan(0x64, 4));
        if (BytesEqual(first, 0x52, "FAT32   ") && Byte(first, 0x42) == kExtendedBootSignature) {
            return "serial:fat:" + Hex(first.subspan(0x43, 4));
        }
        if (BytesEqual(first, 0x36, "FAT") && Byte(first, 0x26) == kExtendedBootSignature) {
            return "serial:fat:" + Hex(first.subspan(0x27, 4));
        }
    }
    if (first.size() >= kExtUuidAt + 16 && Le16(first, kExtMagicAt) == kExtMagic) {
        return "serial:ext:" + Hex(first.subspan(kExtUuidAt, 16));
    }
    return fmt::format("head:{:016X}", Fnv1a(first));
}

SourceIdentity IdentifySource(const SectorSource& source, std::string device, uint64_t firstSector,
                              uint64_t sectorCount, uint32_t sectorSize) {
    SourceIdentity identity;
    identity.device = std::move(device);
    identity.firstSector = firstSector;
    identity.sectorCount = sectorCount != 0 || firstSector >= source.totalSectors
                               ? sectorCount
                               : source.totalSectors - firstSector;
    identity.sectorSize = sectorSize;
    std::vector<std::byte> head;
    if (sectorSize != 0 && firstSector < source.totalSectors) {
        const uint64_t wanted =
            std::min<uint64_t>({kFingerprintBytes / sectorSize, identity.sectorCount,
                                source.totalSectors - firstSector});
        head.resize(static_cast<size_t>(wanted) * sectorSize);
        uint32_t read = 0;
        if (ReadSectors(source, static_cast<uint32_t>(wanted), head, firstSector,
                        static_cast<int>(sectorSize), read) != kOk) {
            head.resize(static_cast<size_t>(read) * sectorSize);
        }
    }
    identity.fingerprint = VolumeFingerprint(head);
    return identity;
}

std::optional<SourceIdentity> IdentifyImageSource(const std::string& imagePath,
                                                  uint64_t firstSector, uint64_t sectorCount) {
    SectorSource source;
    if (OpenImageSource(source, imagePath) != kOk) return std::nullopt;
    return IdentifySource(source, imagePath, firstSector, sectorCount, kImageSectorSize);
}

std::string DiskIdentityName(int diskNumber) {
    return DiskDevicePath(diskNumber).value_or("disk:" + std::to_string(diskNumber));
}

std::optional<SourceIdentity> IdentifyDiskSource(int diskNumber, uint64_t firstSector,
                                                 uint64_t sectorCount) {
    SectorSource source;
    if (OpenDiskSource(source, diskNumber) != kOk) return std::nullopt;
    return IdentifySource(source, DiskIdentityName(diskNumber), firstSector, sectorCount,
                          ReportedSectorSize(source));
}

Status WriteSourceIdentity(const std::string& folder, const std::string& logName,
                           const SourceIdentity& identity) {
    const std::string text = identity.Text();
    FileHandle file;
    if (const Status s = FileHandle::CreateForWriting(CompanionPath(folder, logName), file);
        s != kOk) {
        return s;
    }
    return file.WriteAllAt(0, std::as_bytes(std::span(text)));
}

std::optional<SourceIdentity> ReadSourceIdentity(const std::string& folder,
                                                 const std::string& logName) {
    FileHandle file;
    if (FileHandle::OpenForReading(CompanionPath(folder, logName), file) != kOk) {
        return std::nullopt;
    }
    uint64_t size = 0;
    // An identity is a few lines; anything large is not one.
    if (file.Size(size) != kOk || size > 8192) return std::nullopt;
    std::string text(static_cast<size_t>(size), '\0');
    size_t done = 0;
    if (file.ReadAt(0, std::as_writable_bytes(std::span(text)), done) != kOk) return std::nullopt;
    text.resize(done);
    return SourceIdentity::FromText(text);
}

std::optional<std::string> FindSourceLog(std::string_view prefix, const std::string& folder,
                                         const SourceIdentity& identity, bool trustUnmarked) {
    std::error_code ec;
    std::vector<std::string> logs;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.starts_with('.') && name.find(prefix) != std::string::npos &&
            !IsCompanion(name)) {
            logs.push_back(std::move(name));
        }
    }
    std::sort(logs.begin(), logs.end());
    std::optional<std::string> unmarked;
    for (const std::string& name : logs) {
        const std::optional<SourceIdentity> owner = ReadSourceIdentity(folder, name);
        if (owner) {
            if (*owner == identity) return name;
            continue;
        }
        std::error_code exists;
        if (fs::exists(CompanionPath(folder, name), exists)) continue;  // unreadable: not ours
        if (!unmarked && trustUnmarked &&
            NamedFirstSector(name, prefix) == static_cast<int64_t>(identity.firstSector)) {
            unmarked = name;
        }
    }
    return unmarked;
}

}  // namespace keltra
