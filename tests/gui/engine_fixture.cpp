#include "engine_fixture.h"

#include <filesystem>

#include "support/test_support.h"

namespace keltra::test {

std::unique_ptr<ScanEngine> ScannedImageEngine(const std::string& fixture, uint16_t tag) {
    const std::string path = FixturePath(fixture);
    if (!std::filesystem::exists(path)) return nullptr;
    auto engine = CreateEngine(SourceRef::Image(path, tag), false);
    if (engine == nullptr || engine->Scan(std::nullopt) != kOk) return nullptr;
    return engine;
}

std::vector<FoundRecord> FindFiles(ScanEngine& engine, const std::string& extensions) {
    std::vector<FoundRecord> found;
    engine.FindByExtensions(extensions, found);
    std::erase_if(found, [](const FoundRecord& r) { return r.isFolder != 0; });
    return found;
}

FoundRecord Named(const std::vector<FoundRecord>& records, std::string_view name) {
    for (const FoundRecord& record : records) {
        if (record.Name() == name) return record;
    }
    return EmptyRecord();
}

}  // namespace keltra::test
