#include "codec/container.h"

#include "pipeline/record_file.h"
#include "platform/files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void put64(Bytes& b, std::size_t at, std::uint64_t v) { std::memcpy(b.data() + at, &v, 8); }
void append32(Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, v);
}

RecordHeader pictureHeader(std::uint32_t width = 20, std::uint32_t height = 10, std::uint8_t mode = 8) {
    RecordHeader h;
    h.width = width;
    h.height = height;
    h.blockSizeCode = 8;
    h.pixelsPerMeterX = 2835;
    h.pixelsPerMeterY = 2836;
    h.mode = mode;
    h.chromaStep = 4;
    return h;
}

Bytes headerBytes(const RecordHeader& h, bool links, std::uint32_t table) {
    Bytes b(kRecordHeaderLimit);
    b.resize(writeRecordHeader(h, links, table, b));
    return b;
}

// Parses bytes as a record at offset 0 of a file holding them and `payload` more bytes.
int parse(const Bytes& bytes, RecordHeader& h, std::uint64_t payload = 1000) {
    return parseRecordHeader(bytes, 0, bytes.size() + payload, h);
}

// ---------------------------------------------------------------------------
// Headers

TEST(RecordHeader, AFortySevenByteHeaderIsOneStreamWithoutRateOrLinks) {
    const Bytes b = headerBytes(pictureHeader(), false, 0);
    ASSERT_EQ(b.size(), 47u);
    const Bytes expected = {'!', 'V', 'E', 'X', 'E', 'L', '_', 'I', 'M', 'A', 'G', 'E', '_', 'F', 'I', 'L', 'E', 0,
                            47, 0, 0, 0, 20, 0, 0, 0, 10, 0, 0, 0, 8, 0x13, 0x0B, 0, 0, 0x14, 0x0B, 0, 0,
                            8, 4, 1, 3, 1, 3, 1, 3};
    EXPECT_EQ(b, expected);
    RecordHeader h;
    ASSERT_EQ(parse(b, h), kDone);
    EXPECT_EQ(h.headerSize, 47u);
    EXPECT_EQ(h.width, 20u);
    EXPECT_EQ(h.blockSize, 8u);
    EXPECT_EQ(h.pixelsPerMeterY, 2836u);
    EXPECT_EQ(h.mode, 8);
    EXPECT_EQ(h.chromaStep, 4);
    EXPECT_FALSE(h.hasFrameRate);
    EXPECT_EQ(h.streamCount, 1u);
    EXPECT_EQ(streamTotal(h), 1u);
    EXPECT_EQ(h.recordSize, 1047u);
    const ByteRange s = streamRange(h, 0);
    EXPECT_EQ(s.begin, 47u);
    EXPECT_EQ(s.end, 1047u);
}

TEST(RecordHeader, ASeventyOneByteHeaderCarriesLinksAndTheAbsoluteRate) {
    RecordHeader w = pictureHeader();
    w.prevRecord = 5;
    w.frameRate = -25.0;
    const Bytes b = headerBytes(w, true, 0);
    ASSERT_EQ(b.size(), 71u);
    double stored;
    std::memcpy(&stored, b.data() + 63, 8);
    EXPECT_EQ(stored, 25.0);
    RecordHeader h;
    ASSERT_EQ(parseRecordHeader(b, 100, 100 + 500, h), kDone);
    EXPECT_TRUE(h.hasFrameRate);
    EXPECT_EQ(h.frameRate, 25.0);
    EXPECT_EQ(h.prevRecord, 5u);
    EXPECT_EQ(h.nextRecord, 0u);
    EXPECT_EQ(h.recordStart, 100u);
    EXPECT_EQ(h.recordSize, 500u); // nextRecord 0: to the end of the file, even for a later record
    EXPECT_EQ(streamRange(h, 0).begin, 71u);
}

TEST(RecordHeader, AStreamTableHeaderHasZeroLinksAndItsOffsets) {
    RecordHeader w = pictureHeader();
    w.streamOffsets[0] = 87;
    w.streamOffsets[1] = 100;
    w.streamOffsets[2] = 150;
    const Bytes b = headerBytes(w, false, 3);
    ASSERT_EQ(b.size(), 87u); // 75 + 4 x 3
    for (std::size_t j = 47; j < 71; ++j) EXPECT_EQ(b[j], 0) << j;
    EXPECT_EQ(b[71], 3);
    RecordHeader h;
    ASSERT_EQ(parseRecordHeader(b, 0, 200, h), kDone);
    EXPECT_TRUE(h.hasFrameRate);
    EXPECT_EQ(h.frameRate, 0.0);
    ASSERT_EQ(streamTotal(h), 3u);
    EXPECT_EQ(streamRange(h, 1).begin, 87u);
    EXPECT_EQ(streamRange(h, 1).end, 100u);
    EXPECT_EQ(streamRange(h, 2).end, 150u);
    EXPECT_EQ(streamRange(h, 3).begin, 150u);
    EXPECT_EQ(streamRange(h, 3).end, 200u);
    EXPECT_EQ(sectionEndBias(h, 1), 87u);
    EXPECT_EQ(sectionEndBias(h, 2), 0u);
}

TEST(RecordHeader, ShortHeadersTakeTheDefaultsFieldByField) {
    Bytes b = headerBytes(pictureHeader(), false, 0);
    b.resize(31);
    put32(b, 18, 31);
    RecordHeader h;
    ASSERT_EQ(parse(b, h), kDone);
    EXPECT_EQ(h.pixelsPerMeterX, 0u);
    EXPECT_EQ(h.mode, 0);
    EXPECT_EQ(h.chromaStep, 2);
    EXPECT_EQ(h.coefShifts, kDefaultCoefShifts);

    b = headerBytes(pictureHeader(), false, 0);
    b[41] = 9; // a coefficient shift that is only read from 47 on
    b.resize(41);
    put32(b, 18, 40); // mode present, chromaStep (needs 41) absent
    ASSERT_EQ(parse(b, h), kDone);
    EXPECT_EQ(h.pixelsPerMeterX, 2835u);
    EXPECT_EQ(h.mode, 8);
    EXPECT_EQ(h.chromaStep, 2);
    EXPECT_EQ(h.coefShifts[0], 1);
}

TEST(RecordHeader, BlockSizeCodesRoundDownToAPowerOfTwo) {
    EXPECT_EQ(blockSizeFromCode(12), 8u);
    EXPECT_EQ(blockSizeFromCode(0), 1u);
    EXPECT_EQ(blockSizeFromCode(1), 1u);
    EXPECT_EQ(blockSizeFromCode(31), 16u);
    Bytes b = headerBytes(pictureHeader(), false, 0);
    RecordHeader h;
    b[30] = 12;
    ASSERT_EQ(parse(b, h), kDone);
    EXPECT_EQ(h.blockSize, 8u);
    EXPECT_EQ(h.blockSizeCode, 12);
    b[30] = 0;
    ASSERT_EQ(parse(b, h), kDone);
    EXPECT_EQ(h.blockSize, 1u);
    b[30] = 32; // B = 32 would overrun the 16-pixel border
    EXPECT_EQ(parse(b, h), kNotVx);
}

TEST(RecordHeader, RefusesWhatIsNotAWholeSoundRecord) {
    const Bytes good = headerBytes(pictureHeader(), false, 0);
    RecordHeader h;
    auto refused = [&](Bytes b, std::uint64_t fileSize = 0) {
        return parseRecordHeader(b, 0, fileSize ? fileSize : b.size() + 1000, h) == kNotVx;
    };
    Bytes b = good;
    b[17] = ' '; // all 18 magic bytes count
    EXPECT_TRUE(refused(b));
    b = good;
    b[0] = '?';
    EXPECT_TRUE(refused(b));
    b = good;
    put32(b, 18, 30);
    EXPECT_TRUE(refused(b));
    b = good;
    put32(b, 18, 48); // beyond the bytes read
    EXPECT_TRUE(refused(b));
    b = good;
    b[39] = 10;
    EXPECT_TRUE(refused(b));
    b = good;
    put32(b, 22, 0);
    EXPECT_TRUE(refused(b));
    b = good;
    put32(b, 26, 0);
    EXPECT_TRUE(refused(b));
    b = good;
    put32(b, 22, 0xFFFFFFFF); // planes no machine can hold
    put32(b, 26, 0xFFFFFFFF);
    EXPECT_TRUE(refused(b));
    b = good;
    b[40] = 0; // a zero chroma step divides by zero
    EXPECT_TRUE(refused(b));
    b = good;
    b[40] = 17; // past the 16-pixel border
    EXPECT_TRUE(refused(b));
    b = good;
    b[40] = 16;
    EXPECT_FALSE(refused(b));
    EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 30)));
    EXPECT_TRUE(refused(good, 40)); // the file ends inside the header
}

// A link past the end of the file names the end of a record the file has
// lost part of: the record is parsed as cut short, ending with the file.
TEST(RecordHeader, RefusesLinksThatDoNotMoveForwardAndTakesOnesPastTheFileAsACut) {
    RecordHeader w = pictureHeader();
    const Bytes base = headerBytes(w, true, 0);
    RecordHeader h;
    auto withNext = [&](std::uint64_t next) {
        Bytes b = base;
        put64(b, 47, next);
        return parseRecordHeader(b, 1000, 5000, h);
    };
    EXPECT_EQ(withNext(1000), kNotVx);  // itself
    EXPECT_EQ(withNext(10), kNotVx);    // backwards
    EXPECT_EQ(withNext(1050), kNotVx);  // inside its own header
    ASSERT_EQ(withNext(5001), kDone);   // past the end of the file
    EXPECT_TRUE(h.cutShort);
    EXPECT_EQ(h.nextRecord, 5001u);
    EXPECT_EQ(h.recordSize, 4000u);
    ASSERT_EQ(withNext(5000), kDone); // the file ends where the next record would start
    EXPECT_FALSE(h.cutShort);
    ASSERT_EQ(withNext(1071), kDone);          // an empty payload
    EXPECT_FALSE(h.cutShort);
    EXPECT_EQ(h.recordSize, 71u);
    ASSERT_EQ(withNext(3000), kDone);
    EXPECT_EQ(h.recordSize, 2000u);
    EXPECT_EQ(streamRange(h, 0).end, 2000u);
}

// A stream offset past the end of a record that ends with the file belongs
// to a file cut short: taken as the record's end. Past a record that ends
// at its link, it is refused.
TEST(RecordHeader, RefusesStreamTablesThatDoNotFitOrGoBackwardsAndTakesOnesPastTheFileAsACut) {
    RecordHeader w = pictureHeader();
    w.streamOffsets[0] = 87;
    w.streamOffsets[1] = 90;
    w.streamOffsets[2] = 90; // an empty stream is allowed
    const Bytes good = headerBytes(w, true, 3);
    RecordHeader h;
    ASSERT_EQ(parseRecordHeader(good, 0, 300, h), kDone);
    EXPECT_EQ(streamRange(h, 2).size(), 0u);
    EXPECT_FALSE(h.cutShort);

    Bytes b = good;
    put32(b, 75 + 4, 86); // below the previous offset
    EXPECT_EQ(parseRecordHeader(b, 0, 300, h), kNotVx);
    b = good;
    put32(b, 75, 80); // inside the header
    EXPECT_EQ(parseRecordHeader(b, 0, 300, h), kNotVx);
    b = good;
    put32(b, 75 + 8, 301); // past the record, which ends with the file
    ASSERT_EQ(parseRecordHeader(b, 0, 300, h), kDone);
    EXPECT_TRUE(h.cutShort);
    EXPECT_EQ(streamRange(h, 2).begin, 90u);
    EXPECT_EQ(streamRange(h, 2).end, 300u);
    EXPECT_EQ(streamRange(h, 3).begin, 300u);
    EXPECT_EQ(streamRange(h, 3).end, 300u);
    put32(b, 75 + 4, 400); // the one before it too
    put32(b, 75 + 8, 400);
    ASSERT_EQ(parseRecordHeader(b, 0, 300, h), kDone);
    EXPECT_TRUE(h.cutShort);
    EXPECT_EQ(streamRange(h, 1).end, 300u);
    EXPECT_EQ(streamRange(h, 2).size(), 0u);
    put32(b, 75 + 8, 350); // but they must not go backwards
    EXPECT_EQ(parseRecordHeader(b, 0, 300, h), kNotVx);
    b = good;
    put64(b, 47, 200); // a record that ends at its link, inside the file
    put32(b, 75 + 8, 201);
    EXPECT_EQ(parseRecordHeader(b, 0, 300, h), kNotVx);
    put32(b, 75 + 8, 200);
    ASSERT_EQ(parseRecordHeader(b, 0, 300, h), kDone);
    EXPECT_FALSE(h.cutShort);
    b = good;
    put32(b, 71, 4); // a table of 4 needs 91 header bytes
    EXPECT_EQ(parseRecordHeader(b, 0, 300, h), kNotVx);
    // 46 streams cannot fit 256 bytes.
    Bytes big(256, 0);
    std::memcpy(big.data(), headerBytes(w, true, 0).data(), 71);
    put32(big, 18, 256);
    put32(big, 71, 46);
    EXPECT_EQ(parseRecordHeader(big, 0, 1000, h), kNotVx);
    // 45 streams fit: 75 + 180 = 255.
    put32(big, 18, 255);
    put32(big, 71, 45);
    for (std::uint32_t i = 0; i < 45; ++i) put32(big, 75 + 4 * i, 255 + i);
    ASSERT_EQ(parseRecordHeader(big, 0, 1000, h), kDone);
    EXPECT_EQ(streamRange(h, 45).begin, 299u);
    EXPECT_EQ(streamRange(h, 45).end, 1000u);
}

TEST(RecordHeader, UnusableFrameRatesReadAsNone) {
    RecordHeader w = pictureHeader();
    RecordHeader h;
    for (double rate : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 1000.5}) {
        Bytes b = headerBytes(w, true, 0);
        std::memcpy(b.data() + 63, &rate, 8);
        ASSERT_EQ(parse(b, h), kDone);
        EXPECT_TRUE(h.hasFrameRate);
        EXPECT_EQ(h.frameRate, 0.0) << rate;
    }
}

TEST(RecordHeader, ARecordAtTheEndOfAFileParsesOnlyTheBytesThatAreThere) {
    // A 47-byte record as the last 47 bytes of a file: the reader got only those.
    const Bytes b = headerBytes(pictureHeader(), false, 0);
    RecordHeader h;
    ASSERT_EQ(parseRecordHeader(b, 953, 1000, h), kDone);
    EXPECT_EQ(h.recordSize, 47u);
    EXPECT_EQ(streamRange(h, 0).size(), 0u);
    // A header claiming 71 bytes in a 60-byte tail is refused, whatever lies in memory past it.
    Bytes tail = b;
    tail.resize(60, 0x55);
    put32(tail, 18, 71);
    EXPECT_EQ(parseRecordHeader(tail, 940, 1000, h), kNotVx);
}

TEST(RecordHeader, TheWriterAndTheFileHelpersBuildALinkedChain) {
    test::TempDir dir;
    const std::string name = dir.file("chain.vx");
    const std::u16string path(name.begin(), name.end());
    MemorySink sink;
    const auto append = [&](const std::uint8_t* bytes, std::size_t n) {
        ASSERT_TRUE(sink.writeAt(static_cast<std::uint64_t>(sink.size()), bytes, n));
    };
    // Record 1 at 0, two streams.
    RecordHeader first = pictureHeader();
    Bytes header = headerBytes(first, true, 2);
    ASSERT_EQ(header.size(), 83u);
    append(header.data(), header.size());
    const Bytes payload1(10, 1), payload2(5, 2);
    ASSERT_TRUE(writeStreamSlot(sink, 0, 1, 83));
    append(payload1.data(), payload1.size());
    ASSERT_TRUE(writeStreamSlot(sink, 0, 2, 93));
    append(payload2.data(), payload2.size());
    // Record 2 at 98, single stream, linked back.
    RecordHeader second = pictureHeader();
    second.prevRecord = 0;
    header = headerBytes(second, true, 0);
    append(header.data(), header.size());
    append(payload1.data(), 3);
    ASSERT_TRUE(linkPreviousRecord(sink, 0, 98));
    // A link or slot past the end is refused rather than leaving a hole.
    EXPECT_FALSE(linkPreviousRecord(sink, sink.bytes().size() + 1, 0));

    platform::File f;
    ASSERT_TRUE(f.open(path, platform::OpenMode::CreateAlways));
    ASSERT_TRUE(f.write(sink.bytes().data(), sink.bytes().size()));
    RecordHeader h;
    ASSERT_EQ(readRecordHeader(f, 0, h), kDone);
    EXPECT_EQ(h.nextRecord, 98u);
    EXPECT_EQ(h.recordSize, 98u);
    EXPECT_EQ(streamRange(h, 1).begin, 83u);
    EXPECT_EQ(streamRange(h, 1).end, 93u);
    EXPECT_EQ(streamRange(h, 2).end, 98u);
    ASSERT_EQ(readRecordHeader(f, h.nextRecord, h), kDone);
    EXPECT_EQ(h.nextRecord, 0u);
    EXPECT_EQ(h.recordSize, 74u);
    EXPECT_EQ(readRecordHeader(f, 172, h), kFailed); // nothing there
    EXPECT_EQ(readRecordHeader(f, 90, h), kNotVx);
}

// ---------------------------------------------------------------------------
// Geometry

TEST(StreamBands, ThreeStreamsOverTenBlockRowsTakeFourFourAndTwo) {
    const FrameGrid g = frameGrid(100, 75, 8, 4); // 10 block rows, the last one 3 pixels tall
    ASSERT_EQ(g.blockRows, 10u);
    const StreamBand a = streamBand(g, 1, 3), b = streamBand(g, 2, 3), c = streamBand(g, 3, 3);
    EXPECT_EQ(a.firstBlockRow, 0u);
    EXPECT_EQ(a.endBlockRow, 4u);
    EXPECT_EQ(b.firstBlockRow, 4u);
    EXPECT_EQ(b.endBlockRow, 8u);
    EXPECT_EQ(c.firstBlockRow, 8u);
    EXPECT_EQ(c.endBlockRow, 10u);
    EXPECT_EQ(a.endPixelRow, 32u);
    EXPECT_EQ(b.firstPixelRow, 32u);
    EXPECT_EQ(c.endPixelRow, 75u); // clipped to the height, only for the last band
    EXPECT_EQ(b.endPixelRow, 64u);
    EXPECT_EQ(a.endChromaRow, 8u);
    EXPECT_EQ(c.firstChromaRow, 16u);
    EXPECT_EQ(c.endChromaRow, 19u); // ceil(75 / 4)
    const StreamBand whole = streamBand(g, 0, 1);
    EXPECT_EQ(whole.endBlockRow, 10u);
    EXPECT_EQ(whole.endPixelRow, 75u);
}

TEST(StreamBands, MoreStreamsThanBlockRowsLeaveTheLastBandsEmpty) {
    const FrameGrid g = frameGrid(10, 10, 8, 2); // 2 block rows
    const StreamBand third = streamBand(g, 3, 3);
    EXPECT_EQ(third.firstBlockRow, 2u);
    EXPECT_EQ(third.endBlockRow, 2u);
    EXPECT_EQ(third.firstPixelRow, third.endPixelRow);
}

TEST(FrameGrids, CountBlocksChromaAndTheExpansionCapacities) {
    const FrameGrid g = frameGrid(1920, 1080, 8, 4);
    EXPECT_EQ(g.blockColumns, 240u);
    EXPECT_EQ(g.blocks, 32400u);
    EXPECT_EQ(g.chromaSamples, 129600u);
    EXPECT_EQ(mode8ExpansionCapacity(g), 9u * 32400 + 1920 * 1080 + 2 * 129600 + 1000);
    EXPECT_EQ(mode9PartLimit(g), 4u * (11 * 32400 + 1920 * 1080 + 2 * 129600));
    EXPECT_EQ(g.paddedPlaneBytes, 1952u * 1112);
}

// ---------------------------------------------------------------------------
// Block types and the block area

TEST(BlockTypes, CodesDependOnTheMode) {
    EXPECT_EQ(blockKind(0, 4), BlockKind::ChunkedDetail);
    EXPECT_EQ(blockKind(3, 255), BlockKind::Keep);
    EXPECT_EQ(blockKind(4, 5), BlockKind::Keep);
    EXPECT_EQ(blockKind(2, 7), BlockKind::Other);
    EXPECT_EQ(blockKind(5, 1), BlockKind::Keep);
    EXPECT_EQ(blockKind(8, 2), BlockKind::ChunkedDetail);
    EXPECT_EQ(blockKind(8, 3), BlockKind::PackedGradient);
    EXPECT_EQ(blockKind(9, 1), BlockKind::Gradient);
    EXPECT_EQ(blockKind(9, 2), BlockKind::Keep);
    EXPECT_EQ(blockKind(9, 3), BlockKind::Other);
    for (std::uint8_t mode = 0; mode <= 9; ++mode)
        for (BlockKind k : {BlockKind::Detail, BlockKind::Gradient, BlockKind::PackedGradient, BlockKind::ChunkedDetail,
                            BlockKind::Keep}) {
            const int code = blockCode(mode, k);
            if (code >= 0) {
                EXPECT_EQ(blockKind(mode, static_cast<std::uint8_t>(code)), k) << int(mode);
            }
        }
    EXPECT_EQ(blockCode(6, BlockKind::Gradient), -1);
    EXPECT_EQ(typePackingFactor(4), 1u);
    EXPECT_EQ(typePackingFactor(5), 4u);
    EXPECT_EQ(typePackingFactor(8), 4u);
    EXPECT_EQ(typePackingFactor(9), 1u);
    EXPECT_EQ(trailerSectionTypes(4).luma, 4);
    EXPECT_EQ(trailerSectionTypes(4).motion, 255);
    EXPECT_EQ(trailerSectionTypes(7).luma, 2);
    EXPECT_EQ(trailerSectionTypes(7).motion, 1);
}

TEST(BlockTypes, AnchorSizesAndTheOneByteForm) {
    EXPECT_EQ(anchorByteCount(8, 8, 4, false), 2u);
    EXPECT_EQ(anchorByteCount(8, 4, 4, false), 1u);
    EXPECT_EQ(anchorByteCount(7, 8, 4, true), 1u); // the old setting weighs D up to mode 7
    EXPECT_EQ(anchorByteCount(8, 8, 4, true), 2u);
    const AnchorPair a = expandOneByteAnchor(0b11100100);
    EXPECT_EQ(a.first, 0x10);  // x 0, y 1
    EXPECT_EQ(a.second, 0x32); // x 2, y 3
    EXPECT_EQ(packOneByteAnchor(a), 0b11100100);
    EXPECT_EQ(shiftCoefficient(0x21, 3), 0x08);
    EXPECT_EQ(shiftCoefficient(0xFF, 8), 0);
    EXPECT_EQ(shiftCoefficient(0xFF, 200), 0);
}

BlockAreaLayout layoutFor(std::uint32_t w, std::uint32_t h, std::uint32_t B, std::uint32_t D, std::uint8_t mode,
                          std::uint32_t anchorBytes = 2) {
    BlockAreaLayout l;
    l.grid = frameGrid(w, h, B, D);
    l.mode = mode;
    l.anchorBytes = anchorBytes;
    return l;
}

TEST(BlockArea, TheFifthBlockOfAThreeWidePictureTakesBitsZeroAndOneOfTheSecondTypeByte) {
    // 3 x 2 blocks of 8, mode 5: blocks 0..3 keep (code 1), block 4 chunked
    // detail (code 2), block 5 keep. Block 4's chroma (D = 4: 2 x 2 cells) follows
    // the second type byte at once.
    const Bytes stream = {0x55, 0x06, 11, 12, 13, 14, 15, 16, 17, 18};
    BlockAreaWalker walker(stream, layoutFor(24, 16, 8, 4, 5));
    BlockEntry e;
    for (int j = 0; j < 4; ++j) {
        ASSERT_EQ(walker.next(e), 1);
        EXPECT_EQ(e.kind, BlockKind::Keep);
    }
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.index, 4u);
    EXPECT_EQ(e.column, 1u);
    EXPECT_EQ(e.row, 1u);
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.kind, BlockKind::ChunkedDetail);
    EXPECT_EQ(e.payload, 2u);
    EXPECT_EQ(e.payloadBytes, 8u);
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.kind, BlockKind::Keep);
    EXPECT_EQ(walker.next(e), 0);
    EXPECT_EQ(walker.position(), 10u);
    EXPECT_EQ(blockAreaEnd(stream, layoutFor(24, 16, 8, 4, 5)), 10);
}

TEST(BlockArea, OneBytePackingInterleavesEveryKindsPayload) {
    // 52 x 16 at B = 16, D = 4, mode 2: four blocks, the last one 4 pixels wide.
    const BlockAreaLayout l = layoutFor(52, 16, 16, 4, 2, 1);
    Bytes s;
    s.push_back(0);                  // detail 16 x 16: 256 luma + 16 cells x 2
    s.insert(s.end(), 256 + 32, 7);
    s.push_back(1);                  // gradient: 8 parameter bytes
    s.insert(s.end(), 8, 8);
    s.push_back(3);                  // packed gradient: 1 anchor byte here
    s.push_back(9);
    s.push_back(4);                  // chunked detail, the 4-wide edge block: 4 cells x 2
    s.insert(s.end(), 8, 10);
    s.insert(s.end(), {0xAA, 0xBB}); // the trailer
    BlockAreaWalker walker(s, l);
    BlockEntry e;
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.lumaBytes, 256u);
    EXPECT_EQ(e.chromaCells, 16u);
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.kind, BlockKind::Gradient);
    EXPECT_EQ(e.payloadBytes, 8u);
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.kind, BlockKind::PackedGradient);
    EXPECT_EQ(s[e.payload], 9);
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.kind, BlockKind::ChunkedDetail);
    EXPECT_EQ(e.pixelColumns, 4u);
    EXPECT_EQ(e.chromaCells, 4u);
    EXPECT_EQ(walker.next(e), 0);
    EXPECT_EQ(walker.position(), s.size() - 2);
}

TEST(BlockArea, EdgeBlocksCountOnlyInPicturePixelsAndCells) {
    // B = 16, width 20: the second column holds 4 columns; D = 3 does not
    // divide B: cells start at block-relative 0, 3, 6, 9, 12, 15.
    Bytes s = {0};
    s.insert(s.end(), 256 + 2 * 36, 1);
    s.push_back(0);
    s.insert(s.end(), 4 * 16 + 2 * (2 * 6), 2);
    BlockAreaWalker walker(s, layoutFor(20, 16, 16, 3, 0));
    BlockEntry e;
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.chromaCells, 36u);
    ASSERT_EQ(walker.next(e), 1);
    EXPECT_EQ(e.pixelColumns, 4u);
    EXPECT_EQ(e.lumaBytes, 64u);
    EXPECT_EQ(e.chromaCells, 12u);
    EXPECT_EQ(walker.next(e), 0);
    EXPECT_EQ(walker.position(), s.size());
}

TEST(BlockArea, AnAreaThatRunsPastTheStreamIsReportedNotRead) {
    Bytes s = {0};
    s.insert(s.end(), 100, 1); // a detail block of 8 x 8 with D = 4 needs 64 + 8
    s.resize(50);
    BlockAreaWalker walker(s, layoutFor(8, 8, 8, 4, 0));
    BlockEntry e;
    EXPECT_EQ(walker.next(e), -1);
    EXPECT_EQ(walker.next(e), -1);
    EXPECT_EQ(blockAreaEnd(s, layoutFor(8, 8, 8, 4, 0)), -1);
    EXPECT_EQ(blockAreaEnd({}, layoutFor(8, 8, 8, 4, 0)), -1); // no type byte at all
}

TEST(BlockArea, SerpentineLumaStartsOddRowsAtTheLastInPictureColumn) {
    EXPECT_EQ(serpentinePixel(0, 4).column, 0u);
    EXPECT_EQ(serpentinePixel(4, 4).row, 1u);
    EXPECT_EQ(serpentinePixel(4, 4).column, 3u);
    EXPECT_EQ(serpentinePixel(7, 4).column, 0u);
    EXPECT_EQ(serpentinePixel(8, 4).column, 0u);
    // A block clipped to 3 columns at the right edge.
    EXPECT_EQ(serpentinePixel(3, 3).row, 1u);
    EXPECT_EQ(serpentinePixel(3, 3).column, 2u);
}

// ---------------------------------------------------------------------------
// Delta chunks

// A chunk coder as writers make them: width from the deltas (2..8, 1 for
// one value), unused slots from the padding of the last byte.
Bytes encodeChunk(const Bytes& values) {
    const std::uint8_t base = values[0];
    std::uint32_t w = values.size() == 1 ? 1 : 2;
    for (std::size_t j = 1; j < values.size(); ++j) {
        const int d = static_cast<std::int8_t>(static_cast<std::uint8_t>(values[j] - base));
        while (w < 8 && (d < -(1 << (w - 1)) || d >= (1 << (w - 1)))) ++w;
    }
    const std::uint32_t bits = static_cast<std::uint32_t>(values.size() - 1) * w;
    const std::uint32_t bytes = (bits + 7) / 8;
    const std::uint32_t unused = (bytes * 8 - bits) / w;
    Bytes chunk = {base, static_cast<std::uint8_t>((w % 8) | unused << 3)};
    chunk.resize(2 + bytes, 0);
    for (std::size_t j = 1; j < values.size(); ++j) {
        const std::uint32_t d = static_cast<std::uint8_t>(values[j] - base);
        for (std::uint32_t t = 0; t < w; ++t)
            if ((d >> t) & 1) chunk[2 + ((j - 1) * w + t) / 8] |= static_cast<std::uint8_t>(1 << (((j - 1) * w + t) % 8));
    }
    return chunk;
}

TEST(DeltaChunks, ThirtyTwoEqualCoefficientsTakeTenBytes) {
    const Bytes chunk = encodeChunk(Bytes(32, 77));
    ASSERT_EQ(chunk, (Bytes{77, 10, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::uint8_t values[kMaxChunkValues];
    ASSERT_EQ(decodeDeltaChunk(chunk, values), 32);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(values[j], 77);
    EXPECT_EQ(encodeChunk({5}), (Bytes{5, 1}));
    ASSERT_EQ(decodeDeltaChunk(Bytes{5, 1}, values), 1);
    EXPECT_EQ(values[0], 5);
}

TEST(DeltaChunks, WidthZeroMeansEightBitsAndUnusedSlotsShortenTheChunk) {
    std::uint8_t values[kMaxChunkValues];
    ASSERT_EQ(decodeDeltaChunk(Bytes{10, 0, 5, 0xFF}, values), 3);
    EXPECT_EQ(values[1], 15);
    EXPECT_EQ(values[2], 9);
    // w = 3: deltas +3 (011), -1 (111), -4 (100) in bits 0..8; 2 bytes hold 5 slots, 2 unused.
    const Bytes chunk = {100, static_cast<std::uint8_t>(3 | 2 << 3), 0b00111011, 0b00000001};
    ASSERT_EQ(decodeDeltaChunk(chunk, values), 4);
    EXPECT_EQ(values[1], 103);
    EXPECT_EQ(values[2], 99);
    EXPECT_EQ(values[3], 96);
    // Sums wrap modulo 256.
    ASSERT_EQ(decodeDeltaChunk(Bytes{250, 0, 10}, values), 2);
    EXPECT_EQ(values[1], 4);
}

TEST(DeltaChunks, CountsOutsideZeroTo128AreCorrupt) {
    std::uint8_t values[kMaxChunkValues];
    EXPECT_EQ(decodeDeltaChunk(Bytes{}, values), 0);
    EXPECT_EQ(decodeDeltaChunk(Bytes{3}, values), 0);
    EXPECT_EQ(decodeDeltaChunk(Bytes{3, 5 << 3}, values), -1); // 1 - 5 values
    EXPECT_EQ(decodeDeltaChunk(Bytes{3, 1 << 3}, values), 0);  // exactly none
    Bytes big(255, 0);
    big[1] = 1; // w = 1 over 253 bytes: 2025 values
    EXPECT_EQ(decodeDeltaChunk(big, values), -1);
    Bytes most(2 + 127, 0); // w = 8, 127 deltas: 128 values
    EXPECT_EQ(decodeDeltaChunk(most, values), 128);
    Bytes over(2 + 128, 0);
    EXPECT_EQ(decodeDeltaChunk(over, values), -1);
}

TEST(DeltaChunks, RoundTripTheWritersCoder) {
    std::mt19937 random(5);
    for (int round = 0; round < 500; ++round) {
        Bytes v(1 + random() % 128);
        const int spread = 1 << (random() % 9);
        const int base = static_cast<int>(random() % 256);
        for (auto& x : v) x = static_cast<std::uint8_t>(base + static_cast<int>(random() % spread) - spread / 2);
        const Bytes chunk = encodeChunk(v);
        std::uint8_t values[kMaxChunkValues];
        ASSERT_EQ(decodeDeltaChunk(chunk, values), static_cast<int>(v.size()));
        EXPECT_EQ(Bytes(values, values + v.size()), v);
    }
}

TEST(DeltaChunks, TheReaderCarriesValuesAcrossSectionsAndStopsAtTheEnd) {
    DeltaChunkReader reader;
    Bytes first = {3};
    const Bytes chunk = encodeChunk({1, 2, 3});
    first.insert(first.end(), chunk.begin(), chunk.end());
    std::size_t pos = 0;
    std::uint8_t v;
    ASSERT_EQ(reader.next(first, pos, v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(reader.valuesLeft(), 2u);
    EXPECT_EQ(pos, first.size());
    // The next section's body starts elsewhere; the leftovers come first.
    const Bytes second = {0, 0, 1, 42}; // two empty chunks, then a chunk of one byte (no values): ends
    pos = 0;
    ASSERT_EQ(reader.next(second, pos, v), 1);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(reader.next(second, pos, v), 1);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(reader.next(second, pos, v), 0);
    EXPECT_TRUE(reader.ranOut());
    EXPECT_EQ(pos, second.size());
    pos = 0;
    EXPECT_EQ(reader.next(Bytes{5, 1, 2}, pos, v), 0); // a chunk running past the body
    EXPECT_TRUE(reader.ranOut());
    EXPECT_EQ(pos, 0u);
    pos = 0;
    EXPECT_EQ(reader.next(Bytes{2, 1, 5 << 3}, pos, v), -1); // corrupt, but inside the body
    EXPECT_FALSE(reader.ranOut());
}

// ---------------------------------------------------------------------------
// Trailer sections

void appendSection(Bytes& s, std::uint32_t endField, std::uint8_t type, const Bytes& body) {
    append32(s, endField);
    s.push_back(type);
    s.insert(s.end(), body.begin(), body.end());
}

TEST(TrailerSections, AbsoluteEndsIncludeTheHeaderSizeInTheFirstStream) {
    Bytes s(10, 0xCC); // block area of 10 bytes
    const std::uint32_t bias = 47;
    appendSection(s, bias + 10 + 5 + 25, 1, Bytes{24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const float shift = 2.5f;
    std::memcpy(s.data() + 10 + 5 + 1, &shift, 4);
    appendSection(s, bias + 40 + 5 + 2, 2, Bytes{1, 99});
    TrailerWalker walker(s, 10, 7, bias);
    TrailerSection sec;
    ASSERT_TRUE(walker.next(sec));
    EXPECT_EQ(sec.type, 1);
    MotionParameters motion;
    const std::size_t used = readMotionSection(walker.body(sec), motion);
    EXPECT_EQ(used, 25u);
    EXPECT_EQ(motion.shiftX, 2.5f);
    EXPECT_EQ(motion.centreX, 0.0f);
    walker.finish(sec, used);
    ASSERT_TRUE(walker.next(sec));
    EXPECT_EQ(sec.type, 2);
    EXPECT_EQ(walker.body(sec).size(), 2u);
    walker.finish(sec, 2);
    EXPECT_FALSE(walker.next(sec));
}

TEST(TrailerSections, ModeEightEndsAreSectionLengths) {
    Bytes s(4, 0);
    appendSection(s, 7, 3, Bytes{1, 5});
    appendSection(s, 6, 2, Bytes{0});
    TrailerWalker walker(s, 4, 8, 999);
    TrailerSection sec;
    ASSERT_TRUE(walker.next(sec));
    EXPECT_EQ(sec.end, 11u);
    walker.finish(sec, 2);
    ASSERT_TRUE(walker.next(sec));
    EXPECT_EQ(sec.type, 2);
    walker.finish(sec, 1);
    EXPECT_FALSE(walker.next(sec));
}

TEST(TrailerSections, ASectionThatDoesNotEndWhereItSaysEndsTheTrailer) {
    Bytes s;
    appendSection(s, 9, 3, Bytes{1, 2, 3, 4}); // says 9, body read uses 3
    appendSection(s, 18, 2, Bytes{1, 2, 3, 4});
    TrailerWalker walker(s, 0, 5, 0);
    TrailerSection sec;
    ASSERT_TRUE(walker.next(sec));
    walker.finish(sec, 3);
    EXPECT_FALSE(walker.next(sec));
    EXPECT_TRUE(walker.ended());

    // An unknown type has no body: with an end right after its type byte the
    // trailer goes on, otherwise it ends.
    Bytes t;
    appendSection(t, 5, 77, {});
    appendSection(t, 12, 78, Bytes{0, 0});
    appendSection(t, 20, 3, Bytes{0, 0, 0});
    TrailerWalker unknown(t, 0, 5, 0);
    ASSERT_TRUE(unknown.next(sec));
    EXPECT_EQ(sec.type, 77);
    ASSERT_TRUE(unknown.next(sec)); // not finished: counts as an empty body, which matches
    EXPECT_EQ(sec.type, 78);
    EXPECT_FALSE(unknown.next(sec));
}

// A body is what lies before its section end; its reader may read on to the
// stream end, and the walk ends after a section whose end it did not reach
// exactly.
TEST(TrailerSections, BodiesAreBoundedByTheSectionAndReadersByTheStream) {
    Bytes s;
    appendSection(s, 1000, 3, Bytes{1, 2, 3}); // an end past the stream
    TrailerWalker walker(s, 0, 5, 0);
    TrailerSection sec;
    ASSERT_TRUE(walker.next(sec));
    EXPECT_EQ(walker.body(sec).size(), 3u);
    walker.finish(sec, 3);
    EXPECT_FALSE(walker.next(sec));

    Bytes before;
    appendSection(before, 10, 3, Bytes{1, 2, 3}); // below the bias: before the stream
    TrailerWalker biased(before, 0, 3, 47);
    ASSERT_TRUE(biased.next(sec));
    EXPECT_TRUE(biased.body(sec).empty());
    EXPECT_EQ(biased.readable(sec).size(), 3u);
    biased.finish(sec, 3);
    EXPECT_FALSE(biased.next(sec));

    Bytes early;
    appendSection(early, 6, 3, Bytes{1, 2, 3}); // an end one byte into a three-byte body
    appendSection(early, 16, 3, Bytes{4, 5});
    TrailerWalker short_(early, 0, 5, 0);
    ASSERT_TRUE(short_.next(sec));
    EXPECT_EQ(short_.body(sec).size(), 1u);
    EXPECT_EQ(short_.readable(sec).size(), early.size() - 5);
    short_.finish(sec, 3);
    EXPECT_FALSE(short_.next(sec));

    EXPECT_FALSE(walker.cut() || biased.cut() || short_.cut());

    const Bytes stub = {1, 2, 3, 4}; // fewer than 5 bytes: a section header cut short
    TrailerWalker tiny(stub, 0, 5, 0);
    EXPECT_FALSE(tiny.next(sec));
    EXPECT_TRUE(tiny.cut());
    Bytes after;
    appendSection(after, 7, 3, Bytes{1, 2});
    after.push_back(9); // one byte of a second section header
    TrailerWalker cutAfter(after, 0, 5, 0);
    ASSERT_TRUE(cutAfter.next(sec));
    cutAfter.finish(sec, 2);
    EXPECT_FALSE(cutAfter.next(sec));
    EXPECT_TRUE(cutAfter.cut());
    after.pop_back(); // nothing after the section: the trailer's end
    TrailerWalker ends(after, 0, 5, 0);
    ASSERT_TRUE(ends.next(sec));
    ends.finish(sec, 2);
    EXPECT_FALSE(ends.next(sec));
    EXPECT_FALSE(ends.cut());
}

TEST(TrailerSections, MotionSectionsOfOtherLengthsAreSkipped) {
    MotionParameters motion;
    EXPECT_EQ(readMotionSection(Bytes{3, 1, 2, 3}, motion), 4u);
    EXPECT_EQ(motion.centreX, 0.5f);
    EXPECT_EQ(readMotionSection(Bytes{3, 1, 2}, motion), 0u);
    EXPECT_EQ(readMotionSection({}, motion), 0u);
}

TEST(TrailerSections, TheCopyConversionMovesEveryEndByTheInsertedBytes) {
    // A 47-byte-header mode-7 stream: block area of 6 bytes, three sections.
    Bytes s(6, 0);
    appendSection(s, 47 + 6 + 7, 1, Bytes{1, 0});
    appendSection(s, 47 + 13 + 6, 3, Bytes{0});
    appendSection(s, 47 + 19 + 8, 2, Bytes{1, 5, 5});
    Bytes moved = s;
    EXPECT_EQ(moveSectionEnds(moved, 6, 47, 24), 3u);
    TrailerWalker walker(moved, 6, 7, 71); // read back with the grown header
    TrailerSection sec;
    int sections = 0;
    while (walker.next(sec)) {
        walker.finish(sec, walker.body(sec).size());
        ++sections;
    }
    EXPECT_EQ(sections, 3);
    EXPECT_EQ(moved.size(), s.size());

    // An end that does not advance stops the walk; the rest stays as it was.
    Bytes stuck = s;
    put32(stuck, 13, 47 + 13);
    EXPECT_EQ(moveSectionEnds(stuck, 6, 47, 24), 1u);
    std::uint32_t field;
    std::memcpy(&field, stuck.data() + 13, 4);
    EXPECT_EQ(field, 47u + 13);
    std::memcpy(&field, stuck.data() + 19, 4);
    EXPECT_EQ(field, 47u + 19 + 8);
    // So does one that leaves the stream.
    Bytes leaving = s;
    put32(leaving, 19, 47 + 500);
    EXPECT_EQ(moveSectionEnds(leaving, 6, 47, 24), 2u);
}

TEST(ModeNine, SplitsItsFourPartsOnlyWhenAllLieInsideTheStream) {
    Bytes s;
    for (std::uint32_t part = 0; part < 4; ++part) {
        append32(s, part);
        s.insert(s.end(), part, static_cast<std::uint8_t>(part));
    }
    append32(s, 0);
    std::array<std::span<const std::uint8_t>, 4> parts;
    ASSERT_EQ(splitMode9Parts(s, parts), kDone);
    EXPECT_EQ(parts[0].size(), 0u);
    EXPECT_EQ(parts[3].size(), 3u);
    EXPECT_EQ(parts[3][0], 3);
    s.resize(s.size() - 5);
    EXPECT_EQ(splitMode9Parts(s, parts), kFailed);
}

} // namespace
} // namespace vexel
