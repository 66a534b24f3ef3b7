// A record's header read from an open .vx file (the codec itself parses
// bytes only: codec/container.h).
#pragma once

#include "codec/container.h"
#include "platform/files.h"

#include <cstdint>

namespace vexel {

// Reads up to 256 bytes at recordStart and parses them. kDone;
// kFailed when the position cannot be reached or nothing can be read
// there; kNotVx when the header is refused.
Result readRecordHeader(platform::File& file, std::uint64_t recordStart, RecordHeader& header);

} // namespace vexel
