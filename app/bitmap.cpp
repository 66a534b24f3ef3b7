#include "app/bitmap.h"

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

int readBitmap(TWnd& record, const TWideString& path, bool displayAllowed) {
    if (!record.graphicsWindow) return kBitmapNoBuffer;
    platform::File file;
    if (!file.open(path.view(), platform::OpenMode::ReadExisting)) return kBitmapCannotOpen;
    record.fileHeader = BitmapFileHeader();
    record.picture.infoHeader = BitmapInfoHeader();
    record.picture.paintable = false;

    std::int64_t actualSize = file.size();
    std::uint8_t head[18];
    if (actualSize < 0 || !file.readExact(head, sizeof head)) return kBitmapShort;
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
    if (ih.planes != 1) return kBitmapPlanes;
    if (ih.bitCount != 24) return kBitmapBits;
    if (ih.compression != 0) return kBitmapCompressed;
    if (ih.width < 1 || ih.width > kMaxSide || ih.height == 0 || ih.height < -kMaxSide || ih.height > kMaxSide)
        return kBitmapBadHeader;

    const bool topDown = ih.height < 0;
    const std::int32_t width = ih.width, rows = topDown ? -ih.height : ih.height;
    const std::uint64_t tightRow = static_cast<std::uint64_t>(width) * 3, paddedRow = (tightRow + 3) / 4 * 4;
    const std::uint64_t tightTotal = tightRow * static_cast<std::uint64_t>(rows);
    const std::uint64_t paddedTotal = paddedRow * static_cast<std::uint64_t>(rows);

    std::uint64_t offset = fh.dataOffset;
    if (offset == 0) offset = static_cast<std::uint64_t>(ih.clrUsed) * 4 + headerSize + 14;
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

    // The destination.
    TGraficheskoeOkno& window = *record.graphicsWindow;
    const bool fits = fitsScreen(width, rows, record.codec.screen);
    Destination destination;
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

    // The pixels, a piece of whole rows at a time.
    const std::uint64_t piecesRows = std::max<std::uint64_t>(1, kPieceBytes / rowBytes);
    TrackedBuffer<std::uint8_t> piece;
    if (!piece.allocate(static_cast<std::size_t>(std::min<std::uint64_t>(piecesRows, rows) * rowBytes)))
        return kBitmapNoBuffer;
    if (!file.seek(offset)) return kBitmapShort;
    for (std::int32_t done = 0; done < rows;) {
        std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(piecesRows, rows - done));
        if (!file.readExact(piece.data(), static_cast<std::uint64_t>(n) * rowBytes)) return kBitmapShort;
        for (std::int32_t i = 0; i < n; ++i) {
            std::int32_t fileRow = done + i;
            storeRow(destination, piece.data() + static_cast<std::uint64_t>(i) * rowBytes, width,
                     topDown ? rows - 1 - fileRow : fileRow);
        }
        done += n;
    }
    record.picture.paintable = true;
    return kBitmapLoaded;
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
    int result = readBitmap(record, path, displayAllowed);
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
