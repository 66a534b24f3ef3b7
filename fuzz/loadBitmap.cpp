// Fuzz target for the picture reader (bitmaps, and PNG and JPEG files told
// apart by their first bytes): every input is written to a file and
// loaded into one long-lived viewer record (so the previous-picture handling
// runs too); a loaded picture is written back out and removed.
#include "app/bitmap.h"
#include "app/startup.h"
#include "fuzz/fuzz_files.h"
#include "platform/files.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string folder;
vexel::TWnd* record = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeProgramUnits();
    static vexel::fuzz::SilentMessages silent;
    vexel::ui::setMessageBackend(&silent);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexel-fuzz-XXXXXX";
    if (mkdtemp(pattern.data())) folder = pattern;
    std::atexit([] { rmdir(folder.c_str()); });
    record = new vexel::TWnd;
    record->create();
    // A small screen sends some inputs to the planes.
    record->codec.screen = vexel::ScreenSize{64, 48};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (folder.empty()) return 0;
    std::string in = folder + "/in.bmp", out = folder + "/out.bmp";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // The last byte, when present, also decides whether planes are wanted.
    record->picture.planesWanted = size > 0 && (data[size - 1] & 1);
    if (vexel::loadBitmap(*record, vexel::TWideString::fromUtf8(in), true) == vexel::kBitmapLoaded) {
        vexel::writeBitmap(*record, vexel::TWideString::fromUtf8(out));
        std::remove(out.c_str());
    }
    std::remove(in.c_str());
    return 0;
}
