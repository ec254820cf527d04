// Reading and updating INI files (the language settings and language files).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace keltra {

struct IniEntry {
    std::string section;
    std::string key;
    std::string value;  // everything after the first "=", blanks around it trimmed
};

// Every key=value line of the file, in file order. Returns false when the file cannot be
// opened; malformed lines are skipped. Lines longer than 199 bytes are cut, and " ;" starts a
// comment (the limits of the INI parser).
bool ReadIniFile(const std::string& path, std::vector<IniEntry>& entries);

// Sets `key` in `section` to `value`, keeping every other line of the file; adds the section
// or the key when missing and creates the file when it does not exist. The file is replaced
// whole (written beside it, then renamed), so a failure leaves the old one.
Status WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value);

}  // namespace keltra
