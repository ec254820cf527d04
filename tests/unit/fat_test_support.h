// Helpers of the FAT tests: the Sleuth Kit's view of a fixture's deleted files, and paths
// compared the way both tools write them.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/test_support.h"

namespace keltra::test {

struct OracleEntry {
    uint64_t size = 0;
    int64_t accessed = 0;  // seconds since 1970, the volume's times read as UTC
    int64_t modified = 0;
    int64_t created = 0;
};

// A path as both tools write it, lower-cased: a deleted short name's first character, which
// the deletion mark replaced, is "_" for fls and "!" here.
inline std::string ComparablePath(std::string path) {
    const size_t slash = path.rfind('/');
    const size_t first = slash == std::string::npos ? 0 : slash + 1;
    if (first < path.size() && path[first] == '!') path[first] = '_';
    for (char& c : path) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return path;
}

inline std::string RunCommand(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
    return out;
}

// The deleted files `fls -rd` lists in the image (orphans left out), by comparable path.
inline std::map<std::string, OracleEntry> FlsDeletedFiles(const std::string& image) {
    std::map<std::string, OracleEntry> files;
    std::istringstream lines(RunCommand("fls -r -d -m / -z UTC '" + image + "'"));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) f.push_back(field);
        if (f.size() < 11 || f[3].rfind("r/", 0) != 0) continue;
        std::string path = f[1];
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.ends_with(deleted))
            path.resize(path.size() - deleted.size());
        if (path.rfind("/$OrphanFiles", 0) == 0) continue;
        files[ComparablePath(path.substr(1))] = {std::stoull(f[6]), std::stoll(f[7]),
                                                 std::stoll(f[8]), std::stoll(f[10])};
    }
    return files;
}

}  // namespace keltra::test
