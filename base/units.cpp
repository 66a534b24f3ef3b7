#include "base/units.h"

#include "base/kernel.h"
#include "base/memdiag.h"
#include "base/preobrazovaniechisel.h"

namespace vexel {

void initializeBaseUnits() {
    memdiagInitialize();
    kernelInitialize();
    numbersInitialize();
}

void finalizeBaseUnits() {
    numbersFinalize();
    kernelFinalize();
    memdiagFinalize();
}

} // namespace vexel
