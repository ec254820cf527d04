// Portable executables: drivers (system flag), DLLs and programs.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecognisePortableExecutable(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    if (b.size() < 512 || !At(b, 0, "MZ")) return kTypeNone;
    const uint32_t header = Le32(b, 60);
    if (header > 488 || !At(b, header, "PE\x00\x00"sv)) return kTypeNone;
    const uint16_t characteristics = Le16(b, header + 22);
    if ((characteristics & 0x0002) == 0) return kTypeNone;  // not executable
    if ((characteristics & 0x1000) != 0) return kTypeSys;
    if ((characteristics & 0x2000) != 0) return kTypeDll;
    return kTypeExe;
}

}  // namespace keltra
