// The codec's state for one run: what the pipelines keep from frame to
// frame. The viewer record owns one; tests and tools make their own.
#pragma once

#include "base/memdiag.h"
#include "base/tstring.h"
#include "pipeline/screen.h"

#include <cstdint>
#include <memory>

namespace vexel {

// A pool of worker threads kept from frame to frame (the pipelines make
// them). Destroying a pool stops and joins its threads.
class WorkerPool {
public:
    virtual ~WorkerPool() = default;
};

struct CodecState {
    CodecState() = default;
    ~CodecState() { release(); }
    CodecState(const CodecState&) = delete;
    CodecState& operator=(const CodecState&) = delete;

    // Stops the pools and frees the work buffers.
    void release();

    // The screen pictures are measured against: the fixed reference for
    // every run that writes files, the real display only for viewing.
    ScreenSize screen = referenceScreenSize();
    std::uint8_t legacyFlags = 0;      // bits 0..3 of the "-4" and "-x" options
    std::uint32_t keyframeCounter = 0; // runs on from frame to frame (compression)

    std::unique_ptr<WorkerPool> compressionPool;
    std::unique_ptr<WorkerPool> decompressionPool;
};

} // namespace vexel
