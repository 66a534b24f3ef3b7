// The viewer window in SDL2: the record's window for viewing and for the
// runs that show their frames while they work.
#pragma once

#include "display/twnd.h"

#include <memory>

namespace vexel {

// Opens the viewer for the record: a window titled "Vexel" with the
// program's icon, placed over the desktop's work area, not shown yet, with
// a renderer (the hardware one when there is one, else the software one)
// and a 32-bit streaming texture. Null when no display can be used or the
// window, renderer or texture cannot be had. The record's graphics window
// learns the client area; the window lives until the pointer goes.
std::unique_ptr<ViewerWindow> openSdlViewer(TWnd& record);

} // namespace vexel
