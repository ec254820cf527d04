#include "engines/store_backed_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <unordered_set>

#include "engines/extension_categories.h"
#include "engines/safe_name.h"
#include "scanlog/scan_log_folder.h"

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

std::string ParentFolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

// "/" and "\" in the path, its last character not counted.
int SeparatorCount(const std::string& path) {
    if (path.empty()) return 0;
    return static_cast<int>(
        std::count_if(path.begin(), path.end() - 1, [](char c) { return c == '/' || c == '\\'; }));
}

// The path for a found child inside `folder`. Deleted files often share a name (and
// SafePathComponent can make two names equal), so a name already taken gets "(n)" before its
// extension instead of overwriting what an earlier child brought back. A child folder may join
// a folder of its name.
std::string FreeChildPath(const std::string& folder, const std::string& name, bool isFolder) {
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    std::error_code ec;
    const std::string path = base + name;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!std::filesystem::exists(status) || (isFolder && std::filesystem::is_directory(status))) {
        return path;
    }
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    for (int n = 1;; ++n) {
        std::string candidate = base + stem + "(" + std::to_string(n) + ")" + extension;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
            return candidate;
        }
    }
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

Status StoreBackedEngine::SetCallbacks(ScanProgressCallback scanProgress,
                                       CopyProgressCallback copyProgress, void* user, int weight) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    user_ = user;
    weight_ = weight;
    return kOk;
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
    return store_->OpenLog(folder, unused);
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
    // A failed write leaves the records buffered, where the listing still finds them.
    store_->Flush();
    return store_->ListChildren(key, out);
}

Status StoreBackedEngine::CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) {
    uint64_t key = 0;
    if (const Status s = FolderParentKey(folder, depth, key); s != kOk) return s;
    count = 0;
    if (store_ == nullptr) return kOk;
    store_->Flush();
    return store_->CountFiles(key, count);
}

uint64_t StoreBackedEngine::GetRecordCount() {
    return store_ == nullptr ? 0 : store_->RecordCount();
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
    if (record.isFolder == 0) {
        if (const Status s = CreateFolders(ParentFolderOf(destination)); s != kOk) return s;
        return CopyFile(record, destination);
    }
    if (const Status s = CreateFolders(destination); s != kOk) return s;
    return CopyFolderTree(record, destination, rootSeparators);
}

Status StoreBackedEngine::CopyFolderTree(const FoundRecord& folder, const std::string& destination,
                                         int rootSeparators) {
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
        children.clear();
        if (const Status s = ListFolder(&item.folder, depth, children); s != kOk) {
            if (result == kOk) result = s;
            continue;
        }
        for (const FoundRecord& child : children) {
            std::string target =
                FreeChildPath(item.target, SafePathComponent(child.Name()), child.isFolder != 0);
            if (child.isFolder != 0) {
                ::mkdir(target.c_str(), 0755);  // an existing folder is fine; others show later
                work.push_back({child, std::move(target)});
                continue;
            }
            if (CopyFile(child, target) == kCancelled) return kCancelled;
        }
    }
    return result;
}

Status StoreBackedEngine::CopyFile(const FoundRecord& record, const std::string& destinationPath) {
    auto notify = [&](int percent, Status error) {
        return copyProgress_ == nullptr
                   ? 0
                   : copyProgress_(user_, percent, 100, error, destinationPath);
    };
    FileHandle out;
    if (const Status s = FileHandle::CreateForWriting(destinationPath, out); s != kOk) {
        notify(100, s);
        return s;
    }
    const uint64_t size = record.size;
    if (size == 0) {
        const int answer = notify(100, kOk);
        return answer != 0 ? answer : kOk;
    }
    uint64_t done = 0;
    bool toldComplete = false;
    int stopAnswer = 0;
    const Status s = ReadFileData(record, size, [&](std::span<const std::byte> piece) -> Status {
        piece = piece.first(std::min<uint64_t>(piece.size(), size - done));
        if (piece.empty()) return kOk;
        if (const Status w = out.WriteAllAt(done, piece); w != kOk) return w;
        done += piece.size();
        const int percent = PercentOf(done, size);
        toldComplete = percent == 100;
        stopAnswer = notify(percent, kOk);
        return stopAnswer;
    });
    if (stopAnswer != 0 && s == stopAnswer) return s;
    if (!toldComplete) {
        const int answer = notify(100, s);
        if (s == kOk && answer != 0) return answer;
    }
    return s;
}

Status StoreBackedEngine::SetSearchCallback(SearchProgressCallback callback, void* user) {
    searchCallback_ = callback;
    searchUser_ = user;
    if (store_ != nullptr) store_->SetSearchCallback(callback, user);
    return kOk;
}

Status StoreBackedEngine::FindByExtensions(const std::string& extensions,
                                           std::vector<FoundRecord>& out) {
    if (store_ == nullptr) return kOk;
    return store_->SearchByExtension(extensions, out);
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
    if (const Status s = FileHandle::CreateForWriting(path, out); s != kOk) return s;
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
