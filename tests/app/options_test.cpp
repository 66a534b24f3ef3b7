#include "app/frame_loop.h"
#include "app/options.h"
#include "base/kernel.h"
#include "tests/support/ui_message_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexel {
namespace {

RunSettings parse(std::vector<std::string> args, std::string* fileName = nullptr) {
    std::vector<char*> argv;
    std::string program = "vexel";
    argv.push_back(program.data());
    for (auto& a : args) argv.push_back(a.data());
    setCommandArguments(static_cast<int>(argv.size()), argv.data());
    TWideString name;
    RunSettings s = parseCommandLine(name);
    if (fileName) *fileName = name.toUtf8();
    return s;
}

TEST(Options, EachSimpleOptionSetsItsField) {
    RunSettings s = parse({"-c", "-os", "-g", "-k", "-f", "x.bmp"});
    EXPECT_EQ(s.runMode, 1);
    EXPECT_EQ(s.optimize, 1);
    EXPECT_EQ(s.grouping, 1);
    EXPECT_TRUE(s.allKeyframes);
    EXPECT_EQ(s.paintMode, 1);
    EXPECT_EQ(s.optionClasses, kClassB);
    s = parse({"-uc", "-oq", "-ug", "-s", "-t", "-r"});
    EXPECT_EQ(s.runMode, -1);
    EXPECT_EQ(s.optimize, -1);
    EXPECT_EQ(s.grouping, -1);
    EXPECT_EQ(s.paintMode, -1);
    EXPECT_EQ(s.threadCount, 1);
    EXPECT_EQ(s.resizeWidth, 320.0);
    EXPECT_EQ(s.optionClasses, kClassA | kClassB);
    EXPECT_TRUE(parse({"-h"}).showHelp);
    EXPECT_TRUE(parse({"/?"}).showHelp);
}

TEST(Options, TheLegacyOptionsAlternateBetweenUnpackingAndPackingBits) {
    EXPECT_EQ(parse({"-4"}).legacyFlags, 1);
    EXPECT_EQ(parse({"-4"}).optionClasses, kClassA);
    EXPECT_EQ(parse({"-4", "-4"}).legacyFlags, 4);
    EXPECT_EQ(parse({"-4", "-4", "-4"}).legacyFlags, 5);
    EXPECT_EQ(parse({"-x"}).legacyFlags, 2);
    EXPECT_EQ(parse({"-x", "-x"}).legacyFlags, 8);
    EXPECT_EQ(parse({"-x", "-4", "-x", "-x"}).legacyFlags, 11);
}

TEST(Options, UnknownTokensAndEverythingAfterTheFileNameAreIgnored) {
    std::string file;
    RunSettings s = parse({"-c=5", "-zz", "-C", "pic.bmp", "-uc", "-t=3"}, &file);
    EXPECT_EQ(s.runMode, 0);
    EXPECT_EQ(s.threadCount, 0);
    EXPECT_EQ(file, "pic.bmp");
    // Only "/?" is an option among tokens with a slash: others are absolute paths.
    parse({"-uc", "/data/pic.bmp"}, &file);
    EXPECT_EQ(file, "/data/pic.bmp");
    parse({"-uc"}, &file);
    EXPECT_EQ(file, "");
}

TEST(Options, ValuedOptionsReadNumbers) {
    test::MessageCapture capture;
    RunSettings s = parse({"-a=25", "-r=160.5", "-m=7.9", "-t=3"});
    EXPECT_EQ(s.frameRate, 25.0);
    EXPECT_EQ(s.resizeWidth, 160.5);
    EXPECT_EQ(s.codecMode, 7); // truncated
    EXPECT_EQ(s.threadCount, 3);
    EXPECT_EQ(s.optionClasses, kClassA | kClassB);
    EXPECT_TRUE(capture.messages.empty());
    EXPECT_EQ(parse({"-a=2,5"}).frameRate, 2.5); // either separator
}

TEST(Options, ARefusedValueIsReportedAndTheRunGoesOn) {
    test::MessageCapture capture;
    RunSettings s = parse({"-a=12", "-a=fast", "-r=wide", "-m=x", "x.bmp"});
    EXPECT_EQ(s.frameRate, 12.0);  // unchanged
    EXPECT_EQ(s.resizeWidth, 0.0); // unchanged
    EXPECT_EQ(s.codecMode, 12);    // "-m" falls back on the last number read
    // The number reader's message, then one that names the option and value.
    ASSERT_EQ(capture.messages.size(), 6u);
    const char* const refused[] = {"-a=fast", "-r=wide", "-m=x"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(capture.messages[2 * i].text, "Строка не содержит цифр между разделителями.");
        EXPECT_EQ(capture.messages[2 * i].caption, "Ошибка");
        EXPECT_EQ(capture.messages[2 * i + 1].text, std::string("Значение параметра не принято: ") + refused[i]);
    }
}

TEST(Options, ThreadsAreLimitedTo1To45) {
    test::MessageCapture capture;
    EXPECT_EQ(parse({"-t=100000"}).threadCount, 45);
    EXPECT_EQ(parse({"-t=46"}).threadCount, 45);
    EXPECT_EQ(parse({"-t=45"}).threadCount, 45);
    EXPECT_EQ(parse({"-t=0"}).threadCount, 1);
    EXPECT_EQ(parse({"-t=-3"}).threadCount, 1);
    EXPECT_TRUE(capture.messages.empty());
}

TEST(Options, OutOfRangeModesAndWidthsAreRangeFailures) {
    test::MessageCapture capture;
    RunSettings s = parse({"-m=-3", "-m=300", "-r=-5", "-r=0.5", "-r=0", "-r=1e12"});
    EXPECT_EQ(s.codecMode, 0);
    EXPECT_EQ(s.resizeWidth, 0.0);
    EXPECT_EQ(s.optionClasses, kClassA); // a refused width changes nothing
    const char* const refused[] = {"-m=-3", "-m=300", "-r=-5", "-r=0.5", "-r=0", "-r=1e12"};
    ASSERT_EQ(capture.messages.size(), 12u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(capture.messages[2 * i].text, "Число выходит за допустимый диапазон значений.");
        EXPECT_EQ(capture.messages[2 * i + 1].text, std::string("Значение параметра не принято: ") + refused[i]);
    }
    EXPECT_EQ(parse({"-r=0.6"}).resizeWidth, 0.6); // rounds to one pixel
    EXPECT_EQ(parse({"-r", "-r=99"}).resizeWidth, 99.0);
}

TEST(Names, TheArgumentSplitsAtTheLastSlashThenTheLastDot) {
    RunNames n = splitFileName(TWideString(u"dir.v1/sub/clip.final.VX"));
    EXPECT_EQ(n.folder.toUtf8(), "dir.v1/sub/");
    EXPECT_EQ(n.base.toUtf8(), "clip.final");
    EXPECT_EQ(n.extension.toUtf8(), "VX");
    EXPECT_EQ(n.stem.toUtf8(), "clip.final.");
    EXPECT_FALSE(n.wildcard);
    n = splitFileName(TWideString(u"dir.v1/clip"));
    EXPECT_EQ(n.base.toUtf8(), "clip");
    EXPECT_TRUE(n.extension.empty());
    n = splitFileName(TWideString(u"/pic.bmp"));
    EXPECT_EQ(n.folder.toUtf8(), "/");
    n = splitFileName(TWideString(u"a\"b.bmp")); // a quote is an ordinary character of a name
    EXPECT_EQ(n.base.toUtf8(), "a\"b");
    EXPECT_EQ(n.extension.toUtf8(), "bmp");
}

TEST(Names, AWildcardHasItsPartsAndGroupingBase) {
    RunNames n = splitFileName(TWideString(u"f/frame*_x.bmp"));
    EXPECT_TRUE(n.wildcard);
    EXPECT_EQ(n.wildcardHead.toUtf8(), "frame");
    EXPECT_EQ(n.wildcardTail.toUtf8(), "_x.");
    EXPECT_EQ(n.groupBase.toUtf8(), "frame_x.");
}

TEST(Names, ExtensionsAreRecognisedIgnoringCase) {
    EXPECT_TRUE(sameExtension(TWideString(u"BMP"), u"bmp"));
    EXPECT_TRUE(sameExtension(TWideString(u"Vx"), u"vx"));
    EXPECT_FALSE(sameExtension(TWideString(u"bmpx"), u"bmp"));
    EXPECT_FALSE(sameExtension(TWideString(), u"vx"));
    // The pictures a run reads, by their names.
    for (const char16_t* picture : {u"bmp", u"png", u"jpg", u"jpeg", u"BMP", u"Png", u"JPG", u"jPeG"})
        EXPECT_TRUE(isPictureExtension(TWideString(picture)));
    for (const char16_t* other : {u"vx", u"gif", u"jpe", u"pngx", u"", u"tiff"})
        EXPECT_FALSE(isPictureExtension(TWideString(other)));
}

TEST(Names, TheOutputExtensionFollowsTheRunMode) {
    RunSettings s;
    EXPECT_TRUE(outputExtensionFor(s).empty());
    s.runMode = 1;
    EXPECT_EQ(outputExtensionFor(s).toUtf8(), "vx");
    s.runMode = -1;
    EXPECT_EQ(outputExtensionFor(s).toUtf8(), "bmp");
    s.runMode = 0;
    s.grouping = -1;
    EXPECT_EQ(outputExtensionFor(s).toUtf8(), "vx");
    s.grouping = 1; // grouping bitmaps without "-c" packs them into a .vx file
    EXPECT_EQ(outputExtensionFor(s).toUtf8(), "vx");
}

TEST(Names, OutputStemsAreNumberedConvertedOrGrouped) {
    EXPECT_EQ(inputStem(u"clip.vx").toUtf8(), "clip.");
    EXPECT_EQ(inputStem(u"noext").toUtf8(), "noext");
    EXPECT_EQ(numberedStem(TWideString(u"clip."), 0).toUtf8(), "clip_000000.");
    EXPECT_EQ(numberedStem(TWideString(u"clip."), 1234567).toUtf8(), "clip_1234567.");
    EXPECT_EQ(withoutLastDot(TWideString(u"a.b.")).toUtf8(), "a.b");

    RunNames single = splitFileName(TWideString(u"x.vx"));
    single.outputExtension = TWideString(u"vx");
    TSpisokStrok one(1, 8);
    one.append(u"x.vx");
    EXPECT_EQ(groupedStem(single, one).toUtf8(), "x_grouped."); // never the input itself
    single.outputExtension = TWideString(u"bmp");
    EXPECT_EQ(groupedStem(single, one).toUtf8(), "x.");

    RunNames wild = splitFileName(TWideString(u"clip*.vx"));
    wild.outputExtension = TWideString(u"vx");
    TSpisokStrok inputs(8, 8);
    inputs.append(u"clip.vx");
    inputs.append(u"clip2.vx");
    // A wildcard run keeps its base name; the loop refuses it when it names an input.
    EXPECT_EQ(groupedStem(wild, inputs).toUtf8(), "clip.");
}

TEST(FinalSettings, CompressionDefaultsToMode8AndFourThreads) {
    RunSettings s;
    s.runMode = 1;
    s.legacyFlags = 4 | 8;
    RunNames n = splitFileName(TWideString(u"pic.bmp"));
    n.outputExtension = TWideString(u"vx");
    EXPECT_EQ(finalizeSettings(s, n), 0);
    EXPECT_EQ(s.codecMode, 8);
    EXPECT_EQ(s.threadCount, 4);
    EXPECT_EQ(s.conversion, 0);
    EXPECT_EQ(s.legacyFlags, 15); // packing bits also act on unpacking
    EXPECT_EQ(s.grouping, 0);
}

TEST(FinalSettings, Mode1AlwaysUsesOneThread) {
    RunSettings s = parse({"-c", "-m=1", "-t=8", "x.bmp"});
    RunNames n = splitFileName(TWideString(u"x.bmp"));
    n.outputExtension = outputExtensionFor(s);
    EXPECT_EQ(finalizeSettings(s, n), 0);
    EXPECT_EQ(s.threadCount, 1);
}

TEST(FinalSettings, WildcardsGroupAndDecompressionUngroups) {
    RunSettings s;
    s.runMode = 1;
    RunNames n = splitFileName(TWideString(u"f*.bmp"));
    finalizeSettings(s, n);
    EXPECT_EQ(s.grouping, 1);
    RunSettings d;
    d.runMode = -1;
    finalizeSettings(d, n);
    EXPECT_EQ(d.grouping, -1);
    RunSettings g;
    g.grouping = -1;
    finalizeSettings(g, splitFileName(TWideString(u"x.vx")));
    EXPECT_EQ(g.runMode, 1);
}

TEST(FinalSettings, ConvertingVxCopiesRepacksOrRefuses) {
    RunNames n = splitFileName(TWideString(u"x.vx"));
    auto settle = [&](std::vector<std::string> args, int& code) {
        RunSettings s = parse(args);
        n.outputExtension = outputExtensionFor(s);
        code = finalizeSettings(s, n);
        return s;
    };
    int code;
    RunSettings s = settle({"-c", "x.vx"}, code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(s.conversion, 1);
    EXPECT_EQ(s.codecMode, 0); // taken from the file
    EXPECT_EQ(s.threadCount, 0);
    s = settle({"-c", "-t", "x.vx"}, code);
    EXPECT_EQ(s.conversion, 2);
    test::MessageCapture capture;
    s = settle({"-c", "-os", "x.vx"}, code);
    EXPECT_EQ(code, 1);
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].text,
              "Преобразование копированием невозможно, т.к.\nдля обработки параметров требуется распаковка");
}

TEST(Usage, EveryOptionOfTheTableIsDescribed) {
    std::u16string usage = std::u16string(usageText(0)) + usageText(1);
    std::size_t count;
    const OptionRow* table = optionTable(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::u16string token = table[i].token;
        // Help and the version are not listed in the help.
        if (token == u"-h" || token == u"/?" || token == u"--help" || token == u"--version") continue;
        bool described = usage.find(u"  " + token + u" ") != std::u16string::npos ||
                         usage.find(u"  " + token + u"[") != std::u16string::npos;
        EXPECT_TRUE(described) << TWideString(token).toUtf8();
    }
    for (const char16_t* valued : {u"-a[=", u"-m[=", u"-t[=", u"-r[="}) EXPECT_NE(usage.find(valued), std::u16string::npos);
}

} // namespace
} // namespace vexel
