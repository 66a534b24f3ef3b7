// A picture buffer with off-screen surfaces of its own, a codec state, a
// grouped output, a copied record and a repack frame: what the viewer record and the frame
// loop give the pipelines, for the tools and tests that run them without
// either. Its calls hand the session's own to jobs that name none.
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
    CopiedRecord copy;
    RepackFrame repack;
    GroupedOutput grouped; // destroyed first: finished while the rest still stands
};

inline Result compressFrame(CodecSession& session, const CompressionJob& job) {
    CompressionJob j = job;
    if (!j.grouped) j.grouped = &session.grouped;
    if (!j.copy) j.copy = &session.copy;
    if (!j.repack) j.repack = &session.repack;
    return compressFrame(session.codec, session.picture, j);
}
inline Result decompressRecord(CodecSession& session, DecompressionCall& call) {
    DecompressionCall c = call;
    if (!c.copy) c.copy = &session.copy;
    if (!c.repack) c.repack = &session.repack;
    return decompressRecord(session.codec, session.picture, c);
}

} // namespace vexel
