// The entry routine: reads the command line and runs the frame loop.
#pragma once

#include "app/frame_loop.h"

namespace vexel {

// The process exit code of one run over the given arguments. The codec's
// entry points are the pipelines unless a test stands in for them.
int entryRoutine(int argc, char** argv, const FrameCodec& codec = FrameCodec());

} // namespace vexel
