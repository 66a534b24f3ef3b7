#include "base/informaciyaprocessora.h"
#include "base/dlitelnostintervalavremeni.h"
#include "base/kernel.h"
#include "base/sistemniesoobzheniya.h"
#include "platform/files.h"
#include "tests/support/dialog_capture.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace vexel {
namespace {

std::u16string s16(const TWideString& s) { return std::u16string(s.view()); }

TEST(Kernel, SplitAtFirstSkipsRunsOfSeparatorsAndQuotes) {
    TWideString first, second;
    ASSERT_TRUE(splitAtFirst(TWideString(u"\"C:/my dir/vexel\" x.bmp"), u' ', first, second));
    EXPECT_EQ(s16(first), u"C:/my dir/vexel");
    EXPECT_EQ(s16(second), u"x.bmp");
    ASSERT_TRUE(splitAtFirst(TWideString(u"a  b"), u' ', first, second));
    EXPECT_EQ(s16(first), u"a "); // the first part keeps all but the last blank
    EXPECT_EQ(s16(second), u"b");
    TWideString untouched(u"keep");
    first = untouched;
    EXPECT_FALSE(splitAtFirst(TWideString(u"noblank"), u' ', first, second));
    EXPECT_EQ(s16(first), u"keep");
}

TEST(Kernel, SplitAtLastIgnoresSeparatorsInsideQuotes) {
    TWideString first, second;
    ASSERT_TRUE(splitAtLast(TWideString(u"a b \"c d\""), u' ', first, second));
    EXPECT_EQ(s16(first), u"a b");
    EXPECT_EQ(s16(second), u"c d");
    ASSERT_TRUE(splitAtLast(TWideString(u"-t=4"), u'=', first, second));
    EXPECT_EQ(s16(first), u"-t");
    EXPECT_EQ(s16(second), u"4");
}

TEST(Kernel, StripQuotesNeedsAQuoteAtBothEnds) {
    EXPECT_EQ(s16(stripQuotes(TWideString(u"\"x y\""))), u"x y");
    EXPECT_EQ(s16(stripQuotes(TWideString(u"\"x"))), u"\"x");
    EXPECT_TRUE(stripQuotes(TWideString(u"\"\"")).empty());
    EXPECT_EQ(s16(stripQuotes(TWideString(u"\""))), u"\"");
}

TEST(Kernel, TheProgramFolderEndsWithASlashAndHoldsTheTableFile) {
    TWideString folder = programFolderString();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.at(folder.length()), u'/');
    EXPECT_EQ(platform::fileSize(ansiTablePath().view()), 512);
    auto bytes = test::readFile(ansiTablePath().toUtf8());
    ASSERT_EQ(bytes.size(), 512u);
    EXPECT_EQ(bytes[2 * 0xC0], 0x10); // 0xC0 is U+0410, stored little-endian
    EXPECT_EQ(bytes[2 * 0xC0 + 1], 0x04);
}

TEST(Kernel, FileExistsOnlyForReadableRegularFiles) {
    test::TempDir dir;
    EXPECT_FALSE(fileExists(TWideString::fromUtf8(dir.file("missing"))));
    EXPECT_FALSE(fileExists(TWideString::fromUtf8(dir.path())));
    test::writeFile(dir.file("x.bmp"), {1, 2, 3});
    EXPECT_TRUE(fileExists(TWideString::fromUtf8(dir.file("x.bmp"))));
}

// The interval lies between what the test's own clock saw inside and
// outside the two calls, however long the machine took.
TEST(Timing, TheIntervalMeasuresTheTimeBetweenCalls) {
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<long double>(d).count(); };
    const auto beforeFirst = Clock::now();
    intervalSeconds();
    const auto afterFirst = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto beforeSecond = Clock::now();
    const long double elapsed = intervalSeconds();
    const auto afterSecond = Clock::now();
    const long double next = intervalSeconds();
    const auto afterThird = Clock::now();
    const long double slack = 1e-6L; // the two clocks' readings of one moment
    EXPECT_GE(elapsed, seconds(beforeSecond - afterFirst) - slack);
    EXPECT_LE(elapsed, seconds(afterSecond - beforeFirst) + slack);
    EXPECT_GE(next, 0.0L);
    EXPECT_LE(next, seconds(afterThird - beforeSecond) + slack);
    EXPECT_GT(clockNow(), 0.0L);
}

TEST(Processors, TheCountIsTheAffinityMask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(processorCount(), CPU_COUNT(&set));
    EXPECT_GE(processorCountFromCpuid(), 1);
}

TEST(SystemMessages, TheSystemTextIsShownWithItsCaptionAndNoTrailingBreaks) {
    test::DialogCapture capture;
    EXPECT_TRUE(showSystemError(ENOENT));
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].caption, "Системное сообщение");
    EXPECT_EQ(capture.messages[0].text, "No such file or directory");
}

} // namespace
} // namespace vexel
