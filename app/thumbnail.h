// Thumbnails of .vx files: the first frame decoded without any window and
// scaled to fit a square with its aspect kept, for file managers. They run
// a thumbnailer on whatever they find, so the work is bounded: a record
// whose decoding needs more than the memory limit is refused before
// anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

struct Thumbnail {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb; // rows from the top, red, green, blue
};

// Results of makeThumbnail.
constexpr int kThumbnailDone = 0;
constexpr int kThumbnailNotVx = 1;      // missing, unreadable, or not a .vx record
constexpr int kThumbnailTooLarge = 2;   // decoding would need more than the memory limit
constexpr int kThumbnailBadRecord = 3;  // the first record does not decode

inline constexpr std::uint64_t kThumbnailMemoryLimit = std::uint64_t{1} << 30;

int makeThumbnail(const std::string& path, std::uint32_t size, Thumbnail& out,
                  std::uint64_t memoryLimit = kThumbnailMemoryLimit);

// The largest width x height no larger than size x size with the picture's
// aspect (each side at least 1): the picture's own size when it fits.
void thumbnailSize(std::uint32_t width, std::uint32_t height, std::uint32_t size, std::uint32_t& outWidth,
                   std::uint32_t& outHeight);

} // namespace vexel
