// The command line as a new user meets it: --version and --help answer on
// standard output with exit 0 in all three programs, a token the program
// ignores is named in a warning, a refused value is named after the number
// reader's own message, a mode that does not exist is said to be one, and a
// file that cannot be read is named with the reason.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace vexel {
namespace {

void picture(const test::TempDir& dir, const std::string& name) {
    ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(test::patternPicture(32, 24))));
}

TEST(CommandLine, VersionAndHelpAnswerOnStandardOutputInEveryProgram) {
    test::TempDir dir;
    std::vector<std::string> programs{VEXEL_BIN, VEXEL_PROBE_BIN};
#ifdef VEXEL_THUMBNAILER_BIN
    programs.push_back(VEXEL_THUMBNAILER_BIN);
#endif
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        const std::string name = program.substr(program.rfind('/') + 1);
        const test::CommandResult version = test::runProgram(program, {"--version"}, dir.path());
        EXPECT_EQ(version.exitCode, 0) << version.err;
        EXPECT_EQ(version.out, name + " 1.54.0\n");
        EXPECT_EQ(version.err, "");
        const test::CommandResult help = test::runProgram(program, {"--help"}, dir.path());
        EXPECT_EQ(help.exitCode, 0) << help.err;
        EXPECT_NE(help.out.find(name == "vexel" ? "Command line usage:" : "usage: " + name), std::string::npos)
            << help.out;
        EXPECT_EQ(help.err, "");
    }
    // The probe's -h too; the program's -h keeps its own form: the usage and 3.
    EXPECT_EQ(test::runProgram(VEXEL_PROBE_BIN, {"-h"}, dir.path()).exitCode, 0);
    const test::CommandResult shortHelp = test::runVexel({"-h"}, dir.path());
    EXPECT_EQ(shortHelp.exitCode, 3);
    EXPECT_NE(shortHelp.out.find("Command line usage:"), std::string::npos);
    EXPECT_TRUE(test::listFolder(dir.path()).empty());
}

TEST(CommandLine, IgnoredTokensAreNamedInWarningsAndTheRunGoesOnAsBefore) {
    test::TempDir dir;
    picture(dir, "a.bmp");
    picture(dir, "b.bmp");
    const test::CommandResult r = test::runVexel({"--bogus", "-z", "-c", "a.bmp", "b.bmp", "-m=7"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Предупреждение: Параметр не распознан и пропущен: --bogus\n"
                     "Предупреждение: Параметр не распознан и пропущен: -z\n"
                     "Предупреждение: Параметр после имени файла пропущен: -m=7\n");
    // The tokens change nothing: the default mode, one output per name.
    for (const char* output : {"a.vx", "b.vx"}) {
        const auto chain = test::recordChain(test::readFile(dir.file(output)));
        ASSERT_EQ(chain.size(), 1u) << output;
        EXPECT_EQ(chain[0].mode, 8);
    }
}

TEST(CommandLine, ARefusedValueIsNamedAfterTheNumberReadersMessageAndTheRunGoesOn) {
    test::TempDir dir;
    picture(dir, "a.bmp");
    const test::CommandResult letters = test::runVexel({"-m=abc", "-c", "a.bmp"}, dir.path());
    EXPECT_EQ(letters.exitCode, 0) << letters.err;
    EXPECT_EQ(letters.err, "Ошибка: Строка не содержит цифр между разделителями.\n"
                           "Ошибка: Значение параметра не принято: -m=abc\n");
    EXPECT_EQ(test::recordChain(test::readFile(dir.file("a.vx")))[0].mode, 8);

    const test::CommandResult range = test::runVexel({"-r=0", "-c", "a.bmp"}, dir.path());
    EXPECT_EQ(range.exitCode, 0) << range.err;
    EXPECT_EQ(range.err, "Ошибка: Число выходит за допустимый диапазон значений.\n"
                         "Ошибка: Значение параметра не принято: -r=0\n");

    const test::CommandResult mode = test::runVexel({"-m=12", "-c", "a.bmp"}, dir.path());
    EXPECT_EQ(mode.exitCode, 2);
    EXPECT_EQ(mode.err, "Ошибка: Не удаётся запаковать файл:\na.vx\nРежим сжатия 12 не существует: режимы - от 1 до 9.\n");
}

TEST(CommandLine, AFileThatCannotBeReadIsNamedWithTheReason) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("folder.bmp").c_str(), 0755), 0);
    ASSERT_TRUE(test::writeFile(dir.file("notes.txt"), {'h', 'i', '\n'}));
    // A 64-bit bitmap: its headers are whole, its depth is not read.
    std::vector<std::uint8_t> deep = test::encodeBmp(test::patternPicture(4, 4));
    deep[28] = 64;
    ASSERT_TRUE(test::writeFile(dir.file("deep.bmp"), deep));
    struct Case {
        const char* name;
        int code;
        const char* message;
    };
    for (const Case& c : {Case{"missing.bmp", 1, "Не удаётся загрузить файл:\nmissing.bmp\nNo such file or directory"},
                          Case{"folder.bmp", 1, "Не удаётся загрузить файл:\nfolder.bmp\nIs a directory"},
                          Case{"folder", 2, "Не удаётся распаковать файл:\nfolder\nIs a directory"},
                          Case{"notes.txt", 2, "Не удаётся распаковать файл:\nnotes.txt\nЭто не рисунок (.bmp, .png, .jpg) и не файл .vx."},
                          Case{"deep.bmp", 1, "Не удаётся загрузить файл:\ndeep.bmp\nЧитаются файлы .bmp с 1, 4, 8, 16, 24 и 32 битами на точку."}}) {
        SCOPED_TRACE(c.name);
        const test::CommandResult r = test::runVexel({"-c", c.name}, dir.path());
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_EQ(r.err, std::string("Ошибка: ") + c.message + "\n");
    }
}

} // namespace
} // namespace vexel
