// Several names, a named output and pipes, as a user of cjpeg, ffmpeg and
// ImageMagick meets them: every name given is handled, each output is byte
// for byte what a run over that one name writes, "-o" names an output,
// "-" reads standard input and "-o=-" writes standard output, both ways
// through ffmpeg where it is installed.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

class NamesAndPipes : public ::testing::Test {
protected:
    void picture(const std::string& name, int seed, int width = 40, int height = 24) {
        ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(test::patternPicture(width, height, seed))));
    }
    test::CommandResult vexel(const std::vector<std::string>& args) { return test::runVexel(args, dir.path()); }
    // A shell line in the run's folder; $VEXEL is the program.
    test::CommandResult shell(const std::string& line) {
        return test::runProgram("/bin/sh", {"-c", "VEXEL='" + std::string(VEXEL_BIN) + "'; " + line}, dir.path());
    }
    Bytes read(const std::string& name) { return test::readFile(dir.file(name)); }
    // What a run over one name writes, made in a folder of its own.
    Bytes alone(const std::vector<std::string>& args, const std::string& input, const std::string& output) {
        test::TempDir own;
        EXPECT_TRUE(test::writeFile(own.file(input), read(input)));
        std::vector<std::string> all = args;
        all.push_back(input);
        const test::CommandResult r = test::runVexel(all, own.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return test::readFile(own.file(output));
    }
    static Bytes join(const std::vector<Bytes>& parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }

    test::TempDir dir;
};

TEST_F(NamesAndPipes, EveryNameIsHandledAsIfItWereAloneAndTheFirstFailureGivesTheExitCode) {
    picture("a.bmp", 1);
    picture("b.bmp", 2, 33, 17);
    picture("c.bmp", 3);
    test::CommandResult r = vexel({"-c", "a.bmp", "b.bmp", "c.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* stem : {"a", "b", "c"}) {
        const std::string bmp = std::string(stem) + ".bmp", vx = std::string(stem) + ".vx";
        EXPECT_EQ(read(vx), alone({"-c"}, bmp, vx)) << vx;
    }
    // Unpacking each .vx file given, into its own numbered bitmaps.
    r = vexel({"-uc", "a.vx", "b.vx"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("a_000000.bmp"), alone({"-uc"}, "a.vx", "a_000000.bmp"));
    EXPECT_EQ(read("b_000000.bmp"), alone({"-uc"}, "b.vx", "b_000000.bmp"));

    // A missing name in the middle: the names after it are still handled,
    // and the run fails with that failure's code and message.
    std::remove(dir.file("a.vx").c_str());
    std::remove(dir.file("c.vx").c_str());
    r = vexel({"-c", "a.bmp", "missing.bmp", "c.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\nmissing.bmp\nNo such file or directory\n");
    EXPECT_TRUE(test::fileExists(dir.file("a.vx")));
    EXPECT_TRUE(test::fileExists(dir.file("c.vx")));
    // A .vx file that is no .vx file fails with 2, the first failure's code wins.
    ASSERT_TRUE(test::writeFile(dir.file("bad.vx"), {'n', 'o', 't', ' ', 'a', ' ', 'v', 'x'}));
    std::remove(dir.file("b_000000.bmp").c_str());
    r = vexel({"-uc", "bad.vx", "missing.vx", "b.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("bad.vx\nЭто не файл .vx.\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.vx\nNo such file or directory\n"), std::string::npos) << r.err;
    EXPECT_TRUE(test::fileExists(dir.file("b_000000.bmp")));
}

TEST_F(NamesAndPipes, GroupedNamesMakeOneFileNamedAfterTheFirstAsAQuotedWildcardDoes) {
    test::TempDir parts;
    for (int i = 0; i < 3; ++i) {
        picture("shot" + std::to_string(i) + ".bmp", 10 + i);
        ASSERT_TRUE(test::writeFile(dir.file("seq" + std::to_string(i) + ".bmp"), read("shot" + std::to_string(i) + ".bmp")));
    }
    // The shell expanded nothing here: the quoted wildcard groups into seq.vx.
    test::CommandResult r = vexel({"-g", "-a=10", "seq*.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = vexel({"-g", "-a=10", "shot0.bmp", "shot1.bmp", "shot2.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::recordChain(read("shot0.vx")).size(), 3u);
    EXPECT_EQ(read("shot0.vx"), read("seq.vx"));
    EXPECT_FALSE(test::fileExists(dir.file("shot1.vx")));

    // Grouping .vx files whose first name is the output's: "_grouped", as for one name.
    ASSERT_EQ(vexel({"-c", "shot1.bmp"}).exitCode, 0);
    r = vexel({"-g", "shot0.vx", "shot1.vx"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::recordChain(read("shot0_grouped.vx")).size(), 4u);

    // Pictures and .vx files do not go into one file.
    r = vexel({"-g", "shot0.bmp", "shot1.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Файлы .vx и рисунки не объединяются в один файл:\nshot1.vx\n");
}

TEST_F(NamesAndPipes, OutputNamesTheVxFileOrTheStemOfTheBitmapsOfARunWithOneInput) {
    picture("a.bmp", 4);
    picture("b.bmp", 5);
    ASSERT_EQ(::mkdir(dir.file("out").c_str(), 0755), 0);
    test::CommandResult r = vexel({"-c", "-o=out/packed.vx", "a.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("out/packed.vx"), alone({"-c"}, "a.bmp", "a.vx"));
    EXPECT_FALSE(test::fileExists(dir.file("a.vx")));
    // Without the extension the output gets it.
    ASSERT_EQ(vexel({"-c", "-o=named", "a.bmp"}).exitCode, 0);
    EXPECT_EQ(read("named.vx"), read("out/packed.vx"));
    // Unpacking: the stem of the numbered bitmaps.
    r = vexel({"-uc", "-o=out/frame.bmp", "out/packed.vx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("out/frame_000000.bmp"), alone({"-uc"}, "named.vx", "named_000000.bmp"));
    // One output name cannot name the outputs of several inputs.
    r = vexel({"-c", "-o=x.vx", "a.bmp", "b.bmp"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "Ошибка: Параметр -o задаёт имя результата только для одного входного файла.\n");
    EXPECT_FALSE(test::fileExists(dir.file("x.vx")));
    EXPECT_FALSE(test::fileExists(dir.file("b.vx")));
    // An output that is the input is refused, as a derived one is.
    r = vexel({"-c", "-o=named.vx", "named.vx"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Выходной файл совпадает с одним из входных"), std::string::npos) << r.err;
}

TEST_F(NamesAndPipes, StandardInputAndOutputCarryTheBytesTheFilesWould) {
    picture("a.bmp", 6);
    picture("b.bmp", 7);
    picture("c.bmp", 8);
    // One bitmap in, one .vx out.
    test::CommandResult r = shell("\"$VEXEL\" -c - < a.bmp > piped.vx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("piped.vx"), alone({"-c"}, "a.bmp", "a.vx"));
    // Bitmaps one after another: one grouped file, as the names grouped.
    r = shell("cat a.bmp b.bmp c.bmp | \"$VEXEL\" -c -a=25 -o=clip.vx -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(vexel({"-g", "-a=25", "a.bmp", "b.bmp", "c.bmp"}).exitCode, 0);
    EXPECT_EQ(read("clip.vx"), read("a.vx"));
    // The same to standard output: each record once it is whole.
    r = shell("cat a.bmp b.bmp c.bmp | \"$VEXEL\" -c -a=25 - > streamed.vx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("streamed.vx"), read("a.vx"));
    // A .vx in, its bitmaps out one after another, as the files are.
    r = shell("\"$VEXEL\" -uc - < clip.vx > frames.bin");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(vexel({"-uc", "clip.vx"}).exitCode, 0);
    EXPECT_EQ(read("frames.bin"), join({read("clip_000000.bmp"), read("clip_000001.bmp"), read("clip_000002.bmp")}));
    r = shell("\"$VEXEL\" -uc -o=- clip.vx > frames2.bin");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("frames2.bin"), read("frames.bin"));
    r = shell("\"$VEXEL\" -uc -o=got - < clip.vx");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("got_000002.bmp"), read("clip_000002.bmp"));
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

TEST_F(NamesAndPipes, BadStandardInputAndAFullStandardOutputFailWithTheirReasons) {
    picture("a.bmp", 9);
    test::CommandResult r = shell("\"$VEXEL\" -c - < /dev/null > out.vx");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\n-\nСтандартный ввод пуст.\n");
    r = shell("printf 'just some words' | \"$VEXEL\" -c - > out.vx");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Ошибка: Не удаётся загрузить файл:\n-\n", 0), 0u) << r.err;
    // A bitmap stream cut inside its second bitmap: the first is packed, the second refused.
    r = shell("cat a.bmp a.bmp | head -c 3000 | \"$VEXEL\" -c -o=cut.vx -");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\n-\nФайл короче, чем сказано в его заголовках.\n"
                     "Ошибка: Запись прервана. Записано кадров: 1, в файл:\ncut.vx\n");
    EXPECT_EQ(test::recordChain(read("cut.vx")).size(), 1u);
    // Standard input only alone.
    r = shell("\"$VEXEL\" -c a.bmp - < a.bmp");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "Ошибка: Стандартный ввод (-) читается только как единственное имя файла.\n");
    // A full disk behind standard output fails the run.
    r = shell("\"$VEXEL\" -c -o=- a.bmp > /dev/full");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся запаковать файл:\n-\nNo space left on device\n");
    ASSERT_EQ(vexel({"-c", "a.bmp"}).exitCode, 0);
    r = shell("\"$VEXEL\" -uc -o=- a.vx > /dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся записать файл:\n-\nNo space left on device\n");
}

TEST_F(NamesAndPipes, VideosGoThroughFfmpegBothWays) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    test::CommandResult r = shell("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 "
                                  "-f image2pipe -c:v bmp -pix_fmt bgr24 - | \"$VEXEL\" -c -a=25 -o=clip.vx -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto chain = test::recordChain(read("clip.vx"));
    ASSERT_EQ(chain.size(), 12u);
    EXPECT_EQ(chain[0].width, 64u);
    EXPECT_DOUBLE_EQ(chain[0].frameRate, 25.0);
    r = shell("\"$VEXEL\" -uc -o=- clip.vx | ffmpeg -nostdin -loglevel error -f image2pipe -c:v bmp -framerate 25 -i - "
              "-c:v ffv1 back.mkv && ffmpeg -nostdin -loglevel error -i back.mkv -f image2pipe -c:v bmp -pix_fmt bgr24 - "
              "> back.bin");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // A lossless round trip through ffmpeg gives back the bitmaps the program writes.
    ASSERT_EQ(vexel({"-uc", "clip.vx"}).exitCode, 0);
    const Bytes back = read("back.bin");
    const Bytes first = read("clip_000000.bmp");
    ASSERT_EQ(back.size(), 12 * first.size());
    EXPECT_TRUE(std::equal(first.begin() + 54, first.end(), back.begin() + 54)) << "the first frame's pixels";
    const Bytes last = read("clip_000011.bmp");
    EXPECT_TRUE(std::equal(last.begin() + 54, last.end(), back.end() - static_cast<std::ptrdiff_t>(last.size()) + 54));
}

#ifdef VEXEL_THUMBNAILER_BIN
TEST_F(NamesAndPipes, TheThumbnailerWritesToStandardOutput) {
    picture("a.bmp", 11, 64, 40);
    ASSERT_EQ(vexel({"-c", "a.bmp"}).exitCode, 0);
    const std::string thumbnailer = VEXEL_THUMBNAILER_BIN;
    test::CommandResult r = shell("'" + thumbnailer + "' -s 32 a.vx a.png && '" + thumbnailer + "' -s 32 a.vx - > piped.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(read("piped.png"), read("a.png"));
    EXPECT_FALSE(test::fileExists(dir.file("-")));
    r = shell("'" + thumbnailer + "' -s 32 a.vx - > /dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "vexel-thumbnailer: standard output cannot be written\n");
}
#endif

} // namespace
} // namespace vexel
