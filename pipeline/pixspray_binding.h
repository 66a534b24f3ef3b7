// The optional GPU point-drawing library and the marker that one running
// instance uses it.
//
// "libpixSpray_module.so" is loaded from the program's own folder only, only
// for viewing, and only while this process holds an exclusive flock on the
// file "pixSpray_inst" in $XDG_RUNTIME_DIR (else the temporary folder); the
// kernel drops the lock when the process ends, even after a crash. A missing
// library, a missing export or a negative pixSpray_init result is silent:
// the program then draws on the processor. The bound drawing entry goes to
// the frame decoder's place for it (codec/pixspray.h).
#pragma once

#include "codec/pixspray.h"

#include <string>
#include <string_view>

namespace vexel {

using PixSprayInit = int (*)(int device);

constexpr char kPixSprayLibrary[] = "libpixSpray_module.so";
constexpr char kPixSprayMarker[] = "pixSpray_inst";

// The last result of pixSpray_init (-1 until it is called).
int pixSprayDevice();
// True while the marker lock is held.
bool pixSprayMarkerHeld();

// Binds the library from folder (ending with "/") when allowed (a viewing
// run) and no other process holds the marker. True when it is bound.
bool bindPixSpray(std::u16string_view folder, bool allowed);
// Lets go of the marker lock (the end of a run; the library stays loaded).
void releasePixSprayMarker();
// Unloads the library and lets go of the marker (tests).
void unbindPixSpray();

// The marker file's path.
std::string pixSprayMarkerPath();

} // namespace vexel
