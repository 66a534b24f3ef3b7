#include "app/startup.h"

#include "base/memdiag.h"
#include "base/units.h"
#include "pipeline/decompression_pipeline.h"
#include "ui/toknosoobzheniy.h"

#include <cstdlib>

namespace vexel {

namespace {
// What the start-up and a short run take from the system heap, with room to spare.
constexpr std::size_t kStartupRoom = std::size_t{2} << 20;
} // namespace

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
    // The first arena, and room beside it for what the start-up takes from
    // the system's heap: without that room a start-up allocation would end
    // the process before any message could be shown.
    // The room is held while the arena is made, so that the arena (which
    // takes the largest size that fits) leaves it.
    void* room = std::malloc(kStartupRoom);
    void* probe = room ? memAllocate(10) : nullptr;
    std::free(room);
    if (probe) memFree(probe);
    if (!probe) {
        ui::showSystemMessageBox("Not enough RAM to run application", "Error");
        return false;
    }
    return true;
}

} // namespace vexel
