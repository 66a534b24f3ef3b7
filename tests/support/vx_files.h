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
        if (parseRecordHeader({file.data() + at, n}, at, file.size(), h) != kDone) break;
        out.push_back(h);
        if (!h.nextRecord) break;
        at = h.nextRecord;
    }
    return out;
}

// The bytes of each record of the chain, with its link to the next record
// cleared: a run cut short writes the same records as a whole run, but for
// the last one's link.
inline std::vector<std::vector<std::uint8_t>> recordsWithoutLinks(const std::vector<std::uint8_t>& file) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const RecordHeader& h : recordChain(file)) {
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(h.recordStart);
        std::vector<std::uint8_t> record(begin, begin + static_cast<std::ptrdiff_t>(h.recordSize));
        if (record.size() >= kNextRecordOffset + 8)
            std::fill(record.begin() + kNextRecordOffset, record.begin() + kNextRecordOffset + 8, 0);
        out.push_back(std::move(record));
    }
    return out;
}

} // namespace vexel::test
