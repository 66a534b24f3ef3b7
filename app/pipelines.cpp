#include "app/pipelines.h"

namespace vexel {

CodecPipelines& codecPipelines() {
    static CodecPipelines pipelines;
    return pipelines;
}

} // namespace vexel
