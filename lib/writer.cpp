// The public writer: the caller's pictures go into the picture planes of a
// session of its own and through the compression pipeline, with the run
// settings "vexel -c" uses, into a new file in the target's folder or into
// memory. The previous picture stays as the reference for kept blocks.

#include "codec/container.h"
#include "lib/internal.h"
#include "pipeline/codec_session.h"
#include "platform/files.h"
#include "platform/utf.h"

#include <cmath>
#include <new>

struct vexel_writer {
    vexel_write_options options{};
    vexel::CodecSession session;
    bool toMemory = false;
    vexel::MemorySink memory;
    vexel::TWideString path;

    double frameRate = 0;         // negative: every frame a keyframe
    bool holding = false;         // the first picture is in the planes, not written yet
    std::uint64_t pictures = 0;   // pictures added
    std::uint64_t records = 0;    // records written
    std::uint64_t lastRecordOffset = 0;
    bool finished = false;
    bool failed = false;          // a record could not be written: the output is lost

    ~vexel_writer() {
        // An output that did not finish leaves its target as it was.
        session.grouped.discard();
    }
};

namespace {

vexel_status checkOptions(const vexel_write_options* given, vexel_write_options& out) {
    vexel_write_options_default(&out);
    if (!given) return VEXEL_OK;
    if (given->mode > vexel::kMaxMode || given->optimize < -1 || given->optimize > 1 || given->streams < 1 ||
        given->streams > vexel::kMaxStreams || !std::isfinite(given->frame_rate) || given->frame_rate < 0 ||
        given->frame_rate > 1000)
        return VEXEL_ERROR_ARGUMENT;
    out = *given;
    out.all_keyframes = given->all_keyframes ? 1 : 0;
    return VEXEL_OK;
}

vexel_status statusOfPack(int result) {
    switch (result) {
    case vexel::kDone: return VEXEL_OK;
    case vexel::kFileError: return VEXEL_ERROR_IO;
    case vexel::kNotVx: return VEXEL_ERROR_ARGUMENT;
    default: return VEXEL_ERROR_NO_MEMORY;
    }
}

// Packs the picture in the planes as the next record.
vexel_status writeRecord(vexel_writer& w, bool grouped) {
    vexel::CompressionJob job;
    job.outputPath = w.path;
    job.mode = static_cast<std::uint8_t>(w.options.mode);
    job.optimize = static_cast<std::int8_t>(w.options.optimize);
    job.groupFlag = grouped;
    job.firstFrame = w.records == 0;
    job.lastRecordOffset = &w.lastRecordOffset;
    job.frameRate = &w.frameRate;
    job.streamCount = w.options.mode == 1 ? 1 : w.options.streams;
    job.memory = w.toMemory ? &w.memory : nullptr;
    const vexel_status status = statusOfPack(vexel::compressFrame(w.session, job));
    if (status != VEXEL_OK) {
        w.failed = true;
        return status;
    }
    ++w.records;
    return VEXEL_OK;
}

vexel_status open(const vexel_write_options* options, vexel_writer** writer, vexel_writer*& w) {
    if (!writer) return VEXEL_ERROR_ARGUMENT;
    *writer = nullptr;
    w = new (std::nothrow) vexel_writer;
    if (!w) return VEXEL_ERROR_NO_MEMORY;
    if (const vexel_status s = checkOptions(options, w->options); s != VEXEL_OK) {
        delete w;
        w = nullptr;
        return s;
    }
    w->session.picture.planesWanted = true;
    w->frameRate = w->options.all_keyframes ? -w->options.frame_rate : w->options.frame_rate;
    return VEXEL_OK;
}

} // namespace

extern "C" {

void vexel_write_options_default(vexel_write_options* options) {
    if (!options) return;
    *options = vexel_write_options{};
    options->mode = 8;
    options->streams = 4;
}

vexel_status vexel_writer_open_memory(const vexel_write_options* options, vexel_writer** writer) {
    vexel_writer* w = nullptr;
    if (const vexel_status s = open(options, writer, w); s != VEXEL_OK) return s;
    w->toMemory = true;
    *writer = w;
    return VEXEL_OK;
}

vexel_status vexel_writer_open_file(const char* path, const vexel_write_options* options, vexel_writer** writer) {
    if (!path || !*path) {
        if (writer) *writer = nullptr;
        return VEXEL_ERROR_ARGUMENT;
    }
    vexel_writer* w = nullptr;
    if (const vexel_status s = open(options, writer, w); s != VEXEL_OK) return s;
    w->path = vexel::TWideString(vexel::platform::utf8ToUtf16(path));
    *writer = w;
    return VEXEL_OK;
}

vexel_status vexel_writer_add_frame(vexel_writer* writer, const void* pixels, uint32_t width, uint32_t height,
                                    size_t stride, vexel_pixel_format format) {
    if (!writer || !pixels) return VEXEL_ERROR_ARGUMENT;
    const std::size_t bpp = vexel::lib::bytesPerPixel(format);
    if (bpp == 0 || width < 1 || height < 1 || width > vexel::TPicturePlanes::kMaxSide ||
        height > vexel::TPicturePlanes::kMaxSide || stride / bpp < width)
        return VEXEL_ERROR_ARGUMENT;
    if (writer->finished || writer->failed) return VEXEL_ERROR_STATE;

    // The held first picture becomes the first record of a chain.
    if (writer->holding) {
        writer->holding = false;
        if (const vexel_status s = writeRecord(*writer, true); s != VEXEL_OK) return s;
    }
    vexel::PictureBuffer& picture = writer->session.picture;
    // The current picture becomes the previous one, the reference for kept blocks.
    picture.frameBuffer.swap(picture.planes);
    picture.planes.reset();
    if (!picture.planes.allocate(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height))) {
        writer->failed = true;
        return VEXEL_ERROR_NO_MEMORY;
    }
    vexel::lib::pixelsToPlanes(static_cast<const std::uint8_t*>(pixels), stride, format, picture.planes);
    vexel::BitmapInfoHeader header;
    header.size = 40;
    header.width = static_cast<std::int32_t>(width);
    header.height = static_cast<std::int32_t>(height);
    header.planes = 1;
    header.bitCount = 24;
    header.xPelsPerMeter = static_cast<std::int32_t>(writer->options.pixels_per_meter_x);
    header.yPelsPerMeter = static_cast<std::int32_t>(writer->options.pixels_per_meter_y);
    picture.infoHeader = header;
    picture.currentHeader = header;
    picture.paintable = true;
    ++writer->pictures;
    if (writer->pictures == 1) {
        writer->holding = true;
        return VEXEL_OK;
    }
    return writeRecord(*writer, true);
}

vexel_status vexel_writer_finish(vexel_writer* writer) {
    if (!writer) return VEXEL_ERROR_ARGUMENT;
    if (writer->finished || writer->failed || writer->pictures == 0) return VEXEL_ERROR_STATE;
    if (writer->holding) {
        // One picture: a picture record of its own.
        writer->holding = false;
        if (const vexel_status s = writeRecord(*writer, false); s != VEXEL_OK) return s;
    } else if (!writer->toMemory && writer->session.grouped.finish() != vexel::kDone) {
        // The records stay nowhere: the target keeps what it held.
        writer->failed = true;
        return VEXEL_ERROR_IO;
    }
    writer->finished = true;
    return VEXEL_OK;
}

vexel_status vexel_writer_bytes(const vexel_writer* writer, const void** data, size_t* size) {
    if (!writer || !data || !size) return VEXEL_ERROR_ARGUMENT;
    if (!writer->toMemory || !writer->finished) return VEXEL_ERROR_STATE;
    *data = writer->memory.bytes().data();
    *size = writer->memory.bytes().size();
    return VEXEL_OK;
}

void vexel_writer_close(vexel_writer* writer) { delete writer; }

} // extern "C"
