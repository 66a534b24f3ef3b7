// The entry routine: reads the command line and runs the frame loop.
#pragma once

#include "app/frame_loop.h"

#include <memory>

namespace vexel {

// The window system as the program uses it; none in tests and in builds
// without a display.
struct WindowSystem {
    // A viewer window for the record; null when no display can be used.
    std::unique_ptr<ViewerWindow> (*openViewer)(TWnd& record) = nullptr;
    // Draws messages and progress in windows of their own from now on;
    // false when no display can be used.
    bool (*useDrawnDialogs)() = nullptr;
    // Whether the run was started from a terminal (a run that writes files
    // then opens no window unless asked); null: any of standard input,
    // output or error is one.
    bool (*fromTerminal)() = nullptr;
};

// The process exit code of a run over the given arguments. The codec's
// entry points are the pipelines unless a test stands in for them. Each name
// given is a run of its own (the exit code is the first failure's), except
// names grouped into one file or viewed, which go through one list; "-" is
// standard input. A window is opened only for the runs that show frames -
// viewing, a wildcard or a list, unpacking, a repack conversion, "-w" - and
// only when a display can be used; a run that writes files opens none from a
// terminal unless "-w" asks. Viewing without a window ends with its message
// and exit code 1. Messages and progress take the drawn form in view mode
// only: every other run keeps the console form, so no box ever waits in a
// script.
int entryRoutine(int argc, char** argv, const FrameCodec& codec = FrameCodec(),
                 const WindowSystem& windows = WindowSystem());

} // namespace vexel
