// The PNG and JPEG readers over any bytes: an input with the PNG signature
// goes to the PNG reader, any other to the JPEG reader. Every row they hand
// over must lie inside the picture they announced, come once, and be read
// whole; a refusal must be one of the readers' results. Pictures above the
// targets' memory limit are refused by the stand-in record as the program's
// own refuses what it cannot hold; a JPEG above it is skipped (its reader
// decodes the whole picture before handing over rows).
#include "app/bitmap.h"
#include "app/photo_files.h"
#include "fuzz/fuzz_files.h"

#include <turbojpeg.h>

#include <cstdlib>
#include <vector>

namespace {

class CheckedTarget final : public vexel::PictureTarget {
public:
    int begin(std::int32_t width, std::int32_t height, std::int32_t, std::int32_t) override {
        if (began_ || width < 1 || height < 1) std::abort();
        if (static_cast<std::uint64_t>(width) * height * 3 > vexel::fuzz::kMemoryLimit) return vexel::kBitmapNoBuffer;
        began_ = true;
        width_ = width;
        seen_.assign(static_cast<std::size_t>(height), false);
        return vexel::kBitmapLoaded;
    }
    void row(const std::uint8_t* bgr, std::int32_t y) override {
        if (!began_ || y < 0 || static_cast<std::size_t>(y) >= seen_.size() || seen_[y]) std::abort();
        seen_[y] = true;
        unsigned sum = 0;
        for (std::int32_t i = 0; i < width_ * 3; ++i) sum += bgr[i];
        sink_ = sink_ + sum;
    }
    bool whole() const {
        for (bool s : seen_)
            if (!s) return false;
        return began_;
    }

private:
    bool began_ = false;
    std::int32_t width_ = 0;
    std::vector<bool> seen_;
    volatile unsigned sink_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::fuzz::prepareFileTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    if (fuzz::folder().empty() || !fuzz::writeInput("in.pic", data, size)) return 0;
    platform::File file;
    if (!file.open(TWideString::fromUtf8(fuzz::folder() + "/in.pic").view(), platform::OpenMode::ReadExisting))
        return 0;
    if (!isPngSignature(data, size)) {
        tjhandle turbo = tjInitDecompress();
        int width = 0, height = 0, subsampling = 0, colours = 0;
        const bool sized = turbo && tjDecompressHeader3(turbo, data, size, &width, &height, &subsampling, &colours) == 0;
        if (turbo) tjDestroy(turbo);
        if (sized && static_cast<std::uint64_t>(width) * height * 3 > fuzz::kMemoryLimit) return 0;
    }
    CheckedTarget target;
    const int result = isPngSignature(data, size) ? readPng(file, target) : readJpeg(file, target);
    switch (result) {
    case kBitmapLoaded:
        if (!target.whole()) std::abort();
        break;
    case kBitmapNoBuffer:
    case kBitmapShort:
    case kPngDamaged:
    case kJpegDamaged:
    case kJpegCmyk: break;
    default: std::abort();
    }
    return 0;
}
