#include "pipeline/picture_buffer.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace vexel {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Rows start on this many bytes, so the pitch is larger than the row width.
constexpr std::int64_t kRowAlignment = 64;

} // namespace

// ---------------------------------------------------------------- surface

TSurface* TSurface::create(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1) return nullptr;
    std::uint64_t pitch = (static_cast<std::uint64_t>(width) * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    if (pitch > std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(height)) return nullptr;
    std::uint64_t bytes = pitch * static_cast<std::uint64_t>(height);
    if (bytes > std::numeric_limits<std::size_t>::max()) return nullptr;
    void* block = memAllocate(sizeof(TSurface), sizeof(TSurface));
    if (!block) return nullptr;
    auto* surface = new (block) TSurface;
    surface->pixels_ = static_cast<std::uint8_t*>(memAllocate(static_cast<std::size_t>(bytes), 4));
    if (!surface->pixels_) {
        surface->~TSurface();
        memFree(block);
        return nullptr;
    }
    surface->width_ = width;
    surface->height_ = height;
    surface->pitch_ = static_cast<std::int64_t>(pitch);
    return surface;
}

TSurface::~TSurface() {
    if (pixels_) memFree(pixels_);
}

void TSurface::addReference() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++references_;
}

void TSurface::release() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (--references_ > 0) return;
    }
    this->~TSurface();
    memFree(this);
}

std::uint32_t TSurface::references() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return references_;
}

bool TSurface::lock(SurfaceAccess& access) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (locked_ && owner_ == std::this_thread::get_id()) return false;
    released_.wait(guard, [this] { return !locked_; });
    locked_ = true;
    owner_ = std::this_thread::get_id();
    access.bits = pixels_;
    access.pitch = pitch_;
    access.width = width_;
    access.height = height_;
    return true;
}

bool TSurface::unlock() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!locked_ || owner_ != std::this_thread::get_id()) return false;
        locked_ = false;
        owner_ = std::thread::id();
    }
    released_.notify_one();
    return true;
}

bool copySurface(TSurface& to, TSurface& from) {
    if (&to == &from) return true;
    if (to.width() != from.width() || to.height() != from.height()) return false;
    SurfaceAccess a, b;
    if (!from.lock(a)) return false;
    if (!to.lock(b)) {
        from.unlock();
        return false;
    }
    std::size_t rowBytes = static_cast<std::size_t>(a.width) * 4;
    for (std::int32_t r = 0; r < a.height; ++r) std::memcpy(b.bits + r * b.pitch, a.bits + r * a.pitch, rowBytes);
    to.unlock();
    from.unlock();
    return true;
}

// ---------------------------------------------------------------- off-screen buffer

OffScreenBuffer::~OffScreenBuffer() {
    Guard guard(surfaceLock_);
    if (offScreen_) offScreen_->release();
    offScreen_ = nullptr;
}

TSurface* OffScreenBuffer::offScreenSurface() {
    Guard guard(surfaceLock_);
    return offScreen_;
}

bool OffScreenBuffer::SetPictureSize(const PictureRect* rect, int memoryRequest, int border, bool force) {
    if (!displayOpen_) return false;
    std::int64_t width, height;
    if (rect) {
        width = rect->right;
        height = rect->bottom;
    } else {
        Guard position(positionLock_);
        width = clientWidth_;
        height = clientHeight_;
    }
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    bool inDisplayMemory = (memoryRequest & kKeepMemoryChoice) ? surfaceInDisplayMemory_ : memoryRequest != 0;
    std::int64_t newBorder = border < 0 ? border_ : border;
    std::int64_t fullWidth = width + 2 * newBorder, fullHeight = height + 2 * newBorder;
    if (fullWidth > std::numeric_limits<std::int32_t>::max() || fullHeight > std::numeric_limits<std::int32_t>::max())
        return false;

    Guard guard(surfaceLock_);
    if (offScreen_ && !force && inDisplayMemory == surfaceInDisplayMemory_ && newBorder == border_ &&
        offScreen_->width() == fullWidth && offScreen_->height() == fullHeight) {
        UpdateScreenPosition();
        return true;
    }
    if (offScreen_) offScreen_->release();
    // Display memory is only a hint for a memory buffer; the hint is kept as
    // the current choice so that the same request keeps the same surface.
    offScreen_ = TSurface::create(static_cast<std::int32_t>(fullWidth), static_cast<std::int32_t>(fullHeight));
    surfaceInDisplayMemory_ = inDisplayMemory;
    border_ = static_cast<std::int32_t>(newBorder);
    if (!offScreen_) {
        width_ = height_ = 0;
        return false;
    }
    width_ = static_cast<std::int32_t>(width);
    height_ = static_cast<std::int32_t>(height);
    UpdateScreenPosition();
    return true;
}

TSurface* OffScreenBuffer::referenceOffScreen() {
    Guard guard(surfaceLock_);
    if (offScreen_) offScreen_->addReference();
    return offScreen_;
}

void OffScreenBuffer::installSurface(TSurface* surface, std::int32_t width, std::int32_t height, std::int32_t border,
                                     bool inDisplayMemory) {
    assert(surface && surface->width() == static_cast<std::int64_t>(width) + 2 * border &&
           surface->height() == static_cast<std::int64_t>(height) + 2 * border);
    Guard guard(surfaceLock_);
    if (offScreen_) offScreen_->release();
    offScreen_ = surface;
    width_ = width;
    height_ = height;
    border_ = border;
    surfaceInDisplayMemory_ = inDisplayMemory;
    UpdateScreenPosition();
}

void OffScreenBuffer::PictureSize(std::int32_t& height, std::int32_t& width) const {
    Guard guard(surfaceLock_);
    height = height_;
    width = width_;
}

bool OffScreenBuffer::Fill(std::uint32_t value) {
    Guard guard(surfaceLock_);
    if (!offScreen_) return false;
    SurfaceAccess access;
    if (!offScreen_->lock(access)) return false;
    for (std::int32_t r = 0; r < access.height; ++r) {
        auto* row = reinterpret_cast<std::uint32_t*>(access.bits + r * access.pitch);
        for (std::int32_t c = 0; c < access.width; ++c) row[c] = value;
    }
    offScreen_->unlock();
    return true;
}

bool OffScreenBuffer::lockPicture(PictureAccess& access) {
    std::int32_t width, height, border;
    TSurface* surface;
    {
        Guard guard(surfaceLock_);
        surface = referenceOffScreen();
        width = width_;
        height = height_;
        border = border_;
    }
    if (!surface) return false;
    if (!surface->lock(access.buffer)) {
        surface->release();
        return false;
    }
    access.surface = surface;
    access.width = width;
    access.height = height;
    access.border = border;
    return true;
}

void OffScreenBuffer::unlockPicture(PictureAccess& access) {
    if (!access.surface) return;
    [[maybe_unused]] const bool unlocked = access.surface->unlock();
    assert(unlocked && "a picture is unlocked by the thread that locked it, once");
    access.surface->release();
    access = PictureAccess();
}

void OffScreenBuffer::setClientArea(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    Guard guard(positionLock_);
    clientLeft_ = left;
    clientTop_ = top;
    clientWidth_ = width;
    clientHeight_ = height;
}

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

// ---------------------------------------------------------------- picture buffer

bool PictureBuffer::previousPictureSize(std::int32_t& width, std::int32_t& height) const {
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

void PictureBuffer::dropPreviousPicture() {
    if (surfaceReference) surfaceReference->release();
    surfaceReference = nullptr;
    frameBuffer.reset();
}

bool PictureBuffer::prepare(std::int32_t width, std::int32_t height, bool inPlanes, bool fits, bool displayMemory) {
    surfaceMemory_ = displayMemory && fits ? 1 : 0;
    if (!inPlanes) {
        planes.reset();
        surfaceFollowsPicture = true;
        return true;
    }
    // Without a window the planes are all there is to the picture: the
    // surface need not hold a second copy.
    const bool sized = fits && surfaceWanted;
    surfaceFollowsPicture = sized;
    if ((planes.width() != width || planes.height() != height) && !planes.allocate(width, height)) return false;
    const PictureRect rect{0, 0, width, height};
    return surfaces && surfaces->SetPictureSize(sized ? &rect : nullptr, surfaceMemory_, TPicturePlanes::kBorder, false);
}

bool PictureBuffer::surfaceToMeasure(std::int32_t width, std::int32_t height) {
    const PictureRect rect{0, 0, width, height};
    return surfaces && surfaces->SetPictureSize(&rect, surfaceMemory_, TPicturePlanes::kBorder, false);
}

void PictureBuffer::release() {
    frameBuffer.reset();
    planes.reset();
    dropPreviousPicture();
}

// ---------------------------------------------------------------- decoder's target

bool PictureBufferTarget::beginDrawing(std::uint32_t width, std::uint32_t height, FramePixels& pixels) {
    endDrawing();
    const std::int32_t w = static_cast<std::int32_t>(width), h = static_cast<std::int32_t>(height);
    constexpr std::int32_t border = TPicturePlanes::kBorder;
    if (picture_.pictureInPlanes() && picture_.planes.width() == w && picture_.planes.height() == h) {
        pixels.current = PixelTarget::fromPlanes(picture_.planes.data(), width, height);
        pixels.hasPrevious = picture_.frameBuffer.width() == w && picture_.frameBuffer.height() == h;
        if (pixels.hasPrevious) pixels.previous = PixelTarget::fromPlanes(picture_.frameBuffer.data(), width, height);
        pixels.copyKeptBlocks = true;
        return true;
    }
    OffScreenBuffer* g = picture_.surfaces;
    if (!g || !picture_.surfaceToMeasure(w, h) || !g->lockPicture(locked_))
        return false;
    pixels.current = PixelTarget::fromSurface(locked_.buffer.bits, locked_.buffer.pitch, width, height,
                                              static_cast<std::uint32_t>(locked_.border), g->redShift(),
                                              g->greenShift(), g->blueShift());
    pixels.hasPrevious = false;
    pixels.copyKeptBlocks = false;
    TSurface* reference = picture_.surfaceReference;
    if (reference && reference != locked_.surface && reference->width() == w + 2 * border &&
        reference->height() == h + 2 * border) {
        SurfaceAccess previous;
        if (!reference->lock(previous)) {
            endDrawing();
            return false;
        }
        reference_ = reference;
        if (previous.pitch != locked_.buffer.pitch) {
            endDrawing();
            return false;
        }
        pixels.previous = PixelTarget::fromSurface(previous.bits, previous.pitch, width, height, border,
                                                   g->redShift(), g->greenShift(), g->blueShift());
        pixels.hasPrevious = true;
    }
    return true;
}

void PictureBufferTarget::endDrawing() {
    if (reference_) reference_->unlock();
    reference_ = nullptr;
    if (locked_.surface) picture_.surfaces->unlockPicture(locked_);
    locked_ = PictureAccess();
}

} // namespace vexel
