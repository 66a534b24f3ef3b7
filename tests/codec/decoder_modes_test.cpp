// The decoder against the format, mode by mode: every stream here is written
// byte by byte from the layout rules (block areas, type packing, trailer
// sections, delta chunks, stored compressed streams, the four parts of
// mode 9), and every expected pixel comes from the drawing formulas computed
// here - never from the project's encoder, writer or colour module.
#include "codec/frame_decoder.h"
#include "pipeline/codec_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Shifts = std::array<std::uint8_t, 6>;

constexpr int kRed = TPicturePlanes::kRed, kGreen = TPicturePlanes::kGreen, kBlue = TPicturePlanes::kBlue;
constexpr std::uint32_t kHeaderSize = 47;
constexpr Shifts kWriterShifts = {1, 3, 1, 3, 1, 3};

// ------------------------------------------------------------ the picture

struct Frame {
    std::uint32_t W, H, B, D;
    std::uint32_t columns() const { return (W + B - 1) / B; }
    std::uint32_t blocks() const { return columns() * ((H + B - 1) / B); }
    std::uint32_t chromaSamples() const { return ((W + D - 1) / D) * ((H + D - 1) / D); }
};

// What the test's detail blocks hold: a luma byte per pixel and a Cr and Cb
// byte per chroma cell, by picture position.
std::uint8_t luma(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>(70 + (37 * x + 23 * y) % 150); }
std::uint8_t cellCr(std::uint32_t cx, std::uint32_t cy) { return static_cast<std::uint8_t>(100 + (13 * cx + 29 * cy) % 57); }
std::uint8_t cellCb(std::uint32_t cx, std::uint32_t cy) { return static_cast<std::uint8_t>(98 + (17 * cx + 11 * cy) % 61); }

// The previous frame: a pattern no block of a stream makes.
std::uint8_t previousPixel(int plane, std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>(7 * x + 31 * y + 50 * plane); }

// ------------------------------------------------------------ the streams

void put32(Bytes& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void append(Bytes& s, const Bytes& more) { s.insert(s.end(), more.begin(), more.end()); }

// A compressed stream in its stored form: size, a token count of 0, the bytes.
Bytes stored(const Bytes& data) {
    Bytes s;
    put32(s, static_cast<std::uint32_t>(data.size()));
    put32(s, 0);
    append(s, data);
    return s;
}

// A block's in-picture luma bytes, rows in order, each from its first column.
Bytes rasterLuma(const Frame& f, std::uint32_t bx, std::uint32_t by) {
    Bytes out;
    for (std::uint32_t y = by * f.B; y < std::min((by + 1) * f.B, f.H); ++y)
        for (std::uint32_t x = bx * f.B; x < std::min((bx + 1) * f.B, f.W); ++x) out.push_back(luma(x, y));
    return out;
}

// The same in serpentine order: the first row left to right, the next
// right to left from its last column inside the picture, and so on.
Bytes serpentineLuma(const Frame& f, std::uint32_t bx, std::uint32_t by) {
    Bytes out;
    const std::uint32_t x0 = bx * f.B, x1 = std::min(x0 + f.B, f.W);
    for (std::uint32_t y = by * f.B, row = 0; y < std::min((by + 1) * f.B, f.H); ++y, ++row)
        for (std::uint32_t i = 0; i < x1 - x0; ++i) out.push_back(luma(row % 2 == 0 ? x0 + i : x1 - 1 - i, y));
    return out;
}

// A block's chroma: Cr then Cb of each D x D cell that starts inside the picture, in raster order.
Bytes chroma(const Frame& f, std::uint32_t bx, std::uint32_t by) {
    Bytes out;
    for (std::uint32_t y = by * f.B; y < std::min((by + 1) * f.B, f.H); y += f.D)
        for (std::uint32_t x = bx * f.B; x < std::min((bx + 1) * f.B, f.W); x += f.D) {
            out.push_back(cellCr(x / f.D, y / f.D));
            out.push_back(cellCb(x / f.D, y / f.D));
        }
    return out;
}

Bytes detail(const Frame& f, std::uint32_t bx, std::uint32_t by) {
    Bytes out = rasterLuma(f, bx, by);
    append(out, chroma(f, bx, by));
    return out;
}

// The block area: a type byte before every block in modes 0 to 4, before
// every fourth block in modes 5 to 8 (two bits each, the first block in the
// lowest bits, the count running on across block rows); each block's inline
// bytes right after its type is known.
class BlockArea {
public:
    explicit BlockArea(std::uint8_t mode) : perByte_(mode >= 5 ? 4 : 1) {}
    BlockArea& block(std::uint8_t type, const Bytes& inlineBytes = {}) {
        if (count_ % perByte_ == 0) {
            bytes_.push_back(0);
            typeByte_ = bytes_.size() - 1;
        }
        bytes_[typeByte_] = static_cast<std::uint8_t>(bytes_[typeByte_] | type << (2 * (count_ % perByte_)));
        append(bytes_, inlineBytes);
        ++count_;
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    std::uint32_t perByte_;
    std::uint32_t count_ = 0;
    std::size_t typeByte_ = 0;
    Bytes bytes_;
};

// One delta chunk with its length byte: the base value; the delta width
// (8 written as 0) with the unused slots above it; then each value's delta
// from the base, modulo 256 as a signed number, `bits` wide, packed least
// significant bit first. `bits` 0 takes the narrowest width that holds every
// delta (at least 2; 1 for a lone value); `spareBytes` pads the chunk, the
// slots they add declared unused.
Bytes chunk(const Bytes& values, int bits = 0, int spareBytes = 0) {
    std::vector<int> deltas;
    for (std::size_t i = 1; i < values.size(); ++i) {
        const int d = (values[i] - values[0]) & 255;
        deltas.push_back(d >= 128 ? d - 256 : d);
    }
    if (bits == 0) {
        bits = deltas.empty() ? 1 : 2;
        for (int d : deltas)
            while (d < -(1 << (bits - 1)) || d >= (1 << (bits - 1))) ++bits;
    }
    const std::size_t deltaBytes = (deltas.size() * bits + 7) / 8 + spareBytes;
    const std::size_t unused = deltaBytes * 8 / bits + 1 - values.size();
    Bytes out = {static_cast<std::uint8_t>(2 + deltaBytes), values[0], static_cast<std::uint8_t>(bits % 8 | unused << 3)};
    Bytes packed(deltaBytes, 0);
    for (std::size_t j = 0; j < deltas.size(); ++j)
        for (int b = 0; b < bits; ++b)
            if (deltas[j] >> b & 1) packed[(j * bits + b) / 8] = static_cast<std::uint8_t>(packed[(j * bits + b) / 8] | 1 << ((j * bits + b) % 8));
    append(out, packed);
    return out;
}

// Values in chunks of at most `most` values each.
Bytes chunks(const Bytes& values, std::size_t most) {
    Bytes out;
    for (std::size_t i = 0; i < values.size(); i += most)
        append(out, chunk(Bytes(values.begin() + static_cast<std::ptrdiff_t>(i),
                                values.begin() + static_cast<std::ptrdiff_t>(std::min(values.size(), i + most)))));
    return out;
}

struct Section {
    std::uint8_t type;
    Bytes body;
};

// The block area, then the trailer sections, each [u32 end][u8 type][body].
// Modes 2 to 7: the end is the position after the section counted from the
// stream's start, plus `bias` (the header's size in the stream that follows
// the header). Mode 8: the end field is the section's own size, and the
// whole stream is wrapped in a compressed stream (its stored form).
// `firstEndError` is added to the first section's end field.
Bytes withSections(std::uint8_t mode, const BlockArea& area, const std::vector<Section>& sections, std::uint32_t bias = kHeaderSize,
                   std::int64_t firstEndError = 0) {
    Bytes s = area.bytes();
    for (const Section& section : sections) {
        const auto size = static_cast<std::int64_t>(5 + section.body.size());
        const std::int64_t end = (mode == 8 ? size : bias + static_cast<std::int64_t>(s.size()) + size) + (s.size() == area.bytes().size() ? firstEndError : 0);
        put32(s, static_cast<std::uint32_t>(end));
        s.push_back(section.type);
        append(s, section.body);
    }
    return mode == 8 ? stored(s) : s;
}

// The luma section's body: each block's serpentine luma in chunks of at most 128, every block starting a chunk.
Bytes lumaBody(const Frame& f, const std::vector<std::array<std::uint32_t, 2>>& blocks) {
    Bytes out;
    for (const auto& b : blocks) append(out, chunks(serpentineLuma(f, b[0], b[1]), 128));
    return out;
}

// ------------------------------------------------------------ gradients

// Parameter bytes 1..8 of a gradient ([0] unused): anchors (x low nibble,
// y high), then base and slope (tenths, signed) of blue, green and red.
using Params = std::array<std::uint8_t, 9>;

// A packed gradient: its anchors in nibble form and in the one-byte form
// (bits 0-1 first x, 2-3 first y, 4-5 second x, 6-7 second y), and its six
// coefficient bytes as stored.
struct Packed {
    std::uint8_t first, second, oneByte;
    std::array<std::uint8_t, 6> coefficients;

    // The block's parameters once read: coefficients shifted left by their
    // shifts (modulo 256) or not, anchors as given.
    Params params(std::uint8_t a1, std::uint8_t a2, const Shifts* shifts) const {
        Params p{0, a1, a2};
        for (int k = 0; k < 6; ++k)
            p[3 + k] = shifts ? static_cast<std::uint8_t>(coefficients[k] << (*shifts)[k]) : coefficients[k];
        return p;
    }
};

// Small anchors for B = 4 (one-byte form), wider ones for B = 8.
const Packed kP4{0x10, 0x23, 0xB4, {50, 7, 40, 0xFD, 60, 5}};     // (0,1) to (3,2)
const Packed kQ4{0x32, 0x01, 0x1E, {90, 0xF9, 30, 4, 70, 0x30}};  // (2,3) to (1,0)
const Packed kP8{0x00, 0x25, 0, {50, 7, 40, 0xFD, 60, 5}};        // (0,0) to (5,2)
const Packed kQ8{0x71, 0x17, 0, {90, 0xF9, 30, 4, 70, 0x30}};     // (1,7) to (7,1)

// Coefficient section body: six passes over the packed gradients in block
// order, pass k giving each its coefficient k, in chunks of at most 32 that
// run on from block to block and end with the pass.
Bytes coefficientBody(const std::vector<const Packed*>& gradients) {
    Bytes out;
    for (int k = 0; k < 6; ++k) {
        Bytes pass;
        for (const Packed* g : gradients) pass.push_back(g->coefficients[k]);
        append(out, chunks(pass, 32));
    }
    return out;
}

// ------------------------------------------------------------ expectations

// Whether a byte is the value clamped to 0..255 and rounded to nearest,
// ties to even; within 1e-4 of a tie both neighbours pass (float and long
// double may part there).
bool roundsTo(int byte, long double value) {
    value = std::clamp(value, 0.0L, 255.0L);
    if (byte == std::nearbyint(value)) return true;
    return std::fabs(value - std::floor(value) - 0.5L) < 1e-4L && (byte == std::floor(value) || byte == std::ceil(value));
}

// Every in-picture pixel of a block against want(channel, x, y).
template <class Want>
testing::AssertionResult blockIs(const CodecSession& s, const Frame& f, std::uint32_t bx, std::uint32_t by, Want want) {
    for (int channel : {kRed, kGreen, kBlue})
        for (std::uint32_t y = by * f.B; y < std::min((by + 1) * f.B, f.H); ++y)
            for (std::uint32_t x = bx * f.B; x < std::min((bx + 1) * f.B, f.W); ++x) {
                const int got = s.picture.planes.row(channel, static_cast<std::int32_t>(y))[x];
                const long double expected = want(channel, x, y);
                if (!roundsTo(got, expected))
                    return testing::AssertionFailure() << "block (" << bx << "," << by << ") channel " << channel << " pixel (" << x
                                                       << "," << y << "): " << got << " where the formula gives "
                                                       << static_cast<double>(expected);
            }
    return testing::AssertionSuccess();
}

// A detail pixel through the inverse transform: d = Cr - 128, f = Cb - 128;
// current R = Y + 1.403 d, G = Y - 0.714 d - 0.344 f, B = Y + 1.77 f; the
// legacy pair of mode 0 exchanges the factors: R = Y + 1.77 d,
// G = Y - 0.344 d - 0.714 f, B = Y + 1.403 f.
enum class Pair { Current, Legacy };
long double inverse(Pair pair, int channel, long double y, int cb, int cr) {
    const long double d = cr - 128, f = cb - 128;
    const bool legacy = pair == Pair::Legacy;
    if (channel == kRed) return y + (legacy ? 1.77L : 1.403L) * d;
    if (channel == kGreen) return legacy ? y - 0.344L * d - 0.714L * f : y - 0.714L * d - 0.344L * f;
    return y + (legacy ? 1.403L : 1.77L) * f;
}

// A detail block: luma(x, y) shifted left by lumaShift (modulo 256), its cell's chroma.
testing::AssertionResult detailIs(const CodecSession& s, const Frame& f, std::uint32_t bx, std::uint32_t by, Pair pair = Pair::Current,
                                  int lumaShift = 0) {
    return blockIs(s, f, bx, by, [&](int channel, std::uint32_t x, std::uint32_t y) {
        const long double Y = static_cast<std::uint8_t>(luma(x, y) << lumaShift);
        return inverse(pair, channel, Y, cellCb(x / f.D, y / f.D), cellCr(x / f.D, y / f.D));
    });
}

// A gradient block painted fast: theta = atan2(dy, dx) between the anchors,
// J = sqrt(2)/2 + 1/2, pixel (c, t) = base + J slope (cos theta (c - (B-1)/2)
// + sin theta (t - (B-1)/2)), slope = signed byte x 0.1.
testing::AssertionResult gradientIs(const CodecSession& s, const Frame& f, std::uint32_t bx, std::uint32_t by, const Params& p) {
    const int dx = (p[2] & 15) - (p[1] & 15), dy = (p[2] >> 4) - (p[1] >> 4);
    const long double theta = std::atan2(static_cast<long double>(dy), static_cast<long double>(dx));
    const long double J = std::sqrt(2.0L) * 0.5L + 0.5L, half = (f.B - 1) / 2.0L;
    return blockIs(s, f, bx, by, [&](int channel, std::uint32_t x, std::uint32_t y) {
        const int at = channel == kRed ? 7 : channel == kGreen ? 5 : 3;
        const long double base = p[at], slope = static_cast<std::int8_t>(p[at + 1]) * 0.1L;
        const long double c = x - bx * f.B, t = y - by * f.B;
        return base + J * slope * (std::cos(theta) * (c - half) + std::sin(theta) * (t - half));
    });
}

testing::AssertionResult keptIs(const CodecSession& s, const Frame& f, std::uint32_t bx, std::uint32_t by) {
    return blockIs(s, f, bx, by, [](int channel, std::uint32_t x, std::uint32_t y) { return previousPixel(channel, x, y); });
}

// Not drawn: the output planes still hold their zeros.
testing::AssertionResult untouched(const CodecSession& s, const Frame& f, std::uint32_t bx, std::uint32_t by) {
    return blockIs(s, f, bx, by, [](int, std::uint32_t, std::uint32_t) { return 0.0L; });
}

// ------------------------------------------------------------ decoding

std::unique_ptr<CodecSession> session(const Frame& f, bool withPrevious, std::uint8_t legacyFlags = 0) {
    auto s = std::make_unique<CodecSession>();
    s->codec.legacyFlags = legacyFlags;
    EXPECT_TRUE(s->picture.planes.allocate(static_cast<std::int32_t>(f.W), static_cast<std::int32_t>(f.H)));
    if (withPrevious) {
        EXPECT_TRUE(s->picture.frameBuffer.allocate(static_cast<std::int32_t>(f.W), static_cast<std::int32_t>(f.H)));
        for (int p = 0; p < 3; ++p)
            for (std::uint32_t y = 0; y < f.H; ++y)
                for (std::uint32_t x = 0; x < f.W; ++x) s->picture.frameBuffer.row(p, static_cast<std::int32_t>(y))[x] = previousPixel(p, x, y);
    }
    return s;
}

// Decodes with fast painting (no chroma smoothing): the formulas above are the whole picture.
int decode(CodecSession& s, const Frame& f, std::uint8_t mode, const Bytes& stream, const Shifts& shifts = kWriterShifts,
           std::uint32_t streamIndex = 0, std::uint32_t streamCount = 1) {
    StreamDecodeJob job;
    job.stream = stream;
    job.mode = mode;
    job.width = f.W;
    job.height = f.H;
    job.blockSize = f.B;
    job.chromaStep = f.D;
    job.fastPaint = true;
    job.headerSize = kHeaderSize;
    job.coefShifts = shifts;
    job.streamIndex = streamIndex;
    job.streamCount = streamCount;
    job.legacyFlags = s.codec.legacyFlags;
    job.repack = &s.repack;
    PictureBufferTarget target(s.picture);
    return decodeStream(target, job);
}

// ------------------------------------------------------------ modes 0 to 4

TEST(DecoderFormulas, ModeZeroDrawsDetailThroughTheLegacyPairAndModeOneThroughTheCurrentOne) {
    const Frame f{8, 4, 4, 2};
    const Params g{0, 0x00, 0x31, 120, 25, 80, 0xE5, 200, 11};
    Bytes gradient(g.begin() + 1, g.end());
    const Bytes stream = BlockArea(0).block(0, detail(f, 0, 0)).block(1, gradient).bytes();
    for (std::uint8_t mode : {0, 1}) {
        auto s = session(f, false);
        ASSERT_EQ(decode(*s, f, mode, stream), kDone) << int(mode);
        EXPECT_TRUE(detailIs(*s, f, 0, 0, mode == 0 ? Pair::Legacy : Pair::Current)) << "mode " << int(mode);
        EXPECT_FALSE(detailIs(*s, f, 0, 0, mode == 0 ? Pair::Current : Pair::Legacy)) << "the two pairs must differ here";
        EXPECT_TRUE(gradientIs(*s, f, 1, 0, g)) << "mode " << int(mode);
    }
}

TEST(DecoderFormulas, UpToModeFourBothFiveAnd255KeepAndAnUnknownTypeCarriesNothing) {
    const Frame f{16, 4, 4, 2};
    for (std::uint8_t mode = 0; mode <= 4; ++mode) {
        const Bytes stream = BlockArea(mode).block(5).block(255).block(7).block(0, detail(f, 3, 0)).bytes();
        auto s = session(f, true);
        ASSERT_EQ(decode(*s, f, mode, stream), kDone) << int(mode);
        EXPECT_TRUE(keptIs(*s, f, 0, 0)) << "mode " << int(mode);
        EXPECT_TRUE(keptIs(*s, f, 1, 0)) << "mode " << int(mode);
        EXPECT_TRUE(untouched(*s, f, 2, 0)) << "mode " << int(mode);
        EXPECT_TRUE(detailIs(*s, f, 3, 0, mode == 0 ? Pair::Legacy : Pair::Current)) << "mode " << int(mode);
    }
}

// The luma of one chunked-detail block (B = 4) read from four chunks: a lone
// value, 3-bit deltas with spare slots declared unused, 8-bit deltas (width
// field 0), and the narrowest width for the rest.
TEST(DecoderFormulas, DeltaChunksGiveTheBaseThenSignedDeltasOfTheirWidthAndNoUnusedSlot) {
    const Frame f{8, 4, 4, 2};
    const Bytes chunkBytes[] = {
        {2, 77, 0x01},                          // one value, width 1, nothing unused
        {5, 100, 0x23, 0xE3, 0x05, 0x00},       // deltas +3 -4 -1 +2 in 3 bits, 4 slots unused
        {5, 50, 0x00, 0x7F, 0x80, 0x64},        // deltas +127 -128 +100 in 8 bits
        chunk({200, 210, 190, 205, 201, 199}),  // deltas +10 -10 +5 +1 -1 in 5 bits
    };
    EXPECT_EQ(chunk({100, 103, 96, 99, 102}, 3, 1), chunkBytes[1]) << "the test's chunk coder";
    EXPECT_EQ(chunk({50, 177, 178, 150}, 8), chunkBytes[2]) << "the test's chunk coder";
    // The sixteen values in serpentine order, then where they land: odd rows run right to left.
    const int pixels[4][4] = {{77, 100, 103, 96}, {177, 50, 102, 99}, {178, 150, 200, 210}, {199, 201, 205, 190}};
    Bytes body;
    for (const Bytes& c : chunkBytes) append(body, c);

    const Params g{0, 0x12, 0x56, 30, 0x10, 140, 0xF0, 90, 0x05};
    const Bytes gradient(g.begin() + 1, g.end());
    const BlockArea area = BlockArea(2).block(4, chroma(f, 0, 0)).block(1, gradient);
    auto s = session(f, false);
    ASSERT_EQ(decode(*s, f, 2, withSections(2, area, {{4, body}})), kDone);
    EXPECT_TRUE(blockIs(*s, f, 0, 0, [&](int channel, std::uint32_t x, std::uint32_t y) {
        return inverse(Pair::Current, channel, pixels[y][x], cellCb(x / 2, y / 2), cellCr(x / 2, y / 2));
    }));
    EXPECT_TRUE(gradientIs(*s, f, 1, 0, g));
}

// Two packed gradients (B = 8, two anchor bytes each) around a kept block;
// their coefficients come from the six passes of the coefficient section.
TEST(DecoderFormulas, PackedGradientCoefficientsAreTakenAsStoredInModeThreeAndShiftedFromModeFour) {
    const Frame f{24, 8, 8, 4};
    for (std::uint8_t mode : {3, 4})
        for (const Shifts& shifts : {kWriterShifts, Shifts{2, 1, 0, 3, 1, 2}}) {
            const BlockArea area = BlockArea(mode).block(3, {kP8.first, kP8.second}).block(5).block(3, {kQ8.first, kQ8.second});
            auto s = session(f, true);
            ASSERT_EQ(decode(*s, f, mode, withSections(mode, area, {{3, coefficientBody({&kP8, &kQ8})}}), shifts), kDone);
            const Shifts* shifted = mode >= 4 ? &shifts : nullptr;
            EXPECT_TRUE(gradientIs(*s, f, 0, 0, kP8.params(kP8.first, kP8.second, shifted))) << "mode " << int(mode);
            EXPECT_TRUE(keptIs(*s, f, 1, 0)) << "mode " << int(mode);
            EXPECT_TRUE(gradientIs(*s, f, 2, 0, kQ8.params(kQ8.first, kQ8.second, shifted))) << "mode " << int(mode);
        }
}

TEST(DecoderFormulas, FromModeFourASmallBlocksOneByteAnchorIsExpandedIntoBothPoints) {
    const Frame f{8, 4, 4, 2};
    const BlockArea area = BlockArea(4).block(3, {kP4.oneByte}).block(3, {kQ4.oneByte});
    auto s = session(f, false);
    ASSERT_EQ(decode(*s, f, 4, withSections(4, area, {{3, coefficientBody({&kP4, &kQ4})}})), kDone);
    EXPECT_TRUE(gradientIs(*s, f, 0, 0, kP4.params(kP4.first, kP4.second, &kWriterShifts)));
    EXPECT_TRUE(gradientIs(*s, f, 1, 0, kQ4.params(kQ4.first, kQ4.second, &kWriterShifts)));
}

// ------------------------------------------------------------ modes 5 to 8

// Two rows of four blocks (B = 4), every two-bit code twice: packed
// gradient 3, detail 0, chunked detail 2, keep 1; then 2, 3, 1, 0.
TEST(DecoderFormulas, TwoBitTypesCarryEveryKindOfBlockInModesFiveToEight) {
    const Frame f{16, 8, 4, 2};
    for (std::uint8_t mode = 5; mode <= 8; ++mode) {
        BlockArea area(mode);
        area.block(3, {kP4.oneByte}).block(0, detail(f, 1, 0)).block(2, chroma(f, 2, 0)).block(1);
        area.block(2, chroma(f, 0, 1)).block(3, {kQ4.oneByte}).block(1).block(0, detail(f, 3, 1));
        ASSERT_EQ(area.bytes()[0], 0x63);
        const Bytes stream = withSections(mode, area, {{3, coefficientBody({&kP4, &kQ4})}, {2, lumaBody(f, {{2, 0}, {0, 1}})}});
        auto s = session(f, true);
        ASSERT_EQ(decode(*s, f, mode, stream), kDone) << int(mode);
        // Modes 5 to 7 expand a one-byte anchor; mode 8 keeps it as stored in byte 1 (byte 2 stays 0).
        const bool expand = mode <= 7;
        EXPECT_TRUE(gradientIs(*s, f, 0, 0, kP4.params(expand ? kP4.first : kP4.oneByte, expand ? kP4.second : 0, &kWriterShifts)))
            << "mode " << int(mode);
        EXPECT_TRUE(gradientIs(*s, f, 1, 1, kQ4.params(expand ? kQ4.first : kQ4.oneByte, expand ? kQ4.second : 0, &kWriterShifts)))
            << "mode " << int(mode);
        for (auto [bx, by] : {std::array<std::uint32_t, 2>{1, 0}, {2, 0}, {0, 1}, {3, 1}})
            EXPECT_TRUE(detailIs(*s, f, bx, by)) << "mode " << int(mode);
        EXPECT_TRUE(keptIs(*s, f, 3, 0)) << "mode " << int(mode);
        EXPECT_TRUE(keptIs(*s, f, 2, 1)) << "mode " << int(mode);
    }
}

// 11 x 8 with B = 4: three block columns, the last three pixels wide. The
// fifth block takes its type from the low bits of the second type byte.
TEST(DecoderFormulas, ChunkedLumaRunsSerpentineAndTurnsAtTheLastColumnInsideTheEdge) {
    const Frame f{11, 8, 4, 2};
    BlockArea area(5);
    area.block(1).block(0, detail(f, 1, 0)).block(2, chroma(f, 2, 0));
    area.block(2, chroma(f, 0, 1)).block(1).block(0, detail(f, 2, 1));
    ASSERT_EQ(area.bytes()[0], 0xA1);
    auto s = session(f, true);
    ASSERT_EQ(decode(*s, f, 5, withSections(5, area, {{2, lumaBody(f, {{2, 0}, {0, 1}})}})), kDone);
    EXPECT_TRUE(keptIs(*s, f, 0, 0));
    EXPECT_TRUE(detailIs(*s, f, 1, 0));
    EXPECT_TRUE(detailIs(*s, f, 2, 0)); // chunked, clipped
    EXPECT_TRUE(detailIs(*s, f, 0, 1)); // chunked
    EXPECT_TRUE(keptIs(*s, f, 1, 1));
    EXPECT_TRUE(detailIs(*s, f, 2, 1));
}

// The old-luma-codes setting multiplies detail and chunked luma by 4
// (modulo 256) from mode 6 on; mode 5 and mode 9 read luma as it stands.
TEST(DecoderFormulas, TheOldLumaSettingShiftsLumaByTwoFromModeSixToEight) {
    const Frame f{8, 4, 4, 2};
    for (std::uint8_t mode = 5; mode <= 8; ++mode)
        for (std::uint8_t flags : {0, 1}) {
            const BlockArea area = BlockArea(mode).block(0, detail(f, 0, 0)).block(2, chroma(f, 1, 0));
            auto s = session(f, false, flags);
            ASSERT_EQ(decode(*s, f, mode, withSections(mode, area, {{2, lumaBody(f, {{1, 0}})}})), kDone);
            const int shift = flags && mode > 5 ? 2 : 0;
            EXPECT_TRUE(detailIs(*s, f, 0, 0, Pair::Current, shift)) << "mode " << int(mode) << " flags " << int(flags);
            EXPECT_TRUE(detailIs(*s, f, 1, 0, Pair::Current, shift)) << "mode " << int(mode) << " flags " << int(flags);
        }
}

// Mode 7, B = 8, D = 4: the old-parameter-size setting takes the anchor
// size from the cell (4), so each packed gradient carries one anchor byte,
// expanded; mode 8 ignores the setting and reads two.
TEST(DecoderFormulas, TheOldParameterSizeSettingReadsOneAnchorByteByTheCellUpToModeSeven) {
    const Frame f{16, 8, 8, 4};
    for (std::uint8_t mode : {7, 8}) {
        BlockArea area(mode);
        if (mode == 7) area.block(3, {kP4.oneByte}).block(3, {kQ4.oneByte});
        else area.block(3, {kP4.first, kP4.second}).block(3, {kQ4.first, kQ4.second});
        auto s = session(f, false, 2);
        ASSERT_EQ(decode(*s, f, mode, withSections(mode, area, {{3, coefficientBody({&kP4, &kQ4})}})), kDone);
        EXPECT_TRUE(gradientIs(*s, f, 0, 0, kP4.params(kP4.first, kP4.second, &kWriterShifts))) << "mode " << int(mode);
        EXPECT_TRUE(gradientIs(*s, f, 1, 0, kQ4.params(kQ4.first, kQ4.second, &kWriterShifts))) << "mode " << int(mode);
    }
}

// Section ends: modes 2 to 7 count from the stream's start plus the
// header's size in the stream that follows the header, from the stream's
// start alone in later streams; mode 8 gives each section's size. A section
// whose end does not match its body is still read, but ends the trailer:
// here the coefficients come, the chunked block gets no luma and is not drawn.
struct EndsCase {
    std::uint8_t mode;
    std::uint32_t stream; // 0 alone, else stream 2 of 2, which draws the second block row
};
void sectionEndsCase(EndsCase c, std::int64_t firstEndError, bool firstSectionOnly) {
    const Frame f{16, 16, 8, 4};
    const std::uint8_t chunked = c.mode >= 5 ? 2 : 4, keep = c.mode >= 5 ? 1 : 5;
    const std::uint32_t row = c.stream == 2 ? 1 : 0;
    BlockArea area(c.mode);
    if (row == 1) area.block(keep).block(keep);
    area.block(3, {kQ8.first, kQ8.second}).block(chunked, chroma(f, 1, row));
    if (row == 0) area.block(keep).block(keep);
    const std::vector<Section> sections = {{3, coefficientBody({&kQ8})}, {chunked, lumaBody(f, {{1, row}})}};
    auto s = session(f, false);
    const Bytes stream = withSections(c.mode, area, sections, c.stream == 2 ? 0 : kHeaderSize, firstEndError);
    ASSERT_EQ(decode(*s, f, c.mode, stream, kWriterShifts, c.stream, c.stream == 2 ? 2 : 1), kDone);
    const std::string what = "mode " + std::to_string(c.mode) + " stream " + std::to_string(c.stream);
    EXPECT_TRUE(gradientIs(*s, f, 0, row, kQ8.params(kQ8.first, kQ8.second, c.mode >= 4 ? &kWriterShifts : nullptr))) << what;
    EXPECT_TRUE(firstSectionOnly ? untouched(*s, f, 1, row) : detailIs(*s, f, 1, row)) << what;
    if (row == 1) {
        EXPECT_TRUE(untouched(*s, f, 0, 0)) << what << ": the first band is not stream 2's";
    }
}

constexpr EndsCase kEndsCases[] = {{3, 0}, {3, 2}, {5, 0}, {5, 2}, {7, 0}, {7, 2}, {8, 0}, {8, 2}};

TEST(DecoderFormulas, SectionEndsArePositionsUpToModeSevenAndSizesInModeEight) {
    for (EndsCase c : kEndsCases) sectionEndsCase(c, 0, false);
}

// An end past its section (as when a later stream counts the header, or a
// mode-8 end is written as a position).
TEST(DecoderFormulas, ASectionEndingPastItsBodyIsReadAndEndsTheTrailer) {
    for (EndsCase c : kEndsCases) sectionEndsCase(c, kHeaderSize, true);
}

// An end before its body's end (as when the stream after the header leaves
// the header's size out): the body is read all the same and the trailer
// ends there.
TEST(DecoderFormulas, ASectionEndingBeforeItsBodyEndsIsReadAndEndsTheTrailer) {
    for (EndsCase c : kEndsCases)
        if (c.mode <= 7 && c.stream == 0) sectionEndsCase(c, -std::int64_t{kHeaderSize}, true);
}

// A stream cut short in its trailer - inside a section header, or before a
// section's reader has every value it needs - fails: its reader would run
// past the end of the stream. Cut exactly between two sections it is a
// whole stream with fewer sections, which the format allows. Mode 8 cuts
// its expanded bytes (the compressed stream around them stays whole).
TEST(DecoderFormulas, AStreamCutInsideItsTrailerFailsAndOneCutBetweenSectionsDoesNot) {
    const Frame f{16, 16, 8, 4};
    Bytes motion = {24};
    for (float v : {0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f}) put32(motion, std::bit_cast<std::uint32_t>(v));
    for (std::uint8_t mode : {3, 4, 5, 7, 8}) {
        const std::uint8_t chunked = mode >= 5 ? 2 : 4, keep = mode >= 5 ? 1 : 5, motionType = mode >= 5 ? 1 : 255;
        BlockArea area(mode);
        area.block(3, {kQ8.first, kQ8.second}).block(chunked, chroma(f, 1, 0)).block(keep).block(keep);
        const std::vector<Section> sections = {
            {3, coefficientBody({&kQ8})}, {chunked, lumaBody(f, {{1, 0}})}, {motionType, motion}};
        Bytes whole = withSections(mode, area, sections);
        if (mode == 8) whole.erase(whole.begin(), whole.begin() + 8); // the expanded bytes
        std::vector<std::size_t> between = {area.bytes().size()};
        for (const Section& section : sections) between.push_back(between.back() + 5 + section.body.size());
        ASSERT_EQ(between.back(), whole.size());
        for (std::size_t length = area.bytes().size(); length <= whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            auto s = session(f, false);
            const bool wholeSections = std::find(between.begin(), between.end(), length) != between.end();
            EXPECT_EQ(decode(*s, f, mode, mode == 8 ? stored(cut) : cut), wholeSections ? kDone : kFailed)
                << "mode " << int(mode) << ", " << length << " of " << whole.size() << " bytes";
        }
    }
}

// Mode 7's motion section (type 1, 24 bytes: shiftX, shiftY, centreX,
// centreY, zoomX, zoomY as floats) displaces kept blocks: the source of
// (x, y) is x - rint(shiftX + zoomX (x / W - centreX)), likewise the row;
// a source outside the picture gives 0.
TEST(DecoderFormulas, AMotionSectionDisplacesKeptBlocks) {
    const Frame f{12, 8, 4, 2};
    const float motion[6] = {2.25f, -1.0f, 0.25f, 0.5f, 1.4f, 2.2f};
    Bytes body = {24};
    for (float v : motion) put32(body, std::bit_cast<std::uint32_t>(v));
    BlockArea area(7);
    for (int i = 0; i < 6; ++i) area.block(1);
    auto s = session(f, true);
    ASSERT_EQ(decode(*s, f, 7, withSections(7, area, {{1, body}})), kDone);
    auto source = [](long double v) {
        EXPECT_GT(std::fabs(v - std::floor(v) - 0.5L), 1e-3L) << "a displacement too close to a tie";
        return static_cast<long long>(std::nearbyint(v));
    };
    for (std::uint32_t by = 0; by < 2; ++by)
        for (std::uint32_t bx = 0; bx < 3; ++bx)
            EXPECT_TRUE(blockIs(*s, f, bx, by, [&](int channel, std::uint32_t x, std::uint32_t y) -> long double {
                const long long sx = x - source(motion[0] + static_cast<long double>(motion[4]) * (x / 12.0L - motion[2]));
                const long long sy = y - source(motion[1] + static_cast<long double>(motion[5]) * (y / 8.0L - motion[3]));
                if (sx < 0 || sy < 0 || sx >= 12 || sy >= 8) return 0;
                return previousPixel(channel, static_cast<std::uint32_t>(sx), static_cast<std::uint32_t>(sy));
            }));
}

// ------------------------------------------------------------ mode 9

// The four parts, each a u32 length and a compressed stream (stored form),
// then a closing u32 0: the types; eight parameter planes of one byte per
// block, indexed by the running count of gradients (anchors in planes 0
// and 1, or plane 0 alone in the one-byte form when B <= 4; the six
// coefficients in planes 2 to 7); the detail luma, raster order per block;
// a Cr plane and a Cb plane indexed by the running count of detail cells.
Bytes modeNine(const Frame& f, const Bytes& types, const std::vector<const Packed*>& gradients) {
    const std::uint32_t blocks = f.blocks(), samples = f.chromaSamples();
    Bytes planes(8 * blocks, 0), lumaPart, chromaPart(2 * samples, 0);
    std::size_t gradient = 0, cell = 0;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const std::uint32_t bx = i % f.columns(), by = i / f.columns();
        if (types[i] == 1) {
            const Packed& g = *gradients[gradient];
            planes[gradient] = f.B <= 4 ? g.oneByte : g.first;
            planes[blocks + gradient] = f.B <= 4 ? 0 : g.second;
            for (int k = 0; k < 6; ++k) planes[(2 + k) * blocks + gradient] = g.coefficients[k];
            ++gradient;
        } else if (types[i] == 0) {
            append(lumaPart, rasterLuma(f, bx, by));
            const Bytes pairs = chroma(f, bx, by);
            for (std::size_t j = 0; j < pairs.size(); j += 2, ++cell) {
                chromaPart[cell] = pairs[j];
                chromaPart[samples + cell] = pairs[j + 1];
            }
        }
    }
    Bytes s;
    for (const Bytes* part : std::array<const Bytes*, 4>{&types, &planes, &lumaPart, &chromaPart}) {
        const Bytes packed = stored(*part);
        put32(s, static_cast<std::uint32_t>(packed.size()));
        append(s, packed);
    }
    put32(s, 0);
    return s;
}

TEST(DecoderFormulas, ModeNineReadsTypesParameterPlanesLumaAndChromaFromItsFourParts) {
    const Shifts odd{2, 1, 0, 3, 1, 2};
    { // B = 4: one-byte anchors in plane 0; the old-luma setting does not touch mode 9
        const Frame f{16, 4, 4, 2};
        const Bytes stream = modeNine(f, {0, 1, 2, 1}, {&kP4, &kQ4});
        for (const Shifts& shifts : {kWriterShifts, odd}) {
            auto s = session(f, true, 1);
            ASSERT_EQ(decode(*s, f, 9, stream, shifts), kDone);
            EXPECT_TRUE(detailIs(*s, f, 0, 0));
            EXPECT_TRUE(gradientIs(*s, f, 1, 0, kP4.params(kP4.first, kP4.second, &shifts)));
            EXPECT_TRUE(keptIs(*s, f, 2, 0));
            EXPECT_TRUE(gradientIs(*s, f, 3, 0, kQ4.params(kQ4.first, kQ4.second, &shifts)));
        }
    }
    { // B = 8: anchors in planes 0 and 1; two detail blocks share the running counts
        const Frame f{24, 16, 8, 4};
        const Bytes stream = modeNine(f, {1, 0, 1, 2, 0, 2}, {&kP8, &kQ8});
        auto s = session(f, true);
        ASSERT_EQ(decode(*s, f, 9, stream, odd), kDone);
        EXPECT_TRUE(gradientIs(*s, f, 0, 0, kP8.params(kP8.first, kP8.second, &odd)));
        EXPECT_TRUE(detailIs(*s, f, 1, 0));
        EXPECT_TRUE(gradientIs(*s, f, 2, 0, kQ8.params(kQ8.first, kQ8.second, &odd)));
        EXPECT_TRUE(keptIs(*s, f, 0, 1));
        EXPECT_TRUE(detailIs(*s, f, 1, 1));
        EXPECT_TRUE(keptIs(*s, f, 2, 1));
    }
}

} // namespace
} // namespace vexel
