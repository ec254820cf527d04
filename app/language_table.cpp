#include "app/language_table.h"

#include <sys/stat.h>

#include <cerrno>

#include "app/ini_file.h"
#include "platform/app_folders.h"
#include "platform/text.h"

namespace keltra {

namespace {

constexpr std::string_view kDefaultSection = "DefaultLanguage";
constexpr std::string_view kDefaultKey = "Default";
constexpr std::string_view kLanguagesSection = "Languages";

// The "Default" value of the "DefaultLanguage" section, or nothing.
std::string DefaultLanguageOf(const std::vector<IniEntry>& entries) {
    std::string name;
    for (const auto& e : entries) {
        if (e.section == kDefaultSection && e.key == kDefaultKey) name = e.value;
    }
    return std::string(Utf8Prefix(name, kMaxLanguageName));
}

Status MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return LastStatus(true);
        if (slash == std::string::npos) return kOk;
    }
}

}  // namespace

LanguagePaths DefaultLanguagePaths() {
    const std::string config = FileBesideProgram("config.ini");
    const std::string folder = config.substr(0, config.rfind('/') + 1);
    return {config, folder + "Languages/", UserConfigFolder() + "/config.ini"};
}

void CLanguageTable::Open(LanguagePaths paths) {
    paths_ = std::move(paths);
    if (!paths_.languagesFolder.empty() && paths_.languagesFolder.back() != '/') {
        paths_.languagesFolder += '/';
    }
    Reload();
}

void CLanguageTable::Reload() {
    std::vector<IniEntry> config;
    ReadIniFile(paths_.configFile, config);
    std::vector<IniEntry> user;
    if (!paths_.userConfigFile.empty()) ReadIniFile(paths_.userConfigFile, user);

    current_ = DefaultLanguageOf(user);
    if (current_.empty()) current_ = DefaultLanguageOf(config);
    if (current_.empty()) current_ = "English";

    languages_.clear();
    for (auto& e : config) {
        if (e.section == kLanguagesSection) languages_.emplace_back(e.key, e.value);
    }

    sections_.clear();
    std::vector<IniEntry> texts;
    // A name that could leave the languages folder is no language of ours.
    if (current_.find('/') == std::string::npos && current_ != "." && current_ != "..") {
        ReadIniFile(paths_.languagesFolder + current_ + ".ini", texts);
    }
    for (auto& e : texts) {
        auto section = sections_.find(e.section);
        if (section == sections_.end()) section = sections_.emplace(e.section, TextMap{}).first;
        section->second.insert_or_assign(std::move(e.key), std::move(e.value));
    }
}

const TextMap& CLanguageTable::Section(std::string_view name) const {
    static const TextMap kEmpty;
    const auto it = sections_.find(name);
    return it == sections_.end() ? kEmpty : it->second;
}

Status CLanguageTable::SetLanguage(const std::string& name) {
    std::vector<IniEntry> user;
    const bool userChoiceStored = !paths_.userConfigFile.empty() &&
                                  ReadIniFile(paths_.userConfigFile, user) &&
                                  !DefaultLanguageOf(user).empty();
    Status status = kErrAccessDenied;
    // The user's own choice, once made, is where later choices go; it would hide the shipped
    // file's value otherwise.
    if (!userChoiceStored) {
        status = WriteIniValue(paths_.configFile, kDefaultSection, kDefaultKey, name);
    }
    if (status != kOk && !paths_.userConfigFile.empty()) {
        const std::string folder =
            paths_.userConfigFile.substr(0, paths_.userConfigFile.rfind('/'));
        status = MakeFolders(folder);
        if (status == kOk) {
            status = WriteIniValue(paths_.userConfigFile, kDefaultSection, kDefaultKey, name);
        }
    }
    Reload();
    return status;
}

CLanguageTable& LanguageTable() {
    static CLanguageTable table(DefaultLanguagePaths());
    return table;
}

std::string Text(const TextMap& section, std::string_view key) {
    const auto it = section.find(key);
    return it == section.end() ? std::string() : it->second;
}

}  // namespace keltra
