// Classification and boot-field reading of arbitrary first 16 KiB, and the backup boot sector
// standing in for an unrecognised first sector: taken only when the area then classifies.
#include <array>
#include <cstring>

#include "engines/layouts/boot_area.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keltra;
    std::array<std::byte, kBootAreaBytes> boot{};
    std::memcpy(boot.data(), data, std::min(size, boot.size()));
    SourceClass c = ClassifyBootArea(boot);
    if (c == SourceClass::Unrecognised) {
        const auto before = boot;
        const auto backup = RestoreBackupBootSector(boot);
        c = ClassifyBootArea(boot);
        if (backup.has_value() != (c != SourceClass::Unrecognised)) __builtin_trap();
        if (!backup && boot != before) __builtin_trap();
    }
    if (c == SourceClass::Ntfs) (void)ReadNtfsBootFields(boot);
    if (IsFat(c)) (void)ReadFatBootFields(boot, c == SourceClass::Fat32);
    return 0;
}
