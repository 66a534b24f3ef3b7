// The command line: options into RunSettings, the file-name argument into
// the names a run works with, the usage text and the final settings.
//
// Tokens are argv[1..] (the shell has split and unquoted them). Options come
// first: a token that begins with "-" (or is exactly "/?") is compared with
// the option table, and one that matches nothing is ignored with a warning
// that names it. The first other token (or "-", standard input) is the
// first file name; the tokens after it are further names, except those that
// begin with "-", which are ignored, each with a warning. Valued options are
// written name "=" value; the numbers are read with the number reader, whose
// messages report bad values; a second message names the option and the
// value refused, and the run goes on.
#pragma once

#include "base/tstring.h"
#include "codec/container.h"

#include <cstdint>
#include <vector>

namespace vexel {

struct RunSettings {
    std::int8_t runMode = 0;       // "-c" +1 compress or convert, "-uc" -1 decompress, 0 view
    std::int8_t optimize = 0;      // "-os" +1 size, "-oq" -1 quality
    bool showHelp = false;         // "-h", "/?"
    bool longHelp = false;         // "--help": the usage on standard output, exit 0
    bool showVersion = false;      // "--version": the version on standard output, exit 0
    std::int8_t grouping = 0;      // "-g" +1 one output file, "-ug" -1 a file per frame
    bool allKeyframes = false;     // "-k": realised by negating frameRate
    std::int8_t paintMode = 0;     // "-f" +1 fast, "-s" -1 smooth, 0 automatic
    double frameRate = 0;          // "-a=r": frames per second; 0 not given
    double resizeWidth = 0;        // "-r" 320, "-r=n" n; 0 no resizing
    std::uint8_t codecMode = 0;    // "-m=n"; 0 not given
    std::int32_t threadCount = 0;  // "-t" 1, "-t=n" n (1..45); 0 not given
    std::uint8_t legacyFlags = 0;  // "-4" bits 0/2, "-x" bits 1/3
    std::uint8_t optionClasses = 0; // kClassA | kClassB
    std::uint8_t conversion = 0;   // 0 none, 1 copy .vx records, 2 unpack and repack
    TWideString outputName;        // "-o=NAME": the output of a run with one input; "-" standard output
    bool showWindow = false;       // "-w": a run that writes files shows its frames in a window
};

// Class A: an option that changes only how a file is unpacked or how many
// threads work. Class B: an option that changes the picture data.
constexpr std::uint8_t kClassA = 1;
constexpr std::uint8_t kClassB = 2;
// "-r" without a value.
constexpr double kDefaultResizeWidth = 320.0;

// Reads the options from the program's arguments (base/kernel.h). fileName
// receives the file-name token, or stays empty when there is none. Bad
// values and ignored tokens are reported unless report is false (a first
// look at the run).
RunSettings parseCommandLine(TWideString& fileName, bool report = true);
// The same, with every file name in the order given.
RunSettings parseCommandLine(std::vector<TWideString>& fileNames, bool report = true);

// The simple options, as data: every token here is also described in the
// usage text.
struct OptionRow {
    const char16_t* token;
    void (*apply)(RunSettings&);
};
const OptionRow* optionTable(std::size_t& count);

// The names taken from the file-name argument.
struct RunNames {
    TWideString folder;          // F\: the argument up to and including its last "/" (empty: current folder)
    TWideString base;            // B: the rest up to its last "."
    TWideString extension;       // E: the text after that "." (empty without one)
    TWideString stem;            // S = B + "."
    TWideString outputExtension; // O
    bool wildcard = false;       // S holds a "*"
    TWideString wildcardHead;    // P: S before its first "*"
    TWideString wildcardTail;    // Q: S after it (ends with ".")
    TWideString groupBase;       // Bg = P + Q
    // A list of names given one by one (or standard input): the list rows
    // are the paths themselves, F is empty, and E names the kind of input
    // (a picture or a .vx file). wildcard is set too, since such a run goes
    // through its list as a wildcard's.
    bool listed = false;
    // "-o=NAME": the output stem (NAME without the output extension, and
    // ".") that replaces the one derived from the input; "-" writes to
    // standard output instead.
    TWideString outputStem;
    bool toStandardOutput = false;
    bool standardInput = false; // "-": the list rows are the spooled input
};

// Splits the argument into F, B, E and S (and P, Q, Bg for a wildcard).
// Splitting is at the last "/" and then the last "."; a dot inside the
// folder part never starts the extension.
RunNames splitFileName(const TWideString& argument);
void setWildcardParts(RunNames& names);

// True when text is ext ignoring ASCII case ("BMP" is "bmp").
bool sameExtension(const TWideString& text, std::u16string_view ext);

// True for the extensions of the picture files a run reads (".bmp" and the
// other picture formats), ignoring ASCII case.
bool isPictureExtension(const TWideString& extension);

// O from the settings as given: "vx" to compress or convert, also when
// grouping without "-c" (which packs the frames); "bmp" to decompress; else
// empty.
TWideString outputExtensionFor(const RunSettings& settings);

// "vexel 1.54.0": the program's name and version, for --version.
const char* versionText();

// Shows the usage text in its two parts (caption "Vexel v1.54").
void showUsageText();
const char16_t* usageText(int part);

// Settles the settings after the file list is built. 0 when the run goes
// on; otherwise the message was shown and this is the exit code.
int finalizeSettings(RunSettings& settings, const RunNames& names);

} // namespace vexel
