#include "app/png_writer.h"

#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <string>

namespace vexel {

namespace {

// libpng reports errors by longjmp: nothing with a destructor lives in this frame.
bool encode(std::FILE* file, std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels, bool alpha) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * (alpha ? 4 : 3);
    for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, pixels + y * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePngTo(std::FILE* stream, std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels, bool alpha) {
    if (width < 1 || height < 1 || !pixels || !stream) return false;
    const bool ok = encode(stream, width, height, pixels, alpha);
    return std::fflush(stream) == 0 && ok;
}

bool writePng(const std::string& path, std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels,
              bool alpha) {
    if (width < 1 || height < 1 || !pixels) return false;
    const std::string temporary = path + "." + std::to_string(getpid()) + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wbx");
    if (!file) return false;
    bool ok = encode(file, width, height, pixels, alpha);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

} // namespace vexel
