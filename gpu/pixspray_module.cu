// libpixSpray_module.so: draws the gradient blocks of a decoded frame on an
// NVIDIA card. vexel loads it from its own folder for viewing (one running
// instance at a time) and calls pixSpray_module for every band of gradient
// blocks while it is bound.
//
// A call copies the band's bytes of the host buffer and the band's points
// through page-locked staging buffers to the card, runs one thread per
// point (blocks of 16 x 16 threads), and copies the band back. The mirror on
// the card holds exactly the bytes the band can touch, at the same offsets
// as in the host buffer (codec/pixspray_layout.h); writes outside them are
// skipped. Every CUDA call and the kernel's completion are checked: on any
// error the call returns false with the host buffer unchanged, and vexel
// draws the band on the processor and forgets the library.
//
// The library keeps one set of buffers for the process, made again only
// when a band needs more than they hold (band sizes differ within a frame,
// and making page-locked memory costs more than drawing). The device's
// context is made by the first band drawn, not at loading: a still picture
// never pays for it. Calls are serialised, and each makes the chosen device
// current (CUDA's current device is per thread, and calls come from the
// decoder's worker threads).
#include "gpu/pixspray_host.h"

#include <cuda_runtime.h>

#include <cstdint>
#include <cstring>
#include <mutex>

#define PIXSPRAY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vexel::spray::Call;
using vexel::spray::Target;

__global__ void pixSpray_kernel(std::uint8_t* deviceBase, Target target, int R, const std::uint8_t* pntImage,
                                unsigned w, unsigned h) {
    const unsigned x = blockIdx.x * blockDim.x + threadIdx.x;
    const unsigned y = blockIdx.y * blockDim.y + threadIdx.y;
    if (x >= w || y >= h) return;
    vexel::spray::drawPoint(deviceBase, target, pntImage, w, R, x, y);
}

// A page-locked staging buffer and its device mirror, of one size, grown on demand.
struct Mirror {
    std::uint8_t* host = nullptr;
    std::uint8_t* device = nullptr;
    std::size_t size = 0;

    // Frees both and forgets the size, so that a later call makes them again.
    void release() {
        if (host) cudaFreeHost(host);
        if (device) cudaFree(device);
        host = device = nullptr;
        size = 0;
    }
    bool ensure(std::size_t needed) {
        if (size >= needed && host && device) return true;
        release();
        if (cudaMallocHost(&host, needed) != cudaSuccess || cudaMalloc(&device, needed) != cudaSuccess) {
            release();
            cudaGetLastError(); // clear the allocation error
            return false;
        }
        size = needed;
        return true;
    }
};

struct State {
    std::mutex mutex;
    int device = -1;
    bool contextMade = false; // a band made the device current (and so its context)
    Mirror pixels, points;
    cudaEvent_t start = nullptr, stop = nullptr;
    float kernelMilliseconds = 0;

    void releaseBuffers() {
        pixels.release();
        points.release();
        if (start) cudaEventDestroy(start);
        if (stop) cudaEventDestroy(stop);
        start = stop = nullptr;
    }
};

State& state() {
    static State* s = new State; // outlives every other static; freed with the process
    return *s;
}

// The first device with the highest compute-capability major number.
int chooseDevice() {
    int count = 0;
    if (cudaGetDeviceCount(&count) != cudaSuccess) {
        cudaGetLastError();
        return 0;
    }
    int best = 0, bestMajor = 0;
    for (int d = 0; d < count; ++d) {
        cudaDeviceProp p;
        if (cudaGetDeviceProperties(&p, d) != cudaSuccess) continue;
        if (p.major > 0 && p.major < 9999 && p.major > bestMajor) {
            best = d;
            bestMajor = p.major;
        }
    }
    return best;
}

// The band's bytes between the host buffer and a mirror: to the card, or back.
bool transfer(const Call& call, std::uint8_t* base, Mirror& m, bool toDevice) {
    for (int k = 0; k < call.band.ranges; ++k) {
        const std::size_t at = static_cast<std::size_t>(call.band.begin[k]);
        const std::size_t n = static_cast<std::size_t>(call.band.end[k] - call.band.begin[k]);
        if (toDevice) {
            std::memcpy(m.host + at, base + at, n);
            if (cudaMemcpy(m.device + at, m.host + at, n, cudaMemcpyHostToDevice) != cudaSuccess) return false;
        } else if (cudaMemcpy(m.host + at, m.device + at, n, cudaMemcpyDeviceToHost) != cudaSuccess) {
            return false;
        }
    }
    return true;
}

} // namespace

PIXSPRAY_EXPORT int pixSpray_init(int device) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (device < 0) device = s.device >= 0 ? s.device : chooseDevice();
    if (device != s.device && s.contextMade) {
        // The old device's buffers go with it.
        cudaSetDevice(s.device);
        s.releaseBuffers();
        s.contextMade = false;
    }
    // Asking for the properties checks the device without making a context.
    cudaDeviceProp properties;
    if (cudaGetDeviceProperties(&properties, device) != cudaSuccess) {
        cudaGetLastError();
        return -(device + 10);
    }
    s.device = device;
    return device;
}

PIXSPRAY_EXPORT bool pixSpray_module(std::uint8_t* base, int offsetR, int offsetG, int offsetB, int dqx1, int dqy1,
                                     std::uint8_t R, std::uint32_t firstRow, std::uint32_t endRow, const void* points,
                                     std::uint32_t pointsPerRow, std::uint32_t pointRows) {
    Call call;
    if (!base || !points ||
        !vexel::spray::plan(offsetR, offsetG, offsetB, dqx1, dqy1, R, firstRow, endRow, pointsPerRow, pointRows, call))
        return false;
    if (call.rows == 0 || pointsPerRow == 0) return true;
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.device < 0 || cudaSetDevice(s.device) != cudaSuccess) return false;
    s.contextMade = true;
    const std::size_t pointBytes = static_cast<std::size_t>(pointsPerRow) * pointRows * 9;
    if (!s.pixels.ensure(static_cast<std::size_t>(call.band.mirrorSize)) || !s.points.ensure(pointBytes)) return false;
    if (!s.start && (cudaEventCreate(&s.start) != cudaSuccess || cudaEventCreate(&s.stop) != cudaSuccess)) {
        s.releaseBuffers();
        return false;
    }

    // The band's pixels and its points, at the same offsets as on the host.
    const std::size_t firstPoint = static_cast<std::size_t>(firstRow) * pointsPerRow * 9;
    const std::size_t bandPoints = static_cast<std::size_t>(call.rows) * pointsPerRow * 9;
    std::memcpy(s.points.host + firstPoint, static_cast<const std::uint8_t*>(points) + firstPoint, bandPoints);
    if (!transfer(call, base, s.pixels, true) ||
        cudaMemcpy(s.points.device + firstPoint, s.points.host + firstPoint, bandPoints, cudaMemcpyHostToDevice) !=
            cudaSuccess)
        return false;

    const dim3 threads(16, 16);
    const dim3 grid((pointsPerRow + 15) / 16, (call.rows + 15) / 16);
    cudaEventRecord(s.start);
    pixSpray_kernel<<<grid, threads>>>(s.pixels.device, call.target, R, s.points.device + firstPoint, pointsPerRow,
                                       call.rows);
    cudaEventRecord(s.stop);
    if (cudaGetLastError() != cudaSuccess || cudaEventSynchronize(s.stop) != cudaSuccess ||
        cudaGetLastError() != cudaSuccess)
        return false;
    cudaEventElapsedTime(&s.kernelMilliseconds, s.start, s.stop);

    // Back to the staging buffer; the host buffer changes only once every copy worked.
    if (!transfer(call, base, s.pixels, false)) return false;
    for (int k = 0; k < call.band.ranges; ++k) {
        const std::size_t at = static_cast<std::size_t>(call.band.begin[k]);
        std::memcpy(base + at, s.pixels.host + at, static_cast<std::size_t>(call.band.end[k] - call.band.begin[k]));
    }
    return true;
}

// How long the last call's kernel ran, in milliseconds (the device check's timing).
PIXSPRAY_EXPORT float pixSpray_kernel_milliseconds() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.kernelMilliseconds;
}

namespace {

// Unloading frees the buffers and resets the device, when a band made its
// context. At process exit the runtime may already be shutting down: its
// errors are of no consequence.
__attribute__((destructor)) void unloaded() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.contextMade && cudaSetDevice(s.device) == cudaSuccess) {
        s.releaseBuffers();
        cudaDeviceReset();
    }
    cudaGetLastError();
}

} // namespace
