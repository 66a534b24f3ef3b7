#include "display/twnd.h"

#include <limits>
#include <utility>

namespace vexel {

namespace {

// The largest picture side: the padded side must still be a 32-bit count.
constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max() - 2 * TPicturePlanes::kBorder;

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
    if (!columnMap(columns, record.pictureWidth(), newWidth)) return kResizeNoMemory;
    TSurface* fresh = TSurface::create(newWidth + 2 * border, newHeight + 2 * border);
    if (!fresh) return kResizeNoMemory;
    PictureAccess from;
    if (!window.lockPicture(from)) {
        fresh->release();
        return kResizeNoMemory;
    }
    if (from.width != record.pictureWidth() || from.height != record.pictureHeight()) {
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
    if (record.planes.empty()) {
        TPicturePlanes converted;
        if (!converted.allocate(record.pictureWidth(), record.pictureHeight())) return kResizeNoMemory;
        if (!surfaceToPlanes(*record.graphicsWindow, converted)) return kResizeNothing;
        record.planes.swap(converted);
    }
    const TPicturePlanes& from = record.planes;
    if (from.width() != record.pictureWidth() || from.height() != record.pictureHeight()) return kResizeNothing;
    TPicturePlanes to;
    TrackedBuffer<std::int32_t> columns;
    if (!columnMap(columns, from.width(), newWidth) || !to.allocate(newWidth, newHeight)) return kResizeNoMemory;
    for (int p = 0; p < 3; ++p) {
        for (std::int32_t k = 0; k < newHeight; ++k) {
            const std::uint8_t* source = from.row(p, sourceIndex(k, from.height(), newHeight));
            std::uint8_t* target = to.row(p, k);
            for (std::int32_t j = 0; j < newWidth; ++j) target[j] = source[columns[j]];
        }
    }
    record.planes.swap(to);
    return kResizeDone;
}

} // namespace

// ---------------------------------------------------------------- planes

bool TPicturePlanes::allocate(std::int32_t width, std::int32_t height) {
    reset();
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    std::uint64_t plane = (static_cast<std::uint64_t>(width) + 2 * kBorder) * (static_cast<std::uint64_t>(height) + 2 * kBorder);
    if (plane > std::numeric_limits<std::size_t>::max() / 3) return false;
    if (!bytes_.allocate(static_cast<std::size_t>(plane * 3))) return false;
    width_ = width;
    height_ = height;
    planeSize_ = plane;
    return true;
}

void TPicturePlanes::reset() {
    bytes_.reset();
    width_ = height_ = 0;
    planeSize_ = 0;
}

void TPicturePlanes::swap(TPicturePlanes& other) {
    std::swap(bytes_, other.bytes_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(planeSize_, other.planeSize_);
}

// ---------------------------------------------------------------- record

bool TWnd::create() {
    destroy();
    playbackRate = 1.0;
    graphicsWindow = TGraficheskoeOkno::create();
    if (!graphicsWindow) return false;
    graphicsWindow->SetPictureSize(nullptr, TGraficheskoeOkno::kKeepMemoryChoice, graphicsWindow->border(), false);
    return true;
}

void TWnd::destroy() {
    // The workers may still read the buffers below: they go first.
    compressionPool.reset();
    decompressionPool.reset();
    frameBuffer.reset();
    copyBuffer.reset();
    planes.reset();
    dropPreviousPicture();
    TGraficheskoeOkno::destroy(graphicsWindow);
    graphicsWindow = nullptr;
}

bool TWnd::previousPictureSize(std::int32_t& width, std::int32_t& height) const {
    if (!frameBuffer.empty()) {
        width = frameBuffer.width();
        height = frameBuffer.height();
        return true;
    }
    if (surfaceReference) {
        width = surfaceReference->width() - 2 * TPicturePlanes::kBorder;
        height = surfaceReference->height() - 2 * TPicturePlanes::kBorder;
        return width > 0 && height > 0;
    }
    return false;
}

void TWnd::dropPreviousPicture() {
    if (surfaceReference) surfaceReference->release();
    surfaceReference = nullptr;
    frameBuffer.reset();
}

// ---------------------------------------------------------------- resize

int resizePicture(TWnd& record, std::int32_t newWidth, bool displayMemory) {
    if (!record.paintable || !record.graphicsWindow) return kResizeNothing;
    std::int64_t width = record.pictureWidth(), height = record.pictureHeight();
    if (width < 1 || height < 1) return kResizeNothing;
    if (newWidth < 1 || newWidth > kMaxSide) return kResizeBadSize;
    std::int64_t newHeight = scaleRounded(newWidth, height, width);
    if (newHeight < 1 || newHeight > kMaxSide) return kResizeBadSize;

    int result;
    if (record.planes.empty() && fitsScreen(newWidth, newHeight, record.screen))
        result = resizeInSurface(record, newWidth, static_cast<std::int32_t>(newHeight), displayMemory);
    else
        result = resizeInPlanes(record, newWidth, static_cast<std::int32_t>(newHeight));
    if (result == kResizeDone) {
        record.infoHeader.width = newWidth;
        record.infoHeader.height = static_cast<std::int32_t>(newHeight);
    }
    return result;
}

} // namespace vexel
