// Reading .vx files in tests.
#pragma once

#include "codec/container.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vexel::test {

// The record headers of a file, following the nextRecord links from offset
// 0 and stopping at the first record the parser refuses. The parser refuses
// a link that does not lead forward, so the walk always ends.
inline std::vector<RecordHeader> recordChain(const std::vector<std::uint8_t>& file) {
    std::vector<RecordHeader> out;
    for (std::uint64_t at = 0; at < file.size();) {
        RecordHeader h;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kRecordHeaderLimit, file.size() - at));
        if (parseRecordHeader({file.data() + at, n}, at, file.size(), h) != kCodecDone) break;
        out.push_back(h);
        if (!h.nextRecord) break;
        at = h.nextRecord;
    }
    return out;
}

} // namespace vexel::test
