// The command line as the program reads it: the input split at line feeds
// into at most 32 arguments, through the option parser, the file-name
// splitter and the final settings. Whatever the tokens, the settings stay
// in their ranges.
#include "app/options.h"
#include "base/kernel.h"
#include "base/units.h"
#include "fuzz/fuzz_files.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::fuzz::prepareFileTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    std::vector<std::string> tokens{"vexel"};
    std::string token;
    for (std::size_t i = 0; i < size && tokens.size() < 33; ++i) {
        if (data[i] == '\n') {
            tokens.push_back(token);
            token.clear();
        } else {
            token.push_back(static_cast<char>(data[i]));
        }
    }
    if (tokens.size() < 33) tokens.push_back(token);
    std::vector<char*> argv;
    for (std::string& t : tokens) argv.push_back(t.data());
    argv.push_back(nullptr);
    setCommandArguments(static_cast<int>(tokens.size()), argv.data());

    TWideString argument;
    RunSettings s = parseCommandLine(argument, (size & 1) != 0);
    if (s.threadCount < 0 || s.threadCount > static_cast<std::int32_t>(kMaxStreams)) std::abort();
    if (s.resizeWidth != 0 && !(s.resizeWidth >= 0.5 && s.resizeWidth <= 2147483647.0)) std::abort();
    if (!std::isfinite(s.frameRate)) std::abort();
    RunNames names = splitFileName(argument);
    if (names.stem.length() != names.base.length() + 1) std::abort();
    names.outputExtension = outputExtensionFor(s);
    finalizeSettings(s, names);
    if (s.threadCount < 0 || s.threadCount > static_cast<std::int32_t>(kMaxStreams)) std::abort();
    setCommandArguments(0, nullptr);
    return 0;
}
