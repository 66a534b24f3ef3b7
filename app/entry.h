// The entry routine: reads the command line and runs the frame loop.
#pragma once

#include "app/frame_loop.h"

#include <memory>

namespace vexel {

// Opens a viewer window for the record; null when no display can be used.
using ViewerFactory = std::unique_ptr<ViewerWindow> (*)(TWnd& record);

// The process exit code of one run over the given arguments. The codec's
// entry points are the pipelines unless a test stands in for them. A window
// is opened (with openViewer) only for the runs that show frames - viewing,
// a wildcard name, unpacking, a repack conversion - and only when a display
// can be used; packing a single picture and the copy conversion never open
// one. Viewing without a window ends with its message and exit code 1.
int entryRoutine(int argc, char** argv, const FrameCodec& codec = FrameCodec(), ViewerFactory openViewer = nullptr);

} // namespace vexel
