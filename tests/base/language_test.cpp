// The translation of a message text by text, with a stand-in catalogue:
// the fixed texts are taken longest first and only where they stand in a
// message, so counts, values and names between them stay as they are.
#include "base/language.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vexel {
namespace {

// A catalogue with a few of the program's texts.
const char* lookup(const char* text) {
    static const std::pair<const char*, const char*> known[] = {
        {"Ошибка", "Error"},
        {"Да", "Yes"},
        {"Не удаётся записать файл:\r", "Cannot write the file:\r"},
        {"Запись прервана. Не удаётся записать файл:\r", "Writing stopped. Cannot write the file:\r"},
        {"Запись прервана. Записано кадров: ", "Writing stopped. Frames written: "},
        {", в файл:\r", ", to the file:\r"},
        {"\rЗапакованные кадры (", "\rThe packed frames ("},
        {") не сохранены.", ") were not saved."},
        {"Число выходит за допустимый диапазон значений.", "The number is outside the allowed range."},
        {"Значение параметра не принято: ", "Option value refused: "},
        {"\rЭто не файл .bmp.", "\rThis is not a .bmp file."},
        {"Не удаётся загрузить файл:\r", "Cannot load the file:\r"},
        {"Не удаётся загрузить файл:\r-", "Cannot load the file:\r-"},
        {"Параметр пропущен: при просмотре файлы не записываются: -o=", "Option ignored: viewing writes no files: -o="},
    };
    for (const auto& [ru, en] : known)
        if (std::strcmp(ru, text) == 0) return en;
    return text;
}

std::string translate(const char16_t* text) { return translatedWith(TWideString(text), &lookup).toUtf8(); }

TEST(Translation, FixedTextsAreTranslatedAroundCountsAndNames) {
    EXPECT_EQ(translate(u"Ошибка"), "Error");
    EXPECT_EQ(translate(u"Запись прервана. Записано кадров: 12, в файл:\rclip.vx"),
              "Writing stopped. Frames written: 12, to the file:\rclip.vx");
    EXPECT_EQ(translate(u"Запись прервана. Файл оставлен без изменений:\rclip.vx\rЗапакованные кадры (3) не сохранены."),
              "Запись прервана. Файл оставлен без изменений:\rclip.vx\rThe packed frames (3) were not saved.");
    // A longer text is never split by a shorter one it holds.
    EXPECT_EQ(translate(u"Запись прервана. Не удаётся записать файл:\rclip.vx"),
              "Writing stopped. Cannot write the file:\rclip.vx");
    EXPECT_EQ(translate(u"Не удаётся записать файл:\rclip.vx"), "Cannot write the file:\rclip.vx");
    // A value right after "=".
    EXPECT_EQ(translate(u"Параметр пропущен: при просмотре файлы не записываются: -o=Да.vx"),
              "Option ignored: viewing writes no files: -o=Да.vx");
    // Standard input's name "-" is part of a fixed text; a name that begins
    // with "-" is not.
    EXPECT_EQ(translate(u"Не удаётся загрузить файл:\r-\rNo such file or directory"),
              "Cannot load the file:\r-\rNo such file or directory");
    EXPECT_EQ(translate(u"Не удаётся загрузить файл:\r-Да.bmp"), "Cannot load the file:\r-Да.bmp");
    // Two messages joined by a line break of their own.
    EXPECT_EQ(translate(u"Число выходит за допустимый диапазон значений.\rЗначение параметра не принято: -r=0"),
              "The number is outside the allowed range.\rOption value refused: -r=0");
}

TEST(Translation, NamesThatSpellFixedTextsStayAsTheyAre) {
    // Right after a text that ends a line or with a space: a name.
    EXPECT_EQ(translate(u"Не удаётся записать файл:\rДа"), "Cannot write the file:\rДа");
    EXPECT_EQ(translate(u"Не удаётся записать файл:\rОшибка.bmp"), "Cannot write the file:\rОшибка.bmp");
    EXPECT_EQ(translate(u"Значение параметра не принято: Ошибка"), "Option value refused: Ошибка");
    // Inside a name, or a text that would end inside one.
    EXPECT_EQ(translate(u"Не удаётся записать файл:\rxДа.bmp"), "Cannot write the file:\rxДа.bmp");
    EXPECT_EQ(translate(u"Не удаётся записать файл:\rx\rЭто не файл .bmp.bmp"),
              "Cannot write the file:\rx\rЭто не файл .bmp.bmp");
    EXPECT_EQ(translate(u"Не удаётся записать файл:\r1) не сохранены.bmp"),
              "Cannot write the file:\r1) не сохранены.bmp");
    EXPECT_EQ(translate(u"Данные"), "Данные");
    EXPECT_EQ(translate(u"Ошибкаx"), "Ошибкаx");
    // A text the catalogue does not hold is left as it is.
    EXPECT_EQ(translate(u"Ничего\rNo such file or directory"), "Ничего\rNo such file or directory");
}

TEST(Translation, WithoutStartingTheLanguageMessagesStayRussian) {
    // The test programs never take the user's locale.
    EXPECT_EQ(translated(TWideString(u"Ошибка")).toUtf8(), "Ошибка");
}

} // namespace
} // namespace vexel
