// The LZNT1 decoder over arbitrary chunks: the first byte picks the output's length (up to a
// compression unit of 64 KiB and a little past it), the rest is the compressed data. The output
// is handed over in a buffer of exactly that length, so that the sanitizers see any write past
// it; the answer must stay inside it and decoding the same data twice must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "engines/ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keltra::ntfs;
    if (size < 1) return 0;
    const size_t length = size_t{data[0]} * 260;
    const auto in = std::as_bytes(std::span(data + 1, size - 1));
    std::vector<std::byte> out(length);
    const Lznt1Result first = DecompressLznt1(in, out);
    if (first.written > out.size()) std::abort();
    std::vector<std::byte> again(length, std::byte{0xAA});
    const Lznt1Result second = DecompressLznt1(in, again);
    if (second.written != first.written || second.corrupt != first.corrupt || out != again) {
        std::abort();
    }
    return 0;
}
