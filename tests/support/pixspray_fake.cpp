// A stand-in for the GPU library, for the binding tests. pixSpray_init
// answers the number in VEXEL_FAKE_PIXSPRAY_INIT (0 without it); built once
// with both exports and once without pixSpray_module.
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

#ifndef VEXEL_FAKE_WITHOUT_MODULE
__attribute__((visibility("default"))) bool pixSpray_module(std::uint8_t*, int, int, int, int, int, std::uint8_t,
                                                            std::uint32_t, std::uint32_t, const void*, std::uint32_t,
                                                            std::uint32_t) {
    return true;
}
#endif
}
