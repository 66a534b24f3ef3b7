// The stream compressor written as plainly as the format allows: 65,536
// history lists of at most 256 positions each (the oldest dropped when a list
// is full), the candidate walk step by step, bits held one per byte and
// written with writeCode, then packed with packBits. compressStream must
// produce exactly these bytes; tests compare the two.
#include "base/memdiag.h"
#include "base/operaciispamyatyu.h"
#include "codec/compression.h"
#include "codec/kodirovaniechisel.h"

#include <cstring>

namespace vexel {

namespace {

constexpr std::uint32_t kDepth = 256;

struct Lists {
    TrackedBuffer<std::uint32_t> entries; // 65,536 lists of 256
    TrackedBuffer<std::uint32_t> counts;  // entries in use per list

    bool allocate() { return entries.allocate(std::size_t{65536} * kDepth) && counts.allocate(65536); }

    // Appends pos to the key's list and returns its index there.
    std::uint32_t append(std::uint32_t key, std::uint32_t pos) {
        std::uint32_t* list = entries.data() + std::size_t{key} * kDepth;
        std::uint32_t& count = counts[key];
        if (count == kDepth) { // drop the oldest
            std::memmove(list, list + 1, (kDepth - 1) * sizeof(std::uint32_t));
            --count;
        }
        list[count] = pos;
        return count++;
    }
    std::uint32_t at(std::uint32_t key, std::uint32_t h) const { return entries[std::size_t{key} * kDepth + h]; }
};

// Writes the codes of values into a bit array (one bit per byte), then packs it.
struct BitArray {
    TrackedBuffer<std::uint8_t> bits;
    std::size_t used = 0;

    bool allocate(std::size_t n) { return bits.allocate(n == 0 ? 1 : n); }
    void put(std::uint64_t value) {
        used += writeCode(kUnsignedGamma, {bits.data() + used, bits.size() - used}, value);
    }
};

} // namespace

int compressStreamReference(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& outputLength) {
    outputLength = 0;
    const std::size_t n = input.size();
    if (n == 0) return 1;
    if (n > kMaxStreamInput || output.size() < compressedBound(n)) return 0;
    const std::size_t p = runPrepassLength(input);
    if (p > 0xFFFFFFFEu) return 0; // the reference is meant for test inputs

    TrackedBuffer<std::uint8_t> P, flags, literals;
    TrackedBuffer<std::uint32_t> matches; // distance, length pairs
    Lists lists;
    if (!P.allocate(p + 1) || !flags.allocate(p) || !literals.allocate(p) || !matches.allocate(p + 2) ||
        !lists.allocate())
        return 0;
    runPrepass(input, P.data()); // P[p] stays 0: the byte after the last, read as the key's high byte

    std::size_t T = 0, L = 0, matchCount = 0;
    std::uint32_t i = 0;
    while (i < p) {
        auto keyOf = [&](std::uint32_t pos) { return pos + 1 < p ? P[pos] + 256u * P[pos + 1] : std::uint32_t{P[pos]}; };
        std::uint32_t key = keyOf(i);
        std::uint32_t h = lists.append(key, i);
        std::uint32_t b = 0, best = 0;
        std::int64_t c = static_cast<std::int64_t>(i) - 2;
        while (c >= 0) {
            if (P[c] != P[i] || P[c + 1] != P[i + 1]) {
                if (h == 0) break;
                do {
                    --h;
                    c = lists.at(key, h);
                } while (h > 0 && c >= i);
                if (c >= i) c = static_cast<std::int64_t>(i) - 1;
                if (c < 0) c = 0;
            }
            std::uint32_t l = 0;
            if (P[c] == P[i]) {
                while (i + l < p && c + l < i && P[c + l] == P[i + l]) ++l;
            }
            if (l > b && codeSize(kUnsignedGamma, i - c - 1) + codeSize(kUnsignedGamma, l - 1) + 1 < 8u * l) {
                b = l;
                best = static_cast<std::uint32_t>(c);
            }
            --c;
        }
        if (b < 2) {
            flags[T++] = 0;
            literals[L++] = P[i];
            ++i;
        } else {
            flags[T++] = 1;
            matches[2 * matchCount] = i - best;
            matches[2 * matchCount + 1] = b;
            ++matchCount;
            for (std::uint32_t t = 1; t < b; ++t) lists.append(keyOf(i + t), i + t);
            i += b;
        }
    }

    // Flag runs and their codes.
    TrackedBuffer<std::uint64_t> runs;
    if (!runs.allocate(T + 1)) return 0;
    std::size_t runCount = 0;
    std::uint64_t runCost = 0;
    {
        std::size_t t = 0;
        std::uint8_t value = 0;
        while (t < T) {
            std::size_t length = 0;
            while (t + length < T && flags[t + length] == value) ++length;
            runs[runCount] = runCount == 0 ? length : length - 1;
            runCost += codeSize(kUnsignedGamma, runs[runCount]);
            ++runCount;
            t += length;
            value ^= 1;
        }
    }
    const bool useRuns = runCost < T;

    BitArray runBits, matchBits;
    if (!runBits.allocate(runCost + kMaxCodeBits) || !matchBits.allocate(kMaxCodeBits * (2 * matchCount + 1))) return 0;
    if (useRuns) {
        runBits.put(runCount);
        for (std::size_t j = 0; j < runCount; ++j) runBits.put(runs[j]);
    }
    matchBits.put(matchCount);
    for (std::size_t j = 0; j < matchCount; ++j) {
        matchBits.put(matches[2 * j] - 1);
        matchBits.put(matches[2 * j + 1] - 1);
    }

    const std::size_t flagPart = useRuns ? 4 + (runBits.used + 7) / 8 : (T + 7) / 8;
    const std::size_t total = 9 + flagPart + 1 + L + 1 + 4 + (matchBits.used + 7) / 8;
    std::uint8_t* out = output.data();
    if (total > n) {
        storeU32(out, static_cast<std::uint32_t>(n));
        storeU32(out + 4, 0);
        std::memcpy(out + 8, input.data(), n);
        outputLength = n + 8;
        return 1;
    }
    storeU32(out, static_cast<std::uint32_t>(p));
    storeU32(out + 4, static_cast<std::uint32_t>(T));
    out[8] = useRuns ? 1 : 0;
    std::size_t at = 9;
    if (useRuns) {
        storeU32(out + at, static_cast<std::uint32_t>(runBits.used));
        packBits({runBits.bits.data(), runBits.used}, out + at + 4);
        at += 4 + (runBits.used + 7) / 8;
    } else {
        packBits({flags.data(), T}, out + at);
        at += (T + 7) / 8;
    }
    out[at++] = 2;
    std::memcpy(out + at, literals.data(), L);
    at += L;
    out[at++] = 3;
    storeU32(out + at, static_cast<std::uint32_t>(matchBits.used));
    packBits({matchBits.bits.data(), matchBits.used}, out + at + 4);
    at += 4 + (matchBits.used + 7) / 8;
    outputLength = at;
    return 1;
}

} // namespace vexel
