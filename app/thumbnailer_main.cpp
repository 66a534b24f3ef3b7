// vexel-thumbnailer -s SIZE INPUT OUTPUT: a PNG of the first frame of a .vx
// file, fitting SIZE x SIZE with its aspect kept, for file managers (the
// freedesktop thumbnail convention); OUTPUT "-" is standard output. A bad file gives a non-zero exit and
// no output file. The run is bounded: decoding is refused beyond a memory
// limit, the address space is limited, and a run longer than 30 seconds is
// ended by the system.
#include "app/png_writer.h"
#include "app/thumbnail.h"
#include <vexel/vexel.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: vexel-thumbnailer -s SIZE INPUT.vx OUTPUT.png\n"
                      "  a PNG of the first frame of INPUT.vx, fitting SIZE x SIZE (1 to 4096);\n"
                      "  OUTPUT.png \"-\" writes it to standard output\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vexel-thumbnailer %s\n", vexel_version_string());
        return 0;
    }
    if (argc != 5 || std::strcmp(argv[1], "-s") != 0) return usage();
    char* end = nullptr;
    const long size = std::strtol(argv[2], &end, 10);
    if (!end || *end || size < 1 || size > 4096) return usage();
    alarm(30);
#ifndef VEXEL_ASAN
    const rlim_t limit = rlim_t{3} << 30; // the decoder's own limit is 1 GiB
    const rlimit space{limit, limit};
    setrlimit(RLIMIT_AS, &space);
#endif
    vexel::Thumbnail thumbnail;
    const int result = vexel::makeThumbnail(argv[3], static_cast<std::uint32_t>(size), thumbnail);
    int code = 0;
    if (result != vexel::kThumbnailDone) {
        static const char* const why[] = {"", "not a .vx file", "too large to decode here", "does not decode"};
        std::fprintf(stderr, "vexel-thumbnailer: %s: %s\n", argv[3], why[result]);
        code = 1;
    } else if (std::strcmp(argv[4], "-") == 0) {
        if (!vexel::writePngTo(stdout, thumbnail.width, thumbnail.height, thumbnail.rgb.data(), false)) {
            std::fprintf(stderr, "vexel-thumbnailer: standard output cannot be written\n");
            code = 1;
        }
    } else if (!vexel::writePng(argv[4], thumbnail.width, thumbnail.height, thumbnail.rgb.data(), false)) {
        std::fprintf(stderr, "vexel-thumbnailer: %s: cannot be written\n", argv[4]);
        code = 1;
    }
    return code;
}
