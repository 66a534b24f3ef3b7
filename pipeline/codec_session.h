// A picture buffer with off-screen surfaces of its own, a codec state, a
// grouped output and a repack frame: what the viewer record and the frame
// loop give the pipelines, for the tools and tests that run them without
// either. Its calls hand the session's grouped output and repack frame to
// jobs that name none.
#pragma once

#include "pipeline/picture_buffer.h"
#include "pipeline/codec_state.h"
#include "pipeline/compression_pipeline.h"
#include "pipeline/decompression_pipeline.h"

namespace vexel {

struct CodecSession {
    OffScreenBuffer surfaces;
    PictureBuffer picture{&surfaces};
    CodecState codec;
    RepackFrame repack;
    GroupedOutput grouped; // destroyed first: finished while the rest still stands
};

inline int compressFrame(CodecSession& session, const CompressionJob& job) {
    CompressionJob j = job;
    if (!j.grouped) j.grouped = &session.grouped;
    if (!j.repack) j.repack = &session.repack;
    return compressFrame(session.codec, session.picture, j);
}
inline int decompressRecord(CodecSession& session, DecompressionCall& call) {
    RepackFrame* given = call.repack;
    if (!given) call.repack = &session.repack;
    const int result = decompressRecord(session.codec, session.picture, call);
    call.repack = given;
    return result;
}

} // namespace vexel
