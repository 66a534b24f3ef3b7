// decompressRecord over a whole file: every record in order, following the
// links, into one codec session, so the previous frame is carried from
// record to record (kept blocks, motion). The low bits of the size choose
// the planes or the surface, fast or smooth painting, and reading through
// the read-ahead cache. A record that fails ends the file; what decodes has
// the record's size.
#include "fuzz/fuzz_files.h"
#include "pipeline/codec_session.h"

#include <cstdint>
#include <cstdlib>

using namespace vexel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::prepareFileTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (fuzz::folder().empty() || !fuzz::writeInput("in.vx", data, size)) return 0;
    const std::string path = fuzz::folder() + "/in.vx";
    if (!fuzz::recordsFitInMemory(path)) return 0;
    CodecSession session;
    session.picture.planesWanted = size & 1;
    bool dropped = false;
    std::uint64_t position = 0;
    RecordRead read;
    DecompressionCall call;
    call.path = TWideString::fromUtf8(path);
    call.frameDropped = &dropped;
    call.fastPaint = size & 2;
    call.recordPosition = &position;
    call.read = &read;
    call.cache = size & 4;
    for (int records = 0; records < 16; ++records) {
        const int result = decompressRecord(session, call);
        if (result > kDone || result < kNoMemory) std::abort();
        if (result == kDone && (!read.headerRead || read.mode > kMaxMode)) std::abort();
        if (result < kDone || position == 0) break;
        if (session.picture.pictureWidth() < 1 || session.picture.pictureHeight() < 1) std::abort();
    }
    clearDecompressionStatusText();
    destroyDecompressionFileCache();
    return 0;
}
