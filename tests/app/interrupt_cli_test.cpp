// SIGINT and SIGTERM in the runs that write files: the frame in progress is
// finished, the run ends with 128 + the signal, and no temporary file stays.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

namespace vexel {
namespace {

constexpr int kFrames = 120;

// Frames of 320 x 240 that differ, so every one is a whole record of work.
void frames(const test::TempDir& dir) {
    for (int n = 0; n < kFrames; ++n) {
        test::Picture p{320, 240, std::vector<std::uint8_t>(320 * 240 * 3)};
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                for (int c = 0; c < 3; ++c) p.at(x, y)[c] = static_cast<std::uint8_t>((x * (c + 1) + y * 3 + n * 7) % 251);
        ASSERT_TRUE(test::writeFile(dir.file("f" + std::to_string(1000 + n) + ".bmp"), test::encodeBmp(p)));
    }
}

// Waits until the run has written something, at most ten seconds: a file,
// or a file of its own beside it (a grouped output's temporary file).
bool started(const test::TempDir& dir, const std::string& name) {
    for (int i = 0; i < 1000; ++i) {
        for (const std::string& n : test::listFolder(dir.path()))
            if (n.rfind(name, 0) == 0 && test::readFile(dir.file(n)).size() > 100) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool noTemporaryFile(const test::TempDir& dir) {
    for (const std::string& name : test::listFolder(dir.path()))
        if (name.find(".part") != std::string::npos) return false;
    return true;
}

TEST(Interrupt, SigintStopsPackingAfterTheFrameInProgressWith130) {
    test::TempDir dir;
    frames(dir);
    test::VexelProcess run({"-c", "-t=1", "f*.bmp"}, dir.path());
    ASSERT_TRUE(started(dir, "f.vx"));
    run.signal(SIGINT);
    const test::CommandResult r = run.wait();
    EXPECT_EQ(r.exitCode, 130) << r.err;
    const auto chain = test::recordChain(test::readFile(dir.file("f.vx")));
    EXPECT_GE(chain.size(), 1u);
    EXPECT_LT(chain.size(), static_cast<std::size_t>(kFrames));
    EXPECT_TRUE(noTemporaryFile(dir));
}

TEST(Interrupt, SigtermStopsUnpackingWith143AndEveryWrittenBitmapIsWhole) {
    test::TempDir dir;
    frames(dir);
    ASSERT_EQ(test::runVexel({"-c", "-t=1", "f*.bmp"}, dir.path()).exitCode, 0);
    test::VexelProcess run({"-uc", "f.vx"}, dir.path());
    ASSERT_TRUE(started(dir, "f_000000.bmp"));
    run.signal(SIGTERM);
    const test::CommandResult r = run.wait();
    EXPECT_EQ(r.exitCode, 143) << r.err;
    int written = 0;
    for (int n = 0; n < kFrames; ++n) {
        const std::string name = "f_" + std::string(6 - std::to_string(n).size(), '0') + std::to_string(n) + ".bmp";
        if (!test::fileExists(dir.file(name))) break;
        test::Picture p;
        EXPECT_TRUE(test::decodeStandardBmp(test::readFile(dir.file(name)), p)) << name;
        ++written;
    }
    EXPECT_GE(written, 1);
    EXPECT_LT(written, kFrames);
}

} // namespace
} // namespace vexel
