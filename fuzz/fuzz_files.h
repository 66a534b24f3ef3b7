// What the fuzz targets that read files share: a folder of their own for
// the input written as a file, dialogs that swallow every message (they
// would only flood the output), and streams decoded one after another (the
// same path for the same input).
#pragma once

#include "base/dialogs.h"
#include "base/units.h"
#include "codec/container.h"
#include "pipeline/decompression_pipeline.h"
#include "pipeline/record_file.h"
#include "platform/files.h"
#include "ui/toknosoobzheniy.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vexel::fuzz {

class Silent final : public Dialogs {
public:
    bool message(const TWideString&, const TWideString&) override { return true; }
    ProgressView* openProgress(const TWideString&, const TWideString&) override { return nullptr; }
    void closeProgress(ProgressView*) override {}
};

// The program's messages (a reader's or the writer's) would only flood the
// output too: each one is taken as accepted.
class SilentMessages final : public ui::MessageBackend {
public:
    int show(const TWideString&, const TWideString&, int, ui::MessageChannel) override { return ui::kResultAccept; }
};

// A folder removed at exit; empty when none could be made. The name is
// never destroyed: the exit handler that removes the folder still reads it.
inline const std::string& folder() {
    static const std::string& made = *new std::string([] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) return std::string();
        std::atexit([] {
            // Nothing more to do at exit when the folder cannot be removed.
            const int removed = std::system(("rm -rf '" + folder() + "'").c_str());
            (void)removed;
        });
        return pattern;
    }());
    return made;
}

// The input as the file folder()/name; false when it cannot be written.
inline bool writeInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen((folder() + "/" + name).c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Pictures that need more memory than this are skipped by the targets (they
// are refused or decoded alike, only slower, and would pass the fuzzer's
// memory limit).
constexpr std::uint64_t kMemoryLimit = 96u << 20;

// True when every record the file's links reach decodes within kMemoryLimit
// (the walk ends at the first record the parser refuses: links only lead
// forward).
inline bool recordsFitInMemory(const std::string& path) {
    platform::File file;
    if (!file.open(TWideString::fromUtf8(path).view(), platform::OpenMode::ReadExisting)) return false;
    for (std::uint64_t at = 0;;) {
        RecordHeader h;
        if (readRecordHeader(file, at, h) != kDone) return true;
        if (decodeMemoryEstimate(h, 1, 0) > kMemoryLimit) return false;
        if (h.nextRecord == 0) return true;
        at = h.nextRecord;
    }
}

// The start of every such target.
inline void prepareFileTarget() {
    initializeBaseUnits();
    static Silent silent;
    installDialogs(&silent);
    setDecodeThreading(Threading::Sequential);
}

} // namespace vexel::fuzz
