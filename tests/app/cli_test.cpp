// The built vexel, run in a fresh folder on bitmaps made here.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

namespace vexel {
namespace {

using test::Picture;

class Cli : public ::testing::Test {
protected:
    void bitmap(const std::string& name, const Picture& p, const test::BmpLayout& layout = {}) {
        ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(p, layout)));
    }
    test::CommandResult vexel(std::vector<std::string> args) { return test::runVexel(args, dir.path()); }
    Picture written(const std::string& name) {
        Picture p;
        EXPECT_TRUE(test::decodeStandardBmp(test::readFile(dir.file(name)), p)) << name;
        return p;
    }
    test::TempDir dir;
};

TEST_F(Cli, DecompressingABitmapWritesItsFirstNumberedFrame) {
    Picture p = test::patternPicture(101, 9);
    bitmap("pic.bmp", p);
    auto r = vexel({"-uc", "pic.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(written("pic_000000.bmp"), p);
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"pic.bmp", "pic_000000.bmp"}));
}

TEST_F(Cli, AWildcardWritesOneNumberedBitmapPerInputInNaturalOrder) {
    bitmap("shot10.bmp", test::patternPicture(7, 3, 10));
    bitmap("shot9.bmp", test::patternPicture(6, 5, 9));
    bitmap("shot100.bmp", test::patternPicture(5, 1, 100));
    auto r = vexel({"-uc", "shot*.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(written("shot9_000000.bmp"), test::patternPicture(6, 5, 9));
    EXPECT_EQ(written("shot10_000001.bmp"), test::patternPicture(7, 3, 10));
    EXPECT_EQ(written("shot100_000002.bmp"), test::patternPicture(5, 1, 100));
}

TEST_F(Cli, ANumberedSequenceIsFollowedUntil100NumbersAreMissing) {
    for (int i : {1, 2, 3, 103, 204})
        bitmap("frame" + std::string(4 - std::to_string(i).size(), '0') + std::to_string(i) + ".bmp",
               test::patternPicture(2, 2, i));
    auto r = vexel({"-uc", "frame*.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // 4..102 is 99 missing numbers: 103 is found; 104..203 is 100: the scan ends before 204.
    EXPECT_EQ(written("frame0103_000003.bmp"), test::patternPicture(2, 2, 103));
    EXPECT_FALSE(test::fileExists(dir.file("frame0204_000004.bmp")));
}

TEST_F(Cli, OddButValidBitmapsAreReadAndWrittenAsStandardFiles) {
    Picture p = test::patternPicture(33, 7, 4);
    test::BmpLayout odd;
    odd.topDown = true;
    odd.headerSize = 108;
    odd.fileSizeField = 0;
    odd.sizeImageField = 0;
    bitmap("odd.bmp", p, odd);
    test::BmpLayout old;
    old.padded = false;
    bitmap("OLD.BMP", p, old); // an older unpadded file, with the extension in capitals
    EXPECT_EQ(vexel({"-uc", "odd.bmp"}).exitCode, 0);
    EXPECT_EQ(written("odd_000000.bmp"), p);
    auto r = vexel({"-uc", "OLD.BMP"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(written("OLD_000000.bmp"), p); // the user's spelling for the name, "bmp" for the output
}

TEST_F(Cli, ResizingFollowsTheRequestedWidth) {
    bitmap("pic.bmp", test::patternPicture(640, 480));
    auto r = vexel({"-r", "-uc", "pic.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Picture small = written("pic_000000.bmp");
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.height, 240);
    Picture original = test::patternPicture(640, 480);
    EXPECT_EQ(small.at(5, 7)[0], original.at(10, 14)[0]);

    bitmap("tiny.bmp", test::patternPicture(2, 3));
    r = vexel({"-r=6", "-uc", "tiny.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Picture big = written("tiny_000000.bmp");
    ASSERT_EQ(big.height, 9);
    EXPECT_EQ(big.at(5, 8)[1], test::patternPicture(2, 3).at(1, 2)[1]); // the top row is the top row, not black
}

TEST_F(Cli, AResizeToNothingIsARangeFailure) {
    bitmap("line.bmp", test::patternPicture(1000, 1));
    auto r = vexel({"-r", "-uc", "line.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Число выходит за допустимый диапазон значений."), std::string::npos);
    EXPECT_FALSE(test::fileExists(dir.file("line_000000.bmp")));
    // A width that rounds to nothing is refused when read, and the run goes on unresized.
    r = vexel({"-r=0.2", "-uc", "line.bmp"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("Число выходит за допустимый диапазон значений."), std::string::npos);
    EXPECT_EQ(written("line_000000.bmp").width, 1000);
}

TEST_F(Cli, BitmapsThatCannotBeLoadedEndTheRunWithCode1) {
    auto r = vexel({"-uc", "missing.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\nmissing.bmp\nNo such file or directory\n");
    std::vector<std::uint8_t> corrupt = test::encodeBmp(test::patternPicture(4, 4));
    corrupt[28] = 8; // 8 bits per pixel
    ASSERT_TRUE(test::writeFile(dir.file("bad.bmp"), corrupt));
    EXPECT_EQ(vexel({"-uc", "bad.bmp"}).exitCode, 1);
    corrupt.resize(40);
    ASSERT_TRUE(test::writeFile(dir.file("cut.bmp"), corrupt));
    EXPECT_EQ(vexel({"-uc", "cut.bmp"}).exitCode, 1);
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"bad.bmp", "cut.bmp"}));
}

TEST_F(Cli, AFifoNamedLikeABitmapNeverHangsTheRun) {
    ASSERT_EQ(mkfifo(dir.file("x.bmp").c_str(), 0600), 0);
    // Nothing ever writes to the FIFO: a run that opens it for reading hangs
    // until the deadline kills it.
    const test::CommandResult named = test::VexelProcess({"-uc", "x.bmp"}, dir.path()).wait(60);
    EXPECT_EQ(named.exitCode, 1) << named.err;
    const test::CommandResult listed = test::VexelProcess({"-uc", "*.bmp"}, dir.path()).wait(60);
    EXPECT_EQ(listed.exitCode, 0) << listed.err; // not a file: not listed
}

TEST_F(Cli, AnExistingOutputIsNeverOverwritten) {
    bitmap("pic.bmp", test::patternPicture(3, 3));
    ASSERT_TRUE(test::writeFile(dir.file("pic_000000.bmp"), {'k', 'e', 'e', 'p'}));
    auto r = vexel({"-uc", "pic.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    // The message names the file in the way, and the system's reason.
    EXPECT_NE(r.err.find("Не удаётся записать файл:\npic_000000.bmp"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("File exists"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(dir.file("pic_000000.bmp")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(Cli, AFullDiskFailsTheWriteAndLeavesNoPartialFile) {
    bitmap("big.bmp", test::patternPicture(300, 300));
    auto r = test::runVexel({"-uc", "big.bmp"}, dir.path(), [] {
        rlimit limit{100000, 100000}; // the output needs 270 054 bytes
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Не удаётся записать файл:\nbig_000000.bmp"), std::string::npos) << r.err;
    EXPECT_FALSE(test::fileExists(dir.file("big_000000.bmp")));
    EXPECT_EQ(vexel({"-uc", "big.bmp"}).exitCode, 0); // nothing left to block a second run
}

TEST_F(Cli, NamesThatAreNotUtf8RoundTrip) {
    std::string name = "pic\xff\xfe";
    bitmap(name + ".bmp", test::patternPicture(3, 2));
    auto r = vexel({"-uc", name + ".bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(written(name + "_000000.bmp"), test::patternPicture(3, 2));
}

TEST_F(Cli, AFileWithoutTheRecordMagicIsNoVxFileAndOneCutInItsHeaderEndsInside) {
    // Only a real record of another version asks for a newer program
    // (decompress_cli_test has the mode above 9).
    ASSERT_TRUE(test::writeFile(dir.file("clip.VX"), {1, 2, 3}));
    auto r = vexel({"-uc", "clip.VX"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся распаковать файл:\nclip.VX\nЭто не файл .vx.\n");

    ASSERT_TRUE(test::writeFile(dir.file("notes.vx"), {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't', '\n'}));
    r = vexel({"-uc", "notes.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся распаковать файл:\nnotes.vx\nЭто не файл .vx.\n");

    bitmap("pic.bmp", test::patternPicture(5, 4));
    ASSERT_EQ(vexel({"-c", "pic.bmp"}).exitCode, 0);
    const auto whole = test::readFile(dir.file("pic.vx"));
    ASSERT_GT(whole.size(), 40u);
    ASSERT_TRUE(test::writeFile(dir.file("cut.vx"), std::vector<std::uint8_t>(whole.begin(), whole.begin() + 30)));
    r = vexel({"-uc", "cut.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся распаковать файл:\ncut.vx\nФайл обрывается внутри записи.\n");
    EXPECT_FALSE(test::fileExists(dir.file("cut_000000.bmp"))) << "no bitmap from a cut file";
}

TEST_F(Cli, AnUnknownExtensionCannotBeUnpacked) {
    ASSERT_TRUE(test::writeFile(dir.file("notes.txt"), {1}));
    auto r = vexel({"-uc", "notes.txt"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся распаковать файл:\nnotes.txt\nЭто не рисунок (.bmp, .png, .jpg) и не файл .vx.\n");
}

TEST_F(Cli, CopyConversionWithPictureOptionsIsRefused) {
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {1}));
    auto r = vexel({"-c", "-os", "clip.vx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "Ошибка: Преобразование копированием невозможно, т.к.\nдля обработки параметров требуется распаковка\n");
}

TEST_F(Cli, WithoutANameTheUsageIsShownUnlessVpBmpExists) {
    auto r = vexel({});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Vexel v1.54: Command line usage:\n  [-c] [-uc] [filename]\n", 0), 0u);
    EXPECT_NE(r.out.find("\nVexel v1.54: Description (constinue):\n"), std::string::npos);
    EXPECT_EQ(vexel({"-h", "pic.bmp"}).exitCode, 3);
    EXPECT_EQ(vexel({"/?"}).exitCode, 3);

    bitmap("vp.bmp", test::patternPicture(2, 2));
    r = vexel({"-uc"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(written("vp_000000.bmp"), test::patternPicture(2, 2));
    EXPECT_EQ(vexel({"-h"}).exitCode, 3);
}

TEST_F(Cli, ViewingWithoutADisplayEndsWithAMessage) {
    bitmap("pic.bmp", test::patternPicture(2, 2));
    auto r = vexel({"pic.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся открыть окно просмотра:\npic.bmp\n");
}

TEST_F(Cli, AWildcardThatMatchesNothingProcessesNoFrame) {
    auto r = vexel({"-uc", "none*.bmp"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(vexel({"-c", "none*.bmp"}).exitCode, 0);
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// The address space a child may have (RLIMIT_AS), set before it starts.
std::uint64_t addressSpace = 0;
void limitAddressSpace() {
    struct rlimit limit{addressSpace, addressSpace};
    setrlimit(RLIMIT_AS, &limit);
}

// From the least address space the program loads in upwards: first there
// is no room for even the smallest arena - the start-up check's message and
// code 10, nothing else runs - then the program runs (the usage, code 3).
// Nothing in between, and no crash.
TEST(StartUp, WithoutMemoryForEvenTheSmallestArenaTheRunEndsWithCode10) {
#if defined(VEXEL_ASAN)
    GTEST_SKIP() << "the sanitizer's own shadow memory needs more address space than the limits leave";
#endif
    test::TempDir dir;
    int refused = 0, ran = 0;
    for (std::uint64_t mib = 4; mib <= 64; ++mib) {
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        addressSpace = mib << 20;
        const test::CommandResult r = test::runVexel({"-h"}, dir.path(), limitAddressSpace);
        if (r.exitCode == 127 && refused == 0 && ran == 0) continue; // the program itself does not load
        if (r.exitCode == 10 && ran == 0) {
            EXPECT_EQ(r.err, "Error: Not enough RAM to run application\n");
            EXPECT_EQ(r.out, ""); // nothing else ran
            ++refused;
            continue;
        }
        EXPECT_EQ(r.exitCode, 3) << r.err;
        ++ran;
    }
    EXPECT_GE(refused, 1);
    EXPECT_GE(ran, 1);
}

// The first arena fits the address space there is: a 640 x 480 picture
// packs and unpacks, with the default settings, in 150 000 KiB.
TEST(StartUp, ASmallAddressSpaceStillPacksAndUnpacksAPicture) {
#if defined(VEXEL_ASAN)
    GTEST_SKIP() << "the sanitizer's own shadow memory needs more address space than the limit leaves";
#endif
    test::TempDir dir;
    const Picture p = test::patternPicture(640, 480);
    ASSERT_TRUE(test::writeFile(dir.file("x.bmp"), test::encodeBmp(p)));
    addressSpace = 150000ull << 10;
    auto r = test::runVexel({"-c", "x.bmp"}, dir.path(), limitAddressSpace);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = test::runVexel({"-uc", "x.vx"}, dir.path(), limitAddressSpace);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Picture unpacked;
    ASSERT_TRUE(test::decodeStandardBmp(test::readFile(dir.file("x_000000.bmp")), unpacked));
    EXPECT_EQ(unpacked.width, 640);
    EXPECT_EQ(unpacked.height, 480);
    // The same bytes as without a limit.
    const std::vector<std::uint8_t> limited = test::readFile(dir.file("x.vx"));
    ASSERT_EQ(test::runVexel({"-c", "x.bmp"}, dir.path()).exitCode, 0);
    EXPECT_TRUE(test::readFile(dir.file("x.vx")) == limited);
}

} // namespace
} // namespace vexel
