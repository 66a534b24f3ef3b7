#include "codec/compression.h"

#include "base/memdiag.h"
#include "base/operaciispamyatyu.h"
#include "codec/kodirovaniechisel.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexel {

namespace {

constexpr std::uint8_t kLiteralMarker = 2;
constexpr std::uint8_t kMatchMarker = 3;
constexpr std::uint32_t kHistoryDepth = 256; // positions kept per two-byte key
constexpr std::uint32_t kKeyCount = 65536;

std::uint64_t load64(const std::uint8_t* at) {
    std::uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
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
constexpr bool matchPaysByCodes(std::uint64_t distance, std::uint64_t length) {
    return gammaSize(distance - 1) + gammaSize(length - 1) + 1 < 8 * length;
}

// The same as a table: the farthest distance at which a match of length l
// pays (distances are below 2^32, where every match of 7 or more pays).
constexpr std::uint32_t kFarthestPaying[7] = {0, 7, 63, 4095, 131071, (1u << 25) - 1, (1u << 31) - 1};
static_assert([] {
    for (std::uint32_t l = 1; l < 7; ++l)
        if (!matchPaysByCodes(kFarthestPaying[l], l) || matchPaysByCodes(kFarthestPaying[l] + 1ull, l)) return false;
    return matchPaysByCodes(0xFFFFFFFFull, 7);
}());

bool matchPays(std::uint32_t distance, std::uint32_t length) {
    return length >= 7 || distance <= kFarthestPaying[length];
}

// The history lists. Each two-byte key has a ring of min(occurrences, 256)
// slots: the j-th position appended under a key sits in slot j mod 256, so
// a list's newest 256 positions are always at hand, and all rings together
// take at most one slot per pre-pass byte. Beside each position the ring
// keeps the four bytes after its pair, so most candidates are judged
// without reaching into the pre-pass bytes at random.
struct HistoryLists {
    TrackedBuffer<std::uint32_t> ringStart; // per key: its first slot
    TrackedBuffer<std::uint32_t> counts;    // per key: positions appended so far
    TrackedBuffer<std::uint32_t> lastPosition; // per key: the newest position appended
    TrackedBuffer<std::uint32_t> positions; // per slot
    TrackedBuffer<std::uint32_t> following; // per slot: P[position + 2 .. position + 5]

    bool prepare(const std::uint8_t* data, std::uint32_t length) {
        if (!ringStart.allocate(kKeyCount) || !counts.allocate(kKeyCount) || !lastPosition.allocate(kKeyCount))
            return false;
        for (std::uint32_t i = 0; i + 1 < length; ++i) ++counts[data[i] | data[i + 1] << 8];
        std::uint64_t total = 0;
        for (std::uint32_t key = 0; key < kKeyCount; ++key) {
            ringStart[key] = static_cast<std::uint32_t>(total);
            total += std::min(counts[key], kHistoryDepth);
            counts[key] = 0;
        }
        const auto slots = static_cast<std::size_t>(total) + 4;
        return positions.allocate(slots) && following.allocate(slots);
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

std::uint32_t load32(const std::uint8_t* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// The low n bytes of a word (n <= 4).
std::uint32_t byteMask(std::uint32_t n) { return n >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * n)) - 1; }

// The token search over the pre-pass bytes P of length p (P holds 8 zero
// bytes past p). The walk for position i: a candidate c starts two bytes
// back; while P[c], P[c+1] equal the key it is measured and c steps back
// one byte; otherwise c jumps to the next older position of the key's
// list, ending when the list is used up. A match never reaches i and never
// passes the end; a candidate wins only with a strictly longer match that
// pays (matchPays).
class MatchFinder {
public:
    MatchFinder(const std::uint8_t* P, std::uint32_t p, HistoryLists& lists)
        : P_(P), p_(p), ringStart_(lists.ringStart.data()), counts_(lists.counts.data()),
          positions_(lists.positions.data()), following_(lists.following.data()),
          lastPosition_(lists.lastPosition.data()) {}

    static std::uint32_t keyAt(const std::uint8_t* at) { return at[0] | at[1] << 8; }

    // Appends pos (at most p - 2) to its key's list; returns the ring start
    // and the ordinal of the new entry.
    std::uint32_t append(std::uint32_t pos, std::uint32_t& ring) {
        const std::uint32_t key = keyAt(P_ + pos);
        ring = ringStart_[key];
        const std::uint32_t ordinal = counts_[key]++;
        newest_ = lastPosition_[key];
        lastPosition_[key] = pos;
        positions_[ring + ordinal % kHistoryDepth] = pos;
        following_[ring + ordinal % kHistoryDepth] = load32(P_ + pos + 2);
        return ordinal;
    }

    // Brings the newest slots of the key at pos (at most p - 2) towards the cache.
    void prefetch(std::uint32_t pos) const {
        const std::uint32_t key = keyAt(P_ + pos);
        const std::size_t slot = ringStart_[key] + counts_[key] % kHistoryDepth;
        __builtin_prefetch(positions_ + slot);
        __builtin_prefetch(following_ + slot);
    }

    // Appends i and finds its best match; returns its length (0 or 1: none).
    std::uint32_t search(std::uint32_t i, std::uint32_t& best) {
        std::uint32_t ring;
        const std::uint32_t ordinal = append(i, ring);
        if (i < 2) return 0;
        // i's index in its list: how many older entries the walk may jump to.
        const std::uint32_t h = std::min<std::uint32_t>(ordinal, kHistoryDepth - 1);
        Search s{i, p_ - i, load32(P_ + i + 2), 0, 0};
        // The walk's first visits, in order, are the list's entries from the
        // newest to the oldest: stepping back one byte from a position c of
        // the key stays on the key only when c - 1 is the key's previous
        // position, which is the list's next older entry anyway (the walk
        // meets it again on its next jump, and a second visit changes
        // nothing: a candidate wins only with a strictly longer match). The
        // one exception is a run of the key reaching down from the oldest
        // entry past the list: those positions come last.
        if (!scanRing(s, ring, ordinal, h, i - newest_) && h == kHistoryDepth - 1 && P_[i] == P_[i + 1])
            walkBelowList(s, positions_[ring + (ordinal - h) % kHistoryDepth]);
        best = s.best;
        return s.bestLength;
    }

private:
    struct Search {
        std::uint32_t i;
        std::uint32_t maxLength; // p - i
        std::uint32_t after;     // P[i + 2 .. i + 5]
        std::uint32_t bestLength;
        std::uint32_t best;
        // The shortest match that can still pay: entries come ever farther
        // back, and the farther a match, the longer it must be to pay.
        std::uint32_t payingLength = 2;
    };

    // The shortest match length that pays at a distance (7 pays at any).
    static std::uint32_t shortestPaying(std::uint32_t distance) {
        std::uint32_t l = 2;
        while (l < 7 && distance > kFarthestPaying[l]) ++l;
        return l;
    }

    // Weighs candidate c with its length l; true when nothing can be longer now.
    static bool weigh(Search& s, std::uint32_t c, std::uint32_t l) {
        if (l <= s.bestLength || !matchPays(s.i - c, l)) return false;
        s.bestLength = l;
        s.best = c;
        return l == s.maxLength;
    }

    // Weighs the list entry in slot; true when the search is over.
    bool weighSlot(Search& s, std::size_t slot) const {
        const std::uint32_t c = positions_[slot];
        s.payingLength = shortestPaying(s.i - c);
        const std::uint32_t room = std::min(s.i - c, s.maxLength);
        if (room <= s.bestLength) return false;
        const std::uint32_t differ = following_[slot] ^ s.after;
        std::uint32_t l;
        if (differ != 0) { // the match ends inside the known bytes: the pair and those after it
            l = std::min(2 + static_cast<std::uint32_t>(std::countr_zero(differ)) / 8, room);
        } else if (room <= 6) {
            l = room;
        } else {
            if (P_[c + s.bestLength] != P_[s.i + s.bestLength]) return false;
            l = 6 + commonLength(P_ + c + 6, P_ + s.i + 6, room - 6);
        }
        return weigh(s, c, l);
    }

    // Picks out the list entries that may beat the best so far (a superset)
    // by the bytes after their pair: a match of length L needs L - 2 of
    // them to agree, and L must exceed the best and pay at the distance
    // reached (at least 3: two-byte matches that pay lie within 63 bytes
    // and are weighed before any filtering).
    class Filter {
    public:
        explicit Filter(const Search& s) {
            const std::uint32_t longer = std::max(s.bestLength + 1, s.payingLength);
            const std::uint32_t need = std::clamp(longer, 3u, 6u) - 2;
            mask_ = byteMask(need);
            after_ = s.after & mask_;
#if defined(__SSE2__)
            maskV_ = _mm_set1_epi32(static_cast<int>(mask_));
            afterV_ = _mm_set1_epi32(static_cast<int>(after_));
#endif
        }
        // Bit t: entry t of the four at following.
        std::uint32_t test(const std::uint32_t* following) const {
#if defined(__SSE2__)
            const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(following));
            const __m128i hit = _mm_cmpeq_epi32(_mm_and_si128(f, maskV_), afterV_);
            return static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(hit)));
#else
            std::uint32_t hits = 0;
            for (std::uint32_t t = 0; t < 4; ++t)
                if ((following[t] & mask_) == after_) hits |= 1u << t;
            return hits;
#endif
        }

    private:
        std::uint32_t mask_, after_;
#if defined(__SSE2__)
        __m128i maskV_, afterV_;
#endif
    };

    // Visits the slots hi, hi - 1, ..., lo of a ring; true when the search is over.
    bool scanSlots(Search& s, std::size_t lo, std::size_t hi) const {
        std::size_t end = hi + 1;
        while (end >= lo + 4) {
            const Filter filter(s);
            std::size_t group;
            std::uint32_t hits = 0;
            do { // the common case: four entries none of which can win
                group = end - 4;
                hits = filter.test(following_ + group);
                end = group;
            } while (hits == 0 && end >= lo + 4);
            while (hits) { // newest first
                const std::uint32_t t = 31 - static_cast<std::uint32_t>(std::countl_zero(hits));
                hits &= ~(1u << t);
                if (weighSlot(s, group + t)) return true;
            }
        }
        while (end > lo)
            if (weighSlot(s, --end)) return true;
        return false;
    }

    // Visits the list's entries from the newest to the oldest; true when the search is over.
    bool scanRing(Search& s, std::uint32_t ring, std::uint32_t ordinal, std::uint32_t h, std::uint32_t gap) const {
        // Entries within 63 bytes come first (the list ascends): weigh them one
        // by one. The newest entry is i - gap, where gap is known without
        // reaching into the ring.
        std::uint32_t k = 1;
        for (; k <= h && gap <= 63; ++k) {
            const std::size_t slot = ring + (ordinal - k) % kHistoryDepth;
            if (positions_[slot] + 63 < s.i) break;
            if (weighSlot(s, slot)) return true;
        }
        if (k > h) return false;
        s.payingLength = std::max(s.payingLength, 3u);
        // Ask for every line of the rest at once rather than one miss at a time.
        const std::uint32_t used = std::min(ordinal, kHistoryDepth);
        for (std::uint32_t j = 0; j < used; j += 16) __builtin_prefetch(following_ + ring + j);
        const std::uint32_t newest = (ordinal - k) % kHistoryDepth;
        const std::uint32_t oldest = (ordinal - h) % kHistoryDepth;
        if (oldest <= newest) return scanSlots(s, ring + oldest, ring + newest);
        // The ring wraps.
        return scanSlots(s, ring, ring + newest) || scanSlots(s, ring + oldest, ring + kHistoryDepth - 1);
    }

    // Keys of two equal bytes x, x whose run reaches past the oldest entry
    // of a full list: the walk steps on down through it.
    void walkBelowList(Search& s, std::uint32_t oldest) const {
        const std::uint32_t i = s.i;
        const std::uint8_t x = P_[i];
        for (std::int64_t c = static_cast<std::int64_t>(oldest) - 1; c >= 0 && P_[c] == x && P_[c + 1] == x; --c) {
            const auto candidate = static_cast<std::uint32_t>(c);
            const std::uint32_t room = std::min(i - candidate, s.maxLength);
            if (s.bestLength < room && P_[candidate + s.bestLength] == P_[i + s.bestLength]) {
                if (weigh(s, candidate, commonLength(P_ + candidate, P_ + i, room))) break;
            }
        }
    }

    const std::uint8_t* P_;
    std::uint32_t p_;
    const std::uint32_t* ringStart_;
    std::uint32_t* counts_;
    std::uint32_t* positions_;
    std::uint32_t* following_;
    std::uint32_t* lastPosition_; // per key: the newest position appended
    std::uint32_t newest_ = 0;    // the key's newest position before the last append
};

void tokenize(const std::uint8_t* P, std::uint32_t p, HistoryLists& lists, Tokens& out) {
    MatchFinder finder(P, p, lists);
    std::uint32_t i = 0;
    while (i < p) {
        ++out.count;
        std::uint32_t best = 0, length = 0;
        if (i + 2 < p) finder.prefetch(i + 1); // the next search, should this token be a literal
        // The last byte has no pair: no match can start there.
        if (i + 1 < p) length = finder.search(i, best);
        if (length < 2) {
            out.flags.putStored(0, 1);
            out.literals[out.literalCount++] = P[i];
            ++i;
            continue;
        }
        out.flags.putStored(1, 1);
        out.matchCodes.putGamma(i - best - 1);
        out.matchCodes.putGamma(length - 1);
        ++out.matchCount;
        std::uint32_t ring;
        if (i + length + 1 < p) finder.prefetch(i + length); // the next search
        const std::uint32_t last = std::min(i + length, p - 1); // positions up to p - 2 have a key
        for (std::uint32_t pos = i + 1; pos < last; ++pos) {
            if (pos + 8 < last) finder.prefetch(pos + 8);
            finder.append(pos, ring);
        }
        i += length;
    }
}

// Writes the stored form; output holds input.size() + 8 bytes.
std::size_t writeStored(std::span<const std::uint8_t> input, std::uint8_t* output) {
    storeU32(output, static_cast<std::uint32_t>(input.size()));
    storeU32(output + 4, 0);
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

namespace {

// Flags the zero bytes of v; the lowest flag is exact (higher ones may not be).
std::uint64_t zeroBytes(std::uint64_t v) { return (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull; }

// The first position k >= i where a zero byte or a run of three equal bytes
// starts, or n.
std::size_t nextRunOrZero(const std::uint8_t* in, std::size_t i, std::size_t n) {
    for (; i + 10 <= n; i += 8) {
        const std::uint64_t a = load64(in + i), b = load64(in + i + 1), c = load64(in + i + 2);
        const std::uint64_t flags = zeroBytes(a) | zeroBytes((a ^ b) | (b ^ c));
        if (flags) return i + static_cast<std::size_t>(std::countr_zero(flags)) / 8;
    }
    for (; i < n; ++i)
        if (in[i] == 0 || (i + 2 < n && in[i] == in[i + 1] && in[i] == in[i + 2])) return i;
    return n;
}

// Length of the run of in[k] from k.
std::size_t runLength(const std::uint8_t* in, std::size_t k, std::size_t n) {
    const std::uint64_t pattern = in[k] * 0x0101010101010101ull;
    std::size_t j = k + 1;
    for (; j + 8 <= n; j += 8) {
        const std::uint64_t differ = load64(in + j) ^ pattern;
        if (differ) return j + static_cast<std::size_t>(std::countr_zero(differ)) / 8 - k;
    }
    while (j < n && in[j] == in[k]) ++j;
    return j - k;
}

// The pre-pass, writing to out when it is given. Between runs of three or
// more and zero bytes every byte stands for itself, so such stretches are
// found a word at a time and copied whole.
template <bool kWrite>
std::size_t prepassOf(std::span<const std::uint8_t> input, std::uint8_t* out) {
    const std::uint8_t* in = input.data();
    const std::size_t n = input.size();
    std::size_t length = 0;
    for (std::size_t i = 0; i < n;) {
        const std::size_t k = nextRunOrZero(in, i, n);
        if (kWrite && k > i) std::memcpy(out + length, in + i, k - i);
        length += k - i;
        if (k == n) break;
        const std::uint8_t x = in[k];
        std::size_t r = runLength(in, k, n);
        i = k + r;
        if (r >= 3) {
            for (; r > 254; r -= 255, length += 3)
                if (kWrite) { out[length] = 0; out[length + 1] = 255; out[length + 2] = x; }
            if (r > 0) {
                if (kWrite) { out[length] = 0; out[length + 1] = static_cast<std::uint8_t>(r); out[length + 2] = x; }
                length += 3;
            }
        } else { // one or two zeros: each escaped
            for (; r > 0; --r, length += 2)
                if (kWrite) { out[length] = 0; out[length + 1] = 0; }
        }
    }
    return length;
}

} // namespace

std::size_t runPrepassLength(std::span<const std::uint8_t> input) { return prepassOf<false>(input, nullptr); }

std::size_t runPrepass(std::span<const std::uint8_t> input, std::uint8_t* output) {
    return prepassOf<true>(input, output);
}

int undoRunPrepass(std::span<const std::uint8_t> coded, std::span<std::uint8_t> output, std::size_t& outputLength) {
    const std::uint8_t* in = coded.data();
    const std::size_t n = coded.size();
    const std::size_t capacity = output.size();
    std::uint8_t* out = output.data();
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < n) {
        if (in[i] != 0) { // bytes that stand for themselves, a word at a time where there is room
            if (n - i >= 8 && capacity - o >= 8) {
                const std::uint64_t word = load64(in + i);
                const std::uint64_t zeros = zeroBytes(word);
                const std::size_t plain = zeros ? static_cast<std::size_t>(std::countr_zero(zeros)) / 8 : 8;
                std::memcpy(out + o, &word, 8); // bytes past `plain` are written again later
                o += plain;
                i += plain;
                continue;
            }
            if (o == capacity) return 0;
            out[o++] = in[i++];
            continue;
        }
        if (n - i < 2) return 0; // an escape cut short
        const std::uint8_t r = in[i + 1];
        if (r == 0) {
            if (o == capacity) return 0;
            out[o++] = 0;
            i += 2;
            continue;
        }
        if (n - i < 3 || r > capacity - o) return 0;
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
    if (!prepass.allocate(p + 8) || !flagBytes.allocate(p / 8 + 16) || !literalBytes.allocate(p) ||
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
    storeU32(out, p32);
    storeU32(out + 4, static_cast<std::uint32_t>(T));
    out[8] = useRuns ? 1 : 0;
    std::size_t at = 9;
    if (useRuns) {
        storeU32(out + at, static_cast<std::uint32_t>(runTotalBits));
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
    storeU32(out + at, static_cast<std::uint32_t>(matchTotalBits));
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
        v = loadU32(at);
        return true;
    }
};

// Copies one match into the rebuilt bytes, byte by byte where it overlaps
// itself closer than a word. The rebuilt area has kCopySlack bytes past its
// end, so short copies may run a word long (what they overwrite past the
// match is written again later or never read).
constexpr std::size_t kCopySlack = 16;

void copyMatch(std::uint8_t* out, std::uint64_t written, std::uint64_t distance, std::uint64_t length) {
    std::uint8_t* to = out + written;
    const std::uint8_t* from = to - distance;
    if (distance >= 8) {
        if (length <= 16) {
            const std::uint64_t head = load64(from);
            std::memcpy(to, &head, 8);
            if (length > 8) { // read after the first word is written: it may be part of the source
                const std::uint64_t tail = load64(from + 8);
                std::memcpy(to + 8, &tail, 8);
            }
            return;
        }
        if (distance >= length) {
            std::memcpy(to, from, static_cast<std::size_t>(length));
            return;
        }
        for (std::uint64_t t = 0; t < length; t += 8) std::memcpy(to + t, from + t, 8); // runs of period >= 8
        return;
    }
    for (std::uint64_t t = 0; t < length; ++t) to[t] = from[t];
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
    if (!rebuilt.allocate(std::size_t{size} + kCopySlack)) return 0;
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
