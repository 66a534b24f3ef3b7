// The whole record decoder on an arbitrary .vx file in memory: the header
// parser along the record chain, then decodeRecordBytes on every record
// (output choice, every stream through decodeStream, in order), into one
// viewer record kept from input to input, so previous pictures of other
// sizes, planes and surfaces are exercised too. Half the inputs draw their
// gradient blocks through the GPU library's entry, played on the processor
// by the library's own kernel rule: the band layout the decoder hands the
// card must keep every point and pixel it names inside the picture. Every
// read and write must stay inside its buffer and every call must end.
#include "base/units.h"
#include "codec/container.h"
#include "codec/pixspray.h"
#include "fuzz/fuzz_files.h"
#include "gpu/pixspray_host.h"
#include "pipeline/codec_session.h"
#include "pipeline/decompression_pipeline.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace vexel;

using fuzz::kMemoryLimit;

CodecSession& viewerRecord() {
    static CodecSession* record = new CodecSession;
    return *record;
}

bool sprayOnProcessor(std::uint8_t* base, int offsetR, int offsetG, int offsetB, int dqx1, int dqy1,
                      std::uint8_t blockSize, std::uint32_t firstRow, std::uint32_t endRow, const TPnt* points,
                      std::uint32_t pointsPerRow, std::uint32_t pointRows) {
    return spray::sprayOnHost(base, offsetR, offsetG, offsetB, dqx1, dqy1, blockSize, firstRow, endRow,
                              reinterpret_cast<const std::uint8_t*>(points), pointsPerRow, pointRows);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initializeBaseUnits();
    setDecodeThreading(Threading::Sequential);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CodecSession& record = viewerRecord();
    RecordDecodeOptions options;
    options.fastPaint = size & 1;
    options.conversion = size & 2 ? 2 : 0;
    setPixSprayModuleForTest(size & 4 ? sprayOnProcessor : nullptr);
    std::uint64_t start = 0;
    for (int records = 0; records < 16 && start < size; ++records) {
        const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(kRecordHeaderLimit, size - start));
        RecordHeader h;
        if (parseRecordHeader({data + start, got}, start, size, h) != kDone) break;
        if (h.recordStart + h.recordSize > size) std::abort();
        if (decodeMemoryEstimate(h, 1, options.conversion) > kMemoryLimit) break;
        const int result =
            decodeRecordBytes(record.codec, record.picture, h, {data + start, static_cast<std::size_t>(h.recordSize)}, options);
        if (result > kDone || result < kNoMemory) std::abort();
        if (result == kDone && (record.picture.pictureWidth() != static_cast<std::int32_t>(h.width) ||
                                      record.picture.pictureHeight() != static_cast<std::int32_t>(h.height)))
            std::abort();
        if (h.nextRecord == 0) break;
        if (h.nextRecord <= start) std::abort(); // links only move forward
        start = h.nextRecord;
    }
    return 0;
}
