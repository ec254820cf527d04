// Text conversions. The system's "ANSI code page" is UTF-8 here; UTF-16 appears only where a
// stored format holds it.
#pragma once

#include <string>
#include <string_view>

namespace keltra {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The longest prefix of `text` of at most `maxBytes` bytes that does not split a UTF-8 character.
std::string_view Utf8Prefix(std::string_view text, size_t maxBytes);

// ASCII lower-casing (the extension rules compare ASCII letters only).
std::string AsciiLower(std::string_view text);

// Case-insensitive comparison of two names, as the listings sort them: <0, 0, >0.
int CompareNamesIgnoringCase(std::string_view a, std::string_view b);

}  // namespace keltra
