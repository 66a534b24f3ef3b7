// The frame loop: one frame per pass. Load it (a bitmap, or the next record
// of a .vx file), resize it ("-r"), write it (compression pipeline or bitmap
// writer), show it when there is a window, and pace playback. Its result is
// the process exit code.
//
// Output names, from the folder F/, the input stem X of the pass (the list
// row up to and including its last "."), and O:
//   grouping < 0            X without its last "." + "_" + the pass number
//                           zero-padded to 6 digits + "."    clip_000000.bmp
//   grouping > 0            the grouping base (wildcard: the stem without
//                           its "*") or S                     frame.vx
//   conversion              X without its last "." + "_converted."
//   otherwise               X                                 picture.vx
// A grouped output name never names one of the inputs: such a name gets
// "_grouped" before its "." (again, until it names none).
#pragma once

#include "app/options.h"
#include "app/standard_streams.h"
#include "base/tspisokstrok.h"
#include "display/twnd.h"
#include "pipeline/compression_pipeline.h"
#include "pipeline/decompression_pipeline.h"

#include <cstdint>

namespace vexel {

// The codec's entry points as the loop calls them: the pipelines
// themselves, or stand-ins in tests.
struct FrameCodec {
    Result (*compressFrame)(CodecState&, PictureBuffer&, const CompressionJob&) = &vexel::compressFrame;
    Result (*decompressRecord)(CodecState&, PictureBuffer&, DecompressionCall&) = &vexel::decompressRecord;
};

struct FrameLoopInput {
    TWnd* record = nullptr;
    RunSettings* settings = nullptr;
    const RunNames* names = nullptr;
    const TSpisokStrok* list = nullptr;
    TWideString windowTitle; // the window's title when the run started; empty without a window
    bool groupFlag = false;  // records are chained (grouping >= 1 at the start)
    InputSpool* spool = nullptr; // the run reads standard input
    FrameCodec codec;
};

int runFrameLoop(FrameLoopInput& input);

// The input stem of a list row: up to and including its last "." (the whole
// row without one).
TWideString inputStem(std::u16string_view row);
// stem without its last "." (the whole stem without one).
TWideString withoutLastDot(const TWideString& stem);
// X without its last "." + "_" + pass (at least 6 digits) + ".".
TWideString numberedStem(const TWideString& stem, std::uint64_t pass);
// The output stem of a grouped run; see above.
TWideString groupedStem(const RunNames& names, const TSpisokStrok& list);

} // namespace vexel
