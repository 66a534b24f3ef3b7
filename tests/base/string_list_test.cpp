#include "base/tspisokstrok.h"
#include "tests/support/test_util.h"
#include "tests/support/dialog_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vexel {
namespace {

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<std::string> rowsOf(const TSpisokStrok& list) {
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < list.rows; ++i) out.push_back(TWideString(list.text(i)).toUtf8());
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    TSpisokStrok list(8, 8);
    for (auto& n : names) EXPECT_TRUE(list.append(TWideString::fromUtf8(n).view()));
    EXPECT_TRUE(list.sort());
    return rowsOf(list);
}

TEST(NaturalSort, NumbersSortByValueNotByText) {
    EXPECT_EQ(sorted({"frame100.bmp", "frame9.bmp", "frame10.bmp"}),
              (std::vector<std::string>{"frame9.bmp", "frame10.bmp", "frame100.bmp"}));
}

TEST(NaturalSort, CaseIsIgnoredIncludingCyrillic) {
    EXPECT_EQ(sorted({"frame3.bmp", "FRAME2.bmp", "frame1.bmp"}),
              (std::vector<std::string>{"frame1.bmp", "FRAME2.bmp", "frame3.bmp"}));
    EXPECT_EQ(sorted({"кадр3.bmp", "КАДР2.bmp", "кадр1.bmp"}),
              (std::vector<std::string>{"кадр1.bmp", "КАДР2.bmp", "кадр3.bmp"}));
    EXPECT_EQ(foldCase(u'Ё'), u'ё');
    EXPECT_EQ(foldCase(u'Ä'), u'ä');
    EXPECT_EQ(compareIgnoringCase(u"ПРИВЕТ", u"привет"), 0);
}

TEST(NaturalSort, NamesWithoutDigitsComeLast) {
    EXPECT_EQ(sorted({"zebra.bmp", "b.bmp", "a7.bmp", "A.bmp", "z1.bmp"}),
              (std::vector<std::string>{"a7.bmp", "z1.bmp", "A.bmp", "b.bmp", "zebra.bmp"}));
}

TEST(NaturalSort, HyphensDotsAndLettersAroundTheNumberAreText) {
    // A minus or exponent reading would reverse these or lose their numbers.
    EXPECT_EQ(sorted({"shot-10.bmp", "shot-2.bmp", "shot-1.bmp"}),
              (std::vector<std::string>{"shot-1.bmp", "shot-2.bmp", "shot-10.bmp"}));
    EXPECT_EQ(sorted({"e10.bmp", "e9.bmp", "e1.5.bmp"}), (std::vector<std::string>{"e1.5.bmp", "e9.bmp", "e10.bmp"}));
    NaturalKey k = naturalKey(u"frame9.bmp");
    EXPECT_TRUE(k.hasNumber);
    EXPECT_EQ(k.runStart, 5u);
    EXPECT_EQ(k.runLength, 1u);
}

TEST(NaturalSort, LongNumbersAndLeadingZerosCompareExactly) {
    EXPECT_TRUE(naturalLess(u"f99999999999999999999.bmp", u"f100000000000000000000.bmp"));
    EXPECT_TRUE(naturalLess(u"f0009.bmp", u"f10.bmp"));
    // Equal values differ only in zeros: the exact text decides, so the order is fixed.
    EXPECT_TRUE(naturalLess(u"f007.bmp", u"f07.bmp"));
    EXPECT_FALSE(naturalLess(u"f07.bmp", u"f007.bmp"));
    EXPECT_FALSE(naturalLess(u"same", u"same"));
}

TEST(NaturalSort, TheSortAgreesWithTheComparisonOnShuffledNames) {
    std::vector<std::string> names;
    for (int i = 0; i < 600; ++i) names.push_back((i % 3 ? "clip" : "Clip_") + std::to_string(i * 7 % 1000) + ".bmp");
    names.push_back("readme");
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return naturalLess(u16(a), u16(b)); });
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    test::DialogCapture quiet;
    EXPECT_EQ(sorted(names), expected);
}

TEST(NaturalSort, LongListsShowTheirProgressAndShortOnesDoNot) {
    auto run = [](int n) {
        TSpisokStrok list(n, 8);
        for (int i = n; i > 0; --i) list.append(u16("f" + std::to_string(i)));
        auto capture = std::make_unique<test::DialogCapture>();
        EXPECT_TRUE(list.sort());
        EXPECT_EQ(TWideString(list.text(0)).toUtf8(), "f1");
        return capture;
    };
    EXPECT_TRUE(run(249)->progressViews.empty());
    auto capture = run(250);
    ASSERT_EQ(capture->progressViews.size(), 1u);
    const test::DialogCapture::Progress& shown = capture->progressViews[0];
    EXPECT_EQ(shown.caption, ""); // the window's own caption
    EXPECT_EQ(shown.text, "Сортировка списка файлов");
    ASSERT_FALSE(shown.values.empty());
    EXPECT_EQ(shown.values.front(), 0.0f);
    // Every s-th placed name reports, s = floor(250 x 0.02) = 5.
    EXPECT_EQ(shown.values.size(), 1u + 250 / 5);
    EXPECT_FLOAT_EQ(shown.values.back(), 1.0f);
    EXPECT_EQ(shown.finishes, 1);
    EXPECT_TRUE(shown.closed);
}

TEST(NaturalSort, TheFirstGroupCanBeCutOutWithItsPattern) {
    TSpisokStrok list(8, 8);
    for (const char16_t* n : {u"b2.bmp", u"a10.bmp", u"other.bmp", u"a9.bmp", u"A1.bmp"}) list.append(n);
    TWideString pattern;
    ASSERT_TRUE(list.sort(true, &pattern));
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"A1.bmp", "a9.bmp", "a10.bmp"}));
    EXPECT_EQ(pattern.toUtf8(), "A*.bmp");
}

TEST(StringList, RowsKeepTheirTextWhenLongerNamesWidenTheList) {
    TSpisokStrok list(2, 8);
    EXPECT_TRUE(list.append(u"a"));
    EXPECT_TRUE(list.append(u"a-much-longer-name-than-before.bmp"));
    EXPECT_TRUE(list.append(u""));
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"a", "a-much-longer-name-than-before.bmp", ""}));
    EXPECT_EQ(list.columns, 35u);
    EXPECT_EQ(list.stride, 40u);
    EXPECT_FALSE(list.append(std::u16string_view(u"with\0zero", 9)));
    EXPECT_EQ(list.rows, 3u);
    EXPECT_TRUE(list.text(3).empty());
}

TEST(StringList, FillingFromAPatternListsOnlyPlainFilesNotStartingWithBang) {
    test::TempDir dir;
    for (auto name : {"a1.bmp", "a2.bmp", "!skip.bmp", "b.txt"}) test::writeFile(dir.file(name), {1});
    mkdir(dir.file("a3.bmp").c_str(), 0700);
    mkfifo(dir.file("a4.bmp").c_str(), 0600);
    TSpisokStrok list(500000, 8);
    ASSERT_TRUE(list.fillFromPattern(TWideString::fromUtf8(dir.path()).view(), u"*.bmp"));
    auto rows = rowsOf(list);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"a1.bmp", "a2.bmp"}));

    // A pattern without "*" is a folder.
    mkdir(dir.file("sub").c_str(), 0700);
    test::writeFile(dir.file("sub/x.bmp"), {1});
    ASSERT_TRUE(list.fillFromPattern(TWideString::fromUtf8(dir.path()).view(), u"sub"));
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"x.bmp"}));
    // A pattern that names a file is that file.
    test::writeFile(dir.file("odd*.bmp"), {1});
    ASSERT_TRUE(list.fillFromPattern(TWideString::fromUtf8(dir.path() + "/").view(), u"odd*.bmp"));
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"odd*.bmp"}));
    // A folder that cannot be read gives nothing.
    ASSERT_TRUE(list.fillFromPattern(TWideString::fromUtf8(dir.file("missing")).view(), u"*.bmp"));
    EXPECT_EQ(list.rows, 0u);
}

} // namespace
} // namespace vexel
