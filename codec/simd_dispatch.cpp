#include "codec/simd_dispatch.h"

#include <atomic>
#include <cstdlib>

namespace vexel {

namespace {

const CodecKernels& kernelsOf(SimdPath path) {
#if defined(__x86_64__) && defined(__SSE2__)
    switch (path) {
    case SimdPath::Avx2: return kernels::kAvx2;
    case SimdPath::Sse2: return kernels::kSse2;
    case SimdPath::Plain: break;
    }
#endif
    (void)path;
    return kernels::kPlain;
}

struct Choice {
    std::atomic<SimdPath> path;
    std::atomic<const CodecKernels*> table;

    Choice() {
        SimdPath chosen = processorSimdPath(), named;
        const char* value = std::getenv("VEXEL_SIMD");
        if (value && parseSimdPath(value, named) && static_cast<int>(named) <= static_cast<int>(chosen)) chosen = named;
        path.store(chosen);
        table.store(&kernelsOf(chosen));
    }
};

Choice& choice() {
    static Choice c;
    return c;
}

} // namespace

SimdPath processorSimdPath() {
#if defined(__x86_64__) && defined(__SSE2__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SimdPath::Avx2 : SimdPath::Sse2;
#else
    return SimdPath::Plain;
#endif
}

SimdPath currentSimdPath() { return choice().path.load(); }

bool useSimdPath(SimdPath path) {
    if (static_cast<int>(path) > static_cast<int>(processorSimdPath())) return false;
    choice().path.store(path);
    choice().table.store(&kernelsOf(path));
    return true;
}

bool parseSimdPath(std::string_view name, SimdPath& path) {
    for (SimdPath p : {SimdPath::Plain, SimdPath::Sse2, SimdPath::Avx2})
        if (name == simdPathName(p)) {
            path = p;
            return true;
        }
    return false;
}

const char* simdPathName(SimdPath path) {
    switch (path) {
    case SimdPath::Avx2: return "avx2";
    case SimdPath::Sse2: return "sse2";
    case SimdPath::Plain: break;
    }
    return "plain";
}

const CodecKernels& codecKernels() { return *choice().table.load(std::memory_order_relaxed); }

} // namespace vexel
