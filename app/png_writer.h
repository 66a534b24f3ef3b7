// PNG files through libpng: the thumbnails and the program's icon.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexel {

// Writes width x height pixels, rows from the top, 3 bytes (red, green,
// blue) or with alpha 4 bytes each, as a new file at path: written under a
// temporary name beside it and renamed only when complete, so a failure
// leaves no file. False on any failure.
bool writePng(const std::string& path, std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels,
              bool alpha);
// The same PNG to an open stream (standard output), flushed; false when a write fails.
bool writePngTo(std::FILE* stream, std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels, bool alpha);

} // namespace vexel
