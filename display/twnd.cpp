#include "display/twnd.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace vexel {

namespace {


// round(a x b / c) with ties to even, exactly, for positive 32-bit values.
std::int64_t scaleRounded(std::int64_t a, std::int64_t b, std::int64_t c) {
    std::uint64_t q = static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b);
    std::uint64_t whole = q / static_cast<std::uint64_t>(c), rest = q % static_cast<std::uint64_t>(c);
    if (2 * rest > static_cast<std::uint64_t>(c) || (2 * rest == static_cast<std::uint64_t>(c) && (whole & 1)))
        ++whole;
    return static_cast<std::int64_t>(whole);
}

// floor(k x size / newSize); below size for every k < newSize.
std::int32_t sourceIndex(std::int64_t k, std::int64_t size, std::int64_t newSize) {
    return static_cast<std::int32_t>(static_cast<std::uint64_t>(k) * static_cast<std::uint64_t>(size) /
                                     static_cast<std::uint64_t>(newSize));
}

// The source column of every new column.
bool columnMap(TrackedBuffer<std::int32_t>& columns, std::int32_t width, std::int32_t newWidth) {
    if (!columns.allocate(static_cast<std::size_t>(newWidth))) return false;
    for (std::int32_t j = 0; j < newWidth; ++j) columns[static_cast<std::size_t>(j)] = sourceIndex(j, width, newWidth);
    return true;
}

// Copies the surface picture into planes of the same size.
bool surfaceToPlanes(TGraficheskoeOkno& window, TPicturePlanes& planes) {
    PictureAccess picture;
    if (!window.lockPicture(picture)) return false;
    if (picture.width != planes.width() || picture.height != planes.height()) {
        window.unlockPicture(picture);
        return false;
    }
    int rs = window.redShift(), gs = window.greenShift(), bs = window.blueShift();
    for (std::int32_t y = 0; y < picture.height; ++y) {
        const std::uint32_t* from = picture.rowFromBottom(y);
        std::uint8_t* r = planes.row(TPicturePlanes::kRed, y);
        std::uint8_t* g = planes.row(TPicturePlanes::kGreen, y);
        std::uint8_t* b = planes.row(TPicturePlanes::kBlue, y);
        for (std::int32_t x = 0; x < picture.width; ++x) {
            std::uint32_t p = from[x];
            r[x] = static_cast<std::uint8_t>(p >> rs);
            g[x] = static_cast<std::uint8_t>(p >> gs);
            b[x] = static_cast<std::uint8_t>(p >> bs);
        }
    }
    window.unlockPicture(picture);
    return true;
}

int resizeInSurface(TWnd& record, std::int32_t newWidth, std::int32_t newHeight, bool displayMemory) {
    TGraficheskoeOkno& window = *record.graphicsWindow;
    constexpr std::int32_t border = TPicturePlanes::kBorder;
    TrackedBuffer<std::int32_t> columns;
    if (!columnMap(columns, record.picture.pictureWidth(), newWidth)) return kResizeNoMemory;
    TSurface* fresh = TSurface::create(newWidth + 2 * border, newHeight + 2 * border);
    if (!fresh) return kResizeNoMemory;
    PictureAccess from;
    if (!window.lockPicture(from)) {
        fresh->release();
        return kResizeNoMemory;
    }
    if (from.width != record.picture.pictureWidth() || from.height != record.picture.pictureHeight()) {
        window.unlockPicture(from);
        fresh->release();
        return kResizeNothing;
    }
    PictureAccess to;
    if (!fresh->lock(to.buffer)) {
        window.unlockPicture(from);
        fresh->release();
        return kResizeNoMemory;
    }
    to.width = newWidth;
    to.height = newHeight;
    to.border = border;
    for (std::int32_t k = 0; k < newHeight; ++k) {
        const std::uint32_t* source = from.rowFromBottom(sourceIndex(k, from.height, newHeight));
        std::uint32_t* target = to.rowFromBottom(k);
        for (std::int32_t j = 0; j < newWidth; ++j) target[j] = source[columns[j]];
    }
    fresh->unlock();
    window.unlockPicture(from);
    window.installSurface(fresh, newWidth, newHeight, border, displayMemory);
    return kResizeDone;
}

int resizeInPlanes(TWnd& record, std::int32_t newWidth, std::int32_t newHeight) {
    if (record.picture.planes.empty()) {
        TPicturePlanes converted;
        if (!converted.allocate(record.picture.pictureWidth(), record.picture.pictureHeight())) return kResizeNoMemory;
        if (!surfaceToPlanes(*record.graphicsWindow, converted)) return kResizeNothing;
        record.picture.planes.swap(converted);
    }
    const TPicturePlanes& from = record.picture.planes;
    if (from.width() != record.picture.pictureWidth() || from.height() != record.picture.pictureHeight()) return kResizeNothing;
    TPicturePlanes to;
    TrackedBuffer<std::int32_t> columns;
    if (!columnMap(columns, from.width(), newWidth) || !to.allocate(newWidth, newHeight)) return kResizeNoMemory;
    // Rows are taken by rounding, so an enlarged picture's last rows may fall past the source: they are black.
    for (int p = 0; p < 3; ++p) {
        for (std::int32_t k = 0; k < newHeight; ++k) {
            const std::int64_t y = scaleRounded(k, from.height(), newHeight);
            std::uint8_t* target = to.row(p, k);
            if (y >= from.height()) {
                std::fill(target, target + newWidth, std::uint8_t{0});
                continue;
            }
            const std::uint8_t* source = from.row(p, static_cast<std::int32_t>(y));
            for (std::int32_t j = 0; j < newWidth; ++j) target[j] = source[columns[j]];
        }
    }
    record.picture.planes.swap(to);
    // The surface had the old picture's size; from now on it takes the window's, as for any picture in the planes.
    if (record.picture.surfaceFollowsPicture) {
        record.picture.surfaceFollowsPicture = false;
        record.graphicsWindow->SetPictureSize(nullptr, OffScreenBuffer::kKeepMemoryChoice, -1, false);
    }
    return kResizeDone;
}

} // namespace

// ---------------------------------------------------------------- record

bool TWnd::create() {
    destroy();
    playbackRate = 1.0;
    graphicsWindow = TGraficheskoeOkno::create();
    picture.surfaces = graphicsWindow;
    if (!graphicsWindow) return false;
    graphicsWindow->SetPictureSize(nullptr, TGraficheskoeOkno::kKeepMemoryChoice, graphicsWindow->border(), false);
    return true;
}

void TWnd::destroy() {
    // The workers may still read the buffers below: they go first.
    codec.release();
    picture.release();
    picture.surfaces = nullptr;
    TGraficheskoeOkno::destroy(graphicsWindow);
    graphicsWindow = nullptr;
}

// ---------------------------------------------------------------- resize

int resizePicture(TWnd& record, std::int32_t newWidth, bool displayMemory) {
    if (!record.picture.paintable || !record.graphicsWindow) return kResizeNothing;
    std::int64_t width = record.picture.pictureWidth(), height = record.picture.pictureHeight();
    if (width < 1 || height < 1) return kResizeNothing;
    if (newWidth < 1 || newWidth > TPicturePlanes::kMaxSide) return kResizeBadSize;
    std::int64_t newHeight = scaleRounded(newWidth, height, width);
    if (newHeight < 1 || newHeight > TPicturePlanes::kMaxSide) return kResizeBadSize;

    int result;
    if (record.picture.planes.empty() && fitsScreen(newWidth, newHeight, record.codec.screen))
        result = resizeInSurface(record, newWidth, static_cast<std::int32_t>(newHeight), displayMemory);
    else
        result = resizeInPlanes(record, newWidth, static_cast<std::int32_t>(newHeight));
    if (result == kResizeDone) {
        record.picture.infoHeader.width = newWidth;
        record.picture.infoHeader.height = static_cast<std::int32_t>(newHeight);
    }
    return result;
}

} // namespace vexel
