// "-c" from the command line: the built vexel packing bitmaps made here.
#include "codec/compression.h"
#include "codec/container.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <random>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Picture;

// A smooth picture with a detailed square that moves with the frame number.
Picture moving(int width, int height, int frame) {
    Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            bool square = x >= 4 * frame && x < 4 * frame + 16 && y >= 8 && y < 24;
            std::uint8_t* px = p.at(x, y);
            for (int c = 0; c < 3; ++c)
                px[c] = static_cast<std::uint8_t>(square ? (x * 37 + y * 91 + c * 53) % 256 : 30 + x + y / 2 + 40 * c);
        }
    return p;
}

class Compress : public ::testing::Test {
protected:
    void bitmap(const std::string& name, const Picture& p) {
        ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(p)));
    }
    test::CommandResult vexel(std::vector<std::string> args, void (*setup)() = nullptr) {
        return test::runVexel(args, dir.path(), setup);
    }
    std::vector<RecordHeader> records(const std::string& name) {
        return test::recordChain(test::readFile(dir.file(name)));
    }
    // The block types of a single-stream mode-7 record (two bits each).
    std::vector<BlockKind> kinds(const std::string& name, const RecordHeader& h) {
        Bytes file = test::readFile(dir.file(name));
        std::span<const std::uint8_t> stream(file.data() + h.recordStart + h.headerSize, h.recordSize - h.headerSize);
        BlockAreaWalker walker(stream, blockAreaLayout(h, false));
        std::vector<BlockKind> out;
        BlockEntry e;
        while (walker.next(e) == 1) out.push_back(e.kind);
        return out;
    }
    test::TempDir dir;
};

TEST_F(Compress, OneStreamWritesAFortySevenByteHeader) {
    bitmap("pic.bmp", moving(40, 30, 0));
    auto r = vexel({"-c", "-t=1", "pic.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto chain = records("pic.vx");
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(chain[0].headerSize, 47u);
    EXPECT_EQ(chain[0].mode, 8);
    EXPECT_EQ(chain[0].blockSize, 8u);
    EXPECT_EQ(chain[0].chromaStep, 4);
    EXPECT_EQ(chain[0].pixelsPerMeterX, 2835u);
    EXPECT_EQ(chain[0].pixelsPerMeterY, 3780u);
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.vx"}));
}

TEST_F(Compress, TheDefaultIsModeEightInFourStreamsWithAnAscendingTable) {
    bitmap("pic.bmp", moving(64, 80, 1));
    auto r = vexel({"-c", "pic.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto chain = records("pic.vx");
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(chain[0].headerSize, 91u);
    EXPECT_EQ(chain[0].streamCount, 4u);
    EXPECT_EQ(chain[0].streamOffsets[0], 91u);
    for (int i = 1; i < 4; ++i) EXPECT_LT(chain[0].streamOffsets[i - 1], chain[0].streamOffsets[i]);
    // Every stream is a compressed stream that expands.
    Bytes file = test::readFile(dir.file("pic.vx"));
    for (std::uint32_t i = 1; i <= 4; ++i) {
        ByteRange range = streamRange(chain[0], i);
        Bytes out(mode8ExpansionCapacity(frameGrid(chain[0])));
        std::size_t length = 0;
        EXPECT_EQ(decompressStream({file.data() + range.begin, range.size()}, out, length), 1) << i;
    }
}

TEST_F(Compress, AWildcardGroupsNumberedFramesIntoOneLinkedFile) {
    for (int f = 1; f <= 3; ++f) bitmap("frame000" + std::to_string(f) + ".bmp", moving(48, 32, f));
    auto r = vexel({"-c", "-t=1", "-a=25", "frame*.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto chain = records("frame.vx");
    ASSERT_EQ(chain.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(chain[i].headerSize, 71u);
        EXPECT_DOUBLE_EQ(chain[i].frameRate, 25.0);
        EXPECT_EQ(chain[i].prevRecord, i ? chain[i - 1].recordStart : 0u);
        if (i < 2) {
            EXPECT_EQ(chain[i].nextRecord, chain[i + 1].recordStart);
        }
    }
}

TEST_F(Compress, KeptBlocksFollowTheKeyframePattern) {
    // Identical frames: every block of a non-keyframe is kept.
    for (int f = 0; f < 4; ++f) bitmap("f" + std::to_string(f) + ".bmp", moving(32, 32, 0));
    auto r = vexel({"-c", "-t=1", "-m=7", "-a=3", "f*.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto chain = records("f.vx");
    ASSERT_EQ(chain.size(), 4u);
    std::vector<int> kept;
    for (auto& h : chain) {
        int k = 0;
        for (BlockKind kind : kinds("f.vx", h)) k += kind == BlockKind::Keep;
        kept.push_back(k);
    }
    // A rate of 3 makes frames 1 and 3 keyframes; frames 2 and 4 keep all 16 blocks.
    EXPECT_EQ(kept, (std::vector<int>{0, 16, 0, 16}));

    r = vexel({"-c", "-t=1", "-m=7", "-a=3", "-k", "f*.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (auto& h : records("f.vx"))
        for (BlockKind kind : kinds("f.vx", h)) EXPECT_NE(kind, BlockKind::Keep);
}

TEST_F(Compress, GroupingWithoutAWildcardOrWithoutMinusCWritesAVxBesideTheInput) {
    bitmap("x.bmp", moving(16, 16, 0));
    auto r = vexel({"-g", "x.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(records("x.vx").size(), 1u);
    EXPECT_EQ(records("x.vx")[0].headerSize, 75u + 4 * 4); // grouped: link fields and the table
}

TEST_F(Compress, AnOutputThatNamesAnInputIsRefusedBeforeAnythingIsWritten) {
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {1, 2, 3}));
    ASSERT_TRUE(test::writeFile(dir.file("clipA.vx"), {4, 5, 6}));
    auto r = vexel({"-g", "clip*.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Выходной файл совпадает с одним из входных:\nclip.vx\n");
    EXPECT_EQ(test::readFile(dir.file("clip.vx")), (Bytes{1, 2, 3}));
}

void smallFileLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{6000, 6000};
    setrlimit(RLIMIT_FSIZE, &limit);
}

TEST_F(Compress, AFullDiskEndsTheRunWithNoBrokenFile) {
    std::mt19937 random(9);
    Picture noise{96, 96, std::vector<std::uint8_t>(96 * 96 * 3)};
    for (auto& b : noise.rgb) b = static_cast<std::uint8_t>(random());
    bitmap("pic.bmp", noise);
    ASSERT_TRUE(test::writeFile(dir.file("pic.vx"), {9, 9, 9}));
    auto r = vexel({"-c", "-m=7", "pic.bmp"}, smallFileLimit);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся запаковать файл:\npic.vx\nFile too large\n");
    EXPECT_EQ(test::readFile(dir.file("pic.vx")), (Bytes{9, 9, 9})); // the old file survives
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.vx"}));

    // A grouped file keeps the records written before the disk filled.
    for (int f = 0; f < 6; ++f) bitmap("g" + std::to_string(f) + ".bmp", f < 2 ? moving(32, 32, f) : noise);
    r = vexel({"-c", "-m=7", "-t=1", "g*.bmp"}, smallFileLimit);
    EXPECT_EQ(r.exitCode, 2);
    auto chain = records("g.vx");
    ASSERT_GE(chain.size(), 1u);
    EXPECT_EQ(chain.back().nextRecord, 0u);
    EXPECT_EQ(chain.back().recordStart + chain.back().recordSize, test::readFile(dir.file("g.vx")).size());
}

} // namespace
} // namespace vexel
