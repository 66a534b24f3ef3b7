// Bitmap files: 24-bit uncompressed ".bmp", read into and written from the
// viewer record's picture (the surface or the planes, display/twnd.h).
//
// File layout, all little-endian (a 14-byte file header, then the
// information header):
//
//   off size field            read rule                                   written
//    0   2   type             must be "BM" (-3)                           "BM"
//    2   4   file size        0: the actual size; above it: -2            54 + pixel bytes
//    6   4   reserved         ignored                                     0
//   10   4   pixel offset     0: palette x 4 + header size + 14           54
//   14   4   header size      16 or more (-9); at most 40 bytes are read  40
//   18   4   width            1 or more (-9)                              width
//   22   4   height           rows; negative: top-down rows; not 0 (-9)   height (bottom-up)
//   26   2   planes           must be 1 (-5)                              1
//   28   2   bits per pixel   must be 24 (-6)                             24
//   30   4   compression      must be 0 (-7)                              0
//   34   4   pixel data size  0: file size - pixel offset;                padded rows x height
//                             else at least width x height x 3 (-4)
//   38   4   x resolution     kept                                        as held
//   42   4   y resolution     kept                                        as held
//   46   4   palette entries  used only to find the pixels                0
//   50   4   important        kept                                        0
//
// Pixels are blue, green, red. Standard files pad every row to a multiple of
// 4 bytes, and that is what the writer writes. Older versions of this
// program wrote rows without padding; the reader tells the two apart by the
// bytes actually present after the pixel offset: padded rows when they are
// all there, otherwise unpadded rows when width x height x 3 bytes are
// there, otherwise -2. Bytes after the pixel data are ignored.
#pragma once

#include "base/tstring.h"
#include "display/twnd.h"

namespace vexel {

// Results of loadBitmap.
constexpr int kBitmapLoaded = 1;
constexpr int kBitmapNoBuffer = 0;      // no graphics window, no memory or no surface
constexpr int kBitmapCannotOpen = -1;   // missing, unreadable or not a regular file
constexpr int kBitmapShort = -2;        // a read failed or the file is shorter than its headers say
constexpr int kBitmapNotBitmap = -3;    // no "BM"
constexpr int kBitmapDataTooSmall = -4; // pixel data size below width x height x 3
constexpr int kBitmapPlanes = -5;       // planes other than 1
constexpr int kBitmapBits = -6;         // not 24 bits per pixel
constexpr int kBitmapCompressed = -7;   // compressed
// (-8 was a padded row, which older versions refused; every row may be padded now.)
constexpr int kBitmapBadHeader = -9;    // header size below 16, or a size no picture can have

// Results of writeBitmap.
constexpr int kBitmapWritten = 1;
constexpr int kBitmapNoPicture = 0;      // no graphics window, no picture, or the surface cannot be locked
// A file that cannot be written leaves the system's reason in
// platform::lastError() for the caller's message.
constexpr int kBitmapCannotCreate = -1;  // the name exists or cannot be created
constexpr int kBitmapWriteFailed = -2;   // a write failed, a full disk say (nothing is left under the name)
constexpr int kBitmapTooLarge = -3;      // the picture needs more than the format's 4 GiB

// Reads a bitmap into the record. First the picture the record holds
// becomes the previous picture; then the headers are checked, the picture
// goes into the planes (larger than the record's screen, or planes wanted)
// or into the surface, and paintable is set. Every failure leaves paintable
// cleared. Afterwards the previous picture is dropped when the size changed,
// and the information header becomes the current-picture header.
// displayAllowed: the surface may ask for display memory.
int loadBitmap(TWnd& record, const TWideString& path, bool displayAllowed);

// Writes the record's picture as a new file; an existing file is never
// overwritten. Any failure after the file was made removes it again.
int writeBitmap(TWnd& record, const TWideString& path);

// Writes the record's picture as a bitmap to an open descriptor (standard
// output); the same results, kBitmapWriteFailed with the system's reason
// when the descriptor refuses the bytes.
int writeBitmapTo(TWnd& record, int fd);

} // namespace vexel
