// The .vx container: a file is a chain of frame records; each record is a
// header, an optional stream table and one or more payload streams. The
// writer, the decoder and the copy conversion all go through these types, so
// the bytes are read and checked in one place. All integers are
// little-endian; offsets count from the first byte of the record.
//
// Record header. Every field after blockSizeCode is optional: it is present
// only when headerSize covers it (the reader reads the first 256 bytes of a
// record, so the whole header must fit in 256 bytes).
//
//   off size field            meaning                                         default when absent
//   0   18   magic            "!VEXEL_IMAGE_FILE" and one zero byte           (required)
//   18  4    headerSize       offset of the first payload byte                (required)
//   22  4    width            pixels                                          (required)
//   26  4    height           pixels                                          (required)
//   30  1    blockSizeCode    B = 2^floor(log2 code), 0 gives 1; writers 4/8/16 (required)
//   31  4    pixelsPerMeterX  bitmap resolution                               0 (headerSize < 39)
//   35  4    pixelsPerMeterY                                                  0 (headerSize < 39)
//   39  1    mode             0..9; 10 and above need a newer program         0
//   40  1    chromaStep       D, edge of a chroma cell; writers 2/4/8         2
//   41  6    coefShifts       left shifts of the packed-gradient coefficients 1 3 1 3 1 3
//   47  8    nextRecord       file offset of the next record, 0 in the last   0
//   55  8    prevRecord       file offset of the previous record, 0 first     0
//   63  8    frameRate        double, frames per second, 0.0 when none        absent
//   71  4    streamCount      N                                               1
//   75  4N   streamOffsets    first byte of stream i = 1..N                   (one stream)
//
// Writers produce headers of 47 bytes (single picture, single stream), 71
// (link fields, single stream) and 75 + 4N (stream table; without link
// fields, offsets 47..70 are zero so streamCount always sits at 71).
//
// Record extent: a record ends where nextRecord points, or at the end of the
// file when nextRecord is 0. With N < 2 the one stream runs from headerSize
// to the record end; with N >= 2 stream i runs from streamOffsets[i-1] to
// streamOffsets[i], the last to the record end.
//
// Payload of one stream, modes 0 to 8 (mode 8: after expanding the whole
// stream, see compression.h):
//
//   block area   blocks row by row, left to right, over the whole picture.
//                Before every block whose index is a multiple of the packing
//                factor comes one type byte: the type itself (factor 1,
//                modes 0..4) or four 2-bit types, first block in the lowest
//                bits (factor 4, modes 5..8; the count runs on across rows;
//                unused fields of the last byte are 0). Each block's inline
//                payload follows as soon as its type is known:
//
//                kind             modes 0-4  modes 5-8  mode 9  inline payload
//                detail           0          0          0       luma of the in-picture pixels (raster),
//                                                               then Cr, Cb per chroma cell
//                gradient         1          -          1       8 parameter bytes (modes 0-4)
//                packed gradient  3          3          -       1 anchor byte, or 2 when the size value > 4
//                chunked detail   4          2          -       Cr, Cb per chroma cell
//                keep             5 (255)    1          2       nothing
//
//                Chroma cells are D x D, at block-relative rows and columns
//                0, D, 2D ... below B that lie inside the picture.
//
//   trailer      (modes 2..8) sections while bytes remain:
//                u32 sectionEnd, u8 sectionType, body.
//                sectionEnd, modes 2..7: position after the section from the
//                stream start, plus headerSize in the stream that follows the
//                header (the only stream, or stream 1); mode 8: the byte
//                length of the whole section. A section whose body does not
//                end exactly there ends the trailer.
//
//                type                     modes 2-4  modes 5-8  body
//                packed-gradient coefs    3          3          six passes over the packed gradients,
//                                                               one delta-chunk value each
//                chunked-detail luma      4          2          serpentine luma per chunked block
//                motion                   255        1          u8 L, L bytes (24: six floats)
//
// Delta chunk: u8 n, then n bytes: base value; (w & 7 | unused << 3) with
// w = 0 meaning 8; then deltas of w bits, lowest bit first. It holds
// ((n - 2) x 8) / w + 1 - unused values: base, then base + delta (mod 256)
// with each delta sign-extended from w bits. n <= 1 holds none.
//
// Mode 9: four parts, each u32 length and a compressed stream (block types;
// eight parameter planes; detail luma; Cr and Cb planes), then a u32 zero.
#pragma once

#include "codec/record_sink.h"
#include "codec/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vexel {

inline constexpr std::uint8_t kRecordMagic[18] = {'!', 'V', 'E', 'X', 'E', 'L', '_', 'I', 'M',
                                                  'A', 'G', 'E', '_', 'F', 'I', 'L', 'E', 0};

// Field offsets.
inline constexpr std::uint32_t kHeaderSizeOffset = 18;
inline constexpr std::uint32_t kWidthOffset = 22;
inline constexpr std::uint32_t kHeightOffset = 26;
inline constexpr std::uint32_t kBlockSizeCodeOffset = 30;
inline constexpr std::uint32_t kPixelsPerMeterOffset = 31;
inline constexpr std::uint32_t kModeOffset = 39;
inline constexpr std::uint32_t kChromaStepOffset = 40;
inline constexpr std::uint32_t kCoefShiftsOffset = 41;
inline constexpr std::uint32_t kNextRecordOffset = 47;
inline constexpr std::uint32_t kPrevRecordOffset = 55;
inline constexpr std::uint32_t kFrameRateOffset = 63;
inline constexpr std::uint32_t kStreamCountOffset = 71;
inline constexpr std::uint32_t kStreamTableOffset = 75;

inline constexpr std::uint32_t kMinHeaderSize = 31;       // the required fields
inline constexpr std::uint32_t kPictureHeaderSize = 47;   // single picture, single stream
inline constexpr std::uint32_t kLinkedHeaderSize = 71;    // link fields, single stream
inline constexpr std::uint32_t kRecordHeaderLimit = 256;  // bytes a reader reads
inline constexpr std::uint32_t kMaxStreams = 45;          // 75 + 4 x 45 = 255
inline constexpr std::uint8_t kMaxMode = 9;
inline constexpr std::uint32_t kMaxBlockSize = 16;
inline constexpr std::uint32_t kMaxChromaStep = 16;       // the planes' border is 16 pixels
inline constexpr std::uint32_t kPlaneBorder = 16;
// A padded plane ((width + 32) x (height + 32) bytes) above this is refused:
// no machine holds it, and every size derived from it stays far from overflow.
inline constexpr std::uint64_t kMaxPlaneBytes = std::uint64_t{1} << 36;
inline constexpr double kMaxFrameRate = 1000.0;

inline constexpr std::array<std::uint8_t, 6> kDefaultCoefShifts{1, 3, 1, 3, 1, 3};

struct RecordHeader {
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t blockSizeCode = 0;
    std::uint32_t blockSize = 1; // B, from blockSizeCode
    std::uint32_t pixelsPerMeterX = 0;
    std::uint32_t pixelsPerMeterY = 0;
    std::uint8_t mode = 0;
    std::uint8_t chromaStep = 2; // D
    std::array<std::uint8_t, 6> coefShifts = kDefaultCoefShifts;
    std::uint64_t nextRecord = 0;
    std::uint64_t prevRecord = 0; // read for completeness; readers never follow it
    bool hasFrameRate = false;
    double frameRate = 0.0;       // as read: absolute value, 0 when not finite or above 1000
    std::uint32_t streamCount = 1; // as stored; 0 and 1 both mean one stream
    std::array<std::uint32_t, kMaxStreams> streamOffsets{};

    // Filled by the parser from the record's position and the file size.
    std::uint64_t recordStart = 0;
    std::uint64_t recordSize = 0;
    // The file ends before the record does: its nextRecord or a stream
    // offset lies past the end of the file. The record then runs to the end
    // of the file (stream offsets past it are taken as its end), and no
    // reader decodes it.
    bool cutShort = false;
};

// True when bytes start with the 18 magic bytes.
bool hasRecordMagic(std::span<const std::uint8_t> bytes);

// B for a blockSizeCode: 2^floor(log2 code), 1 for 0.
std::uint32_t blockSizeFromCode(std::uint8_t code);

// The one validating parser of record headers. bytes are the bytes actually
// read at recordStart (at most 256, fewer when the file ends sooner); fields
// beyond them are never looked at. Checks: the magic; headerSize in
// [31, min(256, bytes read, record size)]; mode below 10; width and height
// at least 1 with a padded plane of at most kMaxPlaneBytes; chromaStep 1..16;
// B 1..16; with two or more streams, N <= 45, 75 + 4N <= headerSize and the
// offsets non-decreasing from headerSize and not past the record's end; a
// non-zero nextRecord at or past this record's header end (a link to itself
// or backwards would make a reader loop for ever). A whole header whose
// nextRecord or stream offsets lie past the end of the file belongs to a
// file cut short: it is parsed (cutShort), its record ending with the file.
// Returns kDone, or kNotVx with header unspecified.
Result parseRecordHeader(std::span<const std::uint8_t> bytes, std::uint64_t recordStart, std::uint64_t fileSize,
                      RecordHeader& header);

// ---------------------------------------------------------------------------
// Writing headers

// headerSize of the forms writers produce: 47, 71, or 75 + 4N with a table
// (streamCount >= 2).
std::uint32_t writtenHeaderSize(bool linkFields, std::uint32_t tableStreams);

// Writes header's fields in table order into out (at least
// writtenHeaderSize bytes) and returns that size, also stored as headerSize.
// linkFields writes nextRecord, prevRecord and |frameRate|; a table
// (tableStreams >= 2, at most 45) writes streamCount and the slots from
// header.streamOffsets, with 24 zero bytes at 47..70 when linkFields is off.
std::uint32_t writeRecordHeader(const RecordHeader& header, bool linkFields, std::uint32_t tableStreams,
                                std::span<std::uint8_t> out);

// Record-relative position of stream i's slot (i = 1..N).
constexpr std::uint64_t streamSlotOffset(std::uint32_t streamIndex) { return kStreamCountOffset + 4u * streamIndex; }

// Points the nextRecord field of the record at previousRecordStart to
// recordStart. False when the write fails.
bool linkPreviousRecord(RecordSink& sink, std::uint64_t previousRecordStart, std::uint64_t recordStart);

// Fills stream i's slot (i = 1..N) of the record at recordStart with the
// stream's offset from the record start. False on a failed write.
bool writeStreamSlot(RecordSink& sink, std::uint64_t recordStart, std::uint32_t streamIndex, std::uint32_t offset);

// ---------------------------------------------------------------------------
// Streams and geometry

// Number of streams of a record: 1 when streamCount is below 2.
std::uint32_t streamTotal(const RecordHeader& header);

struct ByteRange {
    std::uint64_t begin = 0; // offsets from the record start
    std::uint64_t end = 0;
    std::uint64_t size() const { return end - begin; }
};

// Stream i of a parsed record: i = 0 (or 1) for a single-stream record, 1..N otherwise.
ByteRange streamRange(const RecordHeader& header, std::uint32_t streamIndex);

// What a mode-2..7 sectionEnd adds to the stream position: headerSize in the
// stream that follows the header (index 0 or 1), 0 in streams 2..N.
std::uint32_t sectionEndBias(const RecordHeader& header, std::uint32_t streamIndex);

struct FrameGrid {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t blockSize = 1;  // B
    std::uint32_t chromaStep = 1; // D
    std::uint32_t blockColumns = 0;
    std::uint32_t blockRows = 0;
    std::uint64_t blocks = 0;
    std::uint32_t chromaColumns = 0;
    std::uint32_t chromaRows = 0;
    std::uint64_t chromaSamples = 0;
    std::uint64_t paddedPlaneBytes = 0; // (width + 32) x (height + 32)
};

// B and D must be at least 1.
FrameGrid frameGrid(std::uint32_t width, std::uint32_t height, std::uint32_t blockSize, std::uint32_t chromaStep);
FrameGrid frameGrid(const RecordHeader& header);

// Capacity of the mode-8 expansion: 9 x blocks + width x height + 2 x chroma samples + 1000.
std::uint64_t mode8ExpansionCapacity(const FrameGrid& grid);
// Largest expanded mode-9 part: 4 x (11 x blocks + width x height + 2 x chroma samples).
std::uint64_t mode9PartLimit(const FrameGrid& grid);

// The rows one stream is responsible for: block rows [(i-1) P, min(i P, rows))
// with P = ceil(rows / N); its pixel rows are those times B, clipped to the
// height; its chroma rows are the cells that start in those pixel rows
// (the band times B / D when D divides B, as writers make it).
struct StreamBand {
    std::uint32_t firstBlockRow = 0, endBlockRow = 0;
    std::uint32_t firstPixelRow = 0, endPixelRow = 0;
    std::uint32_t firstChromaRow = 0, endChromaRow = 0;
};
// streamIndex 0: the whole picture; else 1..streamCount.
StreamBand streamBand(const FrameGrid& grid, std::uint32_t streamIndex, std::uint32_t streamCount);
// The block rows alone: [first, end) of blockRows, for the encoder's grid.
void streamBlockRows(std::uint32_t blockRows, std::uint32_t streamIndex, std::uint32_t streamCount,
                     std::uint32_t& first, std::uint32_t& end);

// ---------------------------------------------------------------------------
// Block types

// The kinds of block. In memory - the encoder's decisions, the decoder's
// parsed blocks, a repack conversion's frame - byte 0 of a block record is
// its kind's value below, whatever the mode; the type codes a stream
// stores depend on the mode (the table at the top; blockCode, blockKind).
enum class BlockKind : std::uint8_t {
    Detail = 0,
    Gradient = 1,
    PackedGradient = 3,
    ChunkedDetail = 4,
    Keep = 5,
    Other = 0xFE,
};
constexpr std::uint8_t kindByte(BlockKind kind) { return static_cast<std::uint8_t>(kind); }

// The kind of a stored type code in a mode.
BlockKind blockKind(std::uint8_t mode, std::uint8_t code);
// The code writers store for a kind in a mode; -1 when the mode has none.
int blockCode(std::uint8_t mode, BlockKind kind);
// How a mode stores an encoder's decision (Detail, Gradient or Keep):
// detail as chunked detail in modes 2..8, a gradient as a packed gradient
// in modes 3..8, everything else as it is.
BlockKind storedKind(std::uint8_t mode, BlockKind decided);
// Blocks per type byte: 4 in modes 5..8, else 1.
std::uint32_t typePackingFactor(std::uint8_t mode);
bool hasTrailerSections(std::uint8_t mode); // modes 2..8

struct TrailerSectionTypes {
    std::uint8_t coefficients; // packed-gradient coefficients
    std::uint8_t luma;         // chunked-detail luma
    std::uint8_t motion;
};
TrailerSectionTypes trailerSectionTypes(std::uint8_t mode);

// Bytes of a gradient's anchor (a packed gradient's inline anchor, a mode-9
// gradient's parameters): 2 when the parameter size value exceeds 4, else
// 1. The value is B, or D with the old parameter-size setting in modes up to
// 7 (legacy reader bit 1; the legacy writer bit 3 writes such files).
std::uint32_t anchorByteCount(std::uint8_t mode, std::uint32_t blockSize, std::uint32_t chromaStep,
                              bool oldParameterSize);

// One-byte anchor form: bits 0-1 first x, 2-3 first y, 4-5 second x, 6-7
// second y. Expanded, each point is x in the low nibble and y in the high.
struct AnchorPair {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
};
AnchorPair expandOneByteAnchor(std::uint8_t packed);
// Packs two nibble-form points, each coordinate taken modulo 4.
std::uint8_t packOneByteAnchor(AnchorPair anchors);
// Where a gradient's anchor is one byte, modes 4..7 and 9 store both points
// in the one-byte form; modes 3 and 8 store the first point in nibble form
// and readers take the second as (0, 0).
constexpr bool anchorsPackedInOneByte(std::uint8_t mode) { return (mode >= 4 && mode <= 7) || mode == 9; }
// A gradient's six coefficients are stored shifted right by coefShifts in
// modes 4 and above (packed gradients, mode-9 parameters).
constexpr bool coefficientsShifted(std::uint8_t mode) { return mode >= 4; }

// A coefficient byte shifted left by its coefShifts entry (8 or more gives 0).
constexpr std::uint8_t shiftCoefficient(std::uint8_t value, std::uint8_t shift) {
    return shift >= 8 ? 0 : static_cast<std::uint8_t>(value << shift);
}

// ---------------------------------------------------------------------------
// Block area

struct BlockAreaLayout {
    FrameGrid grid;
    std::uint8_t mode = 0;         // 0..8
    std::uint32_t anchorBytes = 2; // inline bytes of a packed gradient
};
BlockAreaLayout blockAreaLayout(const RecordHeader& header, bool oldParameterSize);

struct BlockEntry {
    std::uint64_t index = 0;
    std::uint32_t column = 0, row = 0;    // block position
    std::uint8_t code = 0;                // type as stored
    BlockKind kind = BlockKind::Other;
    std::uint32_t pixelColumns = 0;       // in-picture extent of the block
    std::uint32_t pixelRows = 0;
    std::uint32_t chromaCells = 0;        // cells that start inside the picture
    std::uint32_t lumaBytes = 0;          // inline luma (detail)
    std::uint32_t payloadBytes = 0;       // all inline bytes
    std::size_t payload = 0;              // stream position of the inline bytes
};

// Walks the interleaved type bytes and inline payloads of a stream.
class BlockAreaWalker {
public:
    BlockAreaWalker(std::span<const std::uint8_t> stream, const BlockAreaLayout& layout);

    // 1: entry is the next block and its payload lies inside the stream;
    // 0: every block has been visited (position() is the end of the block
    // area); -1: the block area runs past the end of the stream.
    int next(BlockEntry& entry);
    // Read position: after the last block's payload.
    std::size_t position() const { return pos_; }

private:
    std::span<const std::uint8_t> stream_;
    BlockAreaLayout layout_;
    std::uint32_t packing_;
    std::uint64_t index_ = 0;
    std::size_t pos_ = 0;
    std::uint8_t packed_ = 0;
    bool truncated_ = false;
};

// The end of the block area, or -1 when it runs past the stream.
std::int64_t blockAreaEnd(std::span<const std::uint8_t> stream, const BlockAreaLayout& layout);

// The pixel of the k-th luma value of a chunked-detail block in serpentine
// order (even rows left to right, odd rows right to left) over an
// in-picture extent `columns` wide.
struct BlockPixel {
    std::uint32_t row = 0, column = 0;
};
constexpr BlockPixel serpentinePixel(std::uint32_t k, std::uint32_t columns) {
    const std::uint32_t row = k / columns, step = k % columns;
    return {row, row % 2 == 0 ? step : columns - 1 - step};
}

// ---------------------------------------------------------------------------
// Trailer sections

struct TrailerSection {
    std::uint8_t type = 0;
    std::size_t start = 0;     // stream position of its sectionEnd field
    std::size_t bodyStart = 0; // start + 5
    std::uint64_t end = 0;     // stream position its sectionEnd names
};

// Walks the trailer sections after the block area. A decoder reads a body as
// far as its reader needs, up to the stream end, whatever its section end
// says (readable); the trailer ends at the stream end, or after a section
// whose body did not end exactly at its end. A stream that ends inside a
// section header is cut short (cut()); so is one whose section reader needs
// bytes past the stream end: a decoder fails such a stream. (An end that
// lies past the stream, with a body that does not need the bytes, is only a
// mismatch: older writers wrote such ends.)
class TrailerWalker {
public:
    // endBias: sectionEndBias() of the stream (ignored in mode 8).
    TrailerWalker(std::span<const std::uint8_t> stream, std::size_t blockAreaEnd, std::uint8_t mode,
                  std::uint32_t endBias);

    // The next section; false when the trailer has ended. A section not
    // finished before next() counts as having an empty body.
    bool next(TrailerSection& section);
    // The section's body bytes, as far as its section end (and the stream).
    std::span<const std::uint8_t> body(const TrailerSection& section) const;
    // What the section's reader may read: from its body to the stream end.
    std::span<const std::uint8_t> readable(const TrailerSection& section) const;
    // Reports how many body bytes the section's reader used.
    void finish(const TrailerSection& section, std::size_t consumed);
    bool ended() const { return ended_; }
    // The stream ends inside a section header.
    bool cut() const { return cut_; }

private:
    std::span<const std::uint8_t> stream_;
    std::size_t pos_;
    bool relative_;
    std::uint32_t bias_;
    bool pending_ = false;
    bool ended_ = false;
    bool cut_ = false;
    TrailerSection current_{};
};

inline constexpr std::uint32_t kMaxChunkValues = 128;

// Decodes one delta chunk (its n bytes, without the length byte) into
// values. Returns the value count (0..128), or -1 for a corrupt chunk whose
// count falls outside 0..128.
int decodeDeltaChunk(std::span<const std::uint8_t> chunk, std::uint8_t* values);

// Hands out the values of a delta-chunk sequence one at a time. Values left
// over in a chunk carry into the next section of the same stream.
class DeltaChunkReader {
public:
    // The next value; reads chunks from body at position when none is left.
    // 1: value set; 0: the body ended first; -1: a corrupt chunk. Both
    // failures end the trailer.
    int next(std::span<const std::uint8_t> body, std::size_t& position, std::uint8_t& value) {
        if (index_ < count_) {
            value = values_[index_++];
            return 1;
        }
        return nextChunk(body, position, value);
    }
    std::uint32_t valuesLeft() const { return count_ - index_; }
    // The last next() that gave no value found the body ended (its 0).
    bool ranOut() const { return ranOut_; }

private:
    int nextChunk(std::span<const std::uint8_t> body, std::size_t& position, std::uint8_t& value);
    std::uint8_t values_[kMaxChunkValues] = {};
    std::uint32_t count_ = 0;
    std::uint32_t index_ = 0;
    bool ranOut_ = false;
};

struct MotionParameters {
    float shiftX = 0.0f, shiftY = 0.0f;
    float centreX = 0.5f, centreY = 0.5f;
    float zoomX = 0.0f, zoomY = 0.0f;
};

// Reads a motion section body: u8 L and L bytes; with L = 24 the six floats
// replace motion, other lengths are skipped. Returns the bytes used (1 + L),
// or 0 when the body is shorter.
std::size_t readMotionSection(std::span<const std::uint8_t> body, MotionParameters& motion);

// For the copy conversion of a mode-2..7 stream that follows a header grown
// by `delta` bytes: adds delta to every sectionEnd, walking the old
// positions from the end of the block area. Stops, leaving the rest as it
// is, at the first end that does not advance past its own section header,
// leaves the stream, or would overflow. Returns the sections moved.
std::uint32_t moveSectionEnds(std::span<std::uint8_t> stream, std::size_t blockAreaEnd, std::uint32_t endBias,
                              std::uint32_t delta);

// ---------------------------------------------------------------------------
// Mode 9

// The four compressed parts of a mode-9 stream. kDone when every
// length and part lies inside the stream (the closing zero is not needed),
// kFailed otherwise.
Result splitMode9Parts(std::span<const std::uint8_t> stream, std::array<std::span<const std::uint8_t>, 4>& parts);

} // namespace vexel
