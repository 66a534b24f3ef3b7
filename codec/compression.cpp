#include "codec/compression.h"

#include "base/memdiag.h"
#include "codec/kodirovaniechisel.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace vexel {

namespace {

constexpr std::uint8_t kLiteralMarker = 2;
constexpr std::uint8_t kMatchMarker = 3;
constexpr std::uint32_t kHistoryDepth = 256; // positions kept per two-byte key
constexpr std::uint32_t kKeyCount = 65536;

void putU32(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
    at[2] = static_cast<std::uint8_t>(v >> 16);
    at[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t getU32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}

// Bits of a packed array from bit `pos` on (stored order); bits at or past
// `byteCount` bytes read as 0.
std::uint64_t bitsAt(const std::uint8_t* bytes, std::size_t byteCount, std::uint64_t pos) {
    const std::size_t at = static_cast<std::size_t>(pos >> 3);
    std::uint64_t word = 0;
    if (at + 8 <= byteCount) std::memcpy(&word, bytes + at, 8);
    else if (at < byteCount) std::memcpy(&word, bytes + at, byteCount - at);
    return word >> (pos & 7);
}

// Length of the run of bits equal to `one` from pos, at most limit - pos.
std::uint64_t runAt(const std::uint8_t* bytes, std::size_t byteCount, std::uint64_t pos, std::uint64_t limit, bool one) {
    std::uint64_t length = 0;
    while (pos + length < limit) {
        std::uint64_t word = bitsAt(bytes, byteCount, pos + length);
        if (one) word = ~word;
        // Only 57 bits of the word are sure to be loaded.
        const std::uint64_t same = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::countr_zero(word)), 57);
        length += same;
        if (same < 57) break;
    }
    return std::min(length, limit - pos);
}

// Calls visit(length) for every flag run, alternating from a run of 0 flags
// (which is empty when the first token is a match).
template <class Visit>
void forEachFlagRun(const std::uint8_t* flags, std::size_t byteCount, std::uint64_t tokens, Visit visit) {
    std::uint64_t pos = 0;
    bool one = false;
    while (pos < tokens) {
        const std::uint64_t length = runAt(flags, byteCount, pos, tokens, one);
        visit(length);
        pos += length;
        one = !one;
    }
}

// The code value of run j: the first run as its length, later runs as length - 1.
std::uint64_t runCode(std::uint64_t index, std::uint64_t length) { return index == 0 ? length : length - 1; }

// Length of the common prefix of a and b, at most limit.
std::uint32_t commonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
    std::uint32_t t = 0;
    while (limit - t >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + t, 8);
        std::memcpy(&y, b + t, 8);
        if (x != y) return t + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
        t += 8;
    }
    while (t < limit && a[t] == b[t]) ++t;
    return t;
}

// A match of length l at distance d is worth coding when its codes and its
// flag take fewer bits than l literal bytes.
bool matchPays(std::uint64_t distance, std::uint64_t length) {
    return gammaSize(distance - 1) + gammaSize(length - 1) + 1 < 8 * length;
}

// The history lists. Each two-byte key that occurs gets a dense index and a
// ring of 256 slots: the j-th position appended under a key sits in slot
// j mod 256, so the list's newest 256 positions are always at hand. Keys
// that never occur take no ring, so small inputs need little memory.
struct HistoryLists {
    TrackedBuffer<std::uint32_t> keyIndex; // per key: 1 + its dense index, 0 when unseen
    TrackedBuffer<std::uint32_t> counts;   // per dense index: positions appended so far
    TrackedBuffer<std::uint32_t> rings;    // per dense index: 256 slots

    bool prepare(const std::uint8_t* data, std::uint32_t length) {
        if (!keyIndex.allocate(kKeyCount)) return false;
        std::uint32_t keys = 0;
        for (std::uint32_t i = 0; i + 1 < length; ++i) {
            std::uint32_t& slot = keyIndex[data[i] | data[i + 1] << 8];
            if (slot == 0) slot = ++keys;
        }
        if (keys == 0) return true;
        return counts.allocate(keys) && rings.allocate(std::size_t{keys} * kHistoryDepth);
    }
};

struct Tokens {
    PackedBitWriter flags;
    std::uint8_t* literals;
    std::uint64_t literalCount = 0;
    PackedBitWriter matchCodes;
    std::uint64_t matchCount = 0;
    std::uint64_t count = 0;
};

// The token search over the pre-pass bytes P of length p. Bytes and choices
// follow the list walk exactly: a candidate starts two bytes back and walks
// back one byte at a time while its two bytes equal the key; otherwise it
// jumps to the next older position of the key's list. A candidate wins only
// with a strictly longer match that pays.
void tokenize(const std::uint8_t* P, std::uint32_t p, HistoryLists& lists, Tokens& out) {
    std::uint32_t* const counts = lists.counts.data();
    std::uint32_t* const rings = lists.rings.data();
    const std::uint32_t* const keyIndex = lists.keyIndex.data();
    auto append = [&](std::uint32_t pos, std::uint32_t*& ring) -> std::uint32_t {
        const std::uint32_t index = keyIndex[P[pos] | P[pos + 1] << 8] - 1;
        ring = rings + std::size_t{index} * kHistoryDepth;
        const std::uint32_t ordinal = counts[index]++;
        ring[ordinal % kHistoryDepth] = pos;
        return ordinal;
    };

    std::uint32_t i = 0;
    while (i < p) {
        if (i + 1 == p) { // the last byte has no pair: no match can start here
            out.flags.putStored(0, 1);
            out.literals[out.literalCount++] = P[i];
            ++out.count;
            break;
        }
        std::uint32_t* ring;
        std::uint32_t ordinal = append(i, ring);
        std::uint32_t h = std::min<std::uint32_t>(ordinal, kHistoryDepth - 1); // i's index in its list
        const std::uint8_t x0 = P[i], x1 = P[i + 1];
        const std::uint32_t maxLength = p - i;
        std::uint32_t best = 0, bestLength = 0;
        std::int64_t c = static_cast<std::int64_t>(i) - 2;
        while (c >= 0) {
            if (P[c] != x0 || P[c + 1] != x1) {
                if (h == 0) break;
                --h;
                --ordinal;
                c = ring[ordinal % kHistoryDepth]; // older than i, same two bytes
            }
            const std::uint32_t candidate = static_cast<std::uint32_t>(c);
            // A match never reaches i and never passes the end.
            const std::uint32_t room = std::min(i - candidate, maxLength);
            if (bestLength < room && P[candidate + bestLength] == P[i + bestLength]) {
                const std::uint32_t length = commonLength(P + candidate, P + i, room);
                if (length > bestLength && matchPays(i - candidate, length)) {
                    bestLength = length;
                    best = candidate;
                    if (bestLength == maxLength) break; // nothing can be longer
                }
            }
            --c;
        }
        ++out.count;
        if (bestLength < 2) {
            out.flags.putStored(0, 1);
            out.literals[out.literalCount++] = x0;
            ++i;
            continue;
        }
        out.flags.putStored(1, 1);
        out.matchCodes.putGamma(i - best - 1);
        out.matchCodes.putGamma(bestLength - 1);
        ++out.matchCount;
        for (std::uint32_t t = 1; t < bestLength; ++t)
            if (i + t + 1 < p) append(i + t, ring);
        i += bestLength;
    }
}

// Writes the stored form; output holds input.size() + 8 bytes.
std::size_t writeStored(std::span<const std::uint8_t> input, std::uint8_t* output) {
    putU32(output, static_cast<std::uint32_t>(input.size()));
    putU32(output + 4, 0);
    if (!input.empty()) std::memcpy(output + 8, input.data(), input.size());
    return input.size() + 8;
}

bool outputFits(std::size_t inputLength, std::span<std::uint8_t> output) {
    assert(output.size() >= compressedBound(inputLength) && "compressStream needs compressedBound bytes");
    return output.size() >= compressedBound(inputLength);
}

} // namespace

// ---------------------------------------------------------------------------
// Run pre-pass

std::size_t runPrepassLength(std::span<const std::uint8_t> input) {
    std::size_t length = 0;
    const std::size_t n = input.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && input[j] == input[i]) ++j;
        std::size_t r = j - i;
        if (r >= 3) {
            length += 3 * (r / 255) + (r % 255 ? 3 : 0);
        } else {
            length += r * (input[i] == 0 ? 2 : 1);
        }
        i = j;
    }
    return length;
}

std::size_t runPrepass(std::span<const std::uint8_t> input, std::uint8_t* output) {
    std::uint8_t* out = output;
    const std::size_t n = input.size();
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t x = input[i];
        std::size_t j = i + 1;
        while (j < n && input[j] == x) ++j;
        std::size_t r = j - i;
        if (r >= 3) {
            for (; r > 254; r -= 255) { *out++ = 0; *out++ = 255; *out++ = x; }
            if (r > 0) { *out++ = 0; *out++ = static_cast<std::uint8_t>(r); *out++ = x; }
        } else {
            for (; r > 0; --r) {
                *out++ = x;
                if (x == 0) *out++ = 0;
            }
        }
        i = j;
    }
    return static_cast<std::size_t>(out - output);
}

int undoRunPrepass(std::span<const std::uint8_t> coded, std::span<std::uint8_t> output, std::size_t& outputLength) {
    const std::uint8_t* in = coded.data();
    const std::size_t n = coded.size();
    const std::size_t capacity = output.size();
    std::uint8_t* out = output.data();
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < n) {
        const void* zero = std::memchr(in + i, 0, n - i);
        const std::size_t plain = (zero ? static_cast<const std::uint8_t*>(zero) - in : n) - i;
        if (plain > capacity - o) return 0;
        if (plain) std::memcpy(out + o, in + i, plain);
        o += plain;
        i += plain;
        if (i == n) break;
        if (n - i < 2) return 0; // an escape cut short
        const std::uint8_t r = in[i + 1];
        if (r == 0) {
            if (o == capacity) return 0;
            out[o++] = 0;
            i += 2;
            continue;
        }
        if (n - i < 3) return 0;
        if (r > capacity - o) return 0;
        std::memset(out + o, in[i + 2], r);
        o += r;
        i += 3;
    }
    outputLength = o;
    return 1;
}

// ---------------------------------------------------------------------------
// Compression

int compressStream(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength) {
    outputLength = 0;
    const std::size_t n = input.size();
    if (n == 0) return 1;
    if (n > kMaxStreamInput || !outputFits(n, output)) return 0;

    const std::size_t p = runPrepassLength(input);
    if (p > 0xFFFFFFFEu) { // positions must fit 32 bits: only the stored form can carry it
        outputLength = writeStored(input, output.data());
        return 1;
    }
    const auto p32 = static_cast<std::uint32_t>(p);

    // Work areas: the pre-pass bytes, the flags (one bit per token), the
    // literals, the match codes (each match takes fewer bits than 8 per byte
    // it covers, so p bytes hold them all) and the history lists.
    TrackedBuffer<std::uint8_t> prepass, flagBytes, literalBytes, matchBytes;
    HistoryLists lists;
    if (!prepass.allocate(p) || !flagBytes.allocate(p / 8 + 16) || !literalBytes.allocate(p) ||
        !matchBytes.allocate(p + 16))
        return 0;
    runPrepass(input, prepass.data());
    if (!lists.prepare(prepass.data(), p32)) return 0;

    Tokens tokens{PackedBitWriter(flagBytes.data(), flagBytes.size()), literalBytes.data(), 0,
                  PackedBitWriter(matchBytes.data(), matchBytes.size()), 0, 0};
    tokenize(prepass.data(), p32, lists, tokens);
    const std::uint64_t T = tokens.count;
    tokens.flags.finish();
    const std::uint64_t matchCodeBits = tokens.matchCodes.bitCount();
    tokens.matchCodes.finish();

    // Flags as run lengths when their codes take fewer bits than one per token.
    std::uint64_t runs = 0, runBits = 0;
    forEachFlagRun(flagBytes.data(), flagBytes.size(), T, [&](std::uint64_t length) {
        runBits += gammaSize(runCode(runs, length));
        ++runs;
    });
    const std::uint64_t runTotalBits = gammaSize(runs) + runBits;
    const bool useRuns = runBits < T && runTotalBits <= 0xFFFFFFFFu;
    const std::uint64_t matchTotalBits = gammaSize(tokens.matchCount) + matchCodeBits;

    const std::uint64_t flagPart = useRuns ? 4 + (runTotalBits + 7) / 8 : (T + 7) / 8;
    const std::uint64_t total = 9 + flagPart + 1 + tokens.literalCount + 1 + 4 + (matchTotalBits + 7) / 8;
    if (total > n || matchTotalBits > 0xFFFFFFFFu) { // equal is kept
        outputLength = writeStored(input, output.data());
        return 1;
    }

    std::uint8_t* out = output.data();
    putU32(out, p32);
    putU32(out + 4, static_cast<std::uint32_t>(T));
    out[8] = useRuns ? 1 : 0;
    std::size_t at = 9;
    if (useRuns) {
        putU32(out + at, static_cast<std::uint32_t>(runTotalBits));
        at += 4;
        PackedBitWriter writer(out + at, static_cast<std::size_t>((runTotalBits + 7) / 8));
        writer.putGamma(runs);
        std::uint64_t index = 0;
        forEachFlagRun(flagBytes.data(), flagBytes.size(), T,
                       [&](std::uint64_t length) { writer.putGamma(runCode(index++, length)); });
        at += writer.finish();
    } else {
        std::memcpy(out + at, flagBytes.data(), static_cast<std::size_t>((T + 7) / 8));
        at += static_cast<std::size_t>((T + 7) / 8);
    }
    out[at++] = kLiteralMarker;
    std::memcpy(out + at, literalBytes.data(), static_cast<std::size_t>(tokens.literalCount));
    at += static_cast<std::size_t>(tokens.literalCount);
    out[at++] = kMatchMarker;
    putU32(out + at, static_cast<std::uint32_t>(matchTotalBits));
    at += 4;
    PackedBitWriter writer(out + at, static_cast<std::size_t>((matchTotalBits + 7) / 8));
    writer.putGamma(tokens.matchCount);
    writer.putArray(matchBytes.data(), matchCodeBits);
    at += writer.finish();
    assert(at == total);
    outputLength = at;
    return 1;
}

// ---------------------------------------------------------------------------
// Expansion

namespace {

// The flag runs of a coded stream, raw or run-length coded, clipped to T
// flags. Runs alternate from a run of 0 flags.
class FlagRuns {
public:
    static FlagRuns raw(const std::uint8_t* bytes, std::size_t byteCount, std::uint64_t tokens) {
        FlagRuns f;
        f.rawBytes_ = bytes;
        f.rawByteCount_ = byteCount;
        f.tokens_ = tokens;
        return f;
    }
    static FlagRuns coded(PackedBitReader reader, std::uint64_t runCount, std::uint64_t tokens) {
        FlagRuns f;
        f.reader_ = reader;
        f.runCount_ = runCount;
        f.tokens_ = tokens;
        return f;
    }

    // The next run; false when T flags have been given or a code is bad
    // (failed() tells which).
    bool next(std::uint64_t& length, bool& match) {
        if (given_ >= tokens_) return false;
        match = (index_ & 1) != 0;
        if (rawBytes_) {
            length = runAt(rawBytes_, rawByteCount_, given_, tokens_, match);
        } else {
            std::uint64_t code;
            if (index_ >= runCount_ || !reader_.readGamma(code)) {
                failed_ = true;
                return false;
            }
            if (index_ == 0) length = code;
            else length = code == ~std::uint64_t{0} ? code : code + 1;
            length = std::min(length, tokens_ - given_);
        }
        ++index_;
        given_ += length;
        return true;
    }
    bool failed() const { return failed_; }
    // Reads the run codes that follow the T-th flag, so that every coded run is checked.
    bool readRest() {
        for (; index_ < runCount_; ++index_) {
            std::uint64_t code;
            if (!reader_.readGamma(code)) return false;
        }
        return true;
    }

private:
    FlagRuns() : reader_({}, 0) {}
    const std::uint8_t* rawBytes_ = nullptr;
    std::size_t rawByteCount_ = 0;
    PackedBitReader reader_;
    std::uint64_t runCount_ = 0;
    std::uint64_t tokens_ = 0;
    std::uint64_t index_ = 0;
    std::uint64_t given_ = 0;
    bool failed_ = false;
};

// A bounded cursor over the compressed bytes.
struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    bool take(std::size_t count, const std::uint8_t*& at) {
        if (count > size - pos) return false;
        at = data + pos;
        pos += count;
        return true;
    }
    bool byte(std::uint8_t& v) {
        const std::uint8_t* at;
        if (!take(1, at)) return false;
        v = *at;
        return true;
    }
    bool u32(std::uint32_t& v) {
        const std::uint8_t* at;
        if (!take(4, at)) return false;
        v = getU32(at);
        return true;
    }
};

// Copies one match into the rebuilt bytes, byte by byte where it overlaps itself.
void copyMatch(std::uint8_t* out, std::uint64_t written, std::uint64_t distance, std::uint64_t length) {
    std::uint8_t* to = out + written;
    const std::uint8_t* from = to - distance;
    if (distance >= length) {
        std::memcpy(to, from, static_cast<std::size_t>(length));
    } else {
        for (std::uint64_t t = 0; t < length; ++t) to[t] = from[t];
    }
}

} // namespace

int decompressStream(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength) {
    if (input.empty()) {
        outputLength = 0;
        return 1;
    }
    const std::uint64_t capacity = output.size();
    Cursor in{input.data(), input.size()};
    std::uint32_t size, tokens;
    if (!in.u32(size) || !in.u32(tokens)) return 0;

    if (tokens == 0) { // stored form
        const std::uint8_t* data;
        if (size > capacity || !in.take(size, data)) return 0;
        if (size) std::memcpy(output.data(), data, size);
        outputLength = size;
        return 1;
    }
    // No pre-pass of an output that fits is longer than 2 x capacity, and
    // every token yields at least one byte.
    if (size > 2 * capacity + 2 || tokens > size) return 0;

    std::uint8_t flagCoding;
    if (!in.byte(flagCoding)) return 0;
    std::uint64_t literalCount;
    FlagRuns runs = FlagRuns::raw(nullptr, 0, 0);
    if (flagCoding == 0) {
        const std::uint8_t* flags;
        const std::size_t flagBytes = (std::size_t{tokens} + 7) / 8;
        if (!in.take(flagBytes, flags)) return 0;
        std::uint64_t ones = 0;
        for (std::size_t j = 0; j + 1 < flagBytes; ++j) ones += static_cast<std::uint64_t>(std::popcount(flags[j]));
        const std::uint32_t lastBits = tokens - static_cast<std::uint32_t>((flagBytes - 1) * 8);
        ones += static_cast<std::uint64_t>(std::popcount(static_cast<std::uint32_t>(flags[flagBytes - 1] & ((1u << lastBits) - 1))));
        literalCount = tokens - ones;
        runs = FlagRuns::raw(flags, flagBytes, tokens);
    } else {
        std::uint32_t runBits;
        const std::uint8_t* runBytes;
        if (!in.u32(runBits) || !in.take((std::size_t{runBits} + 7) / 8, runBytes)) return 0;
        PackedBitReader reader({runBytes, (std::size_t{runBits} + 7) / 8}, runBits);
        std::uint64_t runCount;
        if (!reader.readGamma(runCount) || runCount > size) return 0;
        // First pass: check every run code and count the literals.
        FlagRuns counting = FlagRuns::coded(reader, runCount, tokens);
        std::uint64_t length, given = 0;
        bool match;
        literalCount = 0;
        while (counting.next(length, match)) {
            if (!match) literalCount += length;
            given += length;
        }
        if (counting.failed() || given != tokens || !counting.readRest()) return 0;
        runs = FlagRuns::coded(reader, runCount, tokens);
    }

    std::uint8_t marker;
    if (!in.byte(marker) || (literalCount > 0 && marker != kLiteralMarker)) return 0;
    const std::uint8_t* literals;
    if (!in.take(static_cast<std::size_t>(literalCount), literals)) return 0;

    if (!in.byte(marker)) return 0;
    PackedBitReader matchCodes({}, 0);
    std::uint64_t matchCount = 0;
    if (marker == kMatchMarker) {
        std::uint32_t matchBits;
        const std::uint8_t* matchBytes;
        if (!in.u32(matchBits) || !in.take((std::size_t{matchBits} + 7) / 8, matchBytes)) return 0;
        matchCodes = PackedBitReader({matchBytes, (std::size_t{matchBits} + 7) / 8}, matchBits);
        if (!matchCodes.readGamma(matchCount) || matchCount > size) return 0;
    }

    TrackedBuffer<std::uint8_t> rebuilt;
    if (!rebuilt.allocate(size)) return 0;
    std::uint8_t* const out = rebuilt.data();
    std::uint64_t written = 0;
    std::uint64_t length;
    bool match;
    while (runs.next(length, match)) {
        if (!match) {
            if (length > size - written) return 0;
            std::memcpy(out + written, literals, static_cast<std::size_t>(length));
            literals += length;
            written += length;
            continue;
        }
        for (std::uint64_t k = 0; k < length; ++k) {
            std::uint64_t distanceCode, lengthCode;
            if (matchCount == 0 || !matchCodes.readGamma(distanceCode) || !matchCodes.readGamma(lengthCode)) return 0;
            --matchCount;
            // distance = code + 1 must not reach before the start; length = code + 1 must fit size.
            if (distanceCode >= written || lengthCode >= size - written) return 0;
            copyMatch(out, written, distanceCode + 1, lengthCode + 1);
            written += lengthCode + 1;
        }
    }
    if (runs.failed() || written != size) return 0;
    return undoRunPrepass({out, size}, output, outputLength);
}

} // namespace vexel
