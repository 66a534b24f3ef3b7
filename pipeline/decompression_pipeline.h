// Decompression pipeline: reads one frame record of a .vx file per call into
// the picture buffer.
//
// One call opens the file (directly, or through the read-ahead cache of
// pipeline/tfayloviykesh.h while a video plays), reads the first 256 bytes of
// the record and has the container's one parser check them, keeps the
// frame-interval statistics, decides whether the picture goes to the
// picture planes or to the off-screen surface, reads the whole record and
// has every stream decoded (codec/frame_decoder.h): in the calling thread,
// or in a pool of worker threads, one per stream, kept in the codec state
// from record to record.
//
// The pool's protocol: the driver starts a job generation; each worker
// decodes its stream up to the end of parsing, stores its parse result and
// reports it; only when every stream has reported does the driver open the
// drawing stage (every result positive) or skip it (any result below 1);
// each worker then stores its final result and reports done. A worker
// reports each stage exactly once, also when the decoder ends early, so the
// driver never waits for a report that cannot come. Tearing the pool down
// sets a stop flag, wakes every wait and joins. A record that fails releases
// its pool, so the next record never starts on a pool in an unknown state.
//
// The file is untrusted: the header is checked before anything is
// allocated, a record whose decoding could not fit in the machine's memory
// is refused as "no memory", every stream is bounded by its range, and no
// input file is ever written.
#pragma once

#include "base/tstring.h"
#include "codec/container.h"
#include "pipeline/picture_buffer.h"
#include "pipeline/codec_state.h"
#include "pipeline/pipeline_jobs.h"

#include <cstdint>
#include <span>

namespace vexel {

// decompressRecord's result (codec/result.h): done, also for a dropped
// record and a copy conversion's read; failed when a seek, a read or a
// stream failed; a file error when the file cannot be opened (message
// shown) or a cached read failed; not a .vx record, or a mode this program
// does not know; no memory when memory, planes or a surface cannot be had.

// Reads the record at *call.recordPosition (0 without one) and decodes it
// into the record's output. On success *call.recordPosition holds the next
// record's file offset (0 after the last record), and *call.read what the
// call learnt of the record. A dropped record is read and checked but not
// decoded. The copy conversion (conversion 1) keeps the record's raw bytes
// in *call.copy instead of decoding (it decodes without one).
Result decompressRecord(CodecState& codec, PictureBuffer& picture, DecompressionCall& call);

// How a record's streams are decoded.
struct RecordDecodeOptions {
    bool fastPaint = false;
    bool surfaceMemory = true;  // the surface may ask for display memory
    std::uint8_t conversion = 0; // 2: the decoder keeps the records and planes for repacking
    RepackFrame* repack = nullptr; // conversion 2: where they go
    bool oneThread = false;      // the streams one after another in the calling thread
};

// Decodes a record already in memory (recordBytes: header.recordSize bytes
// from the record's first byte; header from parseRecordHeader): the output
// choice, the picture header of the record and the streams, as
// decompressRecord does after reading. It touches no process-wide state, so
// different codec states and pictures may decode in parallel. drawSeconds,
// when given, receives how long drawing the gradients took (-1: not
// measured). reusesPrevious, when given, receives whether a stream took
// blocks from the frame before (false: the record is a keyframe). Returns
// kDone, kFailed or kNoMemory.
Result decodeRecordBytes(CodecState& codec, PictureBuffer& picture, const RecordHeader& header, std::span<const std::uint8_t> recordBytes,
                      const RecordDecodeOptions& options, long double* drawSeconds = nullptr,
                      bool* reusesPrevious = nullptr);

// How many streams of the record decode at once with these options.
std::uint32_t concurrentStreams(const RecordHeader& header, const RecordDecodeOptions& options);

// Bytes of memory decoding the record needs at least (record bytes, output,
// the decoders' work areas for the streams that run at once).
std::uint64_t decodeMemoryEstimate(const RecordHeader& header, std::uint32_t concurrentStreams, std::uint8_t conversion);

// The playback status text (frame and draw intervals) shown in the title.
TWideString decompressionStatusText();
void clearDecompressionStatusText();
// After a pause: the previous record's time becomes now and the smoothed
// intervals 0, so the pause does not count as a frame interval.
void resetDecompressionTiming(long double now);
// The smoothed intervals in seconds, for tests.
long double smoothedFrameInterval();
long double smoothedDrawInterval();

// Destroys the read-ahead cache (the frame loop holds the global lock).
void destroyDecompressionFileCache();
// The end of a run: the worker pool goes.
void finishDecompression(CodecState& codec);
// Before the units finalise: the cache and the status text give their memory back.
void releaseDecompressionState();

// How the streams of a multi-stream record run: by processor count and GPU
// binding (the default), always one after another, or always in the pool
// (tests compare the two).
void setDecodeThreading(Threading threading);

} // namespace vexel
