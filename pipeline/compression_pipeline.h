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
// Output files are written under a temporary name beside the target
// ("<target>.<pid>-<n>.part"), so an existing file is only ever replaced by
// a new one that is whole. A single picture's replaces the target once its
// record is written. A grouped file collects its records there and replaces
// the target when the run finishes it (GroupedOutput::finish) - also after a
// failure or an interruption, with every record written before; a frame
// that fails is cut off again, leaving the chain of earlier records intact.
// A run killed outright leaves the old target untouched and its records in
// the temporary file. Every file is synced before it replaces its target.
#pragma once

#include "pipeline/picture_buffer.h"
#include "pipeline/codec_state.h"
#include "pipeline/pipeline_jobs.h"

#include <cstdint>

namespace vexel {

// compressFrame's result (codec/result.h): done; failed when a working
// buffer or the stream compressor failed; a file error when the output
// cannot be opened, written, positioned or put in place; not a .vx record
// for a mode above 9; no memory when the picture cannot be read or a
// payload buffer cannot be had.

// A grouped output while a run writes it: the records go to a temporary
// file beside the target, which replaces the target when the run finishes
// it. Its owner (the frame loop, for a run) hands it to every job of the
// output; one still open when it is destroyed is finished then.
class GroupedOutput {
public:
    GroupedOutput() = default;
    ~GroupedOutput() { finish(); }
    GroupedOutput(const GroupedOutput&) = delete;
    GroupedOutput& operator=(const GroupedOutput&) = delete;

    // Ends the output, if one is open: a temporary file holding at least one
    // record replaces its target; one holding none is removed (the target
    // stays as it was). kDone, or kFileError when the file cannot be
    // synced or renamed (then it stays beside the target).
    Result finish();
    // Ends the output without touching the target: the temporary file goes.
    void discard();
    bool isOpen() const { return !temporary.empty(); }

    TWideString target;
    TWideString temporary; // empty: none open
    std::uint64_t records = 0;
};

// Packs the current picture (the previous one is the reference for kept
// blocks), the job's copy of the record in a copy conversion, or
// the job's repack frame in a repack conversion.
Result compressFrame(CodecState& codec, PictureBuffer& picture, const CompressionJob& job);

// The keyframe counter: becomes 1 without a rate above 0; otherwise counts
// up and becomes 1 again when it reaches round(rate). True for a keyframe.
bool advanceKeyframeCounter(std::uint32_t& counter, const double* frameRate);

// How the streams of a frame run: by processor count (the default), always
// one after another, or always in the pool (tests compare the two).
void setStreamThreading(Threading threading);

} // namespace vexel
