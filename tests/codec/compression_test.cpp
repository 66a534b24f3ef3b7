#include "codec/compression.h"
#include "codec/kodirovaniechisel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes compress(const Bytes& input) {
    Bytes out(compressedBound(input.size()));
    std::size_t length = 12345;
    EXPECT_EQ(compressStream(input, out, length), 1);
    out.resize(length);
    return out;
}

Bytes compressReference(const Bytes& input) {
    Bytes out(compressedBound(input.size()));
    std::size_t length = 12345;
    EXPECT_EQ(compressStreamReference(input, out, length), 1);
    out.resize(length);
    return out;
}

// Expands with the given capacity; false when decompressStream refuses.
bool expand(const Bytes& stream, std::size_t capacity, Bytes& out) {
    out.assign(capacity, 0xEE);
    std::size_t length = 0;
    if (decompressStream(stream, out, length) != 1) return false;
    out.resize(length);
    return true;
}

Bytes prepass(const Bytes& input) {
    Bytes out(2 * input.size() + 3);
    out.resize(runPrepass(input, out.data()));
    EXPECT_EQ(out.size(), runPrepassLength(input));
    return out;
}

Bytes repeat(std::uint8_t x, std::size_t n) { return Bytes(n, x); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The tokens of a coded stream, read independently of decompressStream.
struct Decoded {
    std::uint32_t size = 0, tokens = 0;
    bool runLengthFlags = false;
    Bytes flags; // one per token
    Bytes literals;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> matches; // distance, length
};

Decoded parseCoded(const Bytes& s) {
    auto u32 = [&](std::size_t at) { std::uint32_t v; std::memcpy(&v, s.data() + at, 4); return v; };
    Decoded d;
    d.size = u32(0);
    d.tokens = u32(4);
    EXPECT_NE(d.tokens, 0u);
    d.runLengthFlags = s[8] != 0;
    std::size_t at = 9;
    if (!d.runLengthFlags) {
        for (std::uint32_t t = 0; t < d.tokens; ++t) d.flags.push_back((s[at + t / 8] >> (t % 8)) & 1);
        at += (d.tokens + 7) / 8;
    } else {
        const std::uint32_t r = u32(at);
        PackedBitReader reader({s.data() + at + 4, (r + 7) / 8}, r);
        std::uint64_t runs, run;
        EXPECT_TRUE(reader.readGamma(runs));
        for (std::uint64_t j = 0; j < runs; ++j) {
            EXPECT_TRUE(reader.readGamma(run));
            const std::uint64_t length = j == 0 ? run : run + 1;
            for (std::uint64_t k = 0; k < length; ++k) d.flags.push_back(j % 2);
        }
        at += 4 + (r + 7) / 8;
    }
    const std::size_t literalCount = static_cast<std::size_t>(std::count(d.flags.begin(), d.flags.end(), 0));
    EXPECT_EQ(s[at], 2);
    d.literals.assign(s.begin() + static_cast<std::ptrdiff_t>(at + 1),
                      s.begin() + static_cast<std::ptrdiff_t>(at + 1 + literalCount));
    at += 1 + literalCount;
    EXPECT_EQ(s[at], 3);
    const std::uint32_t m = u32(at + 1);
    PackedBitReader reader({s.data() + at + 5, (m + 7) / 8}, m);
    std::uint64_t count, distance, length;
    EXPECT_TRUE(reader.readGamma(count));
    for (std::uint64_t j = 0; j < count; ++j) {
        EXPECT_TRUE(reader.readGamma(distance));
        EXPECT_TRUE(reader.readGamma(length));
        d.matches.emplace_back(distance + 1, length + 1);
    }
    EXPECT_EQ(at + 5 + (m + 7) / 8, s.size());
    return d;
}

Bytes distinctBytes(std::uint8_t first, std::size_t n) {
    Bytes b;
    for (std::size_t j = 0; j < n; ++j) b.push_back(static_cast<std::uint8_t>(first + j));
    return b;
}

// Payload-like test data: smooth stretches, repeats of earlier bytes, noise, zeros.
Bytes mixedData(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b;
    while (b.size() < n) {
        switch (random() % 5) {
        case 0: { // smooth
            int v = static_cast<int>(random() % 256);
            for (int k = static_cast<int>(random() % 300); k > 0; --k) {
                v = std::clamp(v + static_cast<int>(random() % 5) - 2, 0, 255);
                b.push_back(static_cast<std::uint8_t>(v));
            }
            break;
        }
        case 1: // repeat
            if (b.size() > 10) {
                const std::size_t from = random() % b.size();
                const std::size_t length = std::min<std::size_t>(random() % 200, b.size() - from);
                for (std::size_t k = 0; k < length; ++k) b.push_back(b[from + k]);
            }
            break;
        case 2: // noise
            for (int k = static_cast<int>(random() % 100); k > 0; --k) b.push_back(static_cast<std::uint8_t>(random()));
            break;
        case 3: // runs, zeros among them
            b.insert(b.end(), random() % 40, static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : random()));
            break;
        default: // lone zeros between small values
            for (int k = static_cast<int>(random() % 30); k > 0; --k) b.push_back(static_cast<std::uint8_t>(random() % 3));
            break;
        }
    }
    b.resize(n);
    return b;
}

// ---------------------------------------------------------------------------

TEST(RunPrepass, EscapesZerosAndFoldsRuns) {
    EXPECT_EQ(prepass(repeat('x', 300)), (Bytes{0, 255, 'x', 0, 45, 'x'}));
    EXPECT_EQ(prepass({0}), (Bytes{0, 0}));
    EXPECT_EQ(prepass({0, 0}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(prepass({0, 0, 0}), (Bytes{0, 3, 0}));
    EXPECT_EQ(prepass({7, 7}), (Bytes{7, 7}));
    EXPECT_EQ(prepass({7, 7, 7}), (Bytes{0, 3, 7}));
    EXPECT_EQ(prepass(repeat('x', 254)), (Bytes{0, 254, 'x'}));
    EXPECT_EQ(prepass(repeat('x', 255)), (Bytes{0, 255, 'x'}));
    EXPECT_EQ(prepass(repeat('x', 256)), (Bytes{0, 255, 'x', 0, 1, 'x'}));
    EXPECT_EQ(prepass(repeat('x', 257)), (Bytes{0, 255, 'x', 0, 2, 'x'}));
    EXPECT_EQ(prepass(repeat('x', 509)), (Bytes{0, 255, 'x', 0, 254, 'x'}));
    EXPECT_EQ(prepass({1, 0, 2, 2, 2, 2, 0, 0}), (Bytes{1, 0, 0, 0, 4, 2, 0, 0, 0, 0}));
}

// The pre-pass as the table states it, one maximal run at a time.
Bytes plainPrepass(const Bytes& in) {
    Bytes out;
    for (std::size_t i = 0; i < in.size();) {
        std::size_t j = i;
        while (j < in.size() && in[j] == in[i]) ++j;
        std::size_t r = j - i;
        if (r >= 3) {
            for (; r > 254; r -= 255) out.insert(out.end(), {0, 255, in[i]});
            if (r > 0) out.insert(out.end(), {0, static_cast<std::uint8_t>(r), in[i]});
        } else {
            for (; r > 0; --r) {
                out.push_back(in[i]);
                if (in[i] == 0) out.push_back(0);
            }
        }
        i = j;
    }
    return out;
}

TEST(RunPrepass, MatchesTheTableOnRunsOfEveryLengthAndPlace) {
    std::mt19937 random(17);
    for (int round = 0; round < 400; ++round) {
        Bytes in;
        const std::size_t n = random() % 700;
        while (in.size() < n) {
            const std::uint8_t x = random() % 3 == 0 ? 0 : static_cast<std::uint8_t>(random() % 4);
            in.insert(in.end(), random() % 4 == 0 ? random() % 600 : 1 + random() % 3, x);
        }
        ASSERT_EQ(prepass(in), plainPrepass(in)) << round;
    }
}

TEST(RunPrepass, IsUndoneExactlyAndRefusesCutEscapesOrOverflow) {
    for (unsigned seed = 0; seed < 20; ++seed) {
        const Bytes input = mixedData(5000, seed);
        const Bytes coded = prepass(input);
        Bytes out(input.size());
        std::size_t length = 0;
        ASSERT_EQ(undoRunPrepass(coded, out, length), 1);
        out.resize(length);
        EXPECT_EQ(out, input);
        // One byte less room than needed.
        Bytes small(input.size() - 1);
        EXPECT_EQ(undoRunPrepass(coded, small, length), 0);
    }
    Bytes out(100);
    std::size_t length;
    EXPECT_EQ(undoRunPrepass(Bytes{5, 0}, out, length), 0);
    EXPECT_EQ(undoRunPrepass(Bytes{5, 0, 9}, out, length), 0);
    ASSERT_EQ(undoRunPrepass(Bytes{5, 0, 9, 1}, out, length), 1);
    EXPECT_EQ(length, 10u);
}

TEST(CompressStream, EmptyInAndEmptyOut) {
    Bytes out(8, 0xAA);
    std::size_t length = 99;
    EXPECT_EQ(compressStream({}, out, length), 1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(out[0], 0xAA);
    Bytes expanded;
    ASSERT_TRUE(expand({}, 10, expanded));
    EXPECT_TRUE(expanded.empty());
}

TEST(CompressStream, TinyInputsComeOutStored) {
    EXPECT_EQ(compress({'a', 'b', 'c'}), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(compress({0}), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (std::size_t n = 1; n < 16; ++n) {
        const Bytes in = repeat(9, n);
        const Bytes out = compress(in);
        EXPECT_EQ(out.size(), n + 8) << n;
        EXPECT_EQ(out[4] | out[5] | out[6] | out[7], 0) << n;
    }
}

// Hand-computed: "abcd" x 8 gives four literals and matches (4, 4), (8, 8),
// (16, 16); seven raw flag bits 0000111 beat their run-length codes (5 + 4
// bits >= 7); match codes 1 0 1 0 0 | 10100 x 2 | 11000000 x 2 | 110010000 x 2.
TEST(CompressStream, MatchesTheHandComputedRawFlagStream) {
    Bytes input;
    for (int j = 0; j < 8; ++j) input.insert(input.end(), {'a', 'b', 'c', 'd'});
    const Bytes expected = {0x20, 0, 0, 0, 7, 0, 0, 0, 0, 0x70, 2, 'a', 'b', 'c', 'd', 3, 49, 0, 0, 0,
                            0xA5, 0x94, 0x81, 0x81, 0x09, 0x13, 0x00};
    EXPECT_EQ(compress(input), expected);
    EXPECT_EQ(compressReference(input), expected);
}

// Hand-computed: 40 distinct bytes then the same 40 again: 40 literals and
// one match (40, 40). Runs 40 and 1 code as 1101001001 and 0 (11 bits < 41
// flags), so the flags are run lengths: R = 1001 + 11 bits = 15.
TEST(CompressStream, MatchesTheHandComputedRunLengthStream) {
    const Bytes head = distinctBytes(1, 40);
    const Bytes input = concat({head, head});
    Bytes expected = {80, 0, 0, 0, 41, 0, 0, 0, 1, 15, 0, 0, 0, 0xB9, 0x24, 2};
    expected.insert(expected.end(), head.begin(), head.end());
    expected.insert(expected.end(), {3, 24, 0, 0, 0, 0xB1, 0xC4, 0x12});
    EXPECT_EQ(compress(input), expected);
    EXPECT_EQ(compressReference(input), expected);
    Bytes out;
    ASSERT_TRUE(expand(expected, input.size(), out));
    EXPECT_EQ(out, input);
}

// 40 distinct bytes and a repeat of the first 24 code to exactly 64 bytes,
// the input's own length: the coded form is kept. With a repeat of 23 the
// coded form would be 64 bytes for 63 input bytes: stored.
TEST(CompressStream, KeepsTheCodedFormWhenItIsExactlyAsLongAsTheInput) {
    const Bytes head = distinctBytes(1, 40);
    const Bytes equal = concat({head, Bytes(head.begin(), head.begin() + 24)});
    const Bytes kept = compress(equal);
    EXPECT_EQ(kept.size(), 64u);
    EXPECT_NE(kept[4], 0); // a token count: coded
    const Bytes longer = concat({head, Bytes(head.begin(), head.begin() + 23)});
    const Bytes stored = compress(longer);
    EXPECT_EQ(stored.size(), 63u + 8);
    EXPECT_EQ(stored[4], 0);
}

// A two-byte match pays only when its codes and flag take fewer than 16
// bits: gamma(distance - 1) must stay within 10 bits, so distance 63 is
// taken and distance 64 is not. Length-1 matches are never taken.
TEST(CompressStream, TakesALengthTwoMatchOnlyBelowSixteenBits) {
    for (std::size_t gap : {61u, 62u}) {
        // x y, `gap` distinct fillers, x y, then a long repeated tail that
        // makes the coded form win.
        const Bytes fillers = distinctBytes(1, gap);
        const Bytes tail = distinctBytes(100, 100);
        const Bytes input = concat({{250, 251}, fillers, {250, 251}, tail, tail, tail});
        const Bytes stream = compress(input);
        ASSERT_NE(stream[4], 0) << "expected the coded form";
        const Decoded d = parseCoded(stream);
        // Token 2 + gap is the second pair.
        const std::size_t token = 2 + gap;
        const bool matched = d.flags[token] == 1;
        if (gap == 61) {
            ASSERT_TRUE(matched);
            EXPECT_EQ(d.matches[0], (std::pair<std::uint64_t, std::uint64_t>(63, 2)));
        } else {
            EXPECT_FALSE(matched);
        }
        Bytes out;
        ASSERT_TRUE(expand(stream, input.size(), out));
        EXPECT_EQ(out, input);
    }
}

// The first token can never be a match, so the compressor's first flag run
// is never empty; a hand-made stream whose first run is 0 starts with a
// match, which reaches before the start and fails.
TEST(DecompressStream, ARunLengthStreamStartingWithAMatchFails) {
    // One match (distance 1, length 2) as the only token: runs 0 and 1 code
    // as gamma(0) gamma(0): R = gamma(2) + 2 = 6 bits = 1001 0 0.
    const Bytes startsWithMatch = {2, 0, 0, 0, 1, 0, 0, 0, 1, 6, 0, 0, 0, 0x09, 2, 3,
                                   // M = gamma(1) gamma(0) gamma(1) = 1000 0 1000: 9 bits
                                   9, 0, 0, 0, 0x21, 0x00};
    Bytes out;
    EXPECT_FALSE(expand(startsWithMatch, 100, out));

    // The same with a literal first: runs 1 and 1 (1000 0 after 1001), literal
    // 'a', match (1, 3) overlapping its own output.
    const Bytes literalFirst = {4, 0, 0, 0, 2, 0, 0, 0, 1, 9, 0, 0, 0, 0x19, 0x00, 2, 'a', 3,
                                // gamma(1) gamma(0) gamma(2) = 1000 0 1001
                                9, 0, 0, 0, 0x21, 0x01};
    ASSERT_TRUE(expand(literalFirst, 100, out));
    EXPECT_EQ(out, (Bytes{'a', 'a', 'a', 'a'}));
}

// A coded stream built from tokens: literal bytes (distance 0) and matches.
struct Token {
    std::uint8_t literal;
    std::uint64_t distance, length;
};

Bytes codedStream(const std::vector<Token>& tokens, std::uint32_t size) {
    Bytes s(9, 0);
    std::memcpy(s.data(), &size, 4);
    const auto count = static_cast<std::uint32_t>(tokens.size());
    std::memcpy(s.data() + 4, &count, 4);
    for (std::size_t t = 0; t < tokens.size(); t += 8) {
        std::uint8_t byte = 0;
        for (std::size_t j = t; j < std::min(t + 8, tokens.size()); ++j)
            if (tokens[j].distance) byte = static_cast<std::uint8_t>(byte | 1u << (j - t));
        s.push_back(byte);
    }
    s.push_back(2);
    std::uint64_t matches = 0;
    for (const Token& t : tokens) {
        if (!t.distance) s.push_back(t.literal);
        else ++matches;
    }
    s.push_back(3);
    Bytes bits(16 * (matches + 1) + 16);
    PackedBitWriter writer(bits.data(), bits.size());
    writer.putGamma(matches);
    for (const Token& t : tokens)
        if (t.distance) {
            writer.putGamma(t.distance - 1);
            writer.putGamma(t.length - 1);
        }
    const auto m = static_cast<std::uint32_t>(writer.bitCount());
    bits.resize(writer.finish());
    s.resize(s.size() + 4);
    std::memcpy(s.data() + s.size() - 4, &m, 4);
    s.insert(s.end(), bits.begin(), bits.end());
    return s;
}

TEST(DecompressStream, MatchesThatOverlapTheirOwnOutputCopyByteByByte) {
    // The compressor never writes such matches; files from elsewhere may.
    std::mt19937 random(21);
    for (std::uint64_t distance = 1; distance <= 20; ++distance) {
        for (std::uint64_t length = 1; length <= 40; length += 3) {
            std::vector<Token> tokens;
            Bytes rebuilt;
            for (std::uint64_t j = 0; j < distance + 3; ++j) {
                const auto x = static_cast<std::uint8_t>(1 + random() % 250);
                tokens.push_back({x, 0, 0});
                rebuilt.push_back(x);
            }
            tokens.push_back({0, distance, length});
            for (std::uint64_t j = 0; j < length; ++j) rebuilt.push_back(rebuilt[rebuilt.size() - distance]);
            tokens.push_back({9, 0, 0});
            rebuilt.push_back(9);
            Bytes out;
            ASSERT_TRUE(expand(codedStream(tokens, static_cast<std::uint32_t>(rebuilt.size())), rebuilt.size(), out));
            ASSERT_EQ(out, rebuilt) << distance << " " << length;
        }
    }
    // A match reaching one byte before the start fails; one reaching the start does not.
    Bytes out;
    EXPECT_FALSE(expand(codedStream({{5, 0, 0}, {0, 2, 1}}, 2), 10, out));
    ASSERT_TRUE(expand(codedStream({{5, 0, 0}, {0, 1, 4}}, 5), 10, out));
    EXPECT_EQ(out, Bytes(5, 5));
}

TEST(DecompressStream, RoundTripsVariedDataAndMatchesTheReference) {
    std::vector<Bytes> inputs;
    for (unsigned seed = 0; seed < 12; ++seed) inputs.push_back(mixedData(1 + seed * 997, seed));
    std::mt19937 random(3);
    Bytes noise(20000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);
    Bytes smallAlphabet(30000); // lists overflow their 256 entries
    for (auto& b : smallAlphabet) b = static_cast<std::uint8_t>(1 + random() % 3);
    inputs.push_back(smallAlphabet);
    Bytes text;
    const char* words[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "lazy ", "dog. "};
    while (text.size() < 20000) {
        const char* w = words[random() % 8];
        text.insert(text.end(), w, w + std::strlen(w));
    }
    inputs.push_back(text);
    Bytes runs;
    for (std::size_t r = 1; r < 600; r += 7) runs.insert(runs.end(), r, static_cast<std::uint8_t>(r % 4));
    inputs.push_back(runs);
    Bytes alternating;
    for (int j = 0; j < 5000; ++j) alternating.push_back(j % 2 ? 0 : static_cast<std::uint8_t>(j % 7));
    inputs.push_back(alternating);
    Bytes every;
    for (int j = 0; j < 4096; ++j) every.push_back(static_cast<std::uint8_t>(j * 7 + j / 256));
    inputs.push_back(every);
    inputs.push_back(repeat(0, 100000));
    // Small alphabets with zeros: escapes, short runs and pairs of equal
    // bytes make the candidate walk step back byte by byte and jump often.
    for (unsigned alphabet = 2; alphabet <= 6; ++alphabet) {
        for (unsigned zeroShare : {2u, 5u}) {
            Bytes b(5000 + alphabet * 3001);
            for (auto& x : b) x = random() % zeroShare == 0 ? 0 : static_cast<std::uint8_t>(random() % alphabet);
            inputs.push_back(b);
        }
    }
    for (std::size_t n = 1; n < 80; ++n) inputs.push_back(mixedData(n, static_cast<unsigned>(n)));

    for (const Bytes& input : inputs) {
        const Bytes stream = compress(input);
        ASSERT_LE(stream.size(), input.size() + 8);
        ASSERT_EQ(stream, compressReference(input)) << "size " << input.size();
        Bytes out;
        ASSERT_TRUE(expand(stream, input.size(), out)) << "size " << input.size();
        ASSERT_EQ(out, input);
    }
}

TEST(DecompressStream, AStreamWhosePrePassIsLongerThanTheOutputStillExpands) {
    // Lone zeros double in the pre-pass: size is 1.5 x the output length,
    // which must not be refused while the output itself fits.
    Bytes input;
    std::mt19937 random(8);
    for (int j = 0; j < 3000; ++j) input.insert(input.end(), {0, static_cast<std::uint8_t>(1 + random() % 2)});
    const Bytes stream = compress(input);
    std::uint32_t size;
    std::memcpy(&size, stream.data(), 4);
    ASSERT_NE(stream[4], 0);
    ASSERT_GT(size, input.size());
    Bytes out;
    ASSERT_TRUE(expand(stream, input.size(), out));
    EXPECT_EQ(out, input);
    EXPECT_FALSE(expand(stream, input.size() - 1, out)); // the output itself must fit
}

TEST(DecompressStream, RefusesSizesBeyondTwiceTheCapacity) {
    const Bytes stream = compress(repeat('q', 100000)); // pre-pass of 1179 bytes
    std::uint32_t size;
    std::memcpy(&size, stream.data(), 4);
    Bytes out;
    // A capacity so small that size > 2 x capacity + 2 is refused before any work.
    EXPECT_FALSE(expand(stream, (size - 3) / 2, out));
    EXPECT_FALSE(expand(stream, 99999, out)); // fits the pre-pass test, not the output
    EXPECT_TRUE(expand(stream, 100000, out));
}

TEST(DecompressStream, RefusesMalformedStoredForms) {
    Bytes out;
    EXPECT_FALSE(expand({1, 2, 3}, 100, out));                     // fewer than 4 bytes
    EXPECT_FALSE(expand({3, 0, 0, 0}, 100, out));                  // no token count
    EXPECT_FALSE(expand({3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}, 100, out)); // data shorter than size
    EXPECT_FALSE(expand({3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}, 2, out)); // above the capacity
    ASSERT_TRUE(expand({3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'z'}, 3, out));
    EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
}

TEST(DecompressStream, EveryProperPrefixOfACodedStreamFails) {
    const Bytes input = mixedData(3000, 77);
    const Bytes stream = compress(input);
    ASSERT_NE(stream[4], 0);
    Bytes out;
    for (std::size_t n = 1; n < stream.size(); ++n)
        ASSERT_FALSE(expand(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n)), input.size(), out))
            << n;
}

TEST(DecompressStream, RefusesBadCountsMarkersAndCodes) {
    Bytes input;
    for (int j = 0; j < 8; ++j) input.insert(input.end(), {'a', 'b', 'c', 'd'});
    const Bytes good = compress(input); // the hand-computed raw-flag stream
    Bytes out;
    ASSERT_TRUE(expand(good, 32, out));

    Bytes s = good;
    s[4] = 33; // more tokens than size
    EXPECT_FALSE(expand(s, 32, out));
    s = good;
    s[10] = 7; // literal marker
    EXPECT_FALSE(expand(s, 32, out));
    s = good;
    s[15] = 9; // no match marker: the match flags have no matches
    EXPECT_FALSE(expand(s, 32, out));
    s = good;
    s[0] = 33; // the rebuilt bytes are one short of size
    EXPECT_FALSE(expand(s, 40, out));
    s = good;
    s[0] = 31; // the rebuilt bytes would pass size
    EXPECT_FALSE(expand(s, 40, out));
    s = good;
    s[20] = 0xFF; // seven leading one-bits in the match count code
    EXPECT_FALSE(expand(s, 32, out));
    s = good;
    s[16] = 200; // match bit count past the input
    EXPECT_FALSE(expand(s, 32, out));
    s = good;
    s[20] = 0xAF; // a match count far above size
    EXPECT_FALSE(expand(s, 32, out));
}

TEST(DecompressStream, SurvivesRandomDamageWithoutReadingOutsideItsBuffers) {
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        Bytes stream = compress(mixedData(200 + random() % 3000, static_cast<unsigned>(round)));
        for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
            stream[random() % stream.size()] = static_cast<std::uint8_t>(random());
        Bytes out;
        std::size_t capacity = random() % 5000;
        if (expand(stream, capacity, out)) {
            EXPECT_LE(out.size(), capacity);
        }
    }
}

TEST(StreamCompression, SeveralThreadsCompressAndExpandAtOnceWithTheSameBytes) {
    std::vector<Bytes> inputs;
    std::vector<Bytes> expected;
    for (unsigned j = 0; j < 4; ++j) {
        inputs.push_back(mixedData(60000, 500 + j));
        expected.push_back(compress(inputs.back()));
    }
    std::vector<Bytes> got(inputs.size());
    std::vector<int> ok(inputs.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t j = 0; j < inputs.size(); ++j) {
        threads.emplace_back([&, j] {
            for (int round = 0; round < 3; ++round) {
                Bytes out(compressedBound(inputs[j].size()));
                std::size_t length = 0;
                if (compressStream(inputs[j], out, length) != 1) return;
                out.resize(length);
                got[j] = out;
                Bytes back(inputs[j].size());
                std::size_t backLength = 0;
                if (decompressStream(out, back, backLength) != 1) return;
                back.resize(backLength);
                if (back != inputs[j]) return;
            }
            ok[j] = 1;
        });
    }
    for (auto& t : threads) t.join();
    for (std::size_t j = 0; j < inputs.size(); ++j) {
        EXPECT_EQ(ok[j], 1);
        EXPECT_EQ(got[j], expected[j]);
    }
}

} // namespace
} // namespace vexel
