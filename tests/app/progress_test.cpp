// The progress of long runs at a terminal: the line's text, its pace, and a
// real run on a pseudo-terminal, where the line is drawn and cleared.
#include "app/frame_progress.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vexel {
namespace {

TEST(FrameProgress, TheLineTellsFramesRateAndTimeLeft) {
    EXPECT_EQ(FrameProgress::line(12, 60, 0.5), "vexel: 12 of 60 frames, 24.0 fps, 2 s left");
    EXPECT_EQ(FrameProgress::line(60, 60, 2.5), "vexel: 60 of 60 frames, 24.0 fps, 0 s left");
    EXPECT_EQ(FrameProgress::line(7, 0, 2.0), "vexel: 7 frames, 3.5 fps");
}

TEST(FrameProgress, ItIsRedrawnAtMostTenTimesASecond) {
    long double now = 100;
    std::vector<std::string> drawn;
    {
        FrameProgress p(1000, [&] { return now; }, [&](const std::string& l) { drawn.push_back(l); });
        for (int f = 0; f < 100; ++f) {
            now += 0.004; // 250 frames a second
            p.frameDone();
        }
    }
    // 0.4 s of frames: the first frame and then one line every 0.1 s.
    EXPECT_GE(drawn.size(), 4u);
    EXPECT_LE(drawn.size(), 5u);
    EXPECT_EQ(drawn.front(), "vexel: 1 of 1000 frames, 250.0 fps, 4 s left");
}

// Runs vexel on a pseudo-terminal; everything it wrote there.
std::string onTerminal(const std::vector<std::string>& args, const std::string& folder) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        std::vector<std::string> copies(args);
        std::vector<char*> argv;
        std::string program = VEXEL_BIN;
        argv.push_back(program.data());
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    waitpid(pid, nullptr, 0);
    close(master);
    return out;
}

TEST(FrameProgress, PackingManyFramesAtATerminalDrawsTheLineAndClearsIt) {
    test::TempDir dir;
    for (int n = 0; n < 40; ++n)
        ASSERT_TRUE(test::writeFile(dir.file("f" + std::to_string(100 + n) + ".bmp"),
                                    test::encodeBmp(test::patternPicture(160, 120, n))));
    const std::string out = onTerminal({"-c", "f*.bmp"}, dir.path());
    EXPECT_NE(out.find("of 40 frames"), std::string::npos) << out;
    const std::string erase = "\r\033[K";
    ASSERT_GE(out.size(), erase.size());
    EXPECT_EQ(out.substr(out.size() - erase.size()), erase); // nothing of it stays
    // Unpacking counts the file's records.
    const std::string unpacked = onTerminal({"-uc", "f.vx"}, dir.path());
    EXPECT_NE(unpacked.find("of 40 frames"), std::string::npos) << unpacked;
    // A single picture shows no line.
    EXPECT_EQ(onTerminal({"-c", "f100.bmp"}, dir.path()), "");
}

} // namespace
} // namespace vexel
