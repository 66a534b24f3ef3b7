#include "app/startup.h"

#include "base/memdiag.h"
#include "base/units.h"
#include "pipeline/decompression_pipeline.h"
#include "ui/toknosoobzheniy.h"

namespace vexel {

void initializeProgramUnits() {
    initializeBaseUnits();
    ui::installDialogs();
}

void finalizeProgramUnits() {
    releaseDecompressionState();
    vexel::installDialogs(nullptr);
    finalizeBaseUnits();
}

bool startupMemoryCheck() {
    void* probe = memAllocate(10);
    if (!probe) {
        ui::showSystemMessageBox("Not enough RAM to run application", "Error");
        return false;
    }
    memFree(probe);
    return true;
}

} // namespace vexel
