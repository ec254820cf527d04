#include "engines/recovery_target.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include "engines/extension_categories.h"
#include "engines/safe_name.h"
#include "platform/text.h"

namespace keltra {

namespace {

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string_view GetFileCategory(std::string_view name) {
    const size_t dot = name.rfind('.');
    const std::string extension =
        dot == std::string_view::npos ? std::string() : AsciiLower(name.substr(dot + 1));
    for (FileCategory c : {FileCategory::Photo, FileCategory::Audio, FileCategory::Video,
                           FileCategory::Document, FileCategory::Archive}) {
        if (CategoryExtensions(c).find(extension) != std::string_view::npos) {
            return CategoryName(c);
        }
    }
    return CategoryName(FileCategory::Others);
}

std::string MakeUniquePath(const std::string& path) {
    if (!PathExists(path)) return path;
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) dot = path.size();
    const std::string_view head(path.data(), dot);
    const std::string_view extension(path.data() + dot, path.size() - dot);
    for (unsigned n = 1;; ++n) {
        std::string candidate = fmt::format("{}({}){}", head, n, extension);
        if (!PathExists(candidate)) return candidate;
    }
}

int RootSeparatorCount(std::string_view folder) {
    if (folder.empty()) return 0;
    int count = 0;
    for (const char c : folder.substr(0, folder.size() - 1)) {
        if (c == '/' || c == '\\') ++count;
    }
    return count;
}

std::string RecoveryTargetPath(std::string_view folder, const FoundRecord& record,
                               std::string_view folderPath, RecoveryLayout layout) {
    std::string target(folder);
    target += '/';
    if (layout == RecoveryLayout::ByCategory) {
        target += GetFileCategory(record.Name());
        target += '/';
    } else {
        size_t start = 0;
        while (start < folderPath.size()) {
            size_t end = folderPath.find('/', start);
            if (end == std::string_view::npos) end = folderPath.size();
            if (end > start) {
                target += SafePathComponent(folderPath.substr(start, end - start));
                target += '/';
            }
            start = end + 1;
        }
    }
    target += SafePathComponent(record.Name());
    // A folder kept in place is where its files go, so it is merged, not renamed.
    if (layout == RecoveryLayout::KeepPaths && record.isFolder != 0) return target;
    return MakeUniquePath(target);
}

}  // namespace keltra
