// Writes the program's icon as PNG files (vexel-48.png ... vexel-256.png)
// into a folder, for the desktop entry and the package; the viewer draws
// the same picture as its window icon. Like every program of Vexel it
// keeps the code-page table beside itself, which the install takes along.
//
//   vexel_icons FOLDER
#include "app/png_writer.h"
#include "base/units.h"
#include "display/icon.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexel_icons FOLDER\n");
        return 64;
    }
    vexel::initializeBaseUnits();
    int code = 0;
    for (int size : {48, 64, 128, 256}) {
        const std::vector<std::uint32_t> argb = vexel::programIcon(size);
        std::vector<std::uint8_t> rgba;
        for (std::uint32_t p : argb)
            for (int shift : {16, 8, 0, 24}) rgba.push_back(static_cast<std::uint8_t>(p >> shift));
        const std::string path = std::string(argv[1]) + "/vexel-" + std::to_string(size) + ".png";
        std::remove(path.c_str());
        if (!vexel::writePng(path, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size), rgba.data(), true)) {
            std::fprintf(stderr, "vexel_icons: cannot write %s\n", path.c_str());
            code = 1;
        }
    }
    vexel::finalizeBaseUnits();
    return code;
}
