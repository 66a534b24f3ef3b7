#include "platform/files.h"
#include "platform/system.h"
#include "platform/utf.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <thread>

namespace vexel::platform {
namespace {

std::u16string w(const std::string& s) { return utf8ToUtf16(s); }

TEST(Files, WriteReadSeekAndSizeWithSixtyFourBitPositions) {
    test::TempDir dir;
    File f;
    ASSERT_TRUE(f.open(w(dir.file("a.bin")), OpenMode::CreateAlways));
    ASSERT_TRUE(f.write("hello", 5));
    EXPECT_EQ(f.size(), 5);
    std::uint64_t far = (5ull << 30) + 3; // past 4 GiB: a sparse file
    ASSERT_TRUE(f.seek(far));
    ASSERT_TRUE(f.write("!", 1));
    EXPECT_EQ(f.size(), static_cast<std::int64_t>(far + 1));
    ASSERT_TRUE(f.seek(1));
    char buffer[8] = {};
    EXPECT_EQ(f.read(buffer, 4), 4);
    EXPECT_STREQ(buffer, "ello");
    ASSERT_TRUE(f.truncate(5));
    EXPECT_EQ(f.size(), 5);
    ASSERT_TRUE(f.seek(3));
    EXPECT_EQ(f.read(buffer, 8), 2); // short only at the end
    EXPECT_FALSE(f.readExact(buffer, 8));
}

TEST(Files, CreateNewNeverOverwrites) {
    test::TempDir dir;
    test::writeFile(dir.file("x"), {1, 2, 3});
    File f;
    EXPECT_FALSE(f.open(w(dir.file("x")), OpenMode::CreateNew));
    EXPECT_EQ(lastError(), EEXIST);
    EXPECT_EQ(test::readFile(dir.file("x")).size(), 3u);
}

TEST(Files, OnlyRegularFilesCountAndAFifoNeverBlocks) {
    test::TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("x.bmp").c_str(), 0600), 0);
    File f;
    EXPECT_FALSE(f.open(w(dir.file("x.bmp")), OpenMode::ReadExisting));
    EXPECT_FALSE(isRegularFile(w(dir.file("x.bmp"))));
    EXPECT_FALSE(canOpenForReading(w(dir.file("x.bmp"))));
    EXPECT_FALSE(f.open(w(dir.path()), OpenMode::ReadExisting));
    EXPECT_TRUE(isFolder(w(dir.path())));
    EXPECT_FALSE(f.open(w(dir.file("x.bmp")), OpenMode::CreateAlways)); // not truncated, not hung
}

TEST(Folders, EnumerationMatchesPatternsAndTakesBracketsLiterally) {
    test::TempDir dir;
    for (const char* name : {"a1.bmp", "a2.BMP", "b[1].bmp", "b1.bmp", "noext", "!hidden.bmp"})
        test::writeFile(dir.file(name), {0});
    mkdir(dir.file("sub.bmp").c_str(), 0700);
    auto list = [&](const char* pattern) {
        std::vector<std::string> names;
        EXPECT_TRUE(enumerateFolder(w(dir.path()), w(pattern), [&](std::u16string_view n, bool notAFile) {
            if (!notAFile) names.push_back(utf16ToUtf8(n));
            return true;
        }));
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(list("a*.bmp"), std::vector<std::string>{"a1.bmp"}); // case-sensitive
    EXPECT_EQ(list("b[1].bmp"), std::vector<std::string>{"b[1].bmp"});
    EXPECT_EQ(list("*.*").size(), 6u);
    EXPECT_EQ(list("*.bmp").size(), 4u); // the folder sub.bmp is reported as not a file
    EXPECT_FALSE(enumerateFolder(w(dir.file("missing")), u"*", [](std::u16string_view, bool) { return true; }));
}

TEST(Folders, NamesThatAreNotUtf8SurviveTheRoundTrip) {
    test::TempDir dir;
    std::string odd = "fr\xe9me\xff.bmp";
    test::writeFile(dir.file(odd), {1});
    std::u16string found;
    enumerateFolder(w(dir.path()), u"*", [&](std::u16string_view n, bool) {
        found = n;
        return true;
    });
    ASSERT_FALSE(found.empty());
    File f;
    EXPECT_TRUE(f.open(w(dir.path() + "/") + found, OpenMode::ReadExisting));
    EXPECT_EQ(utf16ToUtf8(found), odd);
}

TEST(Utf, SurrogatePairsAndOverlongFormsAreHandled) {
    EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
    EXPECT_EQ(utf8ToUtf16("\xC0\x80"), std::u16string(u"\xDCC0\xDC80")); // overlong zero: two invalid bytes
    EXPECT_EQ(utf16ToUtf8(u"\xDCC0\xDC80"), "\xC0\x80");
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80").size(), 3u); // an encoded surrogate is invalid
}

TEST(Utf, TextForTheScreenShowsTheBytesOfAnInvalidNameAsReplacementCharacters) {
    const std::u16string name = platform::utf8ToUtf16("clip\xff\xfe.vx");
    EXPECT_EQ(platform::utf16ToUtf8(name), "clip\xff\xfe.vx"); // the file can be reopened
    EXPECT_EQ(platform::utf16ToDisplayUtf8(name), "clip\xEF\xBF\xBD\xEF\xBF\xBD.vx");
    EXPECT_EQ(platform::utf16ToDisplayUtf8(u"кадр"), "кадр");
    EXPECT_EQ(platform::utf16ToDisplayUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Events, AutoResetLetsOneWaitThroughManualResetLetsAll) {
    Event autoReset(false);
    autoReset.set();
    EXPECT_TRUE(autoReset.waitFor(0));
    EXPECT_FALSE(autoReset.waitFor(10));
    Event manual(true);
    manual.set();
    EXPECT_TRUE(manual.waitFor(0));
    EXPECT_TRUE(manual.waitFor(0));
    manual.reset();
    EXPECT_FALSE(manual.isSet());
    std::thread setter([&] { manual.set(); });
    manual.wait();
    setter.join();
}

TEST(System, MemorySizeAndProgramPath) {
    EXPECT_GT(physicalMemoryBytes(), 64ull << 20);
    std::u16string path = programPath();
    EXPECT_NE(path.find(u"vexel_tests_platform"), std::u16string::npos);
    EXPECT_EQ(programFolder().back(), u'/');
    EXPECT_EQ(utf16ToUtf8(errorText(ENOENT)), "No such file or directory");
}

} // namespace
} // namespace vexel::platform
