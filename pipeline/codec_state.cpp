#include "pipeline/codec_state.h"

namespace vexel {

void CodecState::release() {
    compressionPool.reset();
    decompressionPool.reset();
}

} // namespace vexel
