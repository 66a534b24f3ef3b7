// Fuzz target for standard input as a run reads it: every input is read to
// its end from a descriptor, as a pipe would give it, and split into the
// pictures of a bitmap stream; each picture is taken out and loaded into one
// long-lived viewer record, as the frame loop does.
#include "app/bitmap.h"
#include "app/standard_streams.h"
#include "app/startup.h"
#include "fuzz/fuzz_files.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace {

vexel::TWnd* record = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::initializeProgramUnits();
    static vexel::fuzz::SilentMessages silent;
    vexel::ui::setMessageBackend(&silent);
    record = new vexel::TWnd;
    record->create();
    record->codec.screen = vexel::ScreenSize{64, 48};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    if (fd < 0) return 0;
    for (std::size_t at = 0; at < size;) {
        const ssize_t n = write(fd, data + at, size - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    vexel::InputSpool spool;
    if (spool.fill(fd) && spool.kind() == vexel::InputSpool::Kind::Pictures) {
        // A stream of many tiny pictures is bounded by its size: each is at least a header long.
        for (std::uint32_t i = 0; i < spool.pictures() && i < 64; ++i) {
            vexel::TWideString path;
            if (!spool.takePicture(i, path)) break;
            vexel::loadBitmap(*record, path, true);
        }
    }
    close(fd);
    return 0;
}
