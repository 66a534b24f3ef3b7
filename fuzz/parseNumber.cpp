// Feeds arbitrary bytes to the number reader, as the command line does, and
// checks what every outcome promises: a success is finite and prints back to
// the same value, a range failure gives 0 or +-1e307, and the finder and the
// trimmer stay inside the text.
#include "base/units.h"
#include "base/preobrazovaniechisel.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeBaseUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    const char* text = reinterpret_cast<const char*>(data);
    double value = 0;
    int result = parseNumber(text, size, value, false);
    if ((result == kParseInvalid) == validateNumber(text, size)) std::abort();
    if (result == kParseOk) {
        if (!std::isfinite(value)) std::abort();
        char printed[64];
        std::size_t n = formatWithExponent(printed, sizeof printed, value, 1, 16, true);
        double back = 0;
        if (n == 0 || parseNumber(printed, n, back, false) != kParseOk || back != value) std::abort();
    }
    if (result == kParseRange && value != 0.0 && std::fabs(value) != 1e307) std::abort();

    int exponent = 0;
    parseNumber(text, size, value, false, &exponent);

    std::size_t start = 0, length = 0;
    if (findNumber(text, size, start, length) && (start + length > size || !validateNumber(text + start, length)))
        std::abort();

    if (size <= 400) {
        char copy[401];
        std::memcpy(copy, data, size);
        if (trimNumber(copy, size) > size) std::abort();
    }
    return 0;
}
