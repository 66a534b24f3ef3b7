#include "display/painting.h"

#include "base/matematicheskieoperacii.h"

#include <algorithm>
#include <cmath>

namespace vexel {

bool presentTarget(std::int64_t pictureWidth, std::int64_t pictureHeight, std::int64_t clientWidth,
                   std::int64_t clientHeight, ViewRect& target) {
    if (pictureWidth < 1 || pictureHeight < 1 || clientWidth < 1 || clientHeight < 1) return false;
    const double a = static_cast<double>(pictureHeight) / static_cast<double>(pictureWidth);
    const double c = static_cast<double>(clientHeight) / static_cast<double>(clientWidth);
    std::int64_t width, height;
    if (c >= a) {
        width = clientWidth;
        height = static_cast<std::int64_t>(std::trunc(static_cast<double>(clientWidth) * a));
    } else {
        height = clientHeight;
        width = static_cast<std::int64_t>(std::trunc(static_cast<double>(clientHeight) / a));
    }
    width = std::clamp<std::int64_t>(width, 1, clientWidth);
    height = std::clamp<std::int64_t>(height, 1, clientHeight);
    target.x = static_cast<std::int32_t>((clientWidth - width) / 2);
    target.y = static_cast<std::int32_t>((clientHeight - height) / 2);
    target.width = static_cast<std::int32_t>(width);
    target.height = static_cast<std::int32_t>(height);
    return true;
}

bool paintPlanes(TWnd& record) {
    PictureBuffer& picture = record.picture;
    TGraficheskoeOkno* window = record.graphicsWindow;
    if (!picture.paintable || !window || picture.planes.empty()) return false;
    const TPicturePlanes& planes = picture.planes;
    const std::int64_t W = planes.width(), H = planes.height();
    PictureAccess surface;
    if (!window->lockPicture(surface)) return false;
    const std::int64_t w = surface.width, h = surface.height;
    if (w < 1 || h < 1) {
        window->unlockPicture(surface);
        return false;
    }
    const double s = std::max(static_cast<double>(W) / static_cast<double>(w), static_cast<double>(H) / static_cast<double>(h));
    const std::int64_t x0 = (w - static_cast<std::int64_t>(std::floor(static_cast<double>(W) / s))) >> 1;
    const std::int64_t y0 = (h - static_cast<std::int64_t>(std::floor(static_cast<double>(H) / s))) >> 1;
    const std::uint32_t black = window->toDisplay(0);

    // The source column of every surface column, once.
    TrackedBuffer<std::int64_t> columns;
    if (!columns.allocate(static_cast<std::size_t>(w))) {
        window->unlockPicture(surface);
        return false;
    }
    bool identity = w == W;
    for (std::int64_t c = 0; c < w; ++c) {
        const std::int64_t x = static_cast<std::int64_t>(std::floor(static_cast<double>(c - x0) * s));
        columns[static_cast<std::size_t>(c)] = x >= 0 && x < W ? x : -1;
        identity = identity && x == c;
    }
    const int rs = window->redShift(), gs = window->greenShift(), bs = window->blueShift();
    for (std::int64_t r = 0; r < h; ++r) {
        std::uint32_t* out = surface.rowFromTop(static_cast<std::int32_t>(r));
        const std::int64_t k = h - 1 - r;
        const std::int64_t y = static_cast<std::int64_t>(std::floor(static_cast<double>(k - y0) * s));
        if (y < 0 || y >= H) {
            std::fill(out, out + w, black);
            continue;
        }
        const std::uint8_t* red = planes.row(TPicturePlanes::kRed, static_cast<std::int32_t>(y));
        const std::uint8_t* green = planes.row(TPicturePlanes::kGreen, static_cast<std::int32_t>(y));
        const std::uint8_t* blue = planes.row(TPicturePlanes::kBlue, static_cast<std::int32_t>(y));
        // toDisplay's placing of the three bytes, inline: this runs for every pixel of every frame.
        if (identity) {
            for (std::int64_t c = 0; c < w; ++c)
                out[c] = std::uint32_t{red[c]} << rs | std::uint32_t{green[c]} << gs | std::uint32_t{blue[c]} << bs;
            continue;
        }
        for (std::int64_t c = 0; c < w; ++c) {
            const std::int64_t x = columns[static_cast<std::size_t>(c)];
            out[c] = x < 0 ? black : std::uint32_t{red[x]} << rs | std::uint32_t{green[x]} << gs | std::uint32_t{blue[x]} << bs;
        }
    }
    window->unlockPicture(surface);
    return true;
}

bool fitMargins(std::int64_t pictureWidth, std::int64_t pictureHeight, std::int64_t clientWidth,
                std::int64_t clientHeight, Margins& margins) {
    if (pictureWidth < 1 || pictureHeight < 1 || clientWidth < 1 || clientHeight < 1) return false;
    const double s = std::max(static_cast<double>(pictureWidth) / static_cast<double>(clientWidth),
                              static_cast<double>(pictureHeight) / static_cast<double>(clientHeight));
    const std::int64_t w = std::clamp<std::int64_t>(roundToInt(static_cast<double>(pictureWidth) / s), 1, clientWidth);
    const std::int64_t h = std::clamp<std::int64_t>(roundToInt(static_cast<double>(pictureHeight) / s), 1, clientHeight);
    margins.left = static_cast<std::int32_t>((clientWidth - w) / 2);
    margins.top = static_cast<std::int32_t>((clientHeight - h) / 2);
    margins.right = static_cast<std::int32_t>(clientWidth - w - margins.left);
    margins.bottom = static_cast<std::int32_t>(clientHeight - h - margins.top);
    return true;
}

namespace {

// Another frame, and playback stays (or becomes) paused.
void pauseForAFrame(TWnd& record, FrameRequest request, ViewerResponse& r) {
    if (record.playing) {
        record.playing = false;
        record.toggleRequested = true;
    }
    record.frameRequest = request;
    r.quitCode = 1;
}

} // namespace

ViewerResponse respond(TWnd& record, ViewerEvent event) {
    ViewerResponse r;
    switch (event) {
    case ViewerEvent::Moved: r.updatePosition = true; break;
    case ViewerEvent::Sized:
        r.resizeSurface = record.picture.pictureInPlanes() && !record.picture.surfaceFollowsPicture;
        r.repaint = true;
        break;
    case ViewerEvent::Exposed: r.repaint = true; break;
    case ViewerEvent::SpaceReleased:
    case ViewerEvent::LeftReleased:
        record.playing = !record.playing;
        record.toggleRequested = true;
        r.quitCode = 1;
        break;
    case ViewerEvent::RightReleased: r.fitToPicture = record.picture.paintable; break;
    case ViewerEvent::Close: r.quitCode = 0; break;
    case ViewerEvent::NextFrame: pauseForAFrame(record, FrameRequest::None, r); break;
    case ViewerEvent::PreviousFrame: pauseForAFrame(record, FrameRequest::Previous, r); break;
    case ViewerEvent::FirstFrame: pauseForAFrame(record, FrameRequest::First, r); break;
    case ViewerEvent::LastFrame: pauseForAFrame(record, FrameRequest::Last, r); break;
    case ViewerEvent::Loop: record.looping = !record.looping; break;
    case ViewerEvent::FullScreen: r.toggleFullScreen = true; break;
    }
    return r;
}

} // namespace vexel
