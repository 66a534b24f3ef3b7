// The conversions of a .vx record: its first record read for a copy (the
// size's low bit) or decoded for a repack, then written into a new grouped
// file by compressFrame. A conversion that reports success leaves a file
// whose records the container's parser accepts.
#include "codec/container.h"
#include "fuzz/fuzz_files.h"
#include "pipeline/codec_session.h"
#include "platform/files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using namespace vexel;
using fuzz::kMemoryLimit;

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::prepareFileTarget();
    setStreamThreading(Threading::Sequential);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (fuzz::folder().empty() || !fuzz::writeInput("in.vx", data, size)) return 0;
    const std::string in = fuzz::folder() + "/in.vx", out = fuzz::folder() + "/out.vx";
    RecordHeader h;
    if (size < kMinHeaderSize ||
        parseRecordHeader({data, std::min<std::size_t>(size, kRecordHeaderLimit)}, 0, size, h) != kDone ||
        decodeMemoryEstimate(h, 1, 2) > kMemoryLimit)
        return 0;
    const std::uint8_t conversion = size & 1 ? 1 : 2;
    CodecSession session;
    bool dropped = false;
    std::uint64_t position = 0;
    RecordRead learnt;
    DecompressionCall read;
    read.path = TWideString::fromUtf8(in);
    read.frameDropped = &dropped;
    read.recordPosition = &position;
    read.read = &learnt;
    read.conversion = conversion;
    if (decompressRecord(session, read) != kDone) return 0;
    const std::uint8_t mode = learnt.mode;
    const std::int32_t threads = learnt.threadsKnown ? learnt.threads : 0;

    std::remove(out.c_str());
    std::uint64_t last = 0;
    double rate = 0;
    CompressionJob job;
    job.outputPath = TWideString::fromUtf8(out);
    job.mode = mode > kMaxMode ? 8 : mode;
    job.groupFlag = true;
    job.firstFrame = true;
    job.lastRecordOffset = &last;
    job.frameRate = &rate;
    job.conversion = conversion;
    job.streamCount = static_cast<std::uint32_t>(threads < 1 ? 1 : threads);
    const int packed = compressFrame(session, job);
    if (session.grouped.finish() != kDone) std::abort();
    clearDecompressionStatusText();
    if (packed != kDone) return 0;
    const std::vector<std::uint8_t> written = fileBytes(out);
    RecordHeader w;
    if (parseRecordHeader({written.data(), std::min<std::size_t>(written.size(), kRecordHeaderLimit)}, 0,
                          written.size(), w) != kDone ||
        w.width != h.width || w.height != h.height)
        std::abort(); // a conversion that reports success wrote a record the reader refuses
    return 0;
}
