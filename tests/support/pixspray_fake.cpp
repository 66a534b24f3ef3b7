// A stand-in for the GPU library, for the binding and decoder tests.
// pixSpray_init answers the number in VEXEL_FAKE_PIXSPRAY_INIT (0 without
// it). Built with both exports (pixSpray_module answering true and drawing
// nothing), without pixSpray_module, with one that always fails, and with
// one that draws as the library's kernel does, on the processor.
#ifdef VEXEL_FAKE_DRAWING_MODULE
#include "gpu/pixspray_host.h"
#endif

#include <cstdint>
#include <cstdlib>

extern "C" {

int fakePixSprayInitCalls = 0;
int fakePixSprayInitArgument = 0;

__attribute__((visibility("default"))) int pixSpray_init(int device) {
    ++fakePixSprayInitCalls;
    fakePixSprayInitArgument = device;
    const char* answer = std::getenv("VEXEL_FAKE_PIXSPRAY_INIT");
    return answer ? std::atoi(answer) : 0;
}

int fakePixSprayModuleCalls = 0;

#if defined(VEXEL_FAKE_DRAWING_MODULE)
__attribute__((visibility("default"))) bool pixSpray_module(std::uint8_t* base, int r, int g, int b, int dqx1, int dqy1,
                                                            std::uint8_t R, std::uint32_t first, std::uint32_t end,
                                                            const void* points, std::uint32_t perRow,
                                                            std::uint32_t rows) {
    ++fakePixSprayModuleCalls;
    return vexel::spray::sprayOnHost(base, r, g, b, dqx1, dqy1, R, first, end,
                                     static_cast<const std::uint8_t*>(points), perRow, rows);
}
#elif !defined(VEXEL_FAKE_WITHOUT_MODULE)
__attribute__((visibility("default"))) bool pixSpray_module(std::uint8_t*, int, int, int, int, int, std::uint8_t,
                                                            std::uint32_t, std::uint32_t, const void*, std::uint32_t,
                                                            std::uint32_t) {
    ++fakePixSprayModuleCalls;
#ifdef VEXEL_FAKE_FAILING_MODULE
    return false;
#else
    return true;
#endif
}
#endif
}
