// Stream compression: a lossless byte-stream compressor wrapped around the
// frame payloads of modes 8 and 9. Files on disk hold its output, so the
// bytes below are fixed; only the work areas are ours to choose.
//
// Compressed stream, all integers little-endian. Two forms, told apart by
// the second word:
//
//   stored form                     coded form
//   +0  u32 size (input bytes)      +0  u32 size (bytes after the run pre-pass)
//   +4  u32 0                       +4  u32 T, tokens (literals + matches), not 0
//   +8  size bytes of data          +8  u8  flag coding: 0 raw bits, else run lengths
//                                       flags   raw: ceil(T / 8) bytes, T packed bits
//                                               runs: u32 R, then ceil(R / 8) bytes of R bits:
//                                               gamma(run count), then one gamma per run
//                                       u8  2 (literal marker)
//                                       L literal bytes, L = number of 0 flags (no count stored)
//                                       u8  3 (match marker; anything else: no matches)
//                                       u32 M, then ceil(M / 8) bytes of M bits:
//                                       gamma(match count), then per match
//                                       gamma(distance - 1), gamma(length - 1)
//
// Flag 0 is a literal, 1 a match. Run-length flags alternate 0, 1, 0, ...
// starting with a run of 0 flags; the first run is coded as its length
// (0 when the stream starts with a match), every later run as length - 1.
// A match copies `length` bytes from `distance` bytes back in the output,
// byte by byte (it may overlap what it writes). Gamma is the unsigned gamma
// code of kodirovaniechisel.h, bits packed lowest first.
//
// Run pre-pass, applied before the token coder and undone after it:
//
//   input                                   written as
//   a run of r >= 3 equal bytes x           0, r, x for r <= 254; longer runs as 0, 255, x
//                                           while more than 254 remain, then 0, rest, x
//   a byte 0 not in such a run              0, 0
//   any other byte                          itself
//
// Every call keeps its state to itself (no process-wide setting or table),
// so several streams compress and expand at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vexel {

// The most bytes compressStream writes for n input bytes (the stored form).
constexpr std::size_t compressedBound(std::size_t n) { return n == 0 ? 0 : n + 8; }
// The longest input a stream can carry (its size field is 32 bits).
inline constexpr std::size_t kMaxStreamInput = 0xFFFFFFFFu;

// Compresses input into output, which must hold compressedBound(input.size())
// bytes. Returns 1 and the bytes written in outputLength; an empty input
// writes nothing. Returns 0 (outputLength 0, output untouched) when the work
// area cannot be had, the input is longer than kMaxStreamInput or the output
// is too small.
int compressStream(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength);

// Expands a compressed stream into output (capacity output.size()). Returns
// 1 and the bytes produced in outputLength. Returns 0 for a stream that does
// not expand: fewer than 4 bytes, any field or code that runs past the
// input, a stored form shorter than its size or larger than the capacity, a
// size above 2 x capacity + 2, a token, run or match count above size, a
// literal marker other than 2, a match reaching before the start of the
// output, a rebuilt length other than size, a malformed run pre-pass, an
// output longer than the capacity, or no work area. Never reads or writes
// outside input and output; output bytes past the length produced (all of
// them after a failure) may have been overwritten.
int decompressStream(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength);

// The run pre-pass: its length (at most 2 x input.size()), and the pass
// itself into output (which holds that length). Returns the length written.
std::size_t runPrepassLength(std::span<const std::uint8_t> input);
std::size_t runPrepass(std::span<const std::uint8_t> input, std::uint8_t* output);

// Undoes the run pre-pass into output. 1 and the length written; 0 when the
// escapes are cut short at the end or the result would not fit output.
// Output bytes past the length written may have been overwritten.
int undoRunPrepass(std::span<const std::uint8_t> coded, std::span<std::uint8_t> output, std::size_t& outputLength);

// The compressor in its plainest form: the 65,536 history lists of 256
// positions kept literally, bits one per byte, the number-code functions and
// packBits. Same contract and same bytes as compressStream, many times
// slower; the reference the fast one is tested against.
int compressStreamReference(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength);

} // namespace vexel
