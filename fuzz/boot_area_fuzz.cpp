// Classification and boot-field reading of arbitrary first 16 KiB.
#include <array>
#include <cstring>

#include "engines/boot_area.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::array<std::byte, keltra::kBootAreaBytes> boot{};
    std::memcpy(boot.data(), data, std::min(size, boot.size()));
    const keltra::SourceClass c = keltra::ClassifyBootArea(boot);
    if (c == keltra::SourceClass::Ntfs) (void)keltra::ReadNtfsBootFields(boot);
    if (keltra::IsFat(c)) (void)keltra::ReadFatBootFields(boot, c == keltra::SourceClass::Fat32);
    return 0;
}
