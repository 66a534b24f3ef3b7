// RGB to the stored luminance/chrominance triple and back.
//
// The stored chrominance is offset by 128, so all three stored components lie
// in 0..255. The routines clamp but do not round; callers round each output to
// nearest, ties to even. The arithmetic runs in extended precision and the
// results are kept as single-precision floats at the points noted, because
// stored files were made that way.
//
// Mode 0 files use the legacy pair, in which the two chrominance scale factors
// are exchanged; every other mode uses the current pair. A decoder binds the
// pair once per record (ColourTransforms::forMode).
#pragma once

#include <cstdint>

namespace vexel {

void RgbToYcc(float r, float g, float b, float* y, float* cb, float* cr);
void RgbToYccLegacy(float r, float g, float b, float* y, float* cb, float* cr);
void YccToRgb(float y, float cb, float cr, float* r, float* g, float* b);
void YccToRgbLegacy(float y, float cb, float cr, float* r, float* g, float* b);

using ForwardTransform = void (*)(float, float, float, float*, float*, float*);
using InverseTransform = void (*)(float, float, float, float*, float*, float*);

struct ColourTransforms {
    ForwardTransform forward;
    InverseTransform inverse;
    // The legacy pair for mode 0, the current pair for every other mode.
    static ColourTransforms forMode(std::uint8_t mode);
};

} // namespace vexel
