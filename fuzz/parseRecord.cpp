// The container readers on an arbitrary .vx file: the header parser along the
// record chain, the stream ranges, the block-area walker, the expansion of
// mode-8 and mode-9 streams, the trailer walk with its delta-chunk and motion
// readers, and the copy conversion's section-end walk. Every read must stay
// inside the file and every walk must end.
#include "base/units.h"
#include "codec/compression.h"
#include "codec/container.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace vexel;

constexpr std::uint64_t kExpandLimit = 4u << 20; // larger expansions are skipped here

void walkTrailer(std::span<const std::uint8_t> stream, std::size_t areaEnd, std::uint8_t mode, std::uint32_t bias,
                 std::uint64_t packedGradients, std::uint64_t chunkedLuma) {
    const TrailerSectionTypes types = trailerSectionTypes(mode);
    TrailerWalker walker(stream, areaEnd, mode, bias);
    DeltaChunkReader chunks;
    TrailerSection section;
    int sections = 0;
    while (walker.next(section)) {
        if (++sections > 1 << 20) std::abort(); // each section takes at least 5 bytes
        const std::span<const std::uint8_t> body = walker.body(section);
        if (body.data() && (body.data() < stream.data() || body.data() + body.size() > stream.data() + stream.size()))
            std::abort();
        std::size_t pos = 0;
        std::uint8_t value;
        if (section.type == types.coefficients || section.type == types.luma) {
            const std::uint64_t wanted = section.type == types.coefficients ? 6 * packedGradients : chunkedLuma;
            for (std::uint64_t j = 0; j < wanted; ++j)
                if (chunks.next(body, pos, value) != 1) break;
            if (pos > body.size()) std::abort();
            walker.finish(section, pos);
        } else if (section.type == types.motion) {
            MotionParameters motion;
            walker.finish(section, readMotionSection(body, motion));
        } else {
            walker.finish(section, 0);
        }
    }
}

void walkPayload(std::span<const std::uint8_t> stream, const RecordHeader& h, std::uint32_t index, bool oldSize) {
    const BlockAreaLayout layout = blockAreaLayout(h, oldSize);
    BlockAreaWalker walker(stream, layout);
    BlockEntry block;
    std::uint64_t packed = 0, luma = 0, blocks = 0;
    int r;
    while ((r = walker.next(block)) == 1) {
        if (block.payload + block.payloadBytes > stream.size()) std::abort();
        ++blocks;
        if (block.kind == BlockKind::PackedGradient) ++packed;
        if (block.kind == BlockKind::ChunkedDetail) luma += std::uint64_t{block.pixelColumns} * block.pixelRows;
    }
    if (r == 0 && blocks != layout.grid.blocks) std::abort();
    if (r != 0 || !hasTrailerSections(h.mode)) return;
    walkTrailer(stream, walker.position(), h.mode, sectionEndBias(h, index), packed, luma);
    if (h.mode <= 7 && streamTotal(h) == 1) {
        std::vector<std::uint8_t> copy(stream.begin(), stream.end());
        moveSectionEnds(copy, walker.position(), sectionEndBias(h, index), 24);
    }
}

void readStream(std::span<const std::uint8_t> stream, const RecordHeader& h, std::uint32_t index) {
    const FrameGrid grid = frameGrid(h);
    if (h.mode <= 7) {
        walkPayload(stream, h, index, false);
        walkPayload(stream, h, index, true);
    } else if (h.mode == 8) {
        const std::uint64_t capacity = mode8ExpansionCapacity(grid);
        if (capacity > kExpandLimit) return;
        std::vector<std::uint8_t> expanded(capacity);
        std::size_t length = 0;
        if (decompressStream(stream, expanded, length) != 1) return;
        walkPayload({expanded.data(), length}, h, index, false);
    } else {
        std::array<std::span<const std::uint8_t>, 4> parts;
        if (splitMode9Parts(stream, parts) != kDone) return;
        const std::uint64_t limit = std::min(mode9PartLimit(grid), kExpandLimit);
        std::vector<std::uint8_t> expanded(limit);
        for (const auto& part : parts) {
            std::size_t length = 0;
            decompressStream(part, expanded, length);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeBaseUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t start = 0;
    for (int records = 0; records < 64 && start < size; ++records) {
        const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(kRecordHeaderLimit, size - start));
        RecordHeader h;
        if (parseRecordHeader({data + start, got}, start, size, h) != kDone) return 0;
        if (h.recordStart + h.recordSize > size || h.headerSize > h.recordSize) std::abort();
        const std::span<const std::uint8_t> record{data + start, static_cast<std::size_t>(h.recordSize)};
        const std::uint32_t n = streamTotal(h);
        for (std::uint32_t i = n == 1 ? 0 : 1; i <= n; ++i) {
            const ByteRange range = streamRange(h, i);
            if (range.begin > range.end || range.end > h.recordSize) std::abort();
            readStream(record.subspan(range.begin, range.size()), h, i);
        }
        if (h.nextRecord == 0) break;
        if (h.nextRecord <= start) std::abort(); // links only move forward
        start = h.nextRecord;
    }
    return 0;
}
