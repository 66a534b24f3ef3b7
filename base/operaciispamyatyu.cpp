#include "base/operaciispamyatyu.h"

#include <cstring>

namespace vexel {

void memCopy(void* destination, const void* source, std::size_t n) {
    if (n) std::memmove(destination, source, n);
}

void memZero(void* block, std::size_t n) {
    if (n) std::memset(block, 0, n);
}

bool memEqual(const void* a, const void* b, std::size_t n) {
    return n == 0 || std::memcmp(a, b, n) == 0;
}

} // namespace vexel
