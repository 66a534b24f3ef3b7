// Where the compression pipeline writes records: a file (the pipeline's
// temporary file beside the target) or a growing buffer in memory. Both see
// the same writes in the same order, so both hold the same bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace vexel {

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Bytes held so far (where the next stream or record is appended); -1
    // when that cannot be told.
    virtual std::int64_t size() = 0;
    // Writes n bytes at position (at most size()); false when they cannot be written.
    virtual bool writeAt(std::uint64_t position, const void* bytes, std::size_t n) = 0;
    // Cuts the bytes back to size (a failed record is taken back).
    virtual bool truncate(std::uint64_t size) = 0;
};

// A record sink in memory; the bytes belong to it.
class MemorySink final : public RecordSink {
public:
    std::int64_t size() override { return static_cast<std::int64_t>(bytes_.size()); }
    bool writeAt(std::uint64_t position, const void* bytes, std::size_t n) override {
        if (position > bytes_.size()) return false;
        try {
            if (position + n > bytes_.size()) bytes_.resize(static_cast<std::size_t>(position + n));
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (n) std::memcpy(bytes_.data() + position, bytes, n);
        return true;
    }
    bool truncate(std::uint64_t size) override {
        if (size < bytes_.size()) bytes_.resize(static_cast<std::size_t>(size));
        return true;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace vexel
