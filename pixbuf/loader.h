// The loader's own knobs, for a program that links loader.cpp itself (the
// fuzz target): gdk-pixbuf knows only fill_info and fill_vtable.
#ifndef VEXEL_PIXBUF_LOADER_H
#define VEXEL_PIXBUF_LOADER_H

#include <cstdint>

namespace vexel::pixbuf {

// The limits every reader the loader opens is given: records of more pixels,
// or needing more memory to decode, are refused before anything is
// allocated (0: the library's defaults, which a loaded module keeps).
void setReadLimits(std::uint64_t maxPixels, std::uint64_t maxMemory);

} // namespace vexel::pixbuf

#endif
