// The block record: one per block of the whole picture, in block order, 9
// bytes without padding. The encoder fills it with its decisions, the
// decoder with what it parsed, a repack conversion carries it from one to
// the other, and the GPU library draws from the same layout (TPnt).
//
//   byte   0       1        2        3      4       5      6       7      8
//        +------+--------+--------+------+-------+------+-------+------+-------+
//        | kind | first  | second | base | slope | base | slope | base | slope |
//        |      | anchor | anchor | blue | blue  | green| green | red  | red   |
//        +------+--------+--------+------+-------+------+-------+------+-------+
//
// kind: a BlockKind (codec/container.h). Anchors: x in bits 0-3, y in bits
// 4-7; the direction of a gradient runs from the first to the second,
// theta = atan2(dy, dx). Base values are bytes; slopes are signed bytes in
// tenths of a value per pixel.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vexel {

constexpr std::size_t kBlockRecordSize = 9;
constexpr int kRecordKind = 0, kRecordFirstAnchor = 1, kRecordSecondAnchor = 2;
// The base byte of each plane's channel (red, green, blue); its slope follows it.
constexpr int kBaseByte[3] = {7, 5, 3};

// The direction of a gradient record, from its first anchor to its second.
inline double recordDirection(const std::uint8_t* record) {
    const int dx = (record[kRecordSecondAnchor] & 15) - (record[kRecordFirstAnchor] & 15);
    const int dy = (record[kRecordSecondAnchor] >> 4) - (record[kRecordFirstAnchor] >> 4);
    return std::atan2(static_cast<double>(dy), static_cast<double>(dx));
}

// Channel c's base value and its slope in value per pixel.
inline double recordBase(const std::uint8_t* record, int c) { return record[kBaseByte[c]]; }
inline double recordSlope(const std::uint8_t* record, int c) {
    return static_cast<std::int8_t>(record[kBaseByte[c] + 1]) * 0.1;
}

} // namespace vexel
