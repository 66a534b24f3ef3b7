#include "base/informaciyaprocessora.h"

#include <sched.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace vexel {

std::int32_t processorCountFromCpuid() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    unsigned highest = __get_cpuid_max(0, nullptr);
    if (highest >= 4) {
        __cpuid_count(4, 0, eax, ebx, ecx, edx);
        return static_cast<std::int32_t>((eax >> 26) & 0x3F) + 1;
    }
    if (highest >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        unsigned logical = (ebx >> 16) & 0xFF;
        return logical ? static_cast<std::int32_t>(logical) : 1;
    }
#endif
    return 1;
}

std::int32_t processorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    return processorCountFromCpuid();
}

} // namespace vexel
