#include "pipeline/codec_state.h"

namespace vexel {

void CodecState::release() {
    // The workers may still read the buffers below: they go first.
    compressionPool.reset();
    decompressionPool.reset();
    copyBuffer.reset();
    copyLength = 0;
}

} // namespace vexel
