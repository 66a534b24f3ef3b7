#include "codec/frame_decoder.h"

#include "codec/container.h"
#include "codec/payload_writer.h"
#include "pipeline/codec_session.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

using Source = test::TestPlanes;

// A picture like a photograph: smooth shading, a sharp edge, fine texture.
void photoLike(Source& s, unsigned seed = 1) {
    std::mt19937 random(seed);
    s.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        int v = 60 + static_cast<int>(x) / 2 + static_cast<int>(y) / 3 + 25 * c;
        if (x > s.w / 2 && y > s.h / 3) v = 200 - 30 * c;                  // an edge
        if (x < s.w / 4 && y < s.h / 2) v += static_cast<int>(random() % 40) - 20; // texture
        return v;
    });
}

struct Encoded {
    std::vector<Bytes> streams;
    std::uint32_t B = 8, D = 4, headerSize = 47;
    std::uint8_t mode = 8;
};

Encoded encode(const Source& s, std::uint8_t mode, std::int8_t optimize, std::uint32_t streams = 1,
               std::uint8_t legacyFlags = 0) {
    Encoded e;
    e.mode = mode;
    e.D = chromaStepFor(mode, optimize, s.w, s.h, 1920, 1080);
    EncoderSettings base = EncoderSettings::forFrame(optimize, mode);
    EncoderSettings settings = EncoderSettings::forFrame(optimize, mode, writerAnchorBytes(mode, legacyFlags, base.B, e.D));
    e.B = settings.B;
    e.headerSize = streams > 1 ? 75 + 4 * streams : 47;
    ColourPlanes colour;
    for (std::uint32_t i = streams > 1 ? 1 : 0; i <= (streams > 1 ? streams : 0); ++i) {
        EncoderGrid grid = EncoderGrid::forStream(s.w, s.h, e.B, i, streams);
        BlockMap map;
        EXPECT_TRUE(analyseBlocks(s.source(), settings, grid, map));
        EXPECT_TRUE(computeColourPlanes(s.source(), grid, e.D, colour));
        PayloadJob job;
        job.mode = mode;
        job.chromaStep = e.D;
        job.legacyFlags = legacyFlags;
        job.headerSize = i <= 1 ? e.headerSize : 0;
        TrackedBuffer<std::uint8_t> payload;
        std::size_t length = 0;
        EXPECT_EQ(buildStreamPayload(map, colour, grid, job, payload, length, false), 1);
        e.streams.emplace_back(payload.data(), payload.data() + length);
    }
    return e;
}

// The job of stream i (0-based) of an encoded frame of w x h pixels.
StreamDecodeJob streamJob(const Encoded& e, std::uint32_t i, std::uint32_t w, std::uint32_t h) {
    const std::uint32_t n = static_cast<std::uint32_t>(e.streams.size());
    StreamDecodeJob job;
    job.streamIndex = n > 1 ? i + 1 : 0;
    job.streamCount = n;
    job.stream = e.streams[i];
    job.headerSize = e.headerSize;
    job.mode = e.mode;
    job.width = w;
    job.height = h;
    job.blockSize = e.B;
    job.chromaStep = e.D;
    return job;
}

// Decodes every stream into a record's planes (which it allocates when absent).
int decode(CodecSession& record, const Encoded& e, std::uint32_t w, std::uint32_t h, bool fast,
           std::uint8_t conversion = 0) {
    if (record.picture.planes.empty()) record.picture.planes.allocate(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    int result = 1;
    const std::uint32_t n = static_cast<std::uint32_t>(e.streams.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        StreamDecodeJob job = streamJob(e, i, w, h);
        job.fastPaint = fast;
        job.conversion = conversion;
        job.legacyFlags = record.codec.legacyFlags;
        job.repack = &record.repack;
        PictureBufferTarget target(record.picture);
        int r = decodeStream(target, job);
        if (r < 1) result = r;
    }
    return result;
}

double psnr(Source& s, CodecSession& record) {
    double sum = 0;
    for (int c = 0; c < 3; ++c)
        for (std::uint32_t y = 0; y < s.h; ++y)
            for (std::uint32_t x = 0; x < s.w; ++x) {
                double d = s.at(c, x, y) - record.picture.planes.row(c, static_cast<std::int32_t>(y))[x];
                sum += d * d;
            }
    double mse = sum / (3.0 * s.w * s.h);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(FrameDecoder, EveryModeAndSettingRoundTripsWithinItsQuality) {
    Source s(100, 76); // sizes that are not a multiple of any block size
    photoLike(s);
    for (std::int8_t optimize : {-1, 0, 1})
        for (std::uint8_t mode = 0; mode <= 9; ++mode)
            for (std::uint32_t streams : {1u, 3u}) {
                if (mode == 1 && streams > 1) continue;
                Encoded e = encode(s, mode, optimize, streams);
                for (bool fast : {true, false}) {
                    CodecSession record;
                    ASSERT_EQ(decode(record, e, s.w, s.h, fast), 1) << int(mode);
                    double quality = psnr(s, record);
                    // Size-optimised pictures are coarser. Mode 0 is read with the legacy
                    // pair, which does not quite invert the writer's transform.
                    const double bound = mode == 0 ? 22.0 : optimize > 0 ? 27.0 : 29.0;
                    EXPECT_GT(quality, bound)
                        << "mode " << int(mode) << " optimize " << int(optimize) << " streams " << streams
                        << (fast ? " fast" : " smooth");
                }
            }
}

TEST(FrameDecoder, GreyDetailRoundTripsExactlyAlsoInANarrowEdgeColumn) {
    Source s(20, 16); // B = 16: the second block column holds 4 columns
    // Grey: the same value in every channel, so chroma is neutral.
    s.fill([](int, std::uint32_t x, std::uint32_t y) { return static_cast<int>((x * 53 + y * 97 + x * y % 7) % 256); });
    for (std::uint8_t mode : {1, 5, 8, 9}) {
        Encoded e = encode(s, mode, 1);
        ASSERT_EQ(e.B, 16u);
        CodecSession record;
        ASSERT_EQ(decode(record, e, s.w, s.h, true), 1);
        for (std::uint32_t y = 0; y < s.h; ++y)
            for (std::uint32_t x = 0; x < s.w; ++x)
                ASSERT_EQ(record.picture.planes.row(0, static_cast<std::int32_t>(y))[x], s.at(0, x, y))
                    << "mode " << int(mode) << " at " << x << "," << y;
    }
}

TEST(FrameDecoder, TheOldLumaSettingMultipliesLumaByFourFromMode6On) {
    Source s(16, 16);
    // Grey and below 64, so four times the luma is still a byte.
    s.fill([](int, std::uint32_t x, std::uint32_t y) { return static_cast<int>((x * 37 + y * 11 + x * y) % 64); });
    for (std::uint8_t mode : {5, 6}) {
        Encoded e = encode(s, mode, 0);
        CodecSession plain, old;
        old.codec.legacyFlags = 1; // "-4"
        ASSERT_EQ(decode(plain, e, 16, 16, true), 1);
        ASSERT_EQ(decode(old, e, 16, 16, true), 1);
        for (std::uint32_t x = 0; x < 16; ++x) {
            const int y = plain.picture.planes.row(0, 3)[x];
            EXPECT_EQ(old.picture.planes.row(0, 3)[x], mode == 6 ? (y * 4) % 256 : y) << "mode " << int(mode);
        }
    }
}

TEST(FrameDecoder, TheOldParameterSizeReadsOneAnchorByteWhereTheChromaCellIsSmall) {
    Source s(32, 32);
    s.fill([](int c, std::uint32_t x, std::uint32_t y) { return static_cast<int>(40 + 2 * x + y) + 30 * c; });
    // Written with the legacy anchor writer (anchors sized by the cell, 4): one byte each.
    Encoded e = encode(s, 7, 0, 1, kLegacyChromaAnchorWriter);
    ASSERT_EQ(e.D, 4u);
    CodecSession right, wrong;
    right.codec.legacyFlags = 2; // "-x": the reader takes the size from the cell too
    ASSERT_EQ(decode(right, e, 32, 32, false), 1);
    EXPECT_GT(psnr(s, right), 35.0);
    // Without it the reader takes two bytes per anchor and the area falls apart.
    int r = decode(wrong, e, 32, 32, false);
    EXPECT_TRUE(r < 1 || psnr(s, wrong) < 25.0);
}

TEST(FrameDecoder, OnlyTheLastBandReachesThePicturesEnd) {
    // Three block rows in two streams: stream 1 holds rows 0 and 1, and must
    // not draw into row 2, which belongs to stream 2.
    Source s(16, 24);
    std::mt19937 random(9);
    s.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    Encoded e = encode(s, 7, 0, 2);
    e.streams.resize(1); // decode stream 1 alone
    CodecSession record;
    record.picture.planes.allocate(16, 24);
    std::memset(record.picture.planes.data(), 77, 3 * record.picture.planes.planeSize());
    StreamDecodeJob job;
    job.streamIndex = 1;
    job.streamCount = 2;
    job.stream = e.streams[0];
    job.headerSize = e.headerSize;
    job.mode = 7;
    job.width = 16;
    job.height = 24;
    job.blockSize = e.B;
    job.chromaStep = e.D;
    job.repack = &record.repack;
    PictureBufferTarget target(record.picture);
    ASSERT_EQ(decodeStream(target, job), 1);
    for (int y = 16; y < 24; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(record.picture.planes.row(1, y)[x], 77) << x << "," << y;
    EXPECT_NE(record.picture.planes.row(1, 15)[3], 77);
}

TEST(FrameDecoder, SmoothChromaAtAnEdgeThatCutsACellKeepsItsColour) {
    // A width of 10 cuts the last chroma cell (D = 4) after two columns.
    Source s(10, 16);
    s.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        return (c == 0 ? 220 : c == 1 ? 150 : 40) + static_cast<int>((x * 7 + y * 13) % 30);
    });
    Encoded e = encode(s, 7, 0);
    CodecSession record;
    ASSERT_EQ(decode(record, e, 10, 16, false), 1);
    double error = 0;
    for (int y = 0; y < 16; ++y)
        for (int c = 0; c < 3; ++c) error += std::fabs(s.at(c, 9, y) - record.picture.planes.row(c, y)[9]);
    EXPECT_LT(error / 48, 8.0); // the last column is not darkened
}

// A mode-7 stream of kept blocks only, with a motion section.
Bytes keptWithMotion(std::uint32_t blocks, const float motion[6]) {
    Bytes b;
    for (std::uint32_t i = 0; i < blocks; i += 4) b.push_back(0x55); // four keep codes per byte
    const std::uint32_t end = 47 + static_cast<std::uint32_t>(b.size()) + 4 + 1 + 1 + 24;
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(end >> (8 * k)));
    b.push_back(1);  // motion section in modes 5 to 8
    b.push_back(24); // six floats
    const std::uint8_t* raw = reinterpret_cast<const std::uint8_t*>(motion);
    b.insert(b.end(), raw, raw + 24);
    return b;
}

int decodeKept(CodecSession& record, const Bytes& stream) {
    StreamDecodeJob job;
    job.stream = stream;
    job.headerSize = 47;
    job.mode = 7;
    job.width = 16;
    job.height = 16;
    job.blockSize = 8;
    job.chromaStep = 4;
    job.legacyFlags = record.codec.legacyFlags;
    job.repack = &record.repack;
    PictureBufferTarget target(record.picture);
    return decodeStream(target, job);
}

void previousFrame(CodecSession& record) {
    record.picture.frameBuffer.allocate(16, 16);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) record.picture.frameBuffer.row(p, y)[x] = static_cast<std::uint8_t>(x * 16 + y + p);
    record.picture.planes.allocate(16, 16);
}

// A caller's own 32-bit buffer: blue, green, red, unused, a pitch wider than
// its rows, a 16-pixel margin, top row first.
struct CallerBuffer {
    static constexpr std::uint32_t kMargin = 16;
    CallerBuffer(std::uint32_t width, std::uint32_t height, std::uint8_t fill)
        : w(width), h(height), pitch(4 * (width + 2 * kMargin) + 20), bytes(pitch * (height + 2 * kMargin), fill) {}
    PixelTarget view() { return PixelTarget::fromSurface(bytes.data(), static_cast<std::ptrdiff_t>(pitch), w, h, kMargin, 16, 8, 0); }
    // Channel c (0 red) of pixel (x, y), y from the bottom.
    std::uint8_t at(int c, std::uint32_t x, std::uint32_t y) const {
        return bytes[(kMargin + h - 1 - y) * pitch + 4 * (kMargin + x) + 2 - c];
    }
    std::uint32_t w, h;
    std::size_t pitch;
    Bytes bytes;
};

TEST(FrameDecoder, DrawsIntoAnyBufferItsCallerGivesAsItDrawsIntoThePlanes) {
    Source s(100, 76);
    photoLike(s, 3);
    for (std::uint8_t mode : {0, 2, 5, 8, 9})
        for (std::uint32_t streams : {1u, 3u}) {
            const Encoded e = encode(s, mode, 0, streams);
            CodecSession record;
            ASSERT_EQ(decode(record, e, s.w, s.h, false), 1);

            CallerBuffer buffer(s.w, s.h, 0xA5);
            FramePixels pixels;
            pixels.current = buffer.view();
            FixedFrameTarget target(pixels);
            const std::uint32_t n = static_cast<std::uint32_t>(e.streams.size());
            for (std::uint32_t i = 0; i < n; ++i)
                ASSERT_EQ(decodeStream(target, streamJob(e, i, s.w, s.h)), 1) << int(mode);
            int differing = 0;
            for (int c = 0; c < 3; ++c)
                for (std::uint32_t y = 0; y < s.h; ++y)
                    for (std::uint32_t x = 0; x < s.w; ++x)
                        differing += buffer.at(c, x, y) != record.picture.planes.row(c, static_cast<std::int32_t>(y))[x];
            EXPECT_EQ(differing, 0) << "mode " << int(mode) << ", " << streams << " streams";
            // The unused fourth byte of each pixel and the bytes past each row are the caller's.
            EXPECT_EQ(buffer.bytes[(CallerBuffer::kMargin + 10) * buffer.pitch + 4 * (CallerBuffer::kMargin + 10) + 3], 0xA5);
            EXPECT_EQ(buffer.bytes[(CallerBuffer::kMargin + 10) * buffer.pitch + buffer.pitch - 1], 0xA5);
        }
}

TEST(FrameDecoder, ATargetThatCannotGiveItsPixelsEndsTheStreamWithoutDrawing) {
    Source s(40, 24);
    photoLike(s);
    const Encoded e = encode(s, 8, 0);
    StreamDecodeJob job = streamJob(e, 0, s.w, s.h);

    // Pixels of another size are refused, and nothing is written.
    CallerBuffer small(s.w - 1, s.h, 0x11);
    FramePixels pixels;
    pixels.current = small.view();
    FixedFrameTarget wrongSize(pixels);
    EXPECT_EQ(decodeStream(wrongSize, job), kNoMemory);
    EXPECT_TRUE(std::all_of(small.bytes.begin(), small.bytes.end(), [](std::uint8_t b) { return b == 0x11; }));

    // A previous frame of another size is refused as well.
    CallerBuffer current(s.w, s.h, 0x11), previous(s.w, s.h + 1, 0x22);
    pixels.current = current.view();
    pixels.previous = previous.view();
    pixels.hasPrevious = true;
    FixedFrameTarget wrongPrevious(pixels);
    EXPECT_EQ(decodeStream(wrongPrevious, job), kNoMemory);

    // A target is asked once and given back once, after the stream parsed.
    struct Counting final : FrameTarget {
        bool beginDrawing(std::uint32_t, std::uint32_t, FramePixels&) override { ++begun; return false; }
        void endDrawing() override { ++ended; }
        int begun = 0, ended = 0;
    } refusing;
    EXPECT_EQ(decodeStream(refusing, job), kNoMemory);
    EXPECT_EQ(refusing.begun, 1);
    EXPECT_EQ(refusing.ended, 0);
    const Bytes broken(e.streams[0].begin(), e.streams[0].begin() + 10);
    job.stream = broken;
    EXPECT_EQ(decodeStream(refusing, job), kFailed);
    EXPECT_EQ(refusing.begun, 1); // a stream that does not parse never asks
}

TEST(FrameDecoder, KeptBlocksCopyThePreviousFrameAndMotionDisplacesThem) {
    const float none[6] = {0, 0, 0.5f, 0.5f, 0, 0};
    CodecSession still;
    previousFrame(still);
    ASSERT_EQ(decodeKept(still, keptWithMotion(4, none)), 1);
    EXPECT_EQ(still.picture.planes.row(0, 5)[7], still.picture.frameBuffer.row(0, 5)[7]);

    // A shift of 2.5 rounds to 2 (ties to even): pixel x shows x - 2.
    const float shifted[6] = {2.5f, 0, 0.5f, 0.5f, 0, 0};
    CodecSession moved;
    previousFrame(moved);
    ASSERT_EQ(decodeKept(moved, keptWithMotion(4, shifted)), 1);
    EXPECT_EQ(moved.picture.planes.row(0, 5)[7], moved.picture.frameBuffer.row(0, 5)[5]);
    EXPECT_EQ(moved.picture.planes.row(1, 5)[1], 0); // the source lies outside the picture

    // Parameters that are not finite or absurdly large switch motion off.
    const float broken[6] = {std::nanf(""), 1e30f, 0.5f, 0.5f, 0, 0};
    CodecSession safe;
    previousFrame(safe);
    ASSERT_EQ(decodeKept(safe, keptWithMotion(4, broken)), 1);
    EXPECT_EQ(safe.picture.planes.row(0, 5)[7], safe.picture.frameBuffer.row(0, 5)[7]);
}

TEST(FrameDecoder, WithoutAPreviousFrameKeptBlocksAreLeftAsTheyAre) {
    const float shifted[6] = {3, 0, 0.5f, 0.5f, 0, 0};
    CodecSession record;
    record.picture.planes.allocate(16, 16);
    std::memset(record.picture.planes.data(), 33, 3 * record.picture.planes.planeSize());
    ASSERT_EQ(decodeKept(record, keptWithMotion(4, shifted)), 1);
    EXPECT_EQ(record.picture.planes.row(2, 9)[9], 33);
    // A previous frame of another size is no previous frame either.
    record.picture.frameBuffer.allocate(8, 8);
    ASSERT_EQ(decodeKept(record, keptWithMotion(4, shifted)), 1);
    EXPECT_EQ(record.picture.planes.row(2, 9)[9], 33);
}

TEST(FrameDecoder, StreamsThatDoNotParseAreNotDrawnAndNeverReadOutside) {
    Source s(48, 40);
    photoLike(s, 3);
    for (std::uint8_t mode : {2, 5, 7, 8, 9}) {
        Encoded e = encode(s, mode, 0);
        const Bytes good = e.streams[0];
        std::mt19937 random(mode);
        for (int trial = 0; trial < 200; ++trial) {
            Bytes bad = good;
            if (trial % 2) bad.resize(random() % bad.size());
            else
                for (int k = 0; k < 4; ++k) bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
            e.streams[0] = bad;
            CodecSession record;
            record.picture.planes.allocate(48, 40);
            std::memset(record.picture.planes.data(), 5, 3 * record.picture.planes.planeSize());
            int r = decode(record, e, 48, 40, trial % 3 == 0);
            if (r < 1) {
                // Nothing was drawn from a stream that did not parse.
                for (int y = 0; y < 40; ++y) ASSERT_EQ(record.picture.planes.row(0, y)[y % 48], 5);
            }
        }
    }
}

TEST(FrameDecoder, ARepackConversionKeepsTheDecodedRecordsAndPlanes) {
    Source s(40, 24);
    photoLike(s, 4);
    Encoded e = encode(s, 7, 0, 2);
    CodecSession record;
    ASSERT_EQ(decode(record, e, 40, 24, true, 2), 1);
    ASSERT_EQ(record.repack.width, 40u);
    ASSERT_EQ(record.repack.blockSize, 8u);
    ASSERT_EQ(record.repack.blocks(), 15u);
    int gradients = 0, details = 0;
    for (std::uint64_t i = 0; i < record.repack.blocks(); ++i) {
        const std::uint8_t t = record.repack.records()[9 * i];
        gradients += t == 1;
        details += t == 0;
    }
    EXPECT_EQ(gradients + details, 15);
    EXPECT_GT(details, 0);
    // The luma plane holds the decoded luma of a detail pixel.
    const std::uint8_t* y = record.repack.plane(0);
    EXPECT_NE(y[(16 + 20) * (40 + 32) + 16 + 2], 0);
}

} // namespace
} // namespace vexel
