// Compression pipeline: writes one frame record per call.
//
// It decides whether the frame is a keyframe, splits the picture into bands
// of block rows, one per stream, has every band encoded (in a pool of worker
// threads kept in the codec state, or one after another), and writes the
// record: header, stream table and the payloads strictly in stream order.
// Grouped frames are chained records: each record names the previous one,
// and the previous record's nextRecord is patched once the new record is
// completely written, so a chain on disk is always valid.
//
// Output files: a single picture is written under a temporary name in the
// same folder and renamed over the target only after success, so a failed
// run never destroys an existing file. A grouped file is created empty for
// its first frame; a frame that fails is cut off again, leaving the chain of
// earlier records intact.
#pragma once

#include "codec/pipeline_jobs.h"
#include "codec/codec_state.h"
#include "codec/picture_buffer.h"

#include <cstdint>

namespace vexel {

// Results of compressFrame.
constexpr int kPackDone = 1;
constexpr int kPackStreamFailed = 0; // a working buffer or the stream compressor failed
constexpr int kPackFileError = -1;   // the output cannot be opened, written or positioned
constexpr int kPackBadMode = -2;     // a mode above 9
constexpr int kPackNoMemory = -3;    // the picture cannot be read or a payload buffer cannot be had

// Packs the current picture (the previous one is the reference for kept
// blocks), or the codec state's copy or repack frame in a conversion.
int compressFrame(CodecState& codec, PictureBuffer& picture, const CompressionJob& job);

// The keyframe counter: becomes 1 without a rate above 0; otherwise counts
// up and becomes 1 again when it reaches round(rate). True for a keyframe.
bool advanceKeyframeCounter(std::uint32_t& counter, const double* frameRate);

// How the streams of a frame run: by processor count (the default), always
// one after another, or always in the pool (tests compare the two).
enum class StreamThreading { Automatic, Sequential, Pool };
void setStreamThreading(StreamThreading threading);

// Makes the stream with this index (0 for a single stream, else 1..n) fail
// as if a working buffer could not be had; -1 for none. For tests.
void failStreamForTest(std::int32_t streamIndex);

} // namespace vexel
