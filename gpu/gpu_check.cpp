// The device check's driver: for each .vx file, decodes its first record,
// then draws the record's gradient blocks through libpixSpray_module.so and
// through the decoder's own fast renderer on one thread, into a 32-bit
// surface (bottom-up rows) and into picture planes, compares them (every
// in-picture pixel of a gradient block within 1) and times both: the kernel
// alone and the whole call with its transfers.
//
//   vexel_gpu_check LIBRARY FILE.vx...
// Exit status 0 when every comparison passed.
#include "base/units.h"
#include "codec/container.h"
#include "codec/gradient_renderer.h"
#include "codec/pixspray_layout.h"
#include "pipeline/codec_session.h"
#include "pipeline/pixspray_binding.h"
#include "platform/system.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using namespace vexel;

using KernelTime = float (*)();

struct Library {
    PixSprayInit init = nullptr;
    PixSprayModule module = nullptr;
    KernelTime kernelTime = nullptr;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One layout's buffer: a surface of the picture's size with its border
// (exactly its bytes, so that a stray write shows under a sanitizer), or
// three padded planes.
struct Buffer {
    std::vector<std::uint8_t> bytes;
    PixelTarget view;

    static Buffer surface(std::uint32_t w, std::uint32_t h) {
        Buffer b;
        const std::ptrdiff_t pitch = (static_cast<std::ptrdiff_t>(w) + 32) * 4;
        b.bytes.assign(static_cast<std::size_t>(pitch) * (h + 32), 0x5A);
        b.view = PixelTarget::fromSurface(b.bytes.data(), pitch, w, h, 16, 16, 8, 0);
        return b;
    }
    static Buffer planes(std::uint32_t w, std::uint32_t h) {
        Buffer b;
        b.bytes.assign(3 * (static_cast<std::size_t>(w) + 32) * (h + 32), 0x5A);
        b.view = PixelTarget::fromPlanes(b.bytes.data(), w, h);
        return b;
    }
};

// The call exactly as the decoder makes it: base is the lowest address the band touches.
bool spray(const Library& lib, const PixelTarget& out, const RepackFrame& f, std::uint32_t rows, std::uint32_t columns) {
    const std::int64_t offG = out.channel[1] - out.channel[0], offB = out.channel[2] - out.channel[0];
    const std::int64_t lowest =
        sprayLowestOffset(offG, offB, out.pixelStep, out.rowStep, f.blockSize, 0, rows, columns);
    std::uint8_t* base = out.channel[0] + lowest;
    return lib.module(base, static_cast<int>(out.channel[0] - base), static_cast<int>(out.channel[1] - base),
                      static_cast<int>(out.channel[2] - base), static_cast<int>(out.pixelStep),
                      static_cast<int>(out.rowStep), static_cast<std::uint8_t>(f.blockSize), 0, rows,
                      reinterpret_cast<const TPnt*>(f.bytes.data()), columns, rows);
}

bool check(const Library& lib, const char* name, const RepackFrame& f, bool planar) {
    const std::uint32_t columns = (f.width + f.blockSize - 1) / f.blockSize, rows = (f.height + f.blockSize - 1) / f.blockSize;
    const GradientBlocks blocks{f.bytes.data(), columns, rows, f.blockSize};
    Buffer cpu = planar ? Buffer::planes(f.width, f.height) : Buffer::surface(f.width, f.height);
    Buffer gpu = planar ? Buffer::planes(f.width, f.height) : Buffer::surface(f.width, f.height);

    std::vector<double> cpuSeconds, callSeconds, kernelMs;
    for (int run = 0; run < 5; ++run) {
        long double t0 = platform::clockSeconds();
        renderGradientsCpu(blocks, 0, rows, true, cpu.view);
        cpuSeconds.push_back(static_cast<double>(platform::clockSeconds() - t0));
        t0 = platform::clockSeconds();
        if (!spray(lib, gpu.view, f, rows, columns)) {
            std::printf("%s %s: pixSpray_module failed\n", name, planar ? "planes" : "surface");
            return false;
        }
        callSeconds.push_back(static_cast<double>(platform::clockSeconds() - t0));
        kernelMs.push_back(lib.kernelTime ? lib.kernelTime() : 0.0);
    }

    std::uint64_t gradientPixels = 0, off = 0, worst = 0;
    for (std::uint32_t by = 0; by < rows; ++by)
        for (std::uint32_t bx = 0; bx < columns; ++bx) {
            if (f.bytes[9 * (static_cast<std::size_t>(by) * columns + bx)] != 1) continue;
            for (std::uint32_t y = by * f.blockSize; y < std::min((by + 1) * f.blockSize, f.height); ++y)
                for (std::uint32_t x = bx * f.blockSize; x < std::min((bx + 1) * f.blockSize, f.width); ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int d = std::abs(int{cpu.view.at(c, x, y)} - int{gpu.view.at(c, x, y)});
                        ++gradientPixels;
                        worst = std::max<std::uint64_t>(worst, static_cast<std::uint64_t>(d));
                        if (d > 1) ++off;
                    }
        }
    const double cpuMs = 1000 * median(cpuSeconds), callMs = 1000 * median(callSeconds), kernel = median(kernelMs);
    std::printf("%-28s %-8s %ux%u B=%u: %llu gradient samples, %llu off by more than 1 (worst %llu); "
                "cpu %.2f ms, gpu call %.2f ms, kernel %.3f ms (%.1fx the cpu)\n",
                name, planar ? "planes" : "surface", f.width, f.height, f.blockSize,
                static_cast<unsigned long long>(gradientPixels), static_cast<unsigned long long>(off),
                static_cast<unsigned long long>(worst), cpuMs, callMs, kernel, kernel > 0 ? cpuMs / kernel : 0.0);
    return off == 0 && gradientPixels > 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vexel_gpu_check LIBRARY FILE.vx...\n");
        return 2;
    }
    initializeBaseUnits();
    void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::printf("cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    Library lib;
    lib.init = reinterpret_cast<PixSprayInit>(dlsym(handle, "pixSpray_init"));
    lib.module = reinterpret_cast<PixSprayModule>(dlsym(handle, "pixSpray_module"));
    lib.kernelTime = reinterpret_cast<KernelTime>(dlsym(handle, "pixSpray_kernel_milliseconds"));
    if (!lib.init || !lib.module) {
        std::printf("the library lacks its exports\n");
        return 1;
    }
    const int device = lib.init(-1);
    std::printf("pixSpray_init(-1) = %d\n", device);
    if (device < 0) return 1;

    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        RecordHeader h;
        const std::size_t n = std::min<std::size_t>(file.size(), kRecordHeaderLimit);
        if (parseRecordHeader({file.data(), n}, 0, file.size(), h) != kDone) {
            std::printf("%s: not a .vx record\n", argv[i]);
            ok = false;
            continue;
        }
        CodecSession session;
        RecordDecodeOptions options;
        options.fastPaint = true;
        options.conversion = 2; // keeps the decoded block records
        if (decodeRecordBytes(session.codec, session.picture, h, {file.data(), static_cast<std::size_t>(h.recordSize)},
                              options) != kDone) {
            std::printf("%s: does not decode\n", argv[i]);
            ok = false;
            continue;
        }
        for (bool planar : {false, true}) ok = check(lib, argv[i], session.repack, planar) && ok;
    }
    std::printf(ok ? "gpu check passed\n" : "gpu check FAILED\n");
    return ok ? 0 : 1;
}
