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
// Output files are made without a name in the target's folder
// (platform/new_file.h) and get their name only when they are whole. A
// single picture's record is put in place once it is written. A grouped
// file collects its records and replaces the target when the run finishes
// it (GroupedOutput::finish). A run that stops early - a signal, a failure,
// a full disk - leaves an existing target exactly as it was; where there was
// none, the whole records written so far become the new file
// (GroupedOutput::stop). A frame that fails is cut off again, so the chain
// of earlier records stays intact. A file is synced only before it replaces
// an existing one; a run killed outright leaves the old target untouched
// and nothing else.
#pragma once

#include "pipeline/picture_buffer.h"
#include "pipeline/codec_state.h"
#include "pipeline/pipeline_jobs.h"
#include "platform/new_file.h"

#include <cstdint>

namespace vexel {

// compressFrame's result (codec/result.h): done; failed when a working
// buffer or the stream compressor failed; a file error when the output
// cannot be opened, written, positioned or put in place; not a .vx record
// for a mode above 9; no memory when the picture cannot be read or a
// payload buffer cannot be had.

// A grouped output while a run writes it: the records go to a new file in
// the target's folder, which replaces the target when the run finishes it.
// Its owner (the frame loop, for a run) hands it to every job of the
// output; one still open when it is destroyed is stopped then.
class GroupedOutput {
public:
    GroupedOutput() = default;
    ~GroupedOutput() { stop(); }
    GroupedOutput(const GroupedOutput&) = delete;
    GroupedOutput& operator=(const GroupedOutput&) = delete;

    // Ends the output, if one is open: a file holding at least one record
    // replaces its target; one holding none goes (the target stays as it
    // was). kDone, or kFileError when it cannot be synced or put in place
    // (then it goes, and the target stays as it was).
    Result finish();

    // What a run that stops early did with its records.
    enum class Stopped : std::uint8_t {
        Nothing,    // no output was open, or it held no record
        Written,    // there was no target: the records became it
        TargetKept, // the target existed and stays as it was; the records went
        Failed,     // the records could not be put in place (lastError() says why)
    };
    // Ends the output of a run that stops before its end.
    Stopped stop();
    // Ends the output without touching the target: the records go.
    void discard();
    bool isOpen() const { return file.isOpen(); }

    TWideString target;
    platform::NewFile file;
    bool targetExisted = false; // the target's name was taken when the output began
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
