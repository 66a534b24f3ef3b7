// The list of input files of a run.
//
// A name without "*" is a list of one. A wildcard name is first probed for a
// numbered sequence: P + number + Q + E, with P and Q the stem's parts
// before and after its "*", the number starting at 0 or 1 and zero-padded
// to a width of 1 to 9 digits. With a hit every existing number from the
// start on is listed, up to 499 999, until 100 numbers in a row are
// missing. Without one the folder is enumerated and sorted in natural order.
#pragma once

#include "app/options.h"
#include "base/tspisokstrok.h"

#include <cstdint>

namespace vexel {

constexpr std::uint32_t kSequenceLast = 499999;
constexpr std::uint32_t kSequenceMisses = 100;

struct SequenceStart {
    std::uint32_t number = 0;
    int width = 0; // 0: no numbered sequence
};

// The first existing sequence name; width 0 when there is none.
SequenceStart probeSequence(const RunNames& names);
// P + number zero-padded to width digits + Q + E.
TWideString sequenceName(const RunNames& names, std::uint32_t number, int width);

// Builds the list. 0, or the exit code after the out-of-memory message.
int buildFileList(const RunNames& names, TSpisokStrok& list);

} // namespace vexel
