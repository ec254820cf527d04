#include "platform/app_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace keltra {

std::string ApplicationDataFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        std::string path = xdg;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    }
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0') {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    } else {
        home = "/tmp";
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home + "/.local/share";
}

std::string ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

std::string FileBesideProgram(const std::string& relativePath) {
    const std::string beside = ExecutableFolder() + "/" + relativePath;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside;
    const std::string shared = std::string(KELTRA_SHARE_DIR) + "/" + relativePath;
    if (std::filesystem::exists(shared, ec)) return shared;
    return beside;
}

std::string UserConfigFolder() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        // The same home-folder fallbacks as the application-data folder.
        std::string home;
        if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0') {
            home = h;
        } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        } else {
            home = "/tmp";
        }
        base = home + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/keltra-photo-recovery";
}

}  // namespace keltra
