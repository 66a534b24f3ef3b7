// The viewer's painting of a decoded frame into the window's buffer, in the
// unit that holds its sampling and needs no display: any picture size, any
// client area (both from the first bytes, up to 256 x 256: small enough for
// the fuzzer to explore, large enough for scales both ways), the planes filled
// from the rest; then the presentation rule and fitting the window.
#include "base/units.h"
#include "display/painting.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeBaseUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    if (size < 8) return 0;
    auto side = [&](int i) { return static_cast<std::int32_t>((data[i] | data[i + 1] << 8) % 257); };
    const std::int32_t W = side(0), H = side(2), cw = side(4), ch = side(6);
    ViewRect t;
    if (presentTarget(W, H, cw, ch, t) &&
        (t.x < 0 || t.y < 0 || t.width < 1 || t.height < 1 || t.x + t.width > cw || t.y + t.height > ch))
        std::abort();
    Margins m;
    if (fitMargins(W, H, cw, ch, m) && (m.left < 0 || m.top < 0 || m.right < 0 || m.bottom < 0 ||
                                        m.left + m.right >= cw || m.top + m.bottom >= ch))
        std::abort();
    TWnd record;
    if (!record.create() || W < 1 || H < 1 || !record.picture.planes.allocate(W, H)) return 0;
    for (int p = 0; p < 3; ++p)
        for (std::int32_t y = 0; y < H; ++y)
            for (std::int32_t x = 0; x < W; ++x) {
                const std::size_t i = 8 + (static_cast<std::size_t>(p) * 7 + y * 13 + x) % (size - 7);
                record.picture.planes.row(p, y)[x] = data[i < size ? i : size - 1];
            }
    record.picture.infoHeader.width = W;
    record.picture.infoHeader.height = H;
    record.picture.paintable = true;
    record.graphicsWindow->setClientArea(0, 0, cw, ch);
    if (!record.graphicsWindow->SetPictureSize(nullptr, 0, 16, false)) return 0;
    paintPlanes(record);
    return 0;
}
