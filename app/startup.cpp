#include "app/startup.h"

#include "base/memdiag.h"
#include "base/units.h"
#include "ui/toknosoobzheniy.h"

namespace vexel {

void initializeProgramUnits() { initializeBaseUnits(); }

void finalizeProgramUnits() { finalizeBaseUnits(); }

bool startupMemoryCheck() {
    void* probe = memAllocate(10);
    if (!probe) {
        ui::showMessageWide(TWideString(u"Not enough RAM to run application"), TWideString(u"Error"));
        return false;
    }
    memFree(probe);
    return true;
}

} // namespace vexel
