#include "engines/deep/carved_copies.h"

#include <set>

#include "engines/extension_categories.h"
#include "platform/text.h"

namespace keltra {
namespace {

std::string LowerExtension(std::string_view name) {
    return AsciiLower(ExtensionOf(name));
}

}  // namespace

FirstSectorNotes::FirstSectorNotes(const std::vector<FoundRecord>& found,
                                   const FirstSectorOf& firstSector) {
    for (const FoundRecord& record : found) {
        if (record.isFolder != 0) continue;
        if (const std::optional<uint64_t> sector = firstSector(record)) {
            extensionAt_[*sector] = LowerExtension(record.Name());
        }
    }
}

bool FirstSectorNotes::Holds(uint64_t sector, std::string_view name) const {
    const auto it = extensionAt_.find(sector);
    if (it == extensionAt_.end()) return false;
    const std::string extension = LowerExtension(name);
    return extension == it->second || (extension == "jpg" && it->second == "thm");
}

std::vector<FoundRecord> WithoutCarvedCopies(const std::vector<FoundRecord>& found,
                                             std::vector<FoundRecord> carved,
                                             const FirstSectorOf& firstSector) {
    const FirstSectorNotes noted(found, firstSector);
    std::erase_if(carved, [&noted](const FoundRecord& record) {
        return noted.Holds(record.location, record.Name());
    });
    return carved;
}

std::string ExtensionsOf(const std::vector<FoundRecord>& carved) {
    std::set<std::string> extensions;
    for (const FoundRecord& record : carved) extensions.insert(LowerExtension(record.Name()));
    if (extensions.count("jpg") != 0) extensions.insert("thm");
    std::string list;
    for (const std::string& extension : extensions) list += "*." + extension + "|";
    return list;
}

}  // namespace keltra
