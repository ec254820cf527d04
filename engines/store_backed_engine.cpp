#include "engines/store_backed_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <unordered_set>

#include "engines/copy_check.h"
#include "engines/extension_categories.h"
#include "engines/safe_name.h"
#include "platform/safe_create.h"
#include "scanlog/scan_log_folder.h"
#include "scanlog/source_identity.h"

namespace keltra {
namespace {

// Creates the folder with every missing level; a folder (or file) already there is no error.
Status CreateFolders(const std::string& path) {
    if (path.empty()) return kOk;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec && ec.value() != EEXIST) return StatusFromErrno(ec.value(), true);
    return kOk;
}

// "/" and "\" in the path, its last character not counted.
int SeparatorCount(const std::string& path) {
    if (path.empty()) return 0;
    return static_cast<int>(
        std::count_if(path.begin(), path.end() - 1, [](char c) { return c == '/' || c == '\\'; }));
}

// Opens (making it when missing) the folder `name` inside `parent` for a found child folder. A
// child folder joins a folder of its name; when the name is taken by a file or a link, the
// first free name(n) is made instead. `taken` gets the name used.
Status OpenChildFolder(const FolderHandle& parent, const std::string& name, FolderHandle& out,
                       std::string& taken) {
    Status first = kOk;
    for (int n = 0; n < 10000; ++n) {
        std::string candidate = n == 0 ? name : name + "(" + std::to_string(n) + ")";
        const Status s = parent.OpenBelow(candidate, true, out);
        if (s == kOk) {
            taken = std::move(candidate);
            return kOk;
        }
        if (n == 0) first = s;
    }
    return first;
}

int PercentOf(uint64_t done, uint64_t total) {
    return total == 0 ? 100 : static_cast<int>(done * 100 / total);
}

}  // namespace

std::string_view PreviewFileName(std::string_view recordName) {
    const std::string_view extension = ExtensionOf(recordName);
    if (ExtensionInList(extension, kAudioExtensions) ||
        ExtensionInList(extension, kVideoExtensions)) {
        return "tmp.avi";
    }
    if (ExtensionInList(extension, kPhotoExtensions)) return "tmp.jpg";
    return {};
}

Status StoreBackedEngine::Open(const SourceRef& ref) {
    identity_.reset();
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    if (const Status s = OpenReferencedSource(ref, source, sectorSize); s != kOk) return s;
    // An image whole is all of its sectors; a partition of length 0 keeps it (the rest of the
    // disk, as its engine takes it).
    const uint64_t sectors =
        ref.kind == SourceRef::Kind::Image ? source.totalSectors : ref.sectorCount;
    const std::string device = ref.IsImage() ? ref.imagePath : DiskIdentityName(ref.diskNumber);
    identity_ = IdentifySource(source, device, ref.startSector, sectors, sectorSize);
    return OpenSource(std::move(source), sectorSize, ref.startSector, sectors, ref.tag);
}

void StoreBackedEngine::SetCallbacks(ScanProgressCallback scanProgress,
                                     CopyProgressCallback copyProgress, void* user, int weight) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    user_ = user;
    weight_ = weight;
}

int StoreBackedEngine::ReportScanProgress(int percent, int secondsLeft, uint64_t currentSector,
                                          uint64_t totalSectors, uint64_t filesFound) {
    if (scanProgress_ == nullptr) return 0;
    return scanProgress_(user_, percent, weight_, secondsLeft, currentSector, totalSectors,
                         filesFound, 0);
}

Status StoreBackedEngine::StartNewLog(const std::string& folder, const std::string& logName) {
    store_.reset();
    store_ = std::make_unique<ScanLogStore>();
    store_->SetSearchCallback(searchCallback_, searchUser_);
    std::string unused = logName;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::path(folder) / unused, ec); ++n) {
        unused = logName + "_" + std::to_string(n);
    }
    const Status status = store_->OpenLog(folder, unused);
    // The log names its source, so that no other source's scan ever takes it up.
    if (status == kOk && identity_) return WriteSourceIdentity(folder, unused, *identity_);
    return status;
}

Status StoreBackedEngine::ReopenLog(const std::string& folder, const std::string& logName) {
    store_.reset();
    store_ = std::make_unique<ScanLogStore>();
    store_->SetSearchCallback(searchCallback_, searchUser_);
    return store_->OpenLog(folder, logName);
}

void StoreBackedEngine::CloseLog() {
    store_.reset();
}

Status StoreBackedEngine::FolderParentKey(const FoundRecord* folder, int depth,
                                          uint64_t& key) const {
    if (depth < 0 || (folder == nullptr && depth != 0)) return kErrInvalidParameter;
    const uint32_t folderKey = folder != nullptr && folder->key != 0 ? folder->key : RootKey();
    key = ParentKey(folderKey, static_cast<uint32_t>(depth));
    return kOk;
}

Status StoreBackedEngine::ListFolder(const FoundRecord* folder, int depth,
                                     std::vector<FoundRecord>& out) {
    uint64_t key = 0;
    if (const Status s = FolderParentKey(folder, depth, key); s != kOk) return s;
    if (store_ == nullptr) return kOk;
    IgnoreStatus(store_->Flush(),
                 "a failed write leaves the records buffered, where the listing finds them");
    return store_->ListChildren(key, out);
}

Status StoreBackedEngine::CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) {
    uint64_t key = 0;
    if (const Status s = FolderParentKey(folder, depth, key); s != kOk) return s;
    count = 0;
    if (store_ == nullptr) return kOk;
    IgnoreStatus(store_->Flush(),
                 "a failed write leaves the records buffered, where the count finds them");
    return store_->CountFiles(key, count);
}

uint64_t StoreBackedEngine::GetRecordCount() {
    return store_ == nullptr ? 0 : store_->RecordCount();
}

uint64_t StoreBackedEngine::GetFileCount() {
    if (store_ == nullptr) return 0;
    uint32_t count = 0;
    // A log that cannot be read back counts the files read before the error: a progress figure.
    if (store_->FileCount(count) != kOk) return count;
    return count;
}

Status StoreBackedEngine::GetRecordPath(const FoundRecord& record, std::string& path) {
    path.clear();
    if (store_ == nullptr) return kOk;
    std::vector<FoundRecord> folders;
    const Status s = store_->Ancestors(record, folders);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        path += it->Name();
        path += '/';
    }
    return s;
}

Status StoreBackedEngine::RecoverRecord(const FoundRecord& record, const std::string& destination,
                                        int rootSeparators) {
    // Everything below the destination folder is made through descriptors, never through a
    // link that may lie (or be planted) in the way.
    // The destination folder itself is the caller's choice and is made as named.
    const SplitDestination split = SplitAtRoot(destination, rootSeparators);
    FolderHandle root;
    if (const Status s = CreateFolders(split.root); s != kOk) return s;
    if (const Status s = FolderHandle::OpenRoot(split.root, root); s != kOk) return s;
    if (record.isFolder == 0) {
        const size_t slash = split.relative.find_last_of('/');
        const std::string parent =
            slash == std::string::npos ? std::string() : split.relative.substr(0, slash);
        FolderHandle folder;
        if (const Status s = root.OpenBelow(parent, true, folder); s != kOk) {
            NotifyCopy(100, s, destination);
            return s;
        }
        const size_t pathEnd = destination.find_last_of('/');
        return CopyFile(
            record, folder,
            slash == std::string::npos ? split.relative : split.relative.substr(slash + 1),
            pathEnd == std::string::npos ? std::string(".") : destination.substr(0, pathEnd));
    }
    FolderHandle folder;
    if (const Status s = root.OpenBelow(split.relative, true, folder); s != kOk) return s;
    return CopyFolderTree(record, folder, destination, rootSeparators);
}

Status StoreBackedEngine::CopyFolderTree(const FoundRecord& folder, const FolderHandle& top,
                                         const std::string& destination, int rootSeparators) {
    struct WorkItem {
        FoundRecord folder;
        std::string target;
    };
    std::deque<WorkItem> work{{folder, destination}};
    std::unordered_set<uint64_t> walked;
    Status result = kOk;
    std::vector<FoundRecord> children;
    while (!work.empty()) {
        const WorkItem item = std::move(work.front());
        work.pop_front();
        const int depth = SeparatorCount(item.target) - rootSeparators;
        uint64_t key = 0;
        if (FolderParentKey(&item.folder, depth, key) == kOk && !walked.insert(key).second) {
            continue;  // a corrupt log listing one folder twice
        }
        // Each folder is opened from the top one when its turn comes, so that a wide tree never
        // holds a descriptor per waiting folder.
        FolderHandle here;
        const std::string_view relative =
            std::string_view(item.target)
                .substr(std::min(item.target.size(), destination.size() + 1));
        if (const Status s = top.OpenBelow(relative, false, here); s != kOk) {
            if (result == kOk) result = s;
            continue;
        }
        children.clear();
        if (const Status s = ListFolder(&item.folder, depth, children); s != kOk) {
            if (result == kOk) result = s;
            continue;
        }
        for (const FoundRecord& child : children) {
            const std::string name = SafePathComponent(child.Name());
            if (child.isFolder != 0) {
                FolderHandle made;
                std::string taken;
                if (OpenChildFolder(here, name, made, taken) != kOk) continue;
                work.push_back({child, item.target + "/" + taken});
                continue;
            }
            if (CopyFile(child, here, name, item.target) == kCancelled) return kCancelled;
        }
    }
    return result;
}

int StoreBackedEngine::NotifyCopy(int percent, Status error, const std::string& destination) {
    return copyProgress_ == nullptr ? 0 : copyProgress_(user_, percent, 100, error, destination);
}

Status StoreBackedEngine::CopyFile(const FoundRecord& record, const FolderHandle& folder,
                                   const std::string& name, const std::string& folderPath) {
    FileHandle out;
    std::string taken;
    const Status created = folder.CreateNewFile(name, out, taken);
    const std::string destinationPath = folderPath + "/" + (created == kOk ? taken : name);
    auto notify = [&](int percent, Status error) {
        return NotifyCopy(percent, error, destinationPath);
    };
    if (created != kOk) {
        notify(100, created);
        return created;
    }
    const uint64_t size = record.size;
    if (size == 0) {
        const int answer = notify(100, kOk);
        return answer != 0 ? answer : kOk;
    }
    uint64_t done = 0;
    int stopAnswer = 0;
    Status s = ReadFileData(record, size, [&](std::span<const std::byte> piece) -> Status {
        piece = piece.first(std::min<uint64_t>(piece.size(), size - done));
        if (piece.empty()) return kOk;
        if (const Status w = out.WriteAllAt(done, piece); w != kOk) return w;
        done += piece.size();
        // 100 is told once, with the outcome, when the copy has been checked.
        if (done == size) return kOk;
        stopAnswer = notify(std::min(PercentOf(done, size), 99), kOk);
        return stopAnswer;
    });
    if (stopAnswer != 0 && s == stopAnswer) return s;
    // Bytes that fail the test the found file passed are not the file: a failure, not a copy.
    if (s == kOk && (DataForm(record) & kDataEncrypted) == 0 &&
        !CopyPassesContentCheck(record, out, done)) {
        s = kErrFileCorrupt;
    }
    const int answer = notify(100, s);
    if (s == kOk && answer != 0) return answer;
    return s;
}

void StoreBackedEngine::SetSearchCallback(SearchProgressCallback callback, void* user) {
    searchCallback_ = callback;
    searchUser_ = user;
    if (store_ != nullptr) store_->SetSearchCallback(callback, user);
}

Status StoreBackedEngine::FindByExtensions(const std::string& extensions,
                                           std::vector<FoundRecord>& out) {
    if (store_ == nullptr) return kOk;
    return store_->SearchByExtension(extensions, out);
}

Status StoreBackedEngine::ReadFileData(const FoundRecord& /*record*/, uint64_t /*maxBytes*/,
                                       const DataSink& /*sink*/) {
    return kErrInvalidParameter;
}

Status StoreBackedEngine::PreviewIntoBuffer(const FoundRecord& record, std::span<std::byte> buffer,
                                            uint32_t& size, PreviewCallback callback, void* user) {
    uint64_t done = 0;
    const uint64_t total = std::min<uint64_t>({record.size, size, buffer.size()});
    const Status s = ReadFileData(record, total, [&](std::span<const std::byte> piece) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(piece.size(), total - done));
        if (take != 0) std::memcpy(buffer.data() + done, piece.data(), take);
        done += take;
        return static_cast<Status>(callback == nullptr ? 0
                                                       : callback(user, PercentOf(done, total), 0));
    });
    size = static_cast<uint32_t>(done);
    return s;
}

Status StoreBackedEngine::ReadRecordHead(const FoundRecord& record, std::span<std::byte> out,
                                         size_t& got) {
    got = 0;
    if (record.isFolder != 0) return kErrInvalidParameter;
    const uint64_t total = std::min<uint64_t>(record.size, out.size());
    return ReadFileData(record, total, [&](std::span<const std::byte> piece) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(piece.size(), total - got));
        if (take != 0) std::memcpy(out.data() + got, piece.data(), take);
        got += take;
        return kOk;
    });
}

Status StoreBackedEngine::ReadRecordData(const FoundRecord& record, std::string& tempPath,
                                         std::span<std::byte> buffer, uint32_t& size,
                                         PreviewCallback callback, void* user) {
    tempPath.clear();
    if (record.isFolder != 0) {
        size = 0;
        return kErrInvalidParameter;
    }
    uint64_t done = 0;
    auto report = [&](uint64_t total) {
        return callback == nullptr ? 0 : callback(user, PercentOf(done, total), 0);
    };

    const std::string_view tempName = PreviewFileName(record.Name());
    if (tempName.empty()) return PreviewIntoBuffer(record, buffer, size, callback, user);

    size = 0;
    const std::string folder = ScanLogFolder();
    if (const Status s = CreateFolders(folder); s != kOk) return s;
    const std::string path = folder + "/" + std::string(tempName);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return LastStatus();
    FileHandle out;
    if (const Status s = FileHandle::CreateNew(path, out); s != kOk) return s;
    const uint64_t total = record.size;
    const Status s = ReadFileData(record, total, [&](std::span<const std::byte> piece) -> Status {
        piece = piece.first(std::min<uint64_t>(piece.size(), total - done));
        if (const Status w = out.WriteAllAt(done, piece); w != kOk) return w;
        done += piece.size();
        return report(total);
    });
    if (s != kOk) {
        out.Close();
        ::unlink(path.c_str());
        return s;
    }
    tempPath = path;
    return kOk;
}

}  // namespace keltra
