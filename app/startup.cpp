#include "app/startup.h"

#include "app/pipelines.h"
#include "base/memdiag.h"
#include "base/units.h"
#include "codec/compression_pipeline.h"
#include "codec/decompression_pipeline.h"
#include "ui/toknosoobzheniy.h"

namespace vexel {

void initializeProgramUnits() {
    initializeBaseUnits();
    CodecPipelines& pipelines = codecPipelines();
    pipelines.compressFrame = &compressFrame;
    pipelines.decompressRecord = &decompressRecord;
    pipelines.statusText = &decompressionStatusText;
    pipelines.clearStatusText = &clearDecompressionStatusText;
    pipelines.resetTimingStatistics = &resetDecompressionTiming;
    pipelines.destroyFileCache = &destroyDecompressionFileCache;
    pipelines.finishDecompression = &finishDecompression;
}

void finalizeProgramUnits() {
    releaseDecompressionState();
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
