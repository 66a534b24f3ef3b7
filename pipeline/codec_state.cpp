#include "pipeline/codec_state.h"

#include "pipeline/compression_pipeline.h"

namespace vexel {

void CodecState::release() {
    // The workers may still read the buffers below: they go first.
    compressionPool.reset();
    decompressionPool.reset();
    finishGroupedOutput(*this);
    copyBuffer.reset();
    copyLength = 0;
    repack.bytes.reset();
    repack.width = repack.height = repack.blockSize = repack.chromaStep = 0;
}

} // namespace vexel
