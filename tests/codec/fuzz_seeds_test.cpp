// The seed inputs of the container and expander fuzz targets, built here
// from the layout rules so that each one is a sound record or stream that
// reaches deep into the readers. The tests check that every seed reads
// back whole and that fuzz/corpus holds exactly these seeds; with
// VEXEL_WRITE_FUZZ_SEEDS=1 in the environment they rewrite the corpus.
#include "codec/compression.h"
#include "codec/container.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes compressed(const Bytes& in) {
    Bytes out(compressedBound(in.size()));
    std::size_t length = 0;
    EXPECT_EQ(compressStream(in, out, length), 1);
    out.resize(length);
    return out;
}

void append32(Bytes& b, std::uint32_t v) {
    for (int j = 0; j < 4; ++j) b.push_back(static_cast<std::uint8_t>(v >> (8 * j)));
}

// A delta chunk of up to 128 values with 8-bit deltas, length byte first.
Bytes chunk(const Bytes& values) {
    Bytes c = {static_cast<std::uint8_t>(values.size() + 1), values[0], 0};
    for (std::size_t j = 1; j < values.size(); ++j) c.push_back(static_cast<std::uint8_t>(values[j] - values[0]));
    return c;
}

// Builds one stream's payload: type codes packed by the mode, inline bytes,
// trailer sections with their end fields.
struct Payload {
    std::uint8_t mode;
    std::uint32_t bias; // headerSize in the stream after the header
    Bytes bytes;
    std::size_t blocks = 0;
    std::size_t typeByte = 0;

    void block(std::uint8_t code, std::size_t inlineBytes = 0) {
        if (typePackingFactor(mode) == 1) {
            bytes.push_back(code);
        } else {
            if (blocks % 4 == 0) {
                typeByte = bytes.size();
                bytes.push_back(0);
            }
            bytes[typeByte] = static_cast<std::uint8_t>(bytes[typeByte] | code << (2 * (blocks % 4)));
        }
        ++blocks;
        for (std::size_t j = 0; j < inlineBytes; ++j) bytes.push_back(static_cast<std::uint8_t>(40 + j * 3));
    }
    void section(std::uint8_t type, const Bytes& body) {
        const auto length = static_cast<std::uint32_t>(5 + body.size());
        append32(bytes, mode == 8 ? length : static_cast<std::uint32_t>(bias + bytes.size() + length));
        bytes.push_back(type);
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
};

Bytes motionBody() {
    Bytes body = {24};
    const float v[6] = {1.5f, -2.0f, 0.5f, 0.5f, 0.25f, 0.0f};
    body.resize(25);
    std::memcpy(body.data() + 1, v, 24);
    return body;
}

// 24 x 16 pixels, B = 8, D = 4: 3 x 2 blocks of 64 luma and 4 chroma cells.
RecordHeader smallHeader(std::uint8_t mode) {
    RecordHeader h;
    h.width = 24;
    h.height = 16;
    h.blockSizeCode = 8;
    h.mode = mode;
    h.chromaStep = 4;
    return h;
}

Bytes record(const RecordHeader& h, bool links, std::uint32_t table, const std::vector<Bytes>& streams) {
    Bytes r(kRecordHeaderLimit);
    r.resize(writeRecordHeader(h, links, table, r));
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (table >= 2) {
            const auto at = static_cast<std::uint32_t>(r.size());
            std::memcpy(r.data() + kStreamTableOffset + 4 * i, &at, 4);
        }
        r.insert(r.end(), streams[i].begin(), streams[i].end());
    }
    return r;
}

// Modes 2..8: two chunked-detail blocks, two packed gradients, two keeps,
// then the motion, coefficient and luma sections.
Bytes trailerPayload(std::uint8_t mode, std::uint32_t bias) {
    const BlockKind order[6] = {BlockKind::ChunkedDetail, BlockKind::PackedGradient, BlockKind::Keep,
                                BlockKind::PackedGradient, BlockKind::ChunkedDetail, BlockKind::Keep};
    Payload p{mode, bias, {}};
    for (BlockKind k : order) {
        const std::size_t inlineBytes = k == BlockKind::ChunkedDetail ? 8 : k == BlockKind::PackedGradient ? 2 : 0;
        p.block(static_cast<std::uint8_t>(blockCode(mode, k)), inlineBytes);
    }
    const TrailerSectionTypes types = trailerSectionTypes(mode);
    p.section(types.motion, motionBody());
    Bytes coefficients;
    for (int pass = 0; pass < 6; ++pass) {
        const Bytes c = chunk({static_cast<std::uint8_t>(10 * pass), static_cast<std::uint8_t>(10 * pass + 3)});
        coefficients.insert(coefficients.end(), c.begin(), c.end());
    }
    p.section(types.coefficients, coefficients);
    Bytes luma;
    for (int b = 0; b < 2; ++b) {
        Bytes values(64);
        for (std::size_t j = 0; j < 64; ++j) values[j] = static_cast<std::uint8_t>(100 + j + b);
        const Bytes c = chunk(values);
        luma.insert(luma.end(), c.begin(), c.end());
    }
    p.section(types.luma, luma);
    return p.bytes;
}

std::map<std::string, Bytes> recordSeeds() {
    std::map<std::string, Bytes> seeds;
    { // mode 0: every one-byte kind with its inline payload
        Payload p{0, 47, {}};
        p.block(0, 64 + 8);
        p.block(1, 8);
        p.block(5);
        p.block(7);
        p.block(4, 8);
        p.block(255);
        seeds["mode0_picture.vx"] = record(smallHeader(0), false, 0, {p.bytes});
    }
    seeds["mode3_linked.vx"] = record(smallHeader(3), true, 0, {trailerPayload(3, 71)});
    seeds["mode7_picture.vx"] = record(smallHeader(7), false, 0, {trailerPayload(7, 47)});
    seeds["mode8_picture.vx"] = record(smallHeader(8), false, 0, {compressed(trailerPayload(8, 0))});
    { // mode 9: four compressed parts and the closing zero
        Bytes types = {0, 1, 2, 1, 0, 2};
        Bytes params(8 * 6, 0x21), luma(2 * 64, 90), chroma(2 * 24, 128);
        Bytes s;
        for (const Bytes* part : {&types, &params, &luma, &chroma}) {
            const Bytes c = compressed(*part);
            append32(s, static_cast<std::uint32_t>(c.size()));
            s.insert(s.end(), c.begin(), c.end());
        }
        append32(s, 0);
        seeds["mode9_picture.vx"] = record(smallHeader(9), false, 0, {s});
    }
    { // mode 5 in two streams: each covers one block row, the other row keep
        Payload first{5, 0, {}}, second{5, 0, {}};
        for (int b = 0; b < 6; ++b) {
            first.block(b < 3 ? 2 : 1, b < 3 ? 8 : 0);
            second.block(b < 3 ? 1 : 3, b < 3 ? 0 : 2);
        }
        seeds["mode5_two_streams.vx"] = record(smallHeader(5), false, 2, {first.bytes, second.bytes});
    }
    { // a chain of two linked records
        RecordHeader one = smallHeader(7);
        one.frameRate = 25.0;
        Bytes a = record(one, true, 0, {trailerPayload(7, 71)});
        RecordHeader two = one;
        two.prevRecord = 0;
        const Bytes b = record(two, true, 0, {trailerPayload(7, 71)});
        const std::uint64_t next = a.size();
        std::memcpy(a.data() + kNextRecordOffset, &next, 8);
        a.insert(a.end(), b.begin(), b.end());
        seeds["mode7_chain.vx"] = a;
    }
    // Known-bad records, kept as golden failures: a second record linking
    // backwards and a chroma step of 0.
    Bytes backwards = seeds["mode7_chain.vx"];
    std::uint64_t second;
    std::memcpy(&second, backwards.data() + kNextRecordOffset, 8);
    const std::uint64_t none = 0, back = 10;
    std::memcpy(backwards.data() + kNextRecordOffset, &none, 8);
    std::memcpy(backwards.data() + second + kNextRecordOffset, &back, 8);
    seeds["bad_link_backwards.vx"] = backwards;
    Bytes noChroma = seeds["mode7_picture.vx"];
    noChroma[kChromaStepOffset] = 0;
    seeds["bad_chroma_step_0.vx"] = noChroma;
    return seeds;
}

std::map<std::string, Bytes> streamSeeds() {
    std::map<std::string, Bytes> streams;
    streams["empty"] = {};
    streams["stored"] = compressed({'s', 't', 'o', 'r', 'e', 'd'});
    Bytes abcd;
    for (int j = 0; j < 8; ++j) abcd.insert(abcd.end(), {'a', 'b', 'c', 'd'});
    streams["raw_flags"] = compressed(abcd);
    Bytes twice;
    for (int j = 1; j <= 40; ++j) twice.push_back(static_cast<std::uint8_t>(j));
    twice.insert(twice.end(), twice.begin(), twice.end());
    streams["run_flags"] = compressed(twice);
    Bytes mixed;
    for (int j = 0; j < 1500; ++j) mixed.push_back(static_cast<std::uint8_t>(j % 7 == 0 ? 0 : (j * j) % 13 + j / 100));
    mixed.insert(mixed.end(), 300, 'z');
    streams["runs_zeros_matches"] = compressed(mixed);
    // Known-bad streams, kept as golden failures: a match first (reaching
    // before the start), a cut-off coded stream, a match count code of seven
    // leading one-bits.
    streams["bad_starts_with_match"] = {2, 0, 0, 0, 1, 0, 0, 0, 1, 6, 0, 0, 0, 0x09, 2, 3, 9, 0, 0, 0, 0x21, 0x00};
    streams["bad_cut_short"] = Bytes(streams["runs_zeros_matches"].begin(), streams["runs_zeros_matches"].end() - 3);
    Bytes sevenOnes = streams["raw_flags"];
    sevenOnes[20] = 0xFF;
    streams["bad_seven_ones"] = sevenOnes;
    std::map<std::string, Bytes> seeds;
    for (auto& [name, s] : streams) {
        Bytes seed(2 + s.size());
        seed[1] = 0x01; // capacity 256 x 16
        std::copy(s.begin(), s.end(), seed.begin() + 2);
        seeds[name + ".bin"] = seed;
    }
    return seeds;
}

// Walks a single-stream record's trailer and counts its sections.
int sectionsOf(const Bytes& file) {
    RecordHeader h;
    if (parseRecordHeader({file.data(), std::min<std::size_t>(file.size(), 256)}, 0, file.size(), h) != kDone)
        return -1;
    const ByteRange range = streamRange(h, 0);
    Bytes stream(file.begin() + static_cast<std::ptrdiff_t>(range.begin),
                 file.begin() + static_cast<std::ptrdiff_t>(range.end));
    if (h.mode == 8) {
        Bytes expanded(mode8ExpansionCapacity(frameGrid(h)));
        std::size_t length = 0;
        if (decompressStream(stream, expanded, length) != 1) return -1;
        expanded.resize(length);
        stream = expanded;
    }
    const std::int64_t end = blockAreaEnd(stream, blockAreaLayout(h, false));
    if (end < 0) return -1;
    TrailerWalker walker(stream, static_cast<std::size_t>(end), h.mode, sectionEndBias(h, 0));
    TrailerSection section;
    int sections = 0;
    while (walker.next(section)) {
        walker.finish(section, walker.body(section).size());
        ++sections;
    }
    return sections;
}

void checkCorpus(const std::string& target, const std::map<std::string, Bytes>& seeds) {
    const std::string folder = std::string(VEXEL_SOURCE_DIR) + "/fuzz/corpus/" + target;
    const char* write = std::getenv("VEXEL_WRITE_FUZZ_SEEDS");
    if (write && std::string(write) == "1") {
        std::filesystem::create_directories(folder);
        for (const auto& [name, bytes] : seeds) ASSERT_TRUE(test::writeFile(folder + "/" + name, bytes));
    }
    for (const auto& [name, bytes] : seeds) EXPECT_EQ(test::readFile(folder + "/" + name), bytes) << name;
}

TEST(FuzzSeeds, EveryRecordSeedReadsBackWhole) {
    for (const auto& [name, file] : recordSeeds()) {
        RecordHeader h;
        if (name == "bad_chroma_step_0.vx") {
            EXPECT_EQ(parseRecordHeader({file.data(), 256}, 0, file.size(), h), kNotVx);
            continue;
        }
        if (name == "bad_link_backwards.vx") { // the first record is whole; the second points back
            ASSERT_EQ(parseRecordHeader({file.data(), 256}, 0, file.size(), h), kDone);
            EXPECT_EQ(h.nextRecord, 0u);
            const std::size_t second = 71 + trailerPayload(7, 71).size();
            EXPECT_EQ(parseRecordHeader({file.data() + second, file.size() - second}, second, file.size(), h),
                      kNotVx);
            continue;
        }
        ASSERT_EQ(parseRecordHeader({file.data(), std::min<std::size_t>(file.size(), 256)}, 0, file.size(), h),
                  kDone)
            << name;
        if (name == "mode5_two_streams.vx") {
            EXPECT_EQ(streamTotal(h), 2u);
            for (std::uint32_t i = 1; i <= 2; ++i) {
                const ByteRange r = streamRange(h, i);
                const std::span<const std::uint8_t> s(file.data() + r.begin, r.size());
                EXPECT_EQ(blockAreaEnd(s, blockAreaLayout(h, false)), static_cast<std::int64_t>(r.size()));
            }
        } else if (name == "mode0_picture.vx") {
            const ByteRange r = streamRange(h, 0);
            EXPECT_EQ(blockAreaEnd({file.data() + r.begin, r.size()}, blockAreaLayout(h, false)),
                      static_cast<std::int64_t>(r.size()));
        } else if (name != "mode9_picture.vx") {
            EXPECT_EQ(sectionsOf(file), 3) << name;
        }
    }
}

TEST(FuzzSeeds, EveryStreamSeedExpands) {
    for (const auto& [name, seed] : streamSeeds()) {
        Bytes out(256 * 16);
        std::size_t length = 0;
        const int expected = name.rfind("bad_", 0) == 0 ? 0 : 1;
        EXPECT_EQ(decompressStream({seed.data() + 2, seed.size() - 2}, out, length), expected) << name;
    }
}

TEST(FuzzSeeds, TheCorpusHoldsTheseSeeds) {
    checkCorpus("parseRecord", recordSeeds());
    checkCorpus("decompressStream", streamSeeds());
}

} // namespace
} // namespace vexel
