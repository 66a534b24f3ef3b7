// decompressStream on arbitrary bytes. The first two bytes choose the output
// capacity (up to about 1 MB), the rest is the stream. Whatever expands must
// fit the capacity; a small output must also compress and expand back to the
// same bytes, checked for the first input and every 16th after it: the
// compressor's set-up costs twenty expansions, so a round trip for every
// input would keep the target from exploring (a saved input run alone is
// always the first).
#include "base/units.h"
#include "codec/compression.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeBaseUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t capacity = (std::size_t{data[0]} | std::size_t{data[1]} << 8) * 16;
    std::vector<std::uint8_t> out(capacity + 1, 0xA5);
    std::size_t length = 0;
    if (vexel::decompressStream({data + 2, size - 2}, {out.data(), capacity}, length) != 1) return 0;
    if (length > capacity || out[capacity] != 0xA5) std::abort(); // wrote past the capacity
    static unsigned calls = 0;
    if (length > 4096 || calls++ % 16 != 0) return 0;

    std::vector<std::uint8_t> packed(vexel::compressedBound(length));
    std::size_t packedLength = 0;
    if (vexel::compressStream({out.data(), length}, packed, packedLength) != 1) std::abort();
    std::vector<std::uint8_t> back(length);
    std::size_t backLength = 0;
    if (vexel::decompressStream({packed.data(), packedLength}, back, backLength) != 1 || backLength != length ||
        (length && std::memcmp(back.data(), out.data(), length) != 0))
        std::abort();
    return 0;
}
