#include "scanlog/scan_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "platform/disk_names.h"
#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "platform/text.h"
#include "scanlog/scan_log_folder.h"
#include "scanlog/source_identity.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::string FromPathField(const char16_t (&field)[kHistoryPathChars]) {
    const char16_t* end = std::find(field, field + kHistoryPathChars, u'\0');
    return Utf16ToUtf8(std::u16string_view(field, static_cast<size_t>(end - field)));
}

// False when the path does not fit with its terminator.
bool ToPathField(const std::string& path, char16_t (&field)[kHistoryPathChars]) {
    const std::u16string wide = Utf8ToUtf16(path);
    if (wide.size() >= kHistoryPathChars) return false;
    std::fill(field, field + kHistoryPathChars, u'\0');
    std::copy(wide.begin(), wide.end(), field);
    return true;
}

std::string_view WithoutTrailingSlash(std::string_view path) {
    if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
    return path;
}

bool SameFolder(std::string_view a, std::string_view b) {
    a = WithoutTrailingSlash(a);
    b = WithoutTrailingSlash(b);
    return a.size() == b.size() && CompareNamesIgnoringCase(a, b) == 0;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

Status StatusOf(const std::error_code& ec) {
    return StatusFromErrno(ec.value(), true);
}

}  // namespace

std::string ScanHistoryRecord::ImagePath() const {
    return FromPathField(imagePath);
}
std::string ScanHistoryRecord::ScanFolder() const {
    return FromPathField(scanFolder);
}

uint64_t PartitionFreeBytes(int diskNumber, uint64_t firstSector) {
    std::optional<std::string> device = PartitionDeviceAt(diskNumber, firstSector);
    if (!device && firstSector == 0) device = DiskDevicePath(diskNumber);
    if (!device) return 0;
    const std::optional<std::string> mountPoint = MountPointOfDevice(*device);
    if (!mountPoint) return 0;
    struct statvfs info {};
    if (::statvfs(mountPoint->c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bfree) * info.f_frsize;
}

uint64_t FileWriteTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return FileTimeFromUnix(info.st_mtim.tv_sec, static_cast<uint32_t>(info.st_mtim.tv_nsec));
}

ScanHistory& ScanHistory::Instance() {
    static ScanHistory history(ScanLogFolder());
    return history;
}

ScanHistory::ScanHistory(std::string scanLogFolder) : folder_(std::move(scanLogFolder)) {
    IgnoreStatus(Load(), "a history that cannot be read is an empty one");
}

Status ScanHistory::UseFolder(std::string scanLogFolder) {
    folder_ = std::move(scanLogFolder);
    return Load();
}

Status ScanHistory::Load() {
    counter_ = 0;
    records_.clear();
    found_ = false;
    foundFolder_.clear();

    const std::string config = ConfigPath();
    const std::string temporary = config + ".tmp";
    std::error_code ec;
    if (!fs::exists(config, ec) && fs::exists(temporary, ec)) {
        // A save interrupted before its rename: the temporary file is the newest history.
        ::rename(temporary.c_str(), config.c_str());
    }
    FileHandle file;
    if (FileHandle::OpenForReading(config, file) != kOk) return kErrInvalidParameter;
    uint64_t size = 0;
    if (file.Size(size) != kOk) return kErrReadFault;
    if (size < kConfigHeaderBytes) return kErrInvalidParameter;
    std::vector<std::byte> bytes(static_cast<size_t>(size));
    size_t total = 0;
    while (total < bytes.size()) {
        size_t done = 0;
        if (file.ReadAt(total, std::span(bytes).subspan(total), done) != kOk) return kErrReadFault;
        if (done == 0) break;
        total += done;
    }
    if (total < kConfigHeaderBytes) return kErrReadFault;
    std::memcpy(&counter_, bytes.data(), sizeof(counter_));
    const size_t count = (total - kConfigHeaderBytes) / sizeof(ScanHistoryRecord);
    records_.resize(count);
    if (count != 0) {
        std::memcpy(records_.data(), bytes.data() + kConfigHeaderBytes,
                    count * sizeof(ScanHistoryRecord));
    }
    for (ScanHistoryRecord& r : records_) {
        r.imagePath[kHistoryPathChars - 1] = u'\0';
        r.scanFolder[kHistoryPathChars - 1] = u'\0';
    }
    return kOk;
}

Status ScanHistory::Save() {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) return StatusOf(ec);
    const std::string config = ConfigPath();
    const std::string temporary = config + ".tmp";
    std::vector<std::byte> bytes(kConfigHeaderBytes + records_.size() * sizeof(ScanHistoryRecord));
    std::memcpy(bytes.data(), &counter_, sizeof(counter_));
    if (!records_.empty()) {
        std::memcpy(bytes.data() + kConfigHeaderBytes, records_.data(),
                    records_.size() * sizeof(ScanHistoryRecord));
    }

    Status status;
    {
        FileHandle file;
        status = FileHandle::CreateForWriting(temporary, file);
        if (status == kOk) status = file.WriteAllAt(0, bytes);
        if (status == kOk) status = file.Flush();
    }
    if (status == kOk && ::rename(temporary.c_str(), config.c_str()) != 0) status = LastStatus();
    if (status != kOk) {
        ::unlink(temporary.c_str());
        return status;
    }
    SyncFolder(folder_);
    return kOk;
}

std::string ScanHistory::NumberedFolder(uint64_t number) const {
    return folder_ + "/" + std::to_string(number) + "/";
}

void ScanHistory::SetFound(long index) {
    found_ = index >= 0;
    foundFolder_ = found_ ? records_[static_cast<size_t>(index)].ScanFolder() : std::string();
}

long ScanHistory::FindPartitionIndex(int diskNumber, uint64_t firstSector, uint64_t sectorCount) {
    const uint64_t freeBytes = PartitionFreeBytes(diskNumber, firstSector);
    for (size_t i = 0; i < records_.size(); ++i) {
        const ScanHistoryRecord& r = records_[i];
        if (r.diskNumber != static_cast<uint32_t>(diskNumber) || r.firstSector != firstSector ||
            r.sectorCount != sectorCount) {
            continue;
        }
        if (r.freeBytes != freeBytes) {
            return Refuse(i, "the volume has changed since (its free space differs)");
        }
        return KeepIfSameSource(i, IdentifyDiskSource(diskNumber, firstSector, sectorCount));
    }
    return -1;
}

long ScanHistory::FindImageIndex(const std::string& imagePath, uint64_t firstSector,
                                 uint64_t sectorCount) {
    const uint64_t writeTime = FileWriteTime(imagePath);
    for (size_t i = 0; i < records_.size(); ++i) {
        const ScanHistoryRecord& r = records_[i];
        if (r.ImagePath() != imagePath || r.firstSector != firstSector) continue;
        if (firstSector != 0 && r.sectorCount != sectorCount) continue;
        if (r.imageWriteTime != writeTime) {
            return Refuse(i, "the image file has changed since (its last-write time differs)");
        }
        return KeepIfSameSource(i, IdentifyImageSource(imagePath, firstSector, sectorCount));
    }
    return -1;
}

long ScanHistory::KeepIfSameSource(size_t index, const std::optional<SourceIdentity>& current) {
    const ScanHistoryRecord& r = records_[index];
    const std::optional<SourceIdentity> earlier = ReadSourceIdentity(r.ScanFolder(), "");
    if (earlier && current) {
        if (*earlier == *current) return static_cast<long>(index);
        return Refuse(index, "it was made on another volume: " + earlier->Describe());
    }
    // A scan remembered by an earlier version names no volume (and a source that cannot be
    // read now cannot be told by its volume): only the very same place and length are taken.
    if (current && r.sectorCount != current->sectorCount) {
        return Refuse(index, "it covered " + std::to_string(r.sectorCount) +
                                 " sectors, the source now has " +
                                 std::to_string(current->sectorCount));
    }
    return static_cast<long>(index);
}

long ScanHistory::Refuse(size_t index, std::string why) {
    refusal_ =
        "the earlier deep scan is not continued: " + std::move(why) + "; the scan starts afresh";
    IgnoreStatus(ForgetScan(records_[index].ScanFolder()),
                 "the scan starts afresh in a new folder; this one is never opened again");
    return -1;
}

bool ScanHistory::FindPartitionScan(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                                    ScanHistoryRecord& out) {
    refusal_.clear();
    const long index = FindPartitionIndex(diskNumber, firstSector, sectorCount);
    SetFound(index);
    if (index >= 0) out = records_[static_cast<size_t>(index)];
    return found_;
}

bool ScanHistory::FindImageScan(const std::string& imagePath, ScanHistoryRecord& out,
                                uint64_t firstSector, uint64_t sectorCount) {
    refusal_.clear();
    const long index = imagePath.empty() ? -1 : FindImageIndex(imagePath, firstSector, sectorCount);
    SetFound(index);
    if (index >= 0) out = records_[static_cast<size_t>(index)];
    return found_;
}

bool ScanHistory::FindScan(const SourceRef& source, ScanHistoryRecord& out) {
    if (!source.IsImage()) {
        return FindPartitionScan(source.diskNumber, source.startSector, source.sectorCount, out);
    }
    return FindImageScan(source.imagePath, out, source.startSector, source.sectorCount);
}

void ScanHistory::NewScanFolder() {
    ++counter_;
    SetFound(-1);
    IgnoreStatus(ForgetScan(NumberedFolder(counter_)),
                 "new logs are made afresh; older files left in the folder are never opened");
}

std::string ScanHistory::CurrentScanFolder() const {
    return found_ ? foundFolder_ : NumberedFolder(counter_);
}

void ScanHistory::GiveBackFolderNumber() {
    if (counter_ > 0) --counter_;
}

Status ScanHistory::SaveScanState(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                                  const DeepScanState& state, const std::string& scanFolder,
                                  const std::string& imagePath) {
    const bool image = !imagePath.empty();
    const long index = image ? FindImageIndex(imagePath, firstSector, sectorCount)
                             : FindPartitionIndex(diskNumber, firstSector, sectorCount);
    SetFound(index);
    if (index >= 0) {
        // A folder of an earlier version stays unmarked: its logs are known by their names.
        records_[static_cast<size_t>(index)].state = state;
        return Save();
    }
    ScanHistoryRecord r{};
    r.diskNumber = static_cast<uint32_t>(diskNumber);
    r.firstSector = firstSector;
    r.sectorCount = sectorCount;
    r.state = state;
    if (image) {
        r.imageWriteTime = FileWriteTime(imagePath);
        if (!ToPathField(imagePath, r.imagePath)) return kErrFilenameTooLong;
    } else {
        r.freeBytes = PartitionFreeBytes(diskNumber, firstSector);
    }
    if (!ToPathField(scanFolder, r.scanFolder)) return kErrFilenameTooLong;
    // The folder names its source, so that a later lookup takes it up for this source only.
    // Where that cannot be written (no logs made the folder) the record is kept all the same,
    // and a later lookup holds it to the very same place and length.
    const std::optional<SourceIdentity> identity =
        image ? IdentifyImageSource(imagePath, firstSector, sectorCount)
              : IdentifyDiskSource(diskNumber, firstSector, sectorCount);
    if (identity) static_cast<void>(WriteSourceIdentity(scanFolder, "", *identity));
    records_.push_back(r);
    return Save();
}

Status ScanHistory::ForgetScan(const std::string& scanFolder) {
    const auto it = std::find_if(records_.begin(), records_.end(), [&](const ScanHistoryRecord& r) {
        return SameFolder(r.ScanFolder(), scanFolder);
    });
    if (it != records_.end()) records_.erase(it);

    // Only a numbered folder of our own is deleted, whatever path a damaged config holds.
    const std::string_view folder = WithoutTrailingSlash(scanFolder);
    const std::string prefix = folder_ + "/";
    if (folder.size() <= prefix.size() || !folder.starts_with(prefix)) return kOk;
    const std::string_view number = folder.substr(prefix.size());
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return kOk;
    }
    std::error_code ec;
    const fs::path path{std::string(folder)};
    if (!fs::is_directory(fs::symlink_status(path, ec))) return kOk;
    fs::remove_all(path, ec);
    return ec ? StatusOf(ec) : kOk;
}

Status ScanHistory::FindLogFile(std::string_view prefix, const std::string& folder,
                                std::string& name) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return StatusOf(ec);
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (!entry.starts_with('.')) names.push_back(std::move(entry));
    }
    if (ec) return StatusOf(ec);
    std::sort(names.begin(), names.end());
    for (const std::string& entry : names) {
        if (entry.find(prefix) != std::string::npos) {
            name = entry;
            return kOk;
        }
    }
    return kErrFileNotFound;
}

}  // namespace keltra
