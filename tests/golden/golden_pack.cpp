// Packs one bitmap in any codec mode, 0 included (the command line cannot
// ask for mode 0: "-m=0" means "not given"). Used by the output hash check.
//
//   vexel_golden_pack INPUT.bmp OUTPUT.vx MODE STREAMS [OPTIMIZE]
#include "app/bitmap.h"
#include "app/startup.h"
#include "pipeline/compression_pipeline.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: vexel_golden_pack INPUT.bmp OUTPUT.vx MODE STREAMS [OPTIMIZE]\n");
        return 2;
    }
    vexel::initializeProgramUnits();
    int code = 1;
    {
        vexel::TWnd record;
        record.create();
        if (vexel::loadBitmap(record, vexel::TWideString::fromUtf8(argv[1]), false) == vexel::kBitmapLoaded) {
            double rate = 0;
            std::uint64_t last = 0;
            vexel::CompressionJob job;
            job.outputPath = vexel::TWideString::fromUtf8(argv[2]);
            job.mode = static_cast<std::uint8_t>(std::atoi(argv[3]));
            job.streamCount = static_cast<std::uint32_t>(std::atoi(argv[4]));
            job.optimize = static_cast<std::int8_t>(argc == 6 ? std::atoi(argv[5]) : 0);
            job.firstFrame = true;
            job.lastRecordOffset = &last;
            job.frameRate = &rate;
            code = vexel::compressFrame(record.codec, record.picture, job) == vexel::kDone ? 0 : 1;
        }
    }
    vexel::finalizeProgramUnits();
    return code;
}
