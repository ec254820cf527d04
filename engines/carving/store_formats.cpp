// Database and mail stores: SQLite, Outlook Express folders, Outlook personal folders.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

using namespace std::string_view_literals;

FileTypeCode RecogniseSqlite(CarveSession&, ByteView b) {
    return At(b, 0, "SQLite format 3\x00"sv) ? kTypeSqlite : kTypeNone;
}

FileTypeCode RecogniseDbx(CarveSession&, ByteView b) {
    return b.size() >= 16 && At(b, 0, "\xCF\xAD\x12\xFE"sv) ? kTypeDbx : kTypeNone;
}

FileTypeCode RecognisePst(CarveSession&, ByteView b) {
    return b.size() >= 16 && At(b, 0, "!BDN") && At(b, 8, "SM") ? kTypePst : kTypeNone;
}

}  // namespace keltra
