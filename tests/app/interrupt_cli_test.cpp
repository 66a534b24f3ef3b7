// SIGINT and SIGTERM in the runs that write files: the frame in progress is
// finished and the run ends with 128 + the signal. An existing target stays
// exactly as it was; a new one holds the whole records written before the
// stop, each the one an uninterrupted run writes; nothing else is left in
// the folder. Each signal is sent while the run is held at a stop point of
// its own (VEXEL_TEST_STOP_AT), so what it must leave is known exactly.
// Also here: a run killed outright, and a sync that fails.
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

TEST(Interrupt, ASignalWhilePackingLeavesAnExistingTargetAsItWasAndANewOneWithTheWholeRecords) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir);
    const std::size_t inputs = test::listFolder(dir.path()).size();
    ASSERT_EQ(test::runVexel({"-c", "-a=25", "f*.bmp"}, dir.path()).exitCode, 0);
    const Bytes complete = test::readFile(dir.file("f.vx"));
    const auto whole = test::recordsWithoutLinks(complete);
    ASSERT_EQ(whole.size(), static_cast<std::size_t>(kFrames));
    for (const Stop& s : kStops) {
        for (int k : {0, 6}) {
            SCOPED_TRACE("signal " + std::to_string(s.signal) + " after record " + std::to_string(k));
            // A complete older file: the stopped run leaves it, and says so.
            test::CommandResult r =
                signalledAt("after-record:" + std::to_string(k), s.signal, {"-c", "-a=25", "-m=7", "f*.bmp"}, dir);
            EXPECT_EQ(r.exitCode, s.exitCode) << r.err;
            EXPECT_TRUE(test::readFile(dir.file("f.vx")) == complete);
            EXPECT_NE(r.err.find("Файл оставлен без изменений:\nf.vx"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("(" + std::to_string(k + 1) + ") не сохранены"), std::string::npos) << r.err;
            EXPECT_EQ(test::listFolder(dir.path()).size(), inputs + 1);

            // No file before: the whole records written become it.
            ASSERT_EQ(std::remove(dir.file("f.vx").c_str()), 0);
            r = signalledAt("after-record:" + std::to_string(k), s.signal, {"-c", "-a=25", "f*.bmp"}, dir);
            EXPECT_EQ(r.exitCode, s.exitCode) << r.err;
            EXPECT_NE(r.err.find("Записано кадров: " + std::to_string(k + 1) + ", в файл:\nf.vx"), std::string::npos)
                << r.err;
            const auto records = test::recordsWithoutLinks(test::readFile(dir.file("f.vx")));
            ASSERT_EQ(records.size(), static_cast<std::size_t>(k + 1));
            for (int i = 0; i <= k; ++i) EXPECT_TRUE(records[i] == whole[i]) << "record " << i;
            EXPECT_EQ(test::listFolder(dir.path()).size(), inputs + 1);
            ASSERT_TRUE(test::writeFile(dir.file("f.vx"), complete));
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

TEST(Interrupt, ASignalDuringTheRepackConversionKeepsAnOldConversionOrTheConvertedRecordsSoFar) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 12);
    ASSERT_EQ(test::runVexel({"-c", "-t=1", "f*.bmp"}, dir.path()).exitCode, 0);
    // Repacking unpacks each record and packs it again with the new settings.
    const std::vector<std::string> repack{"-c", "-t=2", "-m=7", "f.vx"};
    ASSERT_EQ(test::runVexel(repack, dir.path()).exitCode, 0);
    const Bytes complete = test::readFile(dir.file("f_converted.vx"));
    const auto whole = test::recordsWithoutLinks(complete);
    ASSERT_EQ(whole.size(), 12u);
    const std::size_t names = test::listFolder(dir.path()).size();

    test::CommandResult r = signalledAt("after-record:3", SIGINT, repack, dir);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_TRUE(test::readFile(dir.file("f_converted.vx")) == complete);
    EXPECT_EQ(test::listFolder(dir.path()).size(), names);

    ASSERT_EQ(std::remove(dir.file("f_converted.vx").c_str()), 0);
    r = signalledAt("after-record:3", SIGINT, repack, dir);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    const auto records = test::recordsWithoutLinks(test::readFile(dir.file("f_converted.vx")));
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t i = 0; i < records.size(); ++i) EXPECT_TRUE(records[i] == whole[i]) << "record " << i;
    EXPECT_EQ(test::listFolder(dir.path()).size(), names);
}

// Killed outright, a run leaves the old target and nothing else: its new
// file has no name. On a file system without unnamed files the hidden one
// is all that stays.
TEST(Interrupt, KilledOutrightTheRunLeavesTheOldTargetAndNothingElse) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    VEXEL_NEEDS_UNNAMED_FILES(dir.path());
    frames(dir, 6);
    const std::size_t inputs = test::listFolder(dir.path()).size();
    ASSERT_TRUE(test::writeFile(dir.file("f.vx"), Bytes{'o', 'l', 'd'}));
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "hidden names" : "unnamed files");
        test::ScopedEnv fallback("VEXEL_TEST_NO_UNNAMED_FILES", hidden ? "1" : "0");
        for (const char* point : {"after-record:2", "before-rename"}) {
            SCOPED_TRACE(point);
            test::ScopedEnv stop("VEXEL_TEST_STOP_AT", point);
            test::VexelProcess run({"-c", "f*.bmp"}, dir.path());
            std::string why;
            ASSERT_TRUE(run.waitForStop(&why)) << why;
            run.signal(SIGKILL);
            EXPECT_EQ(run.wait().exitCode, -1);
            EXPECT_EQ(test::readFile(dir.file("f.vx")), (Bytes{'o', 'l', 'd'}));
            std::vector<std::string> left;
            for (const std::string& name : test::listFolder(dir.path()))
                if (name.rfind("f1", 0) != 0 && name != "f.vx") left.push_back(name);
            if (!hidden) {
                EXPECT_TRUE(left.empty());
            } else {
                ASSERT_EQ(left.size(), 1u);
                EXPECT_EQ(left[0].rfind(".vexel-", 0), 0u);
                EXPECT_EQ(test::recordChain(test::readFile(dir.file(left[0]))).size(),
                          std::string(point) == "before-rename" ? 6u : 3u);
                std::remove(dir.file(left[0]).c_str());
            }
        }
    }
    EXPECT_EQ(test::listFolder(dir.path()).size(), inputs + 1);
}

// A signal on the path without unnamed files: the hidden name goes too.
TEST(Interrupt, OnAFileSystemWithoutUnnamedFilesASignalLeavesNoHiddenName) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 6);
    const std::size_t inputs = test::listFolder(dir.path()).size();
    test::ScopedEnv fallback("VEXEL_TEST_NO_UNNAMED_FILES", "1");
    ASSERT_EQ(test::runVexel({"-c", "f*.bmp"}, dir.path()).exitCode, 0);
    EXPECT_EQ(test::listFolder(dir.path()).size(), inputs + 1);
    const Bytes complete = test::readFile(dir.file("f.vx"));
    const test::CommandResult r = signalledAt("after-record:2", SIGTERM, {"-c", "-m=9", "f*.bmp"}, dir);
    EXPECT_EQ(r.exitCode, 143) << r.err;
    EXPECT_TRUE(test::readFile(dir.file("f.vx")) == complete);
    EXPECT_EQ(test::listFolder(dir.path()).size(), inputs + 1);
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
    EXPECT_EQ(test::listFolder(dir.path()).size(), 5u);
    const test::CommandResult grouped = test::runVexel({"-c", "f*.bmp"}, dir.path());
    EXPECT_EQ(grouped.exitCode, 2) << grouped.err;
    EXPECT_NE(grouped.err.find("Не удаётся запаковать файл:\nf.vx\nInput/output error"), std::string::npos)
        << grouped.err;
    EXPECT_EQ(test::readFile(dir.file("f.vx")), old);
    EXPECT_EQ(test::listFolder(dir.path()).size(), 5u);

    // Syncing protects only a file that is replaced: a new name needs none.
    ASSERT_EQ(std::remove(dir.file("f.vx").c_str()), 0);
    ASSERT_EQ(std::remove(dir.file("f1000.vx").c_str()), 0);
    EXPECT_EQ(test::runVexel({"-c", "f1000.bmp"}, dir.path()).exitCode, 0);
    EXPECT_EQ(test::recordChain(test::readFile(dir.file("f1000.vx"))).size(), 1u);
    EXPECT_EQ(test::runVexel({"-c", "f*.bmp"}, dir.path()).exitCode, 0);
    EXPECT_EQ(test::recordChain(test::readFile(dir.file("f.vx"))).size(), 3u);
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
