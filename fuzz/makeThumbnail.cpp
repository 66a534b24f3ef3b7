// The thumbnailer's reading of a file: its first record decoded and scaled
// into a square from the first byte's size; a thumbnail fits the square.
#include "app/thumbnail.h"
#include "fuzz/fuzz_files.h"
#include "pipeline/codec_session.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::fuzz::prepareFileTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    if (size < 1 || fuzz::folder().empty() || !fuzz::writeInput("in.vx", data, size)) return 0;
    const std::uint32_t square = 1 + data[0] % 160;
    Thumbnail t;
    if (makeThumbnail(fuzz::folder() + "/in.vx", square, t, 96u << 20) != kThumbnailDone) return 0;
    if (t.width < 1 || t.height < 1 || t.width > square || t.height > square ||
        t.rgb.size() != static_cast<std::size_t>(t.width) * t.height * 3)
        std::abort();
    return 0;
}
