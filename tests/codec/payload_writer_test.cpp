#include "codec/payload_writer.h"

#include "codec/compression.h"
#include "codec/container.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

using Picture = test::TestPlanes;

struct Stream {
    Bytes bytes;
    EncoderGrid grid;
    ColourPlanes colour;
    int result = 0;
};

// Encodes one stream of a picture the way the pipeline does.
void encodeStream(Stream& out, const Picture& p, std::uint8_t mode, std::int8_t optimize, std::uint32_t stream = 0,
                  std::uint32_t streams = 1, std::uint32_t headerSize = 47, std::uint8_t legacyFlags = 0) {
    const std::uint32_t Q = chromaStepFor(mode, optimize, p.w, p.h, 1920, 1080);
    EncoderSettings settings = EncoderSettings::forFrame(optimize, mode, writerAnchorBytes(mode, legacyFlags, 8, Q));
    out.grid = EncoderGrid::forStream(p.w, p.h, settings.B, stream, streams);
    BlockMap map;
    ASSERT_TRUE(analyseBlocks(p.source(), settings, out.grid, map));
    ASSERT_TRUE(computeColourPlanes(p.source(), out.grid, Q, out.colour));
    PayloadJob job;
    job.mode = mode;
    job.chromaStep = Q;
    job.legacyFlags = legacyFlags;
    job.headerSize = stream <= 1 ? headerSize : 0;
    TrackedBuffer<std::uint8_t> payload;
    std::size_t length = 0;
    out.result = buildStreamPayload(map, out.colour, out.grid, job, payload, length, false);
    out.bytes.assign(payload.data(), payload.data() + length);
}

Bytes expandMode8(const Bytes& stream, const EncoderGrid& grid, std::uint32_t Q) {
    FrameGrid g = frameGrid(grid.width, grid.height, grid.B, Q);
    Bytes out(mode8ExpansionCapacity(g));
    std::size_t length = 0;
    EXPECT_EQ(decompressStream(stream, out, length), 1);
    out.resize(length);
    return out;
}

TEST(DeltaChunks, ThirtyTwoEqualValuesTakeTenBytesWithOneUnusedSlot) {
    std::uint8_t values[32], chunk[2 + 128];
    std::fill(values, values + 32, 77);
    ASSERT_EQ(encodeDeltaChunk(values, 32, chunk), 10u);
    EXPECT_EQ(chunk[0], 77);
    EXPECT_EQ(chunk[1], 10); // width 2, one unused slot: 2 | 1 << 3
    EXPECT_TRUE(std::all_of(chunk + 2, chunk + 10, [](std::uint8_t b) { return b == 0; }));
    std::uint8_t decoded[128];
    ASSERT_EQ(decodeDeltaChunk({chunk, 10}, decoded), 32);
    EXPECT_TRUE(std::all_of(decoded, decoded + 32, [](std::uint8_t v) { return v == 77; }));
}

TEST(DeltaChunks, OneValueIsItsBaseAndAWidthOfOne) {
    std::uint8_t value = 200, chunk[4];
    ASSERT_EQ(encodeDeltaChunk(&value, 1, chunk), 2u);
    EXPECT_EQ(chunk[0], 200);
    EXPECT_EQ(chunk[1], 1);
}

TEST(DeltaChunks, TheWidthIsTheWidestDeltaAndEightIsStoredAsZero) {
    std::uint8_t small[3] = {100, 98, 101}, chunk[2 + 128]; // deltas -2 and 1 fit 2 bits
    ASSERT_EQ(encodeDeltaChunk(small, 3, chunk), 3u);
    EXPECT_EQ(chunk[1] & 7, 2);
    std::uint8_t wide[2] = {0, 200}; // delta 200 = -56: 7 bits
    encodeDeltaChunk(wide, 2, chunk);
    EXPECT_EQ(chunk[1] & 7, 7);
    std::uint8_t widest[2] = {0, 128}; // delta -128: 8 bits, stored as 0
    encodeDeltaChunk(widest, 2, chunk);
    EXPECT_EQ(chunk[1] & 7, 0);
}

TEST(DeltaChunks, EveryLengthRoundTripsThroughTheReader) {
    std::mt19937 random(11);
    for (std::size_t n = 1; n <= 128; ++n) {
        std::uint8_t values[128], chunk[2 + 128], decoded[128];
        const int spread = 1 << (random() % 9);
        std::uint8_t base = static_cast<std::uint8_t>(random());
        for (std::size_t i = 0; i < n; ++i)
            values[i] = static_cast<std::uint8_t>(base + static_cast<int>(random() % spread) - spread / 2);
        std::size_t length = encodeDeltaChunk(values, n, chunk);
        ASSERT_LE(length, 2 + n);
        ASSERT_EQ(decodeDeltaChunk({chunk, length}, decoded), static_cast<int>(n)) << n;
        EXPECT_TRUE(std::equal(values, values + n, decoded)) << n;
    }
}

TEST(ChromaStep, FollowsModeQualityAndPictureSize) {
    EXPECT_EQ(chromaStepFor(8, -1, 640, 480, 1920, 1080), 2u);
    EXPECT_EQ(chromaStepFor(8, 0, 640, 480, 1920, 1080), 4u);
    EXPECT_EQ(chromaStepFor(8, 1, 640, 480, 1920, 1080), 4u);
    EXPECT_EQ(chromaStepFor(1, 0, 640, 480, 1920, 1080), 2u);
    EXPECT_EQ(chromaStepFor(0, 1, 640, 480, 1920, 1080), 2u);
    // 1.6 times wider than the screen: doubled above mode 1, never in modes 0 and 1.
    EXPECT_EQ(chromaStepFor(8, 0, 3072, 480, 1920, 1080), 8u);
    EXPECT_EQ(chromaStepFor(8, -1, 3072, 480, 1920, 1080), 4u);
    EXPECT_EQ(chromaStepFor(8, 0, 640, 1621, 1920, 1080), 8u);
    EXPECT_EQ(chromaStepFor(1, 0, 3072, 480, 1920, 1080), 2u);
    EXPECT_EQ(chromaStepFor(8, 0, 2880, 1620, 1920, 1080), 4u); // exactly 1.5 times is not above
}

TEST(Payload, AWidePictureCarriesOneChromaPairPerBlock) {
    Picture p(3072, 8); // 1.6 x the screen width: Q = 8 = B
    std::mt19937 random(1);
    p.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    Stream s;
    encodeStream(s, p, 7, 0);
    ASSERT_EQ(s.result, 1);
    BlockAreaWalker walker(s.bytes, {frameGrid(3072, 8, 8, 8), 7, 2});
    BlockEntry e;
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.kind, BlockKind::ChunkedDetail);
    EXPECT_EQ(e.chromaCells, 1u);
    EXPECT_EQ(e.payloadBytes, 2u);
}

TEST(Payload, ASixteenBySixteenChunkedDetailBlockTakesTwoLumaChunksInSerpentineOrder) {
    Picture p(16, 16);
    std::mt19937 random(2);
    p.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    Stream s;
    encodeStream(s, p, 5, 1); // B = 16
    ASSERT_EQ(s.result, 1);
    const BlockAreaLayout layout{frameGrid(16, 16, 16, 4), 5, 2};
    const std::int64_t areaEnd = blockAreaEnd(s.bytes, layout);
    ASSERT_GT(areaEnd, 0);
    EXPECT_EQ(s.bytes[0] & 3, 2); // chunked detail
    TrailerWalker trailer(s.bytes, static_cast<std::size_t>(areaEnd), 5, 47);
    TrailerSection section;
    ASSERT_TRUE(trailer.next(section));
    EXPECT_EQ(section.type, 3); // packed-gradient coefficients, empty
    trailer.finish(section, 0);
    ASSERT_TRUE(trailer.next(section));
    ASSERT_EQ(section.type, 2);
    auto body = trailer.body(section);
    ASSERT_GE(body.size(), 2u);
    std::uint8_t first[128], second[128];
    ASSERT_EQ(decodeDeltaChunk(body.subspan(1, body[0]), first), 128);
    auto rest = body.subspan(1 + body[0]);
    ASSERT_EQ(decodeDeltaChunk(rest.subspan(1, rest[0]), second), 128);
    EXPECT_EQ(1u + body[0] + 1u + rest[0], body.size());
    // Row 1 runs right to left: value 16 is pixel (15, 1), value 31 pixel (0, 1).
    EXPECT_EQ(first[0], s.colour.luma(0, 0));
    EXPECT_EQ(first[16], s.colour.luma(15, 1));
    EXPECT_EQ(first[31], s.colour.luma(0, 1));
    EXPECT_EQ(second[127], s.colour.luma(0, 15));
    EXPECT_FALSE(trailer.next(section));
}

TEST(Payload, BlocksOutsideTheBandAreKeepCodesThatLeaveTheirNeighboursIntact) {
    Picture p(32, 32); // 4 x 4 blocks of 8; stream 1 of 2 holds rows 0 and 1
    p.fill([](int c, std::uint32_t x, std::uint32_t y) { return static_cast<int>(x * 3 + y * 5) + c; });
    for (std::uint8_t mode : {5, 6}) {
        Stream s;
        encodeStream(s, p, mode, 0, 1, 2, 91);
        ASSERT_EQ(s.result, 1);
        BlockAreaWalker walker(s.bytes, {frameGrid(32, 32, 8, 4), mode, 1});
        BlockEntry e;
        while (walker.next(e) == 1) {
            if (e.row >= 2) EXPECT_EQ(e.code, 1) << "block " << e.index;
            else EXPECT_NE(e.code, 1) << "block " << e.index;
        }
    }
}

TEST(Payload, SectionEndsAreAbsoluteUpToMode7AndSizesInMode8) {
    Picture p(24, 24);
    std::mt19937 random(3);
    p.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        return x < 8 ? static_cast<int>(random() % 256) : static_cast<int>(40 + 2 * x + y + c);
    });
    Stream s7;
    encodeStream(s7, p, 7, 0, 0, 1, 71);
    ASSERT_EQ(s7.result, 1);
    const BlockAreaLayout layout{frameGrid(24, 24, 8, 4), 7, 2};
    std::size_t at = static_cast<std::size_t>(blockAreaEnd(s7.bytes, layout));
    std::uint32_t sections = 0;
    while (at + 5 <= s7.bytes.size()) {
        std::uint32_t end;
        std::memcpy(&end, &s7.bytes[at], 4);
        ASSERT_GT(end, at + 71);
        at = end - 71; // positions count from the record start
        ++sections;
    }
    EXPECT_EQ(at, s7.bytes.size());
    EXPECT_EQ(sections, 2u);

    Stream s8;
    encodeStream(s8, p, 8, 0, 0, 1, 71);
    ASSERT_EQ(s8.result, 1);
    Bytes expanded = expandMode8(s8.bytes, s8.grid, 4);
    const BlockAreaLayout layout8{frameGrid(24, 24, 8, 4), 8, 2};
    at = static_cast<std::size_t>(blockAreaEnd(expanded, layout8));
    sections = 0;
    while (at + 5 <= expanded.size()) {
        std::uint32_t size;
        std::memcpy(&size, &expanded[at], 4);
        ASSERT_GE(size, 5u);
        at += size;
        ++sections;
    }
    EXPECT_EQ(at, expanded.size());
    EXPECT_EQ(sections, 2u);
}

TEST(Payload, GradientsCarryTheirCoefficientsShiftedFromMode4On) {
    Picture p(16, 16);
    p.fill([](int c, std::uint32_t x, std::uint32_t) { return static_cast<int>(60 + 3 * x) + 20 * c; });
    Stream s3, s4;
    encodeStream(s3, p, 3, 0);
    encodeStream(s4, p, 4, 0);
    ASSERT_EQ(s3.result, 1);
    ASSERT_EQ(s4.result, 1);
    // Both hold four packed gradients with two anchor bytes (B = 8); the
    // coefficient section holds six passes of four values.
    auto coefficients = [](const Stream& s, std::uint8_t mode) {
        const BlockAreaLayout layout{frameGrid(16, 16, 8, 4), mode, 2};
        std::size_t end = static_cast<std::size_t>(blockAreaEnd(s.bytes, layout));
        TrailerWalker trailer(s.bytes, end, mode, 47);
        TrailerSection section;
        EXPECT_TRUE(trailer.next(section));
        EXPECT_EQ(section.type, 3);
        auto body = trailer.body(section);
        DeltaChunkReader reader;
        std::size_t position = 0;
        std::vector<std::uint8_t> values;
        std::uint8_t v;
        while (reader.next(body, position, v) == 1) values.push_back(v);
        return values;
    };
    auto v3 = coefficients(s3, 3), v4 = coefficients(s4, 4);
    ASSERT_EQ(v3.size(), 24u);
    ASSERT_EQ(v4.size(), 24u);
    for (int k = 0; k < 6; ++k)
        for (int b = 0; b < 4; ++b) {
            std::uint8_t raw = v3[k * 4 + b];
            std::uint8_t shifted = k % 2 ? static_cast<std::uint8_t>(static_cast<std::int8_t>(raw) >> kDefaultCoefShifts[k])
                                         : static_cast<std::uint8_t>(raw >> kDefaultCoefShifts[k]);
            EXPECT_EQ(v4[k * 4 + b], shifted) << k << "," << b;
        }
}

TEST(Payload, ModeNineWritesFourCompressedUnitsAndAClosingZero) {
    Picture p(64, 32); // 8 x 4 blocks: noise in the first two columns, flat after them
    std::mt19937 random(4);
    p.fill([&](int c, std::uint32_t x, std::uint32_t) { return x < 16 ? static_cast<int>(random() % 256) : 90 + c; });
    Stream s;
    encodeStream(s, p, 9, 0);
    ASSERT_EQ(s.result, 1);
    std::array<std::span<const std::uint8_t>, 4> parts;
    ASSERT_EQ(splitMode9Parts(s.bytes, parts), kDone);
    Bytes types(64), parameters(1000), luma(4000), chroma(1000);
    std::size_t length = 0;
    ASSERT_EQ(decompressStream(parts[0], types, length), 1);
    ASSERT_EQ(length, 32u);
    std::uint32_t details = 0, gradients = 0, firstGradient = 0;
    for (std::uint32_t i = 0; i < 32; ++i) {
        ASSERT_LE(types[i], 1);
        if (types[i] == 1 && gradients++ == 0) firstGradient = i;
        details += types[i] == 0;
    }
    ASSERT_GT(gradients, 8u);
    EXPECT_EQ(types[0], 0);
    ASSERT_EQ(decompressStream(parts[1], parameters, length), 1);
    ASSERT_EQ(length, 8u * 32); // eight planes of one byte per block
    EXPECT_GE(firstGradient % 8, 2u);
    EXPECT_EQ(parameters[2 * 32], 92 >> 1); // plane 2: blue base of the first gradient, shifted by 1
    EXPECT_EQ(parameters[4 * 32], 91 >> 1); // plane 4: green base
    EXPECT_EQ(parameters[3 * 32], 0);       // plane 3: blue slope
    ASSERT_EQ(decompressStream(parts[2], luma, length), 1);
    EXPECT_EQ(length, details * 64);
    EXPECT_EQ(luma[9], s.colour.luma(1, 1));  // block 0, row 1, column 1
    EXPECT_EQ(luma[64], s.colour.luma(8, 0)); // block 1 follows block 0
    ASSERT_EQ(decompressStream(parts[3], chroma, length), 1);
    EXPECT_EQ(length, 2u * 16 * 8); // a Cr and a Cb plane of ceil(64/4) x ceil(32/4) cells
    EXPECT_EQ(chroma[0], s.colour.cr(0, 0));
    EXPECT_EQ(chroma[128], s.colour.cb(0, 0));
    std::uint32_t closing;
    std::memcpy(&closing, s.bytes.data() + s.bytes.size() - 4, 4);
    EXPECT_EQ(closing, 0u);
}

TEST(Payload, TheOldLumaWriterFlagShiftsLumaRightByTwoInModes6To8Only) {
    Picture p(8, 8);
    std::mt19937 random(5);
    p.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    for (std::uint8_t mode : {5, 6}) {
        Stream plain, old;
        encodeStream(plain, p, mode, 0);
        encodeStream(old, p, mode, 0, 0, 1, 47, kLegacyOldLumaWriter);
        const BlockAreaLayout layout{frameGrid(8, 8, 8, 4), mode, 2};
        auto firstLuma = [&](const Stream& s) {
            std::size_t end = static_cast<std::size_t>(blockAreaEnd(s.bytes, layout));
            TrailerWalker trailer(s.bytes, end, mode, 47);
            TrailerSection section;
            trailer.next(section);
            trailer.finish(section, 0);
            trailer.next(section);
            DeltaChunkReader reader;
            std::size_t position = 0;
            std::uint8_t v = 0;
            reader.next(trailer.body(section), position, v);
            return v;
        };
        const std::uint8_t y = plain.colour.luma(0, 0);
        EXPECT_EQ(firstLuma(plain), y);
        EXPECT_EQ(firstLuma(old), mode == 6 ? y >> 2 : y) << int(mode);
    }
}

} // namespace
} // namespace vexel
