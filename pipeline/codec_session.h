// A picture buffer with off-screen surfaces of its own and a codec state:
// what the viewer record gives the codec, for the tools and tests that run
// the codec without a viewer.
#pragma once

#include "codec/picture_buffer.h"
#include "pipeline/codec_state.h"
#include "pipeline/compression_pipeline.h"
#include "pipeline/decompression_pipeline.h"

namespace vexel {

struct CodecSession {
    OffScreenBuffer surfaces;
    PictureBuffer picture{&surfaces};
    CodecState codec;
};

inline int compressFrame(CodecSession& session, const CompressionJob& job) {
    return compressFrame(session.codec, session.picture, job);
}
inline int decompressRecord(CodecSession& session, DecompressionCall& call) {
    return decompressRecord(session.codec, session.picture, call);
}

} // namespace vexel
