#include "display/tgraficheskoeokno.h"

#include "base/memdiag.h"

#include <new>

namespace vexel {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

} // namespace

TGraficheskoeOkno* TGraficheskoeOkno::create() {
    void* block = memAllocate(sizeof(TGraficheskoeOkno), sizeof(TGraficheskoeOkno));
    if (!block) return nullptr;
    auto* window = new (block) TGraficheskoeOkno;
    window->OpenDisplay();
    return window;
}

void TGraficheskoeOkno::destroy(TGraficheskoeOkno* window) {
    if (!window) return;
    window->~TGraficheskoeOkno();
    memFree(window);
}

bool TGraficheskoeOkno::OpenDisplay() {
    // A memory buffer has the standard channel order.
    redShift_ = 16;
    greenShift_ = 8;
    blueShift_ = 0;
    displayOpen_ = true;
    return true;
}

TSurface* TGraficheskoeOkno::SurfaceSlot(Slot which) {
    return which == Slot::OffScreen ? offScreenSurface() : nullptr;
}

void TGraficheskoeOkno::UpdateScreenPosition() {
    Guard guard(positionLock_);
    screen_.left = clientLeft_;
    screen_.top = clientTop_;
    screen_.right = static_cast<std::int32_t>(static_cast<std::int64_t>(clientLeft_) + width_);
    screen_.bottom = static_cast<std::int32_t>(static_cast<std::int64_t>(clientTop_) + height_);
}

ScreenRect TGraficheskoeOkno::screenRectangle() {
    Guard guard(positionLock_);
    return screen_;
}

std::uint32_t TGraficheskoeOkno::toDisplay(std::uint32_t colour) const {
    if (redShift_ == 0 && greenShift_ == 8 && blueShift_ == 16) return colour;
    if (redShift_ == 16 && greenShift_ == 8 && blueShift_ == 0)
        return (colour & 0xFF00FF00u) | ((colour & 0xFFu) << 16) | ((colour >> 16) & 0xFFu);
    return ((colour & 0xFFu) << redShift_) | (((colour >> 8) & 0xFFu) << greenShift_) |
           (((colour >> 16) & 0xFFu) << blueShift_);
}

} // namespace vexel
