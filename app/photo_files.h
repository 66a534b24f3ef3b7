// PNG and JPEG files, read into the 24-bit picture the codec takes (blue,
// green, red per pixel, as a bitmap's rows hold them).
//
// PNG: every bit depth and colour type (palette, grey, grey with alpha,
// RGB, RGBA; 16-bit samples scaled to 8 bits), interlaced or not; alpha and
// a transparent colour are dropped, not composited. JPEG: colour and grey
// files; CMYK (and YCCK) files are refused, for their colours need a colour
// profile to become RGB. A file the decoder finds damaged, or cut short, is
// refused whole (a JPEG's warnings count as damage).
//
// The size a header declares is believed only as far as the file's length
// can hold it: a PNG's pixels cannot be compressed more than deflate's
// 1032 : 1, and every 8 x 8 block of a Huffman-coded JPEG costs at least one
// bit; a larger claim is damage, found before any picture memory is asked for.
#pragma once

#include "platform/files.h"

#include <cstddef>
#include <cstdint>

namespace vexel {

// Where a reader puts the picture.
class PictureTarget {
public:
    virtual ~PictureTarget() = default;
    // The picture's size and resolution (0: not given), once the headers
    // are read; any result other than 1 ends the read with that result.
    virtual int begin(std::int32_t width, std::int32_t height, std::int32_t xPelsPerMeter,
                      std::int32_t yPelsPerMeter) = 0;
    // One row of width pixels, blue, green, red; y counts from the top.
    virtual void row(const std::uint8_t* bgr, std::int32_t y) = 0;
};

bool isPngSignature(const std::uint8_t* head, std::size_t size);
bool isJpegSignature(const std::uint8_t* head, std::size_t size);

// Read the whole file from its start. Results as loadBitmap's
// (app/bitmap.h): 1 loaded, 0 no memory, or the begin call's result, else
// kBitmapShort, kPngDamaged, kJpegDamaged, kJpegCmyk.
int readPng(platform::File& file, PictureTarget& target);
int readJpeg(platform::File& file, PictureTarget& target);

} // namespace vexel
