// The number of processors to plan threads for.
#pragma once

#include <cstdint>

namespace vexel {

// The CPUs in the process's affinity mask (at least 1). Where the mask cannot
// be read, the cores per package reported by CPUID.
std::int32_t processorCount();
// The CPUID reading alone (leaf 4, else leaf 1), for tests.
std::int32_t processorCountFromCpuid();

} // namespace vexel
