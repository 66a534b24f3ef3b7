// A record's header read from an open .vx file (the codec itself parses
// bytes only: codec/container.h).
#pragma once

#include "codec/container.h"
#include "platform/files.h"

#include <cstdint>

namespace vexel {

// Reads up to 256 bytes at recordStart and parses them. kCodecDone;
// kCodecFailed when the position cannot be reached or nothing can be read
// there; kCodecNotVxRecord when the header is refused.
int readRecordHeader(platform::File& file, std::uint64_t recordStart, RecordHeader& header);

} // namespace vexel
