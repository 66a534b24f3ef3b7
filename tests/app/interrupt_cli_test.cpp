// SIGINT and SIGTERM in the runs that write files: the frame in progress is
// finished, the run ends with 128 + the signal, every record or bitmap
// written before is the one an uninterrupted run writes, and no temporary
// file stays. Each signal is sent while the run is held at a stop point of
// its own (VEXEL_TEST_STOP_AT), so what it must leave is known exactly.
// Also here: the other promises about temporary files (a name another file
// already has, a sync that fails before the rename).
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 24;

// Frames of 320 x 240 that differ, so every one is a whole record of work.
void frames(const test::TempDir& dir, int count = kFrames) {
    for (int n = 0; n < count; ++n) {
        test::Picture p{320, 240, std::vector<std::uint8_t>(320 * 240 * 3)};
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                for (int c = 0; c < 3; ++c) p.at(x, y)[c] = static_cast<std::uint8_t>((x * (c + 1) + y * 3 + n * 7) % 251);
        ASSERT_TRUE(test::writeFile(dir.file("f" + std::to_string(1000 + n) + ".bmp"), test::encodeBmp(p)));
    }
}

std::string bitmapName(int n) {
    const std::string digits = std::to_string(n);
    return "f_" + std::string(6 - digits.size(), '0') + digits + ".bmp";
}

// Starts a run that stops itself at the point, sends it the signal there
// and lets it go on; the run's result.
test::CommandResult signalledAt(const std::string& point, int signal, const std::vector<std::string>& args,
                                const test::TempDir& dir) {
    test::ScopedEnv stop("VEXEL_TEST_STOP_AT", point);
    test::VexelProcess run(args, dir.path());
    std::string why;
    EXPECT_TRUE(run.waitForStop(&why)) << point << ": " << why;
    run.signal(signal);
    run.resume();
    return run.wait();
}

struct Stop {
    int signal;
    int exitCode;
};
const Stop kStops[] = {{SIGINT, 130}, {SIGTERM, 143}};

TEST(Interrupt, ASignalWhilePackingKeepsTheRecordsWrittenSoFarInPlaceOfTheOldTarget) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir);
    ASSERT_EQ(test::runVexel({"-c", "-a=25", "f*.bmp"}, dir.path()).exitCode, 0);
    const auto whole = test::recordsWithoutLinks(test::readFile(dir.file("f.vx")));
    ASSERT_EQ(whole.size(), static_cast<std::size_t>(kFrames));
    for (const Stop& s : kStops) {
        for (int k : {0, 6}) {
            SCOPED_TRACE("signal " + std::to_string(s.signal) + " after record " + std::to_string(k));
            ASSERT_TRUE(test::writeFile(dir.file("f.vx"), Bytes{'o', 'l', 'd'}));
            const test::CommandResult r =
                signalledAt("after-record:" + std::to_string(k), s.signal, {"-c", "-a=25", "f*.bmp"}, dir);
            EXPECT_EQ(r.exitCode, s.exitCode) << r.err;
            const auto records = test::recordsWithoutLinks(test::readFile(dir.file("f.vx")));
            ASSERT_EQ(records.size(), static_cast<std::size_t>(k + 1));
            for (int i = 0; i <= k; ++i) EXPECT_TRUE(records[i] == whole[i]) << "record " << i;
            EXPECT_TRUE(test::partFiles(dir).empty());
        }
    }
}

TEST(Interrupt, ASignalWhileUnpackingEndsAfterTheBitmapInProgressAndEveryOneIsWhole) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir);
    ASSERT_EQ(test::runVexel({"-c", "-t=1", "f*.bmp"}, dir.path()).exitCode, 0);
    std::vector<Bytes> whole;
    {
        test::TempDir other;
        ASSERT_TRUE(test::writeFile(other.file("f.vx"), test::readFile(dir.file("f.vx"))));
        ASSERT_EQ(test::runVexel({"-uc", "f.vx"}, other.path()).exitCode, 0);
        for (int n = 0; n < kFrames; ++n) whole.push_back(test::readFile(other.file(bitmapName(n))));
    }
    for (const Stop& s : kStops) {
        SCOPED_TRACE(s.signal);
        for (const std::string& name : test::listFolder(dir.path()))
            if (name.rfind("f_", 0) == 0) std::remove(dir.file(name).c_str());
        const test::CommandResult r = signalledAt("after-bitmap:4", s.signal, {"-uc", "f.vx"}, dir);
        EXPECT_EQ(r.exitCode, s.exitCode) << r.err;
        for (int n = 0; n < 5; ++n) EXPECT_TRUE(test::readFile(dir.file(bitmapName(n))) == whole[n]) << bitmapName(n);
        EXPECT_FALSE(test::fileExists(dir.file(bitmapName(5))));
    }
}

TEST(Interrupt, ASignalDuringTheRepackConversionKeepsTheConvertedRecordsSoFar) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 12);
    ASSERT_EQ(test::runVexel({"-c", "-t=1", "f*.bmp"}, dir.path()).exitCode, 0);
    // Repacking unpacks each record and packs it again with the new settings.
    const std::vector<std::string> repack{"-c", "-t=2", "-m=7", "f.vx"};
    ASSERT_EQ(test::runVexel(repack, dir.path()).exitCode, 0);
    const auto whole = test::recordsWithoutLinks(test::readFile(dir.file("f_converted.vx")));
    ASSERT_EQ(whole.size(), 12u);
    ASSERT_EQ(std::remove(dir.file("f_converted.vx").c_str()), 0);
    const test::CommandResult r = signalledAt("after-record:3", SIGINT, repack, dir);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    const auto records = test::recordsWithoutLinks(test::readFile(dir.file("f_converted.vx")));
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t i = 0; i < records.size(); ++i) EXPECT_TRUE(records[i] == whole[i]) << "record " << i;
    EXPECT_TRUE(test::partFiles(dir).empty());
}

TEST(Interrupt, KilledOutrightTheRunLeavesItsTemporaryFileAndTheOldTarget) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 6);
    ASSERT_TRUE(test::writeFile(dir.file("f.vx"), Bytes{'o', 'l', 'd'}));
    test::ScopedEnv stop("VEXEL_TEST_STOP_AT", "after-record:2");
    test::VexelProcess run({"-c", "f*.bmp"}, dir.path());
    std::string why;
    ASSERT_TRUE(run.waitForStop(&why)) << why;
    run.signal(SIGKILL);
    EXPECT_EQ(run.wait().exitCode, -1);
    EXPECT_EQ(test::readFile(dir.file("f.vx")), (Bytes{'o', 'l', 'd'}));
    const std::vector<std::string> left = test::partFiles(dir);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(test::recordChain(test::readFile(dir.file(left[0]))).size(), 3u);
}

TEST(TemporaryFiles, ANameAnotherFileAlreadyHasIsLeftAloneAndTheNextOneIsTaken) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 3);
    test::ScopedEnv stop("VEXEL_TEST_STOP_AT", "start");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-c", "f1000.bmp"}, std::vector<std::string>{"-c", "f*.bmp"}}) {
        SCOPED_TRACE(args[1]);
        const std::string target = args[1] == "f1000.bmp" ? "f1000.vx" : "f.vx";
        test::VexelProcess run(args, dir.path());
        std::string why;
        ASSERT_TRUE(run.waitForStop(&why)) << why;
        // The name the run would take first, held by someone else's file.
        const std::string taken = target + "." + std::to_string(run.pid()) + "-0.part";
        const Bytes theirs{'t', 'h', 'e', 'i', 'r', 's'};
        ASSERT_TRUE(test::writeFile(dir.file(taken), theirs));
        run.resume();
        const test::CommandResult r = run.wait();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(test::readFile(dir.file(taken)), theirs);
        EXPECT_EQ(test::partFiles(dir), std::vector<std::string>{taken});
        EXPECT_EQ(test::recordChain(test::readFile(dir.file(target))).size(), args[1] == "f1000.bmp" ? 1u : 3u);
        std::remove(dir.file(taken).c_str());
    }
}

TEST(TemporaryFiles, ASyncThatFailsBeforeTheRenameLeavesTheOldTarget) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 3);
    const Bytes old{'o', 'l', 'd'};
    ASSERT_TRUE(test::writeFile(dir.file("f1000.vx"), old));
    ASSERT_TRUE(test::writeFile(dir.file("f.vx"), old));
    test::ScopedEnv failing("VEXEL_TEST_FAIL_SYNC", "1");
    const test::CommandResult single = test::runVexel({"-c", "f1000.bmp"}, dir.path());
    EXPECT_EQ(single.exitCode, 2) << single.err;
    EXPECT_NE(single.err.find("Не удаётся запаковать файл:"), std::string::npos) << single.err;
    EXPECT_EQ(test::readFile(dir.file("f1000.vx")), old);
    EXPECT_TRUE(test::partFiles(dir).empty());
    const test::CommandResult grouped = test::runVexel({"-c", "f*.bmp"}, dir.path());
    EXPECT_EQ(grouped.exitCode, 2) << grouped.err;
    EXPECT_EQ(test::readFile(dir.file("f.vx")), old);
}

// A build without the test hooks (the packaged release) takes none of them
// from the environment.
TEST(TestHooks, ABuildWithoutThemTakesNoneFromTheEnvironment) {
#if VEXEL_TEST_HOOKS
    GTEST_SKIP() << "built with VEXEL_TEST_HOOKS";
#endif
    test::TempDir dir;
    frames(dir, 3);
    const Bytes old{'o', 'l', 'd'};
    ASSERT_TRUE(test::writeFile(dir.file("f.vx"), old));
    test::ScopedEnv stop("VEXEL_TEST_STOP_AT", "start");
    test::ScopedEnv full("VEXEL_FULL_DISK_AFTER", "0");
    test::ScopedEnv sync("VEXEL_TEST_FAIL_SYNC", "1");
    const test::CommandResult r = test::VexelProcess({"-c", "f*.bmp"}, dir.path()).wait(120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::recordChain(test::readFile(dir.file("f.vx"))).size(), 3u);
}

} // namespace
} // namespace vexel
