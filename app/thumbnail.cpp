#include "app/thumbnail.h"

#include "base/memdiag.h"
#include "codec/codec_session.h"
#include "codec/container.h"
#include "platform/files.h"
#include "platform/utf.h"

#include <algorithm>
#include <cmath>

namespace vexel {

void thumbnailSize(std::uint32_t width, std::uint32_t height, std::uint32_t size, std::uint32_t& outWidth,
                   std::uint32_t& outHeight) {
    if (width <= size && height <= size) {
        outWidth = width;
        outHeight = height;
        return;
    }
    const double scale = std::min(static_cast<double>(size) / width, static_cast<double>(size) / height);
    outWidth = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(width * scale)), 1, size);
    outHeight = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(height * scale)), 1, size);
}

int makeThumbnail(const std::string& path, std::uint32_t size, Thumbnail& out, std::uint64_t memoryLimit) {
    out = Thumbnail();
    platform::File file;
    RecordHeader h;
    if (size < 1 || !file.open(platform::utf8ToUtf16(path), platform::OpenMode::ReadExisting) ||
        readRecordHeader(file, 0, h) != kCodecDone)
        return kThumbnailNotVx;
    if (decodeMemoryEstimate(h, streamTotal(h), 0) > memoryLimit) return kThumbnailTooLarge;
    TrackedBuffer<std::uint8_t> bytes;
    if (!bytes.allocate(static_cast<std::size_t>(h.recordSize)) || !file.seek(0) ||
        !file.readExact(bytes.data(), h.recordSize))
        return kThumbnailBadRecord;
    CodecSession session;
    session.picture.planesWanted = true;
    RecordDecodeOptions options; // smooth painting: a still picture at its best
    const int decoded = decodeRecordBytes(session.codec, session.picture, h, {bytes.data(), bytes.size()}, options);
    clearDecompressionStatusText();
    if (decoded != kUnpackDone) return kThumbnailBadRecord;

    // Each thumbnail pixel is the mean of the picture pixels its area covers.
    const TPicturePlanes& planes = session.picture.planes;
    thumbnailSize(h.width, h.height, size, out.width, out.height);
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0);
    for (std::uint32_t ty = 0; ty < out.height; ++ty) {
        const std::uint32_t y0 = static_cast<std::uint32_t>(std::uint64_t{ty} * h.height / out.height);
        const std::uint32_t y1 = std::max(y0 + 1, static_cast<std::uint32_t>(std::uint64_t{ty + 1} * h.height / out.height));
        for (std::uint32_t tx = 0; tx < out.width; ++tx) {
            const std::uint32_t x0 = static_cast<std::uint32_t>(std::uint64_t{tx} * h.width / out.width);
            const std::uint32_t x1 = std::max(x0 + 1, static_cast<std::uint32_t>(std::uint64_t{tx + 1} * h.width / out.width));
            for (int c = 0; c < 3; ++c) {
                std::uint64_t sum = 0;
                for (std::uint32_t y = y0; y < y1; ++y) {
                    // Plane rows run from the bottom; the thumbnail's from the top.
                    const std::uint8_t* row = planes.row(c, static_cast<std::int32_t>(h.height - 1 - y));
                    for (std::uint32_t x = x0; x < x1; ++x) sum += row[x];
                }
                const std::uint64_t n = std::uint64_t{y1 - y0} * (x1 - x0);
                out.rgb[(static_cast<std::size_t>(ty) * out.width + tx) * 3 + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return kThumbnailDone;
}

} // namespace vexel
