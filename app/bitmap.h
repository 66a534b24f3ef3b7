// Picture files read into the viewer record's picture (the surface or the
// planes, display/twnd.h): bitmaps, PNG and JPEG (app/photo_files.h), told
// apart by their first bytes ("BM", the PNG signature, a JPEG's FF D8 FF),
// whatever their names; bitmaps written as 24-bit uncompressed ".bmp".
//
// Bitmap layout, all little-endian (a 14-byte file header, then the
// information header):
//
//   off size field            read rule                                   written
//    0   2   type             must be "BM" (-3)                           "BM"
//    2   4   file size        0: the actual size; above it: -2            54 + pixel bytes
//    6   4   reserved         ignored                                     0
//   10   4   pixel offset     0: after the headers, masks and palette     54
//   14   4   header size      16 or more (-9): 40, 52, 56, 108 and 124    40
//                             are the common ones; at most 40 are read,
//                             and the colour masks at 54
//   18   4   width            1 or more (-9)                              width
//   22   4   height           rows; negative: top-down rows; not 0 (-9)   height (bottom-up)
//   26   2   planes           must be 1 (-5)                              1
//   28   2   bits per pixel   1, 4, 8, 16, 24 or 32 (-6)                  24
//   30   4   compression      0; 3 or 6 (colour masks) with 16 or 32      0
//                             bits, else -9; RLE8 (1) -10, RLE4 (2) -11,
//                             others -7
//   34   4   pixel data size  0: file size - pixel offset;                padded rows x height
//                             else at least the rows' bytes (-4)
//   38   4   x resolution     kept                                        as held
//   42   4   y resolution     kept                                        as held
//   46   4   palette entries  0: 2 ^ bits (1, 4 and 8 bits)               0
//   50   4   important        kept                                        0
//   54  12   colour masks     red, green, blue, with compression 3 or 6:  -
//                             each one run of bits, not overlapping (-9)
//
// Pixels of 24 bits are blue, green, red. 1, 4 and 8 bits index the palette
// after the information header (blue, green, red, unused per entry; as many
// entries as fit before the pixels, none: -9; an index past them is black).
// 16 bits are 5-5-5 red, green, blue without masks; 32 bits are blue, green,
// red, unused without masks; alpha is dropped. A channel of fewer than 8
// bits is scaled to 0..255 (rounded). Standard files pad every row to a
// multiple of 4 bytes, and that is what the writer writes. Older versions of
// this program wrote rows without padding; the reader tells the two apart by
// the bytes actually present after the pixel offset: padded rows when they
// are all there, otherwise unpadded rows when the rows' bytes without
// padding are there, otherwise -2. Bytes after the pixel data are ignored.
#pragma once

#include "base/tstring.h"
#include "display/twnd.h"

namespace vexel {

// Results of loadBitmap, for every kind of picture file.
constexpr int kBitmapLoaded = 1;
constexpr int kBitmapNoBuffer = 0;      // no graphics window, no memory or no surface
constexpr int kBitmapCannotOpen = -1;   // missing, unreadable or not a regular file
constexpr int kBitmapShort = -2;        // a read failed or the file is shorter than its headers say
constexpr int kBitmapNotBitmap = -3;    // neither a bitmap, nor a PNG, nor a JPEG
constexpr int kBitmapDataTooSmall = -4; // pixel data size below the rows' bytes
constexpr int kBitmapPlanes = -5;       // planes other than 1
constexpr int kBitmapBits = -6;         // not 1, 4, 8, 16, 24 or 32 bits per pixel
constexpr int kBitmapCompressed = -7;   // compressed otherwise than by run lengths (JPEG or PNG inside, say)
// (-8 was a padded row, which older versions refused; every row may be padded now.)
constexpr int kBitmapBadHeader = -9;    // header size below 16, a size no picture can have, bad masks, no palette
constexpr int kBitmapRle8 = -10;        // compressed by run lengths of 8-bit pixels
constexpr int kBitmapRle4 = -11;        // compressed by run lengths of 4-bit pixels
constexpr int kPngDamaged = -12;        // a PNG the decoder refuses: damaged, cut short, or claiming more than it holds
constexpr int kJpegDamaged = -13;       // a JPEG the decoder refuses or warns about, or claiming more than it holds
constexpr int kJpegCmyk = -14;          // a JPEG in CMYK (or YCCK) colours

// Results of writeBitmap.
constexpr int kBitmapWritten = 1;
constexpr int kBitmapNoPicture = 0;      // no graphics window, no picture, or the surface cannot be locked
// A file that cannot be written leaves the system's reason in
// platform::lastError() for the caller's message.
constexpr int kBitmapCannotCreate = -1;  // the name exists or cannot be created
constexpr int kBitmapWriteFailed = -2;   // a write failed, a full disk say (nothing is left under the name)
constexpr int kBitmapTooLarge = -3;      // the picture needs more than the format's 4 GiB

// Reads a picture file (a bitmap, a PNG or a JPEG) into the record. First the picture the record holds
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
