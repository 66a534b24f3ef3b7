// "-uc", "-ug" and the two conversions from the command line: the built
// vexel packing bitmaps made here and unpacking, ungrouping, copying and
// repacking the .vx files it wrote; bad files end with their message and
// exit code; no input file is ever changed.
#include "codec/container.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Picture;

// A smooth background, text-like strokes and a noisy square that moves with the frame.
Picture frame(int width, int height, int n) {
    Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    std::mt19937 random(3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool square = x >= 4 * n && x < 4 * n + 16 && y >= 8 && y < 24;
            const bool stroke = x % 13 == 5 && y > height / 2;
            for (int c = 0; c < 3; ++c)
                p.at(x, y)[c] = static_cast<std::uint8_t>(square   ? random()
                                                          : stroke ? 20
                                                                   : 40 + x + y / 2 + 35 * c);
        }
    return p;
}

double psnr(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 0;
    double se = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) se += (double(a.rgb[i]) - b.rgb[i]) * (double(a.rgb[i]) - b.rgb[i]);
    return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.rgb.size()) / se);
}

std::string numbered(const std::string& stem, int n, const std::string& extension) {
    std::string digits = std::to_string(n);
    return stem + "_" + std::string(6 - digits.size(), '0') + digits + "." + extension;
}

class Unpack : public ::testing::Test {
protected:
    test::CommandResult vexel(std::vector<std::string> args) { return test::runVexel(args, dir.path()); }
    void bitmap(const std::string& name, const Picture& p) {
        ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(p)));
    }
    // Writes frames f0.bmp ... and groups them into f.vx with the options given.
    std::vector<Picture> video(int count, std::vector<std::string> options, int width = 72, int height = 40) {
        std::vector<Picture> frames;
        for (int n = 0; n < count; ++n) {
            frames.push_back(frame(width, height, n));
            bitmap("f" + std::to_string(n) + ".bmp", frames.back());
        }
        options.insert(options.begin(), "-c");
        options.push_back("f*.bmp");
        auto r = vexel(options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return frames;
    }
    Picture decoded(const std::string& name) {
        Picture p;
        EXPECT_TRUE(test::decodeStandardBmp(test::readFile(dir.file(name)), p)) << name;
        return p;
    }
    std::vector<RecordHeader> records(const std::string& name) {
        return test::recordChain(test::readFile(dir.file(name)));
    }
    test::TempDir dir;
};

TEST_F(Unpack, UnpackingWritesOneNumberedBitmapPerFrame) {
    const std::vector<Picture> frames = video(3, {"-a=25"});
    const Bytes input = test::readFile(dir.file("f.vx"));
    auto r = vexel({"-uc", "f.vx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (int n = 0; n < 3; ++n) EXPECT_GE(psnr(frames[n], decoded(numbered("f", n, "bmp"))), 20.0) << n;
    EXPECT_FALSE(test::fileExists(dir.file(numbered("f", 3, "bmp"))));
    EXPECT_EQ(test::readFile(dir.file("f.vx")), input);
}

TEST_F(Unpack, EveryModeAndSettingRoundTripsThroughTheCommandLine) {
    const Picture picture = frame(101, 67, 2); // not a multiple of any block size
    bitmap("p.bmp", picture);
    struct Case {
        std::vector<std::string> options;
        double bound; // dB, measured less about 1
    };
    const std::vector<Case> cases = {
        {{"-m=0"}, 19.0}, {{"-m=1"}, 20.0}, {{"-m=2"}, 20.0}, {{"-m=3"}, 20.0}, {{"-m=4"}, 20.0},
        {{"-m=5"}, 20.0}, {{"-m=6"}, 20.0}, {{"-m=7"}, 20.0}, {{"-m=8"}, 20.0}, {{"-m=9"}, 20.0},
        {{"-oq"}, 20.0},  {{"-os"}, 19.0},  {{"-t=1"}, 20.0}, {{"-t=3"}, 20.0}, {{"-m=9", "-t=5", "-oq"}, 20.0}};
    for (const Case& c : cases) {
        std::vector<std::string> pack = c.options;
        pack.insert(pack.begin(), "-c");
        pack.push_back("p.bmp");
        auto r = vexel(pack);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = vexel({"-uc", "p.vx"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_GE(psnr(picture, decoded("p_000000.bmp")), c.bound) << c.options[0];
        std::remove(dir.file("p_000000.bmp").c_str());
    }
}

TEST_F(Unpack, VideosWithKeptBlocksAndWithKeyframesOnlyDecodeEveryFrame) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-a=25", "-m=7"}, {"-a=25", "-m=8", "-t=2"}, {"-a=25", "-k", "-m=9"}}) {
        const std::vector<Picture> frames = video(5, options);
        auto r = vexel({"-uc", "f.vx"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        for (int n = 0; n < 5; ++n) {
            EXPECT_GE(psnr(frames[n], decoded(numbered("f", n, "bmp"))), 20.0) << options[1] << " frame " << n;
            std::remove(dir.file(numbered("f", n, "bmp")).c_str());
        }
    }
}

TEST_F(Unpack, ResizingAVideoKeepsTheDecodedFrameAsTheReferenceForKeptBlocks) {
    // The second frame repeats the first: a clip whose second record is all kept blocks.
    bitmap("f0.bmp", frame(160, 96, 1));
    bitmap("f1.bmp", frame(160, 96, 1));
    auto r = vexel({"-c", "-a=25", "f*.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* width : {"-r=80", "-r=320", "-r=2000"}) { // smaller, larger, beyond the screen
        test::TempDir out;
        ASSERT_TRUE(test::writeFile(out.file("f.vx"), test::readFile(dir.file("f.vx"))));
        r = test::runVexel({"-uc", width, "f.vx"}, out.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Picture first, second;
        ASSERT_TRUE(test::decodeStandardBmp(test::readFile(out.file(numbered("f", 0, "bmp"))), first));
        ASSERT_TRUE(test::decodeStandardBmp(test::readFile(out.file(numbered("f", 1, "bmp"))), second));
        EXPECT_EQ(first.width, std::stoi(std::string(width).substr(3)));
        EXPECT_TRUE(first.rgb == second.rgb) << width;
    }
}

TEST_F(Unpack, APictureLargerThanTheScreenUnpacksThroughThePlanes) {
    const Picture picture = frame(1930, 24, 1);
    bitmap("wide.bmp", picture);
    ASSERT_EQ(vexel({"-c", "wide.bmp"}).exitCode, 0);
    auto r = vexel({"-uc", "wide.vx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GE(psnr(picture, decoded("wide_000000.bmp")), 20.0);
}

TEST_F(Unpack, UngroupingWritesOneRecordPerFile) {
    video(3, {"-a=25", "-m=7", "-t=1"});
    const Bytes input = test::readFile(dir.file("f.vx"));
    const std::vector<RecordHeader> source = records("f.vx");
    ASSERT_EQ(source.size(), 3u);
    auto r = vexel({"-ug", "f.vx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int n = 0; n < 3; ++n) {
        const std::string name = numbered("f", n, "vx");
        const std::vector<RecordHeader> one = records(name);
        ASSERT_EQ(one.size(), 1u) << name;
        EXPECT_EQ(one[0].nextRecord, 0u);
        EXPECT_EQ(one[0].prevRecord, 0u);
        EXPECT_EQ(one[0].frameRate, 25.0);
        // The payload is the record's own, byte for byte.
        const Bytes out = test::readFile(dir.file(name));
        const RecordHeader& h = source[n];
        EXPECT_EQ(Bytes(out.begin() + one[0].headerSize, out.end()),
                  Bytes(input.begin() + h.recordStart + h.headerSize, input.begin() + h.recordStart + h.recordSize));
    }
    EXPECT_FALSE(test::fileExists(dir.file(numbered("f", 3, "vx"))));
    EXPECT_EQ(test::readFile(dir.file("f.vx")), input);
}

TEST_F(Unpack, CopyingWritesTheConvertedFileWithTheSamePictures) {
    video(3, {"-a=25", "-m=6"});
    const Bytes input = test::readFile(dir.file("f.vx"));
    auto r = vexel({"-c", "f.vx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::readFile(dir.file("f.vx")), input);
    EXPECT_EQ(records("f_converted.vx").size(), 3u);
    ASSERT_EQ(vexel({"-uc", "f.vx"}).exitCode, 0);
    ASSERT_EQ(vexel({"-uc", "f_converted.vx"}).exitCode, 0);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(test::readFile(dir.file(numbered("f", n, "bmp"))),
                  test::readFile(dir.file(numbered("f_converted", n, "bmp"))))
            << n;
}

TEST_F(Unpack, RepackingWithOtherThreadsOrModeWritesTheConvertedFile) {
    video(3, {"-a=25", "-m=8", "-t=3"});
    const Bytes input = test::readFile(dir.file("f.vx"));
    ASSERT_EQ(vexel({"-uc", "f.vx"}).exitCode, 0);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-c", "-t=2", "f.vx"}, {"-c", "-m=9", "f.vx"}, {"-c", "-m=5", "-t=3", "f.vx"}}) {
        auto r = vexel(options);
        ASSERT_EQ(r.exitCode, 0) << options[1] << ": " << r.err;
        EXPECT_EQ(test::readFile(dir.file("f.vx")), input);
        const std::vector<RecordHeader> out = records("f_converted.vx");
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[0].streamCount, options[1] == "-t=2" ? 2u : 3u);
        EXPECT_EQ(out[0].mode, options[1] == "-m=9" ? 9 : options[1] == "-m=5" ? 5 : 8);
        r = vexel({"-uc", "f_converted.vx"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        for (int n = 0; n < 3; ++n) {
            // The same stream count gives the same pixels; other bands smooth chroma elsewhere.
            const double q = psnr(decoded(numbered("f", n, "bmp")), decoded(numbered("f_converted", n, "bmp")));
            if (options[1] == "-t=2") EXPECT_GE(q, 40.0) << n;
            else EXPECT_EQ(q, 99.0) << options[1] << " frame " << n;
            std::remove(dir.file(numbered("f_converted", n, "bmp")).c_str());
        }
    }
}

TEST_F(Unpack, ACopyWithPictureOptionsIsRefused) {
    video(2, {});
    auto r = vexel({"-c", "-os", "f.vx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "Ошибка: Преобразование копированием невозможно, т.к.\nдля обработки параметров требуется распаковка\n");
    EXPECT_FALSE(test::fileExists(dir.file("f_converted.vx")));
}

TEST_F(Unpack, CorruptAndTruncatedFilesFailWithTheirMessage) {
    video(3, {"-a=25", "-m=8"});
    const Bytes good = test::readFile(dir.file("f.vx"));
    const std::vector<RecordHeader> chain = records("f.vx");
    ASSERT_EQ(chain.size(), 3u);
    const std::string cannot = "Ошибка: Не удаётся распаковать файл:\nclip.vx\n";
    auto attempt = [&](const Bytes& bytes) {
        EXPECT_TRUE(test::writeFile(dir.file("clip.vx"), bytes));
        auto r = vexel({"-uc", "clip.vx"});
        EXPECT_EQ(test::readFile(dir.file("clip.vx")), bytes); // never changed
        for (const std::string& name : test::listFolder(dir.path()))
            if (name.rfind("clip_", 0) == 0) std::remove(dir.file(name).c_str());
        return r;
    };
    // The last record cut short: two frames, then the failure.
    Bytes cut(good.begin(), good.end() - 25);
    auto r = attempt(cut);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, cannot);
    // A stream of noise does not expand.
    Bytes noise = good;
    std::mt19937 random(1);
    for (std::uint64_t i = chain[1].recordStart + chain[1].headerSize; i < chain[1].recordStart + chain[1].recordSize; ++i)
        noise[i] = static_cast<std::uint8_t>(random());
    r = attempt(noise);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, cannot);
    // A header that claims a picture too large for the machine.
    Bytes huge = good;
    for (int i = 0; i < 4; ++i) huge[kWidthOffset + i] = static_cast<std::uint8_t>(200000 >> (8 * i));
    for (int i = 0; i < 4; ++i) huge[kHeightOffset + i] = static_cast<std::uint8_t>(300000 >> (8 * i));
    r = attempt(huge);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, cannot);
    // A header cut inside the second record, and a mode this program does not know.
    r = attempt(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(chain[1].recordStart + 30)));
    EXPECT_EQ(r.exitCode, 2);
    Bytes modeTen = good;
    modeTen[kModeOffset] = 10;
    r = attempt(modeTen);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Для распаковки файла:\nclip.vx\nнеобходимо обновить программу.\n");
    // Repacking and copying a bad file fail too and leave the input alone;
    // the frames packed before the failure stay, as a whole chain.
    EXPECT_TRUE(test::writeFile(dir.file("clip.vx"), noise));
    EXPECT_EQ(vexel({"-c", "-t=2", "clip.vx"}).exitCode, 2);
    EXPECT_EQ(test::readFile(dir.file("clip.vx")), noise);
    const std::vector<RecordHeader> kept = records("clip_converted.vx");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].nextRecord, 0u);
    EXPECT_EQ(kept[0].recordSize, test::readFile(dir.file("clip_converted.vx")).size());
    std::remove(dir.file("clip_converted.vx").c_str());
    EXPECT_TRUE(test::writeFile(dir.file("clip.vx"), modeTen));
    EXPECT_EQ(vexel({"-c", "clip.vx"}).exitCode, 2);
    EXPECT_FALSE(test::fileExists(dir.file("clip_converted.vx")));
}

} // namespace
} // namespace vexel
