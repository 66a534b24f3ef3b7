#include "base/units.h"

#include "base/kernel.h"
#include "base/memdiag.h"

namespace vexel {

void initializeBaseUnits() {
    memdiagInitialize();
    kernelInitialize();
}

void finalizeBaseUnits() {
    kernelFinalize();
    memdiagFinalize();
}

} // namespace vexel
