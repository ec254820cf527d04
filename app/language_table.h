// The texts the user reads, by language: config.ini names the languages and the current one,
// each language file holds sections of key=text lines. One table per process.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace keltra {

// Keys and sections are exact and case-sensitive, as written in the file.
using TextMap = std::map<std::string, std::string, std::less<>>;

struct LanguagePaths {
    std::string configFile;       // config.ini shipped beside the program
    std::string languagesFolder;  // the folder of <name>.ini files
    // The user's own config.ini. It holds the language the user chose when the program's
    // config.ini cannot be written, and its choice wins over the shipped one.
    std::string userConfigFile;
};

// config.ini and Languages/ beside the program; the user's file in the user config folder.
LanguagePaths DefaultLanguagePaths();

class CLanguageTable {
  public:
    CLanguageTable() = default;
    explicit CLanguageTable(LanguagePaths paths) { Open(std::move(paths)); }

    // Points the table at these files and loads them.
    void Open(LanguagePaths paths);
    // Reads config.ini and the current language file again; earlier texts are discarded.
    void Reload();

    const std::string& CurrentLanguage() const { return current_; }
    // (name, display text) pairs in file order.
    const std::vector<std::pair<std::string, std::string>>& Languages() const { return languages_; }
    // The key/text map of a section; an empty map when the section does not exist.
    const TextMap& Section(std::string_view name) const;

    // Stores `name` as the current language and reloads. Written to the program's config.ini
    // when it can be, else to the user's own config.ini.
    Status SetLanguage(const std::string& name);

    const LanguagePaths& Paths() const { return paths_; }

  private:
    LanguagePaths paths_;
    std::string current_ = "English";
    std::vector<std::pair<std::string, std::string>> languages_;
    std::map<std::string, TextMap, std::less<>> sections_;
};

// The process-wide table; loads from DefaultLanguagePaths() on first use.
CLanguageTable& LanguageTable();

// The text of `key`, or an empty text when the key is missing.
std::string Text(const TextMap& section, std::string_view key);

// Longest language name kept from config.ini (the rest is cut).
inline constexpr size_t kMaxLanguageName = 63;

}  // namespace keltra
