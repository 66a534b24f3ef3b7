// The arguments of the compression and decompression pipelines, as the
// frame loop passes them.
#pragma once

#include "base/memdiag.h"
#include "base/tstring.h"
#include "codec/record_sink.h"

#include <cstdint>

namespace vexel {

struct RepackFrame;  // codec/frame_decoder.h
class GroupedOutput; // pipeline/compression_pipeline.h

// How the streams of a record run: chosen by the pipeline (by processor
// count and GPU binding), always one after another in the calling thread,
// or always in the worker pool. Tests compare the two.
enum class Threading { Automatic, Sequential, Pool };

// A copy conversion's source record: its raw bytes from the first, with
// room for a header grown to 71 bytes; length is 0 when none is held.
struct CopiedRecord {
    TrackedBuffer<std::uint8_t> bytes;
    std::uint64_t length = 0;
};

// One call of the compression pipeline.
struct CompressionJob {
    TWideString outputPath;
    std::uint8_t mode = 0;               // codec mode 0..9
    std::int8_t optimize = 0;            // -1 quality, 0 default, +1 size
    bool groupFlag = false;              // frames are chained records
    bool firstFrame = false;             // no record of this output file written yet
    std::uint64_t* lastRecordOffset = nullptr; // start of the record written last; advanced by the pipeline
    double* frameRate = nullptr;         // negative: every frame a keyframe
    std::uint8_t conversion = 0;         // 0 pictures, 1 copy, 2 repack
    std::uint32_t streamCount = 1;
    // The grouped output the records go to, owned by the caller: needed
    // when groupFlag is set and memory is not.
    GroupedOutput* grouped = nullptr;
    // Conversion 1: the record to write again (what the decompression call's
    // copy received; its header grows in place). Without one, or when it holds
    // none, the decoded picture is packed instead.
    CopiedRecord* copy = nullptr;
    // Conversion 2: the decoded frame to encode again (what the decompression
    // call's repack received).
    const RepackFrame* repack = nullptr;
    // Set: the record is appended to this sink (which links the chain the
    // same way) instead of a file; outputPath is not used.
    RecordSink* memory = nullptr;
    // Set: receives the system's error number when a file step fails (the
    // output cannot be made, written, synced or put in place).
    int* fileError = nullptr;
};

// What a call of the decompression pipeline learnt of the record it read;
// the caller decides what to take from it (a run's mode and thread count
// of 0 take the record's).
struct RecordRead {
    bool headerRead = false; // the fields below hold the record's
    std::uint8_t mode = 0;
    double frameRate = 0;    // 0 when absent, not finite or outside (0, 1000]
    // Set once the call went on to decode: the threads the record's streams
    // take (1 below two streams or below mode 2, else the stream count).
    bool threadsKnown = false;
    std::int32_t threads = 1;
    // Set once the record was decoded: whether any of its blocks took its
    // pixels from the frame before (a kept block); a record that took none
    // is a keyframe, which a viewer can show without the records before it.
    bool decoded = false;
    bool reusesPrevious = false;
};

// One call of the decompression pipeline.
struct DecompressionCall {
    TWideString path;
    bool* frameDropped = nullptr;           // set: read and check the record, do not decode it
    bool fastPaint = false;
    std::uint64_t* recordPosition = nullptr; // in: the record to read (0 the first); out: the next one, 0 after the last
    RecordRead* read = nullptr;             // out when given
    std::uint8_t conversion = 0;
    CopiedRecord* copy = nullptr;           // conversion 1: receives the record's raw bytes
    RepackFrame* repack = nullptr;          // conversion 2: receives the decoded records and planes
    bool surfaceMemory = true;              // the surface may ask for display memory
    bool cache = false;                     // read through the read-ahead cache (reopened videos)
};

} // namespace vexel
