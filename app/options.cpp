#include "app/options.h"

#include "base/kernel.h"
#include "base/matematicheskieoperacii.h"
#include "base/preobrazovaniechisel.h"
#include "codec/legacy_flags.h"
#include "include/vexel/vexel.h"
#include "ui/toknosoobzheniy.h"

#include <cmath>

namespace vexel {

namespace {

const char16_t kUsage1[] =
    u"Command line usage:\r\n  [-c] [-uc] [filename]\r\n\r\nDescription:\r\n  filename - Source file name (default: \"vp.bmp\")\r\n"
    u"  -c - Compress .bmp file to .vx / Convert internal format of a .vx file\r\n  -uc - Decompress file (.vx) to .bmp\r\n"
    u"  -os - Optimize size.\r\n  -oq - Optimize quality.\r\n  -g - Group files into one .vx file\r\n"
    u"  -ug - Ungroup .vx file if it has more than one frame\r\n"
    u"  -a[=l.r] - Animate frames with speed rate l.r frames per second [l.r=0]\r\n"
    u"  -m[=n] - Compression mode [n=8] (use 7 for faster unpacking, 8 for lower size,\r\n"
    u"      1 for backward compatibility).\r\n"
    u"  -t[=n] - Set threads count and streams count in multithreaded processing and\r\n"
    u"      while storing [n=1] [-t=4].\r\n"
    u"  -o=name - Output file name (\"-\" writes to standard output; a filename of \"-\"\r\n"
    u"      reads standard input). Several filenames are handled one after another.\r\n"
    u"  -w - Show the frames in a window while writing files from a terminal.\r\n\r\n"
    u"If no parameters present except filename then .bmp or .vx file format viewer\r\n"
    u"will be opened. To start video playing left click the window or press spacebar.";

const char16_t kUsage2[] =
    u"Description (constinue):\r\n  -r[=n] - Resize frames proportionally to n pixels width [n=320].\r\n"
    u"  -k - Make all frames keyframes (by default, keyframes are present every 1 second).\r\n"
    u"  -f - Use fast painting mode (default for videos).\r\n  -s - Use smooth painting mode (default for photos).\r\n\r\n"
    u"Following options does not to be save in file. Once present it alternates behavior\r\n"
    u"of the unpacking function, twice typed it makes packing function work like old\r\n"
    u"version of itself while internal format convertion.\r\n\r\nDescription (continue):\r\n"
    u"  -4 [-4] - Use old quantity number codes for bright level in pixel data.\r\n"
    u"  -x [-x] - Use old version unpacking algorithm for .vx files, created\r\n"
    u"            with format parameter rsb mistake in place, where R is.";

const char16_t kRangeMessage[] = u"Число выходит за допустимый диапазон значений.";
const char16_t kCopyConversionRefused[] =
    u"Преобразование копированием невозможно, т.к.\r\nдля обработки параметров требуется распаковка";

// "-4" and "-x": the first press sets the unpacking bit (class A); a second
// press moves it to the packing bit; a third sets the unpacking bit again.
void toggleLegacy(RunSettings& s, std::uint8_t unpackBit, std::uint8_t packBit) {
    if (s.legacyFlags & unpackBit) {
        s.legacyFlags = static_cast<std::uint8_t>((s.legacyFlags & ~unpackBit) | packBit);
    } else {
        s.legacyFlags |= unpackBit;
        s.optionClasses |= kClassA;
    }
}

const OptionRow kOptions[] = {
    {u"-c", [](RunSettings& s) { s.runMode = 1; }},
    {u"-uc", [](RunSettings& s) { s.runMode = -1; }},
    {u"-os", [](RunSettings& s) { s.optimize = 1; s.optionClasses |= kClassB; }},
    {u"-oq", [](RunSettings& s) { s.optimize = -1; s.optionClasses |= kClassB; }},
    {u"-g", [](RunSettings& s) { s.grouping = 1; }},
    {u"-ug", [](RunSettings& s) { s.grouping = -1; }},
    {u"-r", [](RunSettings& s) { s.resizeWidth = kDefaultResizeWidth; s.optionClasses |= kClassB; }},
    {u"-k", [](RunSettings& s) { s.allKeyframes = true; s.optionClasses |= kClassB; }},
    {u"-f", [](RunSettings& s) { s.paintMode = 1; }},
    {u"-s", [](RunSettings& s) { s.paintMode = -1; }},
    {u"-t", [](RunSettings& s) { s.threadCount = 1; s.optionClasses |= kClassA; }},
    {u"-4", [](RunSettings& s) { toggleLegacy(s, kLegacyOldLuma, kLegacyOldLumaWriter); }},
    {u"-x", [](RunSettings& s) { toggleLegacy(s, kLegacyChromaAnchor, kLegacyChromaAnchorWriter); }},

    {u"-w", [](RunSettings& s) { s.showWindow = true; }},
    {u"/?", [](RunSettings& s) { s.showHelp = true; }},
    {u"-h", [](RunSettings& s) { s.showHelp = true; }},
    {u"--help", [](RunSettings& s) { s.longHelp = true; }},
    {u"--version", [](RunSettings& s) { s.showVersion = true; }},
};

const char16_t kIgnoredToken[] = u"Параметр не распознан и пропущен: ";
const char16_t kIgnoredAfterName[] = u"Параметр после имени файла пропущен: ";
const char16_t kRefusedValue[] = u"Значение параметра не принято: ";

bool isOption(const TWideString& token) {
    return token.at(1) == u'-' || token.view() == std::u16string_view(u"/?");
}

// Reads "-a", "-r", "-m" or "-t" with its value; false for any other name.
// A value the number reader refuses has been reported by it; one outside
// the option's range is reported here. Either way a second message names
// the option and the value refused.
bool applyValued(RunSettings& s, const TWideString& token, const TWideString& name, const TWideString& value,
                 double& lastNumber, bool report) {
    std::u16string_view n = name.view();
    bool rate = n == u"-a", resize = n == u"-r", mode = n == u"-m", threads = n == u"-t";
    if (!rate && !resize && !mode && !threads) return false;
    TAnsiString text(value);
    double number = 0;
    bool read = parseNumber(text.text() ? text.text() : "", text.length(), number, report) == kParseOk;
    if (read) lastNumber = number;
    if (!read && report) ui::showMessage(TWideString(kRefusedValue) + token);

    if (rate) {
        if (read) s.frameRate = number;
    } else if (resize) {
        // The width is used rounded; it must give at least one pixel and
        // stay a 32-bit count.
        if (!read) return true;
        if (!(roundHalfEven(number) >= 1 && number <= 2147483647.0)) {
            if (report) {
                ui::showMessage(TWideString(kRangeMessage));
                ui::showMessage(TWideString(kRefusedValue) + token);
            }
            return true;
        }
        s.resizeWidth = number;
        s.optionClasses |= kClassB;
    } else {
        // A refused value falls back on the last number any valued option read.
        double candidate = std::trunc(read ? number : lastNumber);
        s.optionClasses |= kClassA;
        if (mode) {
            if (candidate < 0 || candidate > 255) {
                if (read && report) {
                    ui::showMessage(TWideString(kRangeMessage));
                    ui::showMessage(TWideString(kRefusedValue) + token);
                }
                return true;
            }
            s.codecMode = static_cast<std::uint8_t>(candidate);
        } else {
            // A record holds at most 45 streams: more would never fit its header.
            s.threadCount = static_cast<std::int32_t>(std::fmin(std::fmax(candidate, 1.0), double{kMaxStreams}));
        }
    }
    return true;
}

TWideString upToLast(const TWideString& text, char16_t c, TWideString* rest) {
    std::size_t at = text.view().rfind(c);
    if (at == std::u16string_view::npos) {
        if (rest) *rest = TWideString();
        return text;
    }
    if (rest) *rest = TWideString(text.view().substr(at + 1));
    return TWideString(text.view().substr(0, at));
}

} // namespace

const OptionRow* optionTable(std::size_t& count) {
    count = sizeof kOptions / sizeof kOptions[0];
    return kOptions;
}

RunSettings parseCommandLine(std::vector<TWideString>& fileNames, bool report) {
    RunSettings s;
    double lastNumber = 0;
    fileNames.clear();
    int count = commandArgumentCount();
    for (int i = 0; i < count; ++i) {
        TWideString token = commandArgument(i);
        const bool standardInput = token.view() == std::u16string_view(u"-");
        if (!fileNames.empty()) {
            // After the first name: more names; nothing else is read, and
            // nothing is dropped without a word.
            if (token.empty() || standardInput || !isOption(token)) fileNames.push_back(token);
            else if (report) ui::showWarning(TWideString(kIgnoredAfterName) + token);
            continue;
        }
        if (token.empty() || standardInput || !isOption(token)) {
            fileNames.push_back(token);
            continue;
        }
        bool matched = false;
        for (const OptionRow& row : kOptions) {
            if (token.view() == std::u16string_view(row.token)) {
                row.apply(s);
                matched = true;
                break;
            }
        }
        TWideString name, value;
        if (!matched && splitAtFirst(token, u'=', name, value)) {
            if (name.view() == std::u16string_view(u"-o")) {
                matched = true;
                if (!value.empty()) s.outputName = value;
                else if (report) ui::showWarning(TWideString(kRefusedValue) + token);
            } else {
                matched = applyValued(s, token, name, value, lastNumber, report);
            }
        }
        if (!matched && report) ui::showWarning(TWideString(kIgnoredToken) + token);
    }
    return s;
}

RunSettings parseCommandLine(TWideString& fileName, bool report) {
    std::vector<TWideString> names;
    RunSettings s = parseCommandLine(names, report);
    fileName = names.empty() ? TWideString() : names.front();
    return s;
}

RunNames splitFileName(const TWideString& argument) {
    RunNames names;
    std::size_t slash = argument.view().rfind(u'/');
    TWideString name = argument;
    if (slash != std::u16string_view::npos) {
        names.folder = TWideString(argument.view().substr(0, slash + 1));
        name = TWideString(argument.view().substr(slash + 1));
    }
    names.base = upToLast(name, u'.', &names.extension);
    names.stem = names.base + TWideString(u".");
    setWildcardParts(names);
    return names;
}

void setWildcardParts(RunNames& names) {
    std::size_t star = names.stem.view().find(u'*');
    names.wildcard = star != std::u16string_view::npos;
    if (!names.wildcard) {
        names.wildcardHead = names.wildcardTail = names.groupBase = TWideString();
        return;
    }
    names.wildcardHead = TWideString(names.stem.view().substr(0, star));
    names.wildcardTail = TWideString(names.stem.view().substr(star + 1));
    names.groupBase = names.wildcardHead + names.wildcardTail;
}

bool sameExtension(const TWideString& text, std::u16string_view ext) {
    std::u16string_view t = text.view();
    if (t.size() != ext.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char16_t a = t[i], b = ext[i];
        if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
        if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
        if (a != b) return false;
    }
    return true;
}

bool isPictureExtension(const TWideString& extension) {
    return sameExtension(extension, u"bmp") || sameExtension(extension, u"png") || sameExtension(extension, u"jpg") ||
           sameExtension(extension, u"jpeg");
}

TWideString outputExtensionFor(const RunSettings& s) {
    if (s.runMode >= 1) return TWideString(u"vx");
    // Grouping without "-c" packs frames too (the final settings make it a
    // compression), so its output is a .vx file whatever the input.
    if (s.grouping != 0 && s.runMode == 0) return TWideString(u"vx");
    if (s.runMode == -1) return TWideString(u"bmp");
    return TWideString();
}

const char16_t* usageText(int part) { return part == 0 ? kUsage1 : kUsage2; }

const char* versionText() {
#define VEXEL_STRINGIFY2(x) #x
#define VEXEL_STRINGIFY(x) VEXEL_STRINGIFY2(x)
    return "vexel " VEXEL_STRINGIFY(VEXEL_VERSION_MAJOR) "." VEXEL_STRINGIFY(VEXEL_VERSION_MINOR) "." VEXEL_STRINGIFY(
        VEXEL_VERSION_PATCH);
#undef VEXEL_STRINGIFY
#undef VEXEL_STRINGIFY2
}

void showUsageText() {
    TWideString caption(u"Vexel v1.54");
    ui::showUsage(TWideString(kUsage1), caption);
    ui::showUsage(TWideString(kUsage2), caption);
}

int finalizeSettings(RunSettings& s, const RunNames& names) {
    if (s.runMode >= 1 && names.wildcard && s.grouping == 0) s.grouping = 1;
    if (s.runMode == -1 && s.grouping == 0) s.grouping = -1;
    if (s.grouping != 0 && s.runMode == 0) s.runMode = 1;
    s.conversion = sameExtension(names.extension, u"vx") && sameExtension(names.outputExtension, u"vx") ? 1 : 0;
    if (s.conversion == 0) {
        if (s.codecMode == 0) s.codecMode = 8;
        if (s.threadCount == 0) s.threadCount = 4;
        s.legacyFlags |= legacyReadingFromWriting(s.legacyFlags);
    } else if (s.optionClasses & kClassB) {
        ui::showMessage(TWideString(kCopyConversionRefused));
        return 1;
    } else if (s.optionClasses & kClassA) {
        s.conversion = 2;
    }
    if (s.threadCount != 0 && s.codecMode == 1) s.threadCount = 1;
    return 0;
}

} // namespace vexel
