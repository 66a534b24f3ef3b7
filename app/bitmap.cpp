#include "app/bitmap.h"

#include "app/photo_files.h"

#include "base/memdiag.h"
#include "base/operaciispamyatyu.h"
#include "platform/files.h"
#include "platform/new_file.h"
#include "platform/test_hooks.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace vexel {

namespace {

constexpr std::int64_t kMaxSide = TPicturePlanes::kMaxSide;
constexpr std::uint64_t kHeadersSize = 54;
// Pixel rows are read and written in pieces of about this many bytes.
constexpr std::uint64_t kPieceBytes = 1 << 16;

// Keeps the record's current picture as the previous picture.
void keepPreviousPicture(TWnd& record) {
    TSurface* source = nullptr;
    if (record.picture.paintable && record.graphicsWindow && record.picture.frameBuffer.empty())
        source = record.graphicsWindow->SurfaceSlot(TGraficheskoeOkno::Slot::OffScreen);
    if (!record.picture.planes.empty()) {
        record.picture.frameBuffer.swap(record.picture.planes);
        record.picture.planes.reset();
        return;
    }
    if (source && record.picture.surfaceReference) {
        if (copySurface(*record.picture.surfaceReference, *source)) return;
        // A reference of another size cannot take the picture: keep the surface itself instead.
        record.picture.surfaceReference->release();
        record.picture.surfaceReference = nullptr;
    }
    if (source) {
        source->addReference();
        record.picture.surfaceReference = source;
        std::int32_t width, height;
        record.graphicsWindow->PictureSize(height, width);
        PictureRect rect{0, 0, width, height};
        if (!record.graphicsWindow->SetPictureSize(&rect, TGraficheskoeOkno::kKeepMemoryChoice, -1, true)) {
            record.picture.surfaceReference->release();
            record.picture.surfaceReference = nullptr;
        }
    } else if (record.picture.surfaceReference) {
        record.picture.surfaceReference->release();
        record.picture.surfaceReference = nullptr;
    }
}

// Where the pixel rows go.
struct Destination {
    TGraficheskoeOkno* window = nullptr;
    PictureAccess picture; // locked surface, or no surface for the planes
    TPicturePlanes* planes = nullptr;
    ~Destination() {
        if (window && picture.surface) window->unlockPicture(picture);
    }
};

// Stores one file row (blue, green, red per pixel) as picture row y from the bottom.
void storeRow(Destination& d, const std::uint8_t* bgr, std::int32_t width, std::int32_t y) {
    if (d.planes) {
        std::uint8_t* r = d.planes->row(TPicturePlanes::kRed, y);
        std::uint8_t* g = d.planes->row(TPicturePlanes::kGreen, y);
        std::uint8_t* b = d.planes->row(TPicturePlanes::kBlue, y);
        for (std::int32_t x = 0; x < width; ++x, bgr += 3) {
            b[x] = bgr[0];
            g[x] = bgr[1];
            r[x] = bgr[2];
        }
        return;
    }
    int rs = d.window->redShift(), gs = d.window->greenShift(), bs = d.window->blueShift();
    std::uint32_t* out = d.picture.rowFromBottom(y);
    for (std::int32_t x = 0; x < width; ++x, bgr += 3)
        out[x] = static_cast<std::uint32_t>(bgr[2]) << rs | static_cast<std::uint32_t>(bgr[1]) << gs |
                 static_cast<std::uint32_t>(bgr[0]) << bs;
}

// Prepares the picture's memory: the planes (larger than the record's
// screen, or planes wanted) or the surface, locked.
int openDestination(TWnd& record, std::int32_t width, std::int32_t rows, bool displayAllowed, Destination& destination) {
    TGraficheskoeOkno& window = *record.graphicsWindow;
    const bool fits = fitsScreen(width, rows, record.codec.screen);
    destination.window = &window;
    if (!record.picture.prepare(width, rows, !fits || record.picture.planesWanted, fits, displayAllowed))
        return kBitmapNoBuffer;
    if (record.picture.pictureInPlanes()) {
        destination.planes = &record.picture.planes;
    } else {
        if (!record.picture.surfaceToMeasure(width, rows)) return kBitmapNoBuffer;
        if (!window.lockPicture(destination.picture)) return kBitmapNoBuffer;
        if (destination.picture.width != width || destination.picture.height != rows) return kBitmapNoBuffer;
    }
    return kBitmapLoaded;
}

// One colour channel of a 16- or 32-bit pixel: where its bits are, and how
// many (0: the channel reads as 0).
struct Channel {
    int shift = 0;
    int bits = 0;
    std::uint32_t most = 0; // the mask moved down
    std::uint8_t value(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = pixel >> shift & most;
        if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
        return static_cast<std::uint8_t>((v * 255 + most / 2) / most);
    }
};

// A mask as a channel; false for bits that are not one run.
bool channelOf(std::uint32_t mask, Channel& c) {
    c = Channel();
    if (mask == 0) return true;
    c.shift = std::countr_zero(mask);
    const std::uint32_t run = mask >> c.shift;
    if ((run & (run + 1)) != 0) return false;
    c.bits = std::popcount(run);
    c.most = run;
    return true;
}

// How the pixels of a file row become blue, green, red.
struct RowFormat {
    int bits = 24;
    Channel red, green, blue;            // 16 and 32 bits
    std::uint8_t palette[256][4] = {};   // 1, 4 and 8 bits: blue, green, red, unused
};

// Converts a row of 16- or 32-bit pixels through the format's channel masks.
template <class Load>
const std::uint8_t* unmaskRow(const RowFormat& f, const std::uint8_t* in, std::int32_t width, std::uint8_t* out, Load load,
                              std::size_t bytesPerPixel) {
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t pixel = load(in + bytesPerPixel * static_cast<std::size_t>(x));
        out[3 * x] = f.blue.value(pixel);
        out[3 * x + 1] = f.green.value(pixel);
        out[3 * x + 2] = f.red.value(pixel);
    }
    return out;
}

// Converts one file row; 24-bit rows are used as they are.
const std::uint8_t* convertRow(const RowFormat& f, const std::uint8_t* in, std::int32_t width, std::uint8_t* out) {
    switch (f.bits) {
    case 24: return in;
    case 1:
    case 4:
    case 8: {
        const int perByte = 8 / f.bits;
        const unsigned mask = (1u << f.bits) - 1;
        for (std::int32_t x = 0; x < width; ++x) {
            const int slot = x % perByte;
            const unsigned index = in[x / perByte] >> (8 - f.bits * (slot + 1)) & mask;
            std::memcpy(out + 3 * static_cast<std::size_t>(x), f.palette[index], 3);
        }
        return out;
    }
    case 16: return unmaskRow(f, in, width, out, [](const std::uint8_t* at) -> std::uint32_t { return loadU16(at); }, 2);
    default: return unmaskRow(f, in, width, out, [](const std::uint8_t* at) { return loadU32(at); }, 4);
    }
}

int readBitmap(TWnd& record, platform::File& file, bool displayAllowed) {
    std::int64_t actualSize = file.size();
    std::uint8_t head[18];
    if (actualSize < 0 || !file.seek(0) || !file.readExact(head, sizeof head)) return kBitmapShort;
    BitmapFileHeader fh;
    fh.type = loadU16(head);
    if (fh.type != 0x4D42) return kBitmapNotBitmap;
    const std::uint64_t actual = static_cast<std::uint64_t>(actualSize);
    fh.fileSize = loadU32(head + 2);
    if (fh.fileSize > actual) return kBitmapShort;
    if (fh.fileSize == 0) fh.fileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(actual, 0xFFFFFFFFu));
    fh.reserved1 = loadU16(head + 6);
    fh.reserved2 = loadU16(head + 8);
    fh.dataOffset = loadU32(head + 10);
    std::uint32_t headerSize = loadU32(head + 14);
    // Below 16 bytes the header cannot hold the fields that are checked.
    if (headerSize < 16) return kBitmapBadHeader;

    std::uint8_t info[40] = {};
    storeU32(info, headerSize);
    if (!file.readExact(info + 4, std::min<std::uint32_t>(headerSize, 40) - 4)) return kBitmapShort;
    BitmapInfoHeader ih;
    ih.size = headerSize;
    ih.width = static_cast<std::int32_t>(loadU32(info + 4));
    ih.height = static_cast<std::int32_t>(loadU32(info + 8));
    ih.planes = loadU16(info + 12);
    ih.bitCount = loadU16(info + 14);
    ih.compression = loadU32(info + 16);
    ih.sizeImage = loadU32(info + 20);
    ih.xPelsPerMeter = static_cast<std::int32_t>(loadU32(info + 24));
    ih.yPelsPerMeter = static_cast<std::int32_t>(loadU32(info + 28));
    ih.clrUsed = loadU32(info + 32);
    ih.clrImportant = loadU32(info + 36);
    const int bits = ih.bitCount;
    if (ih.planes != 1) return kBitmapPlanes;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kBitmapBits;
    const bool masked = ih.compression == 3 || ih.compression == 6;
    if (ih.compression == 1) return kBitmapRle8;
    if (ih.compression == 2) return kBitmapRle4;
    if (ih.compression != 0 && !masked) return kBitmapCompressed;
    if (masked && ((bits != 16 && bits != 32) || headerSize < 40)) return kBitmapBadHeader;
    if (ih.width < 1 || ih.width > kMaxSide || ih.height == 0 || ih.height < -kMaxSide || ih.height > kMaxSide)
        return kBitmapBadHeader;

    // The colours: masks, or the palette.
    RowFormat format;
    format.bits = bits;
    std::uint64_t afterHeaders = 14 + static_cast<std::uint64_t>(headerSize);
    if (bits == 16 || bits == 32) {
        std::uint32_t masks[3] = {0x7C00, 0x3E0, 0x1F};
        if (bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        if (masked) {
            // Right after a 40-byte header, or its own fields in a longer one.
            std::uint8_t stored[12];
            if (!file.seek(54) || !file.readExact(stored, sizeof stored)) return kBitmapShort;
            for (int i = 0; i < 3; ++i) masks[i] = loadU32(stored + 4 * i);
            if (headerSize == 40) afterHeaders += ih.compression == 6 ? 16 : 12;
        }
        if (!channelOf(masks[0], format.red) || !channelOf(masks[1], format.green) ||
            !channelOf(masks[2], format.blue) || (masks[0] & masks[1]) || (masks[0] & masks[2]) ||
            (masks[1] & masks[2]) || (masks[0] | masks[1] | masks[2]) == 0)
            return kBitmapBadHeader;
    }
    std::uint64_t offset = fh.dataOffset;
    if (bits <= 8) {
        const std::uint32_t most = 1u << bits;
        std::uint64_t entries = ih.clrUsed == 0 || ih.clrUsed > most ? most : ih.clrUsed;
        if (offset == 0) offset = afterHeaders + entries * 4;
        // A palette runs from the end of the headers up to the pixels.
        if (offset < afterHeaders + 4) return kBitmapBadHeader;
        entries = std::min<std::uint64_t>(entries, (offset - afterHeaders) / 4);
        std::uint8_t stored[256 * 4];
        if (!file.seek(afterHeaders) || !file.readExact(stored, entries * 4)) return kBitmapShort;
        std::memcpy(format.palette, stored, entries * 4);
    } else if (offset == 0) {
        offset = static_cast<std::uint64_t>(ih.clrUsed) * 4 + afterHeaders;
    }

    const bool topDown = ih.height < 0;
    const std::int32_t width = ih.width, rows = topDown ? -ih.height : ih.height;
    const std::uint64_t tightRow = (static_cast<std::uint64_t>(width) * bits + 7) / 8, paddedRow = (tightRow + 3) / 4 * 4;
    const std::uint64_t tightTotal = tightRow * static_cast<std::uint64_t>(rows);
    const std::uint64_t paddedTotal = paddedRow * static_cast<std::uint64_t>(rows);

    if (offset > actual) return kBitmapShort;
    std::uint64_t dataSize = ih.sizeImage;
    if (dataSize == 0) dataSize = actual - offset;
    else if (dataSize < tightTotal) return kBitmapDataTooSmall;
    if (dataSize > actual - offset) return kBitmapShort;
    const std::uint64_t available = actual - offset;
    std::uint64_t rowBytes;
    if (available >= paddedTotal) rowBytes = paddedRow;
    else if (available >= tightTotal) rowBytes = tightRow; // written by an older version
    else return kBitmapShort;

    fh.dataOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, 0xFFFFFFFFu));
    ih.sizeImage = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataSize, 0xFFFFFFFFu));
    ih.height = rows; // the picture is held bottom-up whatever the file's order
    record.fileHeader = fh;
    record.picture.infoHeader = ih;

    Destination destination;
    if (int r = openDestination(record, width, rows, displayAllowed, destination); r != kBitmapLoaded) return r;

    // The pixels, a piece of whole rows at a time.
    const std::uint64_t piecesRows = std::max<std::uint64_t>(1, kPieceBytes / rowBytes);
    TrackedBuffer<std::uint8_t> piece, converted;
    if (!piece.allocate(static_cast<std::size_t>(std::min<std::uint64_t>(piecesRows, rows) * rowBytes)))
        return kBitmapNoBuffer;
    if (bits != 24 && !converted.allocate(static_cast<std::size_t>(width) * 3)) return kBitmapNoBuffer;
    if (!file.seek(offset)) return kBitmapShort;
    for (std::int32_t done = 0; done < rows;) {
        std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(piecesRows, rows - done));
        if (!file.readExact(piece.data(), static_cast<std::uint64_t>(n) * rowBytes)) return kBitmapShort;
        for (std::int32_t i = 0; i < n; ++i) {
            std::int32_t fileRow = done + i;
            const std::uint8_t* bgr =
                convertRow(format, piece.data() + static_cast<std::uint64_t>(i) * rowBytes, width, converted.data());
            storeRow(destination, bgr, width, topDown ? rows - 1 - fileRow : fileRow);
        }
        done += n;
    }
    record.picture.paintable = true;
    return kBitmapLoaded;
}

// A PNG's or a JPEG's picture into the record, held as a 24-bit bitmap's.
class RecordTarget : public PictureTarget {
public:
    RecordTarget(TWnd& record, bool displayAllowed) : record_(record), displayAllowed_(displayAllowed) {}
    int begin(std::int32_t width, std::int32_t height, std::int32_t xPelsPerMeter, std::int32_t yPelsPerMeter) override {
        const std::uint64_t pixelBytes = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4 * height;
        BitmapInfoHeader ih;
        ih.size = 40;
        ih.width = width;
        ih.height = height;
        ih.planes = 1;
        ih.bitCount = 24;
        ih.sizeImage = static_cast<std::uint32_t>(std::min<std::uint64_t>(pixelBytes, 0xFFFFFFFFu));
        ih.xPelsPerMeter = xPelsPerMeter;
        ih.yPelsPerMeter = yPelsPerMeter;
        record_.picture.infoHeader = ih;
        width_ = width;
        height_ = height;
        return openDestination(record_, width, height, displayAllowed_, destination_);
    }
    void row(const std::uint8_t* bgr, std::int32_t y) override { storeRow(destination_, bgr, width_, height_ - 1 - y); }

private:
    TWnd& record_;
    bool displayAllowed_;
    std::int32_t width_ = 0, height_ = 0;
    Destination destination_;
};

// Tells the kinds of file apart by their first bytes.
int readPicture(TWnd& record, const TWideString& path, bool displayAllowed) {
    if (!record.graphicsWindow) return kBitmapNoBuffer;
    platform::File file;
    if (!file.open(path.view(), platform::OpenMode::ReadExisting)) return kBitmapCannotOpen;
    record.fileHeader = BitmapFileHeader();
    record.picture.infoHeader = BitmapInfoHeader();
    record.picture.paintable = false;
    std::uint8_t head[8];
    const std::int64_t got = file.read(head, sizeof head);
    const std::size_t size = got > 0 ? static_cast<std::size_t>(got) : 0;
    int result;
    if (isPngSignature(head, size) || isJpegSignature(head, size)) {
        RecordTarget target(record, displayAllowed);
        result = isPngSignature(head, size) ? readPng(file, target) : readJpeg(file, target);
    } else {
        return readBitmap(record, file, displayAllowed);
    }
    if (result == kBitmapLoaded) record.picture.paintable = true;
    return result;
}

// Writes the pixel rows bottom-up, padded; false on a write error.
bool writeRows(platform::File& file, TWnd& record, const PictureAccess* surface, std::uint64_t rowBytes) {
    const std::int32_t width = record.picture.pictureWidth(), height = record.picture.pictureHeight();
    const std::uint64_t pieceRows = std::max<std::uint64_t>(1, kPieceBytes / rowBytes);
    TrackedBuffer<std::uint8_t> piece;
    if (!piece.allocate(static_cast<std::size_t>(std::min<std::uint64_t>(pieceRows, height) * rowBytes))) {
        platform::setLastError(ENOMEM);
        return false;
    }
    TGraficheskoeOkno& window = *record.graphicsWindow;
    int rs = window.redShift(), gs = window.greenShift(), bs = window.blueShift();
    const bool standard = rs == 16 && gs == 8 && bs == 0 && std::endian::native == std::endian::little;
    for (std::int32_t done = 0; done < height;) {
        std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(pieceRows, height - done));
        for (std::int32_t i = 0; i < n; ++i) {
            std::int32_t y = done + i;
            std::uint8_t* out = piece.data() + static_cast<std::uint64_t>(i) * rowBytes;
            if (surface && standard) {
                // Blue, green, red are bytes 0, 1, 2 of each pixel: four pixels
                // become twelve bytes in two stores.
                const std::uint32_t* in = surface->rowFromBottom(y);
                std::int32_t x = 0;
                for (; x + 4 <= width; x += 4, out += 12) {
                    const std::uint64_t low = (in[x] & 0xFFFFFFu) | std::uint64_t{in[x + 1] & 0xFFFFFFu} << 24 |
                                              std::uint64_t{in[x + 2]} << 48;
                    const std::uint32_t high = (in[x + 2] >> 16 & 0xFFu) | (in[x + 3] & 0xFFFFFFu) << 8;
                    std::memcpy(out, &low, 8);
                    std::memcpy(out + 8, &high, 4);
                }
                for (; x < width; ++x, out += 3) {
                    out[0] = static_cast<std::uint8_t>(in[x]);
                    out[1] = static_cast<std::uint8_t>(in[x] >> 8);
                    out[2] = static_cast<std::uint8_t>(in[x] >> 16);
                }
            } else if (surface) {
                const std::uint32_t* in = surface->rowFromBottom(y);
                for (std::int32_t x = 0; x < width; ++x, out += 3) {
                    out[0] = static_cast<std::uint8_t>(in[x] >> bs);
                    out[1] = static_cast<std::uint8_t>(in[x] >> gs);
                    out[2] = static_cast<std::uint8_t>(in[x] >> rs);
                }
            } else {
                const std::uint8_t* r = record.picture.planes.row(TPicturePlanes::kRed, y);
                const std::uint8_t* g = record.picture.planes.row(TPicturePlanes::kGreen, y);
                const std::uint8_t* b = record.picture.planes.row(TPicturePlanes::kBlue, y);
                for (std::int32_t x = 0; x < width; ++x, out += 3) {
                    out[0] = b[x];
                    out[1] = g[x];
                    out[2] = r[x];
                }
            }
            std::memset(out, 0, rowBytes - static_cast<std::uint64_t>(width) * 3);
        }
        if (!file.write(piece.data(), static_cast<std::uint64_t>(n) * rowBytes)) return false;
        done += n;
    }
    return true;
}

} // namespace

int loadBitmap(TWnd& record, const TWideString& path, bool displayAllowed) {
    keepPreviousPicture(record);
    int result = readPicture(record, path, displayAllowed);
    if (record.picture.infoHeader.width != record.picture.currentHeader.width || record.picture.infoHeader.height != record.picture.currentHeader.height)
        record.picture.dropPreviousPicture(); // of no use at another size
    record.picture.currentHeader = record.picture.infoHeader;
    return result;
}

namespace {

// Writes the record's picture as a bitmap to the file that open gives
// (which is asked only once the picture is known to be there); a failing
// open gives kBitmapCannotCreate, a failing write kBitmapWriteFailed.
template <class Open>
int writePicture(TWnd& record, Open open) {
    if (!record.graphicsWindow) return kBitmapNoPicture;
    const std::int32_t width = record.picture.pictureWidth(), height = record.picture.pictureHeight();
    if (width < 1 || height < 1) return kBitmapNoPicture;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
    const std::uint64_t pixelBytes = rowBytes * static_cast<std::uint64_t>(height);
    if (pixelBytes + kHeadersSize > 0xFFFFFFFFu) return kBitmapTooLarge;

    // The source must hold the picture the header describes.
    PictureAccess surface;
    const bool fromPlanes = !record.picture.planes.empty();
    if (fromPlanes) {
        if (record.picture.planes.width() != width || record.picture.planes.height() != height) return kBitmapNoPicture;
    } else {
        if (!record.graphicsWindow->lockPicture(surface)) return kBitmapNoPicture;
        if (surface.width != width || surface.height != height) {
            record.graphicsWindow->unlockPicture(surface);
            return kBitmapNoPicture;
        }
    }
    platform::File* file = open();
    if (!file) {
        const int error = platform::lastError();
        if (!fromPlanes) record.graphicsWindow->unlockPicture(surface);
        platform::setLastError(error);
        return kBitmapCannotCreate;
    }

    BitmapFileHeader& fh = record.fileHeader;
    BitmapInfoHeader& ih = record.picture.infoHeader;
    fh = BitmapFileHeader{0x4D42, static_cast<std::uint32_t>(pixelBytes + kHeadersSize), 0, 0,
                          static_cast<std::uint32_t>(kHeadersSize)};
    ih.size = 40;
    ih.planes = 1;
    ih.bitCount = 24;
    ih.compression = 0;
    ih.sizeImage = static_cast<std::uint32_t>(pixelBytes);
    ih.clrUsed = 0;
    ih.clrImportant = 0;
    std::uint8_t headers[kHeadersSize] = {};
    storeU16(headers, fh.type);
    storeU32(headers + 2, fh.fileSize);
    storeU32(headers + 10, fh.dataOffset);
    storeU32(headers + 14, ih.size);
    storeU32(headers + 18, static_cast<std::uint32_t>(ih.width));
    storeU32(headers + 22, static_cast<std::uint32_t>(ih.height));
    storeU16(headers + 26, ih.planes);
    storeU16(headers + 28, ih.bitCount);
    storeU32(headers + 30, ih.compression);
    storeU32(headers + 34, ih.sizeImage);
    storeU32(headers + 38, static_cast<std::uint32_t>(ih.xPelsPerMeter));
    storeU32(headers + 42, static_cast<std::uint32_t>(ih.yPelsPerMeter));

    const bool ok = file->write(headers, sizeof headers) && writeRows(*file, record, fromPlanes ? nullptr : &surface, rowBytes);
    const int error = platform::lastError();
    if (!fromPlanes) record.graphicsWindow->unlockPicture(surface);
    platform::setLastError(error);
    return ok ? kBitmapWritten : kBitmapWriteFailed;
}

} // namespace

int writeBitmap(TWnd& record, const TWideString& path) {
    // A bitmap never replaces a file: a name that is taken refuses it. It is
    // written without a name and linked in whole, so its name never holds a
    // torn file, whatever stops the run.
    platform::NewFile output;
    int result = writePicture(record, [&]() -> platform::File* {
        if (platform::nameExists(path.view())) {
            platform::setLastError(EEXIST);
            return nullptr;
        }
        return output.create(path.view()) ? &output.file() : nullptr;
    });
    if (result == kBitmapWritten && !output.linkAs(path.view()))
        result = platform::lastError() == EEXIST ? kBitmapCannotCreate : kBitmapWriteFailed;
    const int error = platform::lastError();
    output.discard();
    platform::setLastError(error);
    if (result == kBitmapWritten) platform::testStopPoint("after-bitmap");
    return result;
}

int writeBitmapTo(TWnd& record, int fd) {
    platform::File stream;
    const int copy = ::dup(fd);
    if (copy < 0) {
        platform::setLastError(errno);
        return kBitmapCannotCreate;
    }
    stream.adopt(copy);
    return writePicture(record, [&]() -> platform::File* { return &stream; });
}

} // namespace vexel
