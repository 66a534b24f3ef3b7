// Messages in the user's language, as a user's shell asks for it: a locale
// that names English (LANG, LC_ALL, LC_MESSAGES, or LANGUAGE beside a locale
// that is not C) gives the English texts of the build's catalogue with the
// names and the system's reason as they are; the C locale and none at all
// keep the program's own Russian texts. The test main clears the locale and
// points VEXEL_LOCALEDIR at the build's catalogue.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <string>
#include <vector>

namespace vexel {
namespace {

// The English tests need the locale en_US.UTF-8 (tools/setup.sh makes it).
bool englishLocaleInstalled() {
    const locale_t english = newlocale(LC_MESSAGES_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    if (english == static_cast<locale_t>(0)) return false;
    freelocale(english);
    return true;
}
#define VEXEL_NEEDS_ENGLISH_LOCALE()                                                                         \
    if (!englishLocaleInstalled())                                                                           \
    GTEST_SKIP() << "the locale en_US.UTF-8 is not installed (tools/setup.sh generates it)"

struct Environment {
    const char* name;
    std::vector<std::pair<const char*, const char*>> variables;
};

test::CommandResult runIn(const Environment& e, const std::vector<std::string>& args, const std::string& folder) {
    std::vector<std::unique_ptr<test::ScopedEnv>> set;
    for (const auto& [name, value] : e.variables) set.push_back(std::make_unique<test::ScopedEnv>(name, value));
    return test::runVexel(args, folder);
}

const std::vector<Environment>& englishEnvironments() {
    static const std::vector<Environment> all{
        {"LANG", {{"LANG", "en_US.UTF-8"}}},
        {"LC_ALL over LANG", {{"LANG", "C"}, {"LC_ALL", "en_US.UTF-8"}}},
        {"LC_MESSAGES", {{"LC_MESSAGES", "en_US.UTF-8"}}},
        {"LANGUAGE", {{"LANG", "C.UTF-8"}, {"LANGUAGE", "en"}}},
    };
    return all;
}

const std::vector<Environment>& russianEnvironments() {
    static const std::vector<Environment> all{
        {"no locale", {}},
        {"LANG=C", {{"LANG", "C"}}},
        {"LC_ALL=C over LANG", {{"LANG", "en_US.UTF-8"}, {"LC_ALL", "C"}}},
        {"LANGUAGE with the C locale", {{"LANG", "C"}, {"LANGUAGE", "en"}}},
        {"C.UTF-8 without LANGUAGE", {{"LANG", "C.UTF-8"}}},
    };
    return all;
}

TEST(Language, AnEnglishLocaleGivesTheEnglishTextsWithTheNameAndTheReason) {
    VEXEL_NEEDS_ENGLISH_LOCALE();
    test::TempDir dir;
    for (const Environment& e : englishEnvironments()) {
        SCOPED_TRACE(e.name);
        const test::CommandResult r = runIn(e, {"-c", "missing.bmp"}, dir.path());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Error: Cannot load the file:\nmissing.bmp\nNo such file or directory\n");
    }
    // Texts put together around counts and values, warnings and the number
    // reader's messages, and a refusal of the program's own.
    ASSERT_TRUE(test::writeFile(dir.file("a.bmp"), test::encodeBmp(test::patternPicture(16, 8))));
    ASSERT_TRUE(test::writeFile(dir.file("notes.txt"), {'h', 'i', '\n'}));
    const Environment& english = englishEnvironments().front();
    const test::CommandResult mode = runIn(english, {"-m=12", "-c", "a.bmp"}, dir.path());
    EXPECT_EQ(mode.exitCode, 2);
    EXPECT_EQ(mode.err, "Error: Cannot pack the file:\na.vx\nCompression mode 12 does not exist: the modes are 1 to 9.\n");
    const test::CommandResult refused = runIn(english, {"--bogus", "-m=abc", "-c", "a.bmp"}, dir.path());
    EXPECT_EQ(refused.exitCode, 0) << refused.err;
    EXPECT_EQ(refused.err, "Warning: Unknown option ignored: --bogus\n"
                           "Error: The string holds no digits between its separators.\n"
                           "Error: Option value refused: -m=abc\n");
    const test::CommandResult notes = runIn(english, {"-c", "notes.txt"}, dir.path());
    EXPECT_EQ(notes.exitCode, 2);
    EXPECT_EQ(notes.err, "Error: Cannot unpack the file:\nnotes.txt\nThis is neither a picture (.bmp, .png, .jpg) nor a .vx file.\n");
}

TEST(Language, TheCLocaleAndNoLocaleKeepTheRussianTexts) {
    test::TempDir dir;
    for (const Environment& e : russianEnvironments()) {
        SCOPED_TRACE(e.name);
        const test::CommandResult r = runIn(e, {"-c", "missing.bmp"}, dir.path());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\nmissing.bmp\nNo such file or directory\n");
    }
}

TEST(Language, ANameThatSpellsAFixedTextIsShownAsItIs) {
    VEXEL_NEEDS_ENGLISH_LOCALE();
    test::TempDir dir;
    // Names of missing bitmaps that hold the catalogue's texts: whole, after
    // a line break in the name, after a count, and at the start of the name.
    for (const std::string name : {"Ошибка.bmp", "Да.bmp", "x\rЭто не файл .bmp.bmp", "1) не сохранены.bmp",
                                   "Не удаётся загрузить файл:\r.bmp", "Предупреждение: .bmp"}) {
        SCOPED_TRACE(name);
        const test::CommandResult r = runIn(englishEnvironments().front(), {"-c", name}, dir.path());
        std::string shown = name;
        for (char& c : shown)
            if (c == '\r') c = '\n';
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Error: Cannot load the file:\n" + shown + "\nNo such file or directory\n");
    }
}

} // namespace
} // namespace vexel
