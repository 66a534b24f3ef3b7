// The graphics window: the owner of the picture buffer every part of the
// program reads and writes (the off-screen surface; its contract is in
// pipeline/picture_buffer.h), bound to the viewer window that shows it.
//
// Locks: the surface lock guards creating, replacing and filling surfaces; the
// position lock guards the screen rectangle; when both are needed the surface
// lock is taken first.
#pragma once

#include "pipeline/picture_buffer.h"

#include <cstdint>

namespace vexel {

// Screen coordinates of the picture area.
struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

class TGraficheskoeOkno : public OffScreenBuffer {
public:
    // A graphics window from the tracked allocator with its display opened,
    // or null when memory is refused.
    static TGraficheskoeOkno* create();
    static void destroy(TGraficheskoeOkno* window);

    // Opens the display objects. The memory form has no display mode to
    // check: it keeps the shifts 16, 8, 0 and always succeeds.
    bool OpenDisplay();

    enum class Slot { Primary, OffScreen };
    // The surface in the slot (no reference added), or null. The memory form
    // has no primary surface.
    TSurface* SurfaceSlot(Slot which);

    ScreenRect screenRectangle();

    // A colour value 0x00BBGGRR (red in the low byte) as a display pixel.
    std::uint32_t toDisplay(std::uint32_t colour) const;

protected:
    // Stores the screen rectangle of the picture area from the client area's
    // top-left corner.
    void UpdateScreenPosition() override;

private:
    TGraficheskoeOkno() = default;
    ~TGraficheskoeOkno() override = default;

    ScreenRect screen_;
};

} // namespace vexel
