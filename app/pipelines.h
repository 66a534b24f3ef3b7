// The codec's entry points as the frame loop calls them.
//
// The compression pipeline writes one frame record per call; the
// decompression pipeline reads one record per call into the viewer record.
// They are installed here by the codec when it is built into the program;
// while an entry is missing, the frame loop reports that frame as one that
// cannot be packed or unpacked (exit code 2), and nothing pretends to work.
#pragma once

#include "base/tstring.h"
#include "codec/pipeline_jobs.h"
#include "display/twnd.h"

#include <cstdint>

namespace vexel {

struct CodecPipelines {
    // 1 success; below 1 failure.
    int (*compressFrame)(TWnd& record, const CompressionJob& job) = nullptr;
    // 1 decoded; -2 the file needs a newer program; other values below 1 failure.
    int (*decompressRecord)(TWnd& record, DecompressionCall& call) = nullptr;
    // The playback status text shown in the window title.
    TWideString (*statusText)() = nullptr;
    void (*clearStatusText)() = nullptr;
    // After a pause in playback: the timing statistics restart at now.
    void (*resetTimingStatistics)(long double now) = nullptr;
    // At the end of a run, under the global lock: the read-ahead cache goes.
    void (*destroyFileCache)() = nullptr;
    // At the end of a run: the decompression workers go.
    void (*finishDecompression)(TWnd& record) = nullptr;
};

// The process-wide entry points (all null until the codec installs them).
CodecPipelines& codecPipelines();

} // namespace vexel
