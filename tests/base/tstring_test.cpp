#include "base/kernel.h"
#include "base/tstring.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vexel {
namespace {

std::u16string s16(const TWideString& s) { return std::u16string(s.view()); }

TEST(Strings, EmptyValuesAreNullHandles) {
    TWideString fromEmpty(u""), fromNull(static_cast<const char16_t*>(nullptr)), fromZero(u'\0');
    for (const TWideString* s : {&fromEmpty, &fromNull, &fromZero}) {
        EXPECT_EQ(s->length(), 0u);
        EXPECT_EQ(s->text(), nullptr);
        EXPECT_TRUE(s->empty());
    }
    TWideString abc(u"abc");
    EXPECT_TRUE(abc.substring(2, 0).empty());
    TWideString copy = fromEmpty;
    EXPECT_EQ(copy.textForWriting(), nullptr);
}

TEST(Strings, ErasingEverythingOrSettingLengthZeroReleasesTheBuffer) {
    AllocatorStats before = memStats();
    TWideString s(u"hello");
    EXPECT_GT(memStats().liveBlocks, before.liveBlocks);
    EXPECT_TRUE(s.erase(1, 5));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(memStats().liveBlocks, before.liveBlocks);
    s = u"again";
    s.setLength(0);
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(memStats().liveBlocks, before.liveBlocks);
}

TEST(Strings, InsertHonoursItsOneBasedBounds) {
    TWideString s(u"abc"), x(u"X");
    EXPECT_FALSE(s.insert(x, 0));
    EXPECT_FALSE(s.insert(x, 5));
    EXPECT_EQ(s16(s), u"abc");
    EXPECT_TRUE(s.insert(x, 4));
    EXPECT_EQ(s16(s), u"abcX");
    EXPECT_TRUE(s.insert(x, 1));
    EXPECT_EQ(s16(s), u"XabcX");
    TWideString empty;
    EXPECT_TRUE(empty.insert(x, 1));
    EXPECT_EQ(empty.shareCount(), 2u); // an empty string shares what is inserted
    EXPECT_TRUE(s.insert(s, 2)); // inserting a string into itself
    EXPECT_EQ(s16(s), u"XXabcXabcX");
}

TEST(Strings, FindSubstringEraseAndTrim) {
    TWideString s(u"one two two");
    EXPECT_EQ(s.find(TWideString(u"two")), 5u);
    EXPECT_EQ(s.find(TWideString(u"one")), 1u);
    EXPECT_EQ(s.find(TWideString()), 0u);
    EXPECT_EQ(TWideString().find(s), 0u);
    EXPECT_EQ(s.find(TWideString(u"three")), 0u);
    EXPECT_EQ(s16(s.substring(5, 3)), u"two");
    EXPECT_TRUE(s.substring(10, 3).empty());
    EXPECT_FALSE(s.erase(10, 3));
    EXPECT_TRUE(s.erase(4, 4));
    EXPECT_EQ(s16(s), u"one two");
    EXPECT_EQ(s16(TWideString(u" \t\r\n a b \n").trim()), u"a b");
    EXPECT_TRUE(TWideString(u" \t\r\n ").trim().empty());
}

TEST(Strings, CompareOrdersEmptyFirstThenUnsignedUnitsThenLength) {
    using S = TWideString;
    EXPECT_EQ(S::compare(S(), S()), 0);
    EXPECT_EQ(S::compare(S(), S(u"a")), -1);
    EXPECT_EQ(S::compare(S(u"ab"), S(u"abc")), -1);
    EXPECT_EQ(S::compare(S(u"abc"), S(u"ab")), 1);
    EXPECT_EQ(S::compare(S(u"\u00e9"), S(u"z")), 1);
    EXPECT_EQ(TAnsiString::compare(TAnsiString("\xC0"), TAnsiString("z")), 1);
    EXPECT_EQ(S::compare(S(u"abc"), S(u"abc")), 0);
}

TEST(Strings, CopiesShareUntilOneChanges) {
    TWideString a(u"shared");
    TWideString b = a;
    EXPECT_EQ(a.text(), b.text());
    EXPECT_EQ(a.shareCount(), 2u);
    b.textForWriting()[0] = u'S';
    EXPECT_EQ(s16(a), u"shared");
    EXPECT_EQ(s16(b), u"Shared");
    EXPECT_EQ(a.shareCount(), 1u);
    TWideString& alias = b;
    b = alias; // self-assignment
    EXPECT_EQ(s16(b), u"Shared");
}

TEST(Strings, SetLengthKeepsThePrefixAndTerminates) {
    TWideString s(u"abcdef");
    EXPECT_TRUE(s.setLength(3));
    EXPECT_EQ(s16(s), u"abc");
    EXPECT_EQ(s.text()[3], 0);
    EXPECT_TRUE(s.setLength(1000)); // past one allocation step
    EXPECT_EQ(s.length(), 1000u);
    EXPECT_EQ(s.text()[0], u'a');
}

TEST(Strings, AppendingCharactersReallocatesOncePerStep) {
    TWideString s;
    std::size_t reallocations = 0;
    const char16_t* last = nullptr;
    for (int i = 0; i < 5000; ++i) {
        s += TWideString(static_cast<char16_t>(u'a' + i % 26));
        if (s.text() != last) ++reallocations;
        last = s.text();
    }
    EXPECT_EQ(s.length(), 5000u);
    EXPECT_LE(reallocations, 5000u / 512 + 2);
}

TEST(Strings, CodePage1251ConvertsBothWays) {
    TAnsiString ansi("\xCF\xF0\xE8\xED\xFF\xF2\xFC"); // "Принять"
    TWideString wide(ansi);
    EXPECT_EQ(s16(wide), u"Принять");
    TAnsiString back(wide);
    EXPECT_EQ(std::string(back.view()), std::string(ansi.view()));
    EXPECT_EQ(cp1251ToUnicode(0xA8), u'Ё');
    EXPECT_EQ(cp1251ToUnicode(0xB9), u'№');
    EXPECT_EQ(cp1251ToUnicode(0x88), u'€');
    // A unit that no byte of the code page produces becomes 0.
    EXPECT_EQ(TAnsiString(TWideString(u"\u4e2d")).text()[0], 0);
}

TEST(Strings, WithoutATableBytesAreZeroExtendedAndUnitsKeepTheirLowByte) {
    char16_t wide[1];
    char narrow[1];
    // The table is valid in the test program; the fallback is the plain cast.
    ASSERT_NE(ansi1251(), nullptr);
    EXPECT_EQ(ansiToWide("\xC0", 1, wide, 1), 1u);
    EXPECT_EQ(wide[0], u'А');
    EXPECT_EQ(ansiToWide("ab", 2, wide, 1), 0u); // too small a destination
    EXPECT_EQ(wideToAnsi(u"\u0410", 1, narrow, 1), 1u);
    EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0xC0);
}

TEST(Strings, Utf8RoundTripsValidTextAndKeepsInvalidBytes) {
    TWideString cyr = TWideString::fromUtf8("кадр_01.bmp");
    EXPECT_EQ(s16(cyr), u"кадр_01.bmp");
    EXPECT_EQ(cyr.toUtf8(), "кадр_01.bmp");
    std::string invalid = "bad\xff\xfe name\xc3.bmp";
    TWideString w = TWideString::fromUtf8(invalid);
    EXPECT_EQ(w.at(4), 0xDCFF);
    EXPECT_EQ(w.toUtf8(), invalid);
    std::string emoji = "\xF0\x9F\x98\x80";
    EXPECT_EQ(TWideString::fromUtf8(emoji).length(), 2u);
    EXPECT_EQ(TWideString::fromUtf8(emoji).toUtf8(), emoji);
}

TEST(Strings, HandlesMayBeCopiedAndReleasedFromManyThreads) {
    TWideString shared(u"one buffer for all threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                TWideString copy = shared;
                if (i % 100 == 0) copy.textForWriting()[0] = u'O';
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared.shareCount(), 1u);
    EXPECT_EQ(s16(shared), u"one buffer for all threads");
}

TEST(TextHelpers, AreSafeOnNullAndCountAsDocumented) {
    EXPECT_EQ(ansiLength(nullptr), 0u);
    EXPECT_EQ(wideLength(u"abc"), 3u);
    const char* text = "12,5e3x";
    EXPECT_EQ(findUnit(text, 7, 'e'), text + 4);
    EXPECT_EQ(findUnit(text, 3, 'e'), nullptr);
    EXPECT_EQ(findAnyOf(text, 7, "xe"), text + 4);
    EXPECT_EQ(countMembers(text, 7, "0123456789"), 4u);
    EXPECT_EQ(countLeadingMembers(text, 7, "0123456789"), 2u);
    EXPECT_EQ(countLeadingMembers(nullptr, 7, "0"), 0u);
}

TEST(TwoDimensionalBuffer, ResizingKeepsRowsAndClearsNewColumns) {
    TDvumernoeMnogestvoElementov<char16_t> grid(64, 8);
    ASSERT_TRUE(grid.resize(3, 4));
    for (std::uint32_t r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) grid.row(r)[c] = static_cast<char16_t>(u'a' + r * 4 + c);
    ASSERT_TRUE(grid.resize(3, 12)); // the stride grows from 8 to 16
    EXPECT_EQ(grid.stride, 16u);
    for (std::uint32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(grid.row(r)[0], u'a' + r * 4);
        EXPECT_EQ(grid.row(r)[3], u'a' + r * 4 + 3);
        EXPECT_EQ(grid.row(r)[4], 0);
    }
    ASSERT_TRUE(grid.resize(2, 2)); // smaller stride: rows move up in order
    EXPECT_EQ(grid.row(1)[0], u'e');
    EXPECT_EQ(grid.row(1)[1], u'f');
    EXPECT_EQ(grid.row(2), nullptr);
    ASSERT_TRUE(grid.resize(2, 4, /*columnsAtFront=*/true));
    EXPECT_EQ(grid.row(1)[0], 0);
    EXPECT_EQ(grid.row(1)[2], u'e');
    EXPECT_EQ(grid.row(1)[3], u'f');
}

} // namespace
} // namespace vexel
