// The public reader: a chain of records walked once when it is opened, and
// records decoded into the picture planes of a session of its own, then
// copied into the caller's buffer. It has no screen: every picture goes to
// the planes, none to an off-screen surface.

#include "base/memdiag.h"
#include "codec/container.h"
#include "codec/legacy_flags.h"
#include "lib/internal.h"
#include "pipeline/codec_session.h"
#include "pipeline/record_file.h"
#include "platform/files.h"
#include "platform/utf.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 26;
constexpr std::uint64_t kDefaultMaxMemory = std::uint64_t{1} << 31;

} // namespace

struct vexel_reader {
    vexel_read_options options{};
    vexel::CodecSession session;
    // The data: a copy of the caller's bytes, or an open file.
    std::vector<std::uint8_t> memory;
    vexel::platform::File file;
    bool fromFile = false;
    std::uint64_t dataSize = 0;

    std::vector<vexel::RecordHeader> records;
    vexel_status chain = VEXEL_OK;
    std::uint64_t chainEnd = 0;

    // The record whose picture the planes hold; -1: none.
    std::int64_t decoded = -1;
};

namespace {

using vexel::RecordHeader;

vexel_status checkOptions(const vexel_read_options* given, vexel_read_options& out) {
    vexel_read_options_default(&out);
    if (!given) return VEXEL_OK;
    if ((given->legacy_flags & ~unsigned{vexel::kLegacyReadingBits}) != 0 || given->threads > 1) return VEXEL_ERROR_ARGUMENT;
    out = *given;
    out.fast_paint = given->fast_paint ? 1 : 0;
    if (out.max_pixels == 0) out.max_pixels = kDefaultMaxPixels;
    if (out.max_memory == 0) out.max_memory = kDefaultMaxMemory;
    return VEXEL_OK;
}

// The header of the record at `at`: kDone or a refusal.
int readHeader(vexel_reader& r, std::uint64_t at, RecordHeader& h) {
    if (r.fromFile) return vexel::readRecordHeader(r.file, at, h);
    if (at >= r.memory.size()) return vexel::kFailed;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(r.memory.size() - at, vexel::kRecordHeaderLimit));
    return vexel::parseRecordHeader({r.memory.data() + at, n}, at, r.memory.size(), h);
}

// Follows the links from the first record; the parser refuses a link that
// does not lead forward, so the walk ends.
vexel_status walkChain(vexel_reader& r) {
    for (std::uint64_t at = 0;;) {
        RecordHeader h;
        if (readHeader(r, at, h) != vexel::kDone) {
            if (r.records.empty()) return VEXEL_ERROR_NOT_VX;
            r.chain = VEXEL_ERROR_NOT_VX;
            r.chainEnd = at;
            return VEXEL_OK;
        }
        try {
            r.records.push_back(h);
        } catch (const std::bad_alloc&) {
            return VEXEL_ERROR_NO_MEMORY;
        }
        if (h.nextRecord == 0) return VEXEL_OK;
        at = h.nextRecord;
    }
}

vexel_status finishOpen(vexel_reader* r, vexel_reader** out) {
    r->session.picture.planesWanted = true;
    r->session.codec.screen = vexel::ScreenSize{0, 0};
    r->session.codec.legacyFlags = static_cast<std::uint8_t>(r->options.legacy_flags);
    const vexel_status status = walkChain(*r);
    if (status != VEXEL_OK) {
        delete r;
        return status;
    }
    *out = r;
    return VEXEL_OK;
}

bool isKeyframe(const RecordHeader& h, std::size_t index) { return index == 0 || h.mode < 7; }

// Decodes one record into the session's planes.
vexel_status decodeOne(vexel_reader& r, std::size_t index) {
    const RecordHeader& h = r.records[index];
    vexel::RecordDecodeOptions options;
    options.fastPaint = r.options.fast_paint != 0;
    options.surfaceMemory = false;
    options.oneThread = r.options.threads == 1;
    const std::uint32_t concurrent = options.oneThread ? 1 : vexel::streamTotal(h);
    if (static_cast<std::uint64_t>(h.width) * h.height > r.options.max_pixels ||
        vexel::decodeMemoryEstimate(h, concurrent, 0) > r.options.max_memory)
        return VEXEL_ERROR_TOO_LARGE;

    std::span<const std::uint8_t> bytes;
    vexel::TrackedBuffer<std::uint8_t> read;
    if (r.fromFile) {
        if (!read.allocate(static_cast<std::size_t>(h.recordSize))) return VEXEL_ERROR_NO_MEMORY;
        if (!r.file.seek(h.recordStart) || !r.file.readExact(read.data(), h.recordSize)) return VEXEL_ERROR_IO;
        bytes = {read.data(), read.size()};
    } else {
        bytes = {r.memory.data() + h.recordStart, static_cast<std::size_t>(h.recordSize)};
    }
    switch (vexel::decodeRecordBytes(r.session.codec, r.session.picture, h, bytes, options)) {
    case vexel::kDone: return VEXEL_OK;
    case vexel::kNoMemory: return VEXEL_ERROR_NO_MEMORY;
    default: return VEXEL_ERROR_CORRUPT;
    }
}

// Brings record `index` into the planes, with the records before it that it
// may need.
vexel_status bringRecord(vexel_reader& r, std::size_t index) {
    if (index >= r.records.size()) return VEXEL_ERROR_RANGE;
    if (r.decoded == static_cast<std::int64_t>(index)) return VEXEL_OK;
    std::size_t start = index;
    while (!isKeyframe(r.records[start], start)) --start;
    const bool goOn = r.decoded >= 0 && static_cast<std::size_t>(r.decoded) < index &&
                      static_cast<std::size_t>(r.decoded) + 1 >= start;
    if (goOn) {
        start = static_cast<std::size_t>(r.decoded) + 1;
    } else {
        // A fresh start: no picture of an unrelated record shows through.
        r.session.picture.planes.reset();
        r.session.picture.dropPreviousPicture();
    }
    r.decoded = -1;
    for (std::size_t i = start; i <= index; ++i) {
        const vexel_status status = decodeOne(r, i);
        if (status != VEXEL_OK) {
            r.session.picture.planes.reset();
            return status;
        }
    }
    r.decoded = static_cast<std::int64_t>(index);
    return VEXEL_OK;
}

} // namespace

extern "C" {

void vexel_read_options_default(vexel_read_options* options) {
    if (!options) return;
    *options = vexel_read_options{};
    options->max_pixels = kDefaultMaxPixels;
    options->max_memory = kDefaultMaxMemory;
}

vexel_status vexel_reader_open_memory(const void* data, size_t size, const vexel_read_options* options,
                                      vexel_reader** reader) {
    if (!reader) return VEXEL_ERROR_ARGUMENT;
    *reader = nullptr;
    if (!data && size) return VEXEL_ERROR_ARGUMENT;
    vexel_reader* r = new (std::nothrow) vexel_reader;
    if (!r) return VEXEL_ERROR_NO_MEMORY;
    if (const vexel_status s = checkOptions(options, r->options); s != VEXEL_OK) {
        delete r;
        return s;
    }
    try {
        r->memory.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    } catch (const std::bad_alloc&) {
        delete r;
        return VEXEL_ERROR_NO_MEMORY;
    }
    r->dataSize = size;
    return finishOpen(r, reader);
}

vexel_status vexel_reader_open_file(const char* path, const vexel_read_options* options, vexel_reader** reader) {
    if (!reader) return VEXEL_ERROR_ARGUMENT;
    *reader = nullptr;
    if (!path) return VEXEL_ERROR_ARGUMENT;
    vexel_reader* r = new (std::nothrow) vexel_reader;
    if (!r) return VEXEL_ERROR_NO_MEMORY;
    if (const vexel_status s = checkOptions(options, r->options); s != VEXEL_OK) {
        delete r;
        return s;
    }
    r->fromFile = true;
    if (!r->file.open(vexel::platform::utf8ToUtf16(path), vexel::platform::OpenMode::ReadExisting) ||
        r->file.size() < 0) {
        delete r;
        return VEXEL_ERROR_IO;
    }
    r->dataSize = static_cast<std::uint64_t>(r->file.size());
    return finishOpen(r, reader);
}

void vexel_reader_close(vexel_reader* reader) { delete reader; }

vexel_status vexel_reader_record_count(const vexel_reader* reader, size_t* count) {
    if (!reader || !count) return VEXEL_ERROR_ARGUMENT;
    *count = reader->records.size();
    return VEXEL_OK;
}

vexel_status vexel_reader_chain_status(const vexel_reader* reader, uint64_t* offset) {
    if (!reader) return VEXEL_ERROR_ARGUMENT;
    if (offset) *offset = reader->chain == VEXEL_OK ? 0 : reader->chainEnd;
    return reader->chain;
}

vexel_status vexel_reader_data_size(const vexel_reader* reader, uint64_t* size) {
    if (!reader || !size) return VEXEL_ERROR_ARGUMENT;
    *size = reader->dataSize;
    return VEXEL_OK;
}

vexel_status vexel_reader_record_info(const vexel_reader* reader, size_t index, vexel_record_info* info) {
    if (!reader || !info) return VEXEL_ERROR_ARGUMENT;
    if (index >= reader->records.size()) return VEXEL_ERROR_RANGE;
    const RecordHeader& h = reader->records[index];
    *info = vexel_record_info{};
    info->offset = h.recordStart;
    info->size = h.recordSize;
    info->header_size = h.headerSize;
    info->width = h.width;
    info->height = h.height;
    info->mode = h.mode;
    info->streams = vexel::streamTotal(h);
    info->block_size = h.blockSize;
    info->chroma_step = h.chromaStep;
    info->frame_rate = h.frameRate;
    info->keyframe = isKeyframe(h, index) ? 1 : 0;
    return VEXEL_OK;
}

vexel_status vexel_reader_decode(vexel_reader* reader, size_t index, vexel_pixel_format format, void* pixels,
                                 size_t stride, size_t buffer_size) {
    if (!reader || !pixels) return VEXEL_ERROR_ARGUMENT;
    const std::size_t bpp = vexel::lib::bytesPerPixel(format);
    if (bpp == 0) return VEXEL_ERROR_ARGUMENT;
    if (index >= reader->records.size()) return VEXEL_ERROR_RANGE;
    const RecordHeader& h = reader->records[index];
    // The last row needs only its pixels, not a whole stride.
    const std::uint64_t row = std::uint64_t{h.width} * bpp;
    if (stride < row) return VEXEL_ERROR_BUFFER_SMALL;
    if (h.height - 1 > (std::numeric_limits<std::uint64_t>::max() - row) / stride ||
        std::uint64_t{stride} * (h.height - 1) + row > buffer_size)
        return VEXEL_ERROR_BUFFER_SMALL;
    if (const vexel_status s = bringRecord(*reader, index); s != VEXEL_OK) return s;
    vexel::lib::planesToPixels(reader->session.picture.planes, format, static_cast<std::uint8_t*>(pixels), stride);
    return VEXEL_OK;
}

vexel_status vexel_reader_verify(vexel_reader* reader, size_t index) {
    if (!reader) return VEXEL_ERROR_ARGUMENT;
    return bringRecord(*reader, index);
}

} // extern "C"
