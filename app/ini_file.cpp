#include "app/ini_file.h"

#include <ini.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/file_handle.h"

namespace keltra {

namespace {

int CollectEntry(void* user, const char* section, const char* key, const char* value) {
    static_cast<std::vector<IniEntry>*>(user)->push_back({section, key, value});
    return 1;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// "[name]" -> name; empty when the line is no section header.
std::string_view SectionOfLine(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return {};
    const auto close = line.find(']');
    if (close == std::string_view::npos) return {};
    return Trim(line.substr(1, close - 1));
}

std::string_view KeyOfLine(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    return Trim(line.substr(0, eq));
}

}  // namespace

bool ReadIniFile(const std::string& path, std::vector<IniEntry>& entries) {
    entries.clear();
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    // A positive answer only names the first malformed line; the good lines are all kept.
    ini_parse_file(file, CollectEntry, &entries);
    std::fclose(file);
    return true;
}

Status WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value) {
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    const std::string newLine = std::string(key) + "=" + std::string(value);
    bool inSection = false;
    bool sectionSeen = false;
    bool done = false;
    size_t insertAt = lines.size();
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        const std::string_view name = SectionOfLine(lines[i]);
        if (!name.empty()) {
            if (inSection) {
                insertAt = i;
                break;
            }
            inSection = name == section;
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (inSection && KeyOfLine(lines[i]) == key) {
            lines[i] = newLine;
            done = true;
        }
    }
    if (!done) {
        if (!sectionSeen) {
            lines.push_back("[" + std::string(section) + "]");
            insertAt = lines.size();
        } else {
            // Keep the new key above the blank lines that close its section.
            while (insertAt > 0 && Trim(lines[insertAt - 1]).empty()) --insertAt;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    }

    std::ostringstream text;
    for (const auto& line : lines) text << line << '\n';
    const std::string content = text.str();
    const std::string temporary = path + ".new";
    FileHandle out;
    if (Status s = FileHandle::CreateForWriting(temporary, out); s != kOk) return s;
    Status s = out.WriteAllAt(0, std::as_bytes(std::span(content.data(), content.size())));
    if (s == kOk) s = out.Flush();
    out.Close();
    if (s == kOk && std::rename(temporary.c_str(), path.c_str()) != 0) s = LastStatus();
    if (s != kOk) ::unlink(temporary.c_str());
    return s;
}

}  // namespace keltra
