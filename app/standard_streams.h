// Standard input and output as the files of a run.
//
// Standard input ("-" as the file name) is read to its end first, into an
// unnamed file in the temporary folder ($TMPDIR, else /tmp): a .vx file is
// read with seeks, and a pipe has none. What it holds decides the run: a
// .vx file (by its record magic), or pictures - one picture file, or a
// stream of bitmaps one after another, each as long as its header's file
// size says. The pictures of a stream are taken out one at a time into a
// second unnamed file, which the loop reads as it reads any picture.
//
// Standard output ("-o=-") takes the records of a packing run as each one
// is complete (a grouped record stays until the next one links it), or the
// bitmaps of an unpacking run one after another.
#pragma once

#include "base/tstring.h"
#include "codec/record_sink.h"
#include "platform/new_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

class InputSpool {
public:
    enum class Kind : std::uint8_t { Empty, Vx, Pictures, Unknown };

    // Reads the descriptor to its end. False with platform::lastError().
    bool fill(int fd);
    Kind kind() const { return kind_; }
    // The pictures in it (Kind::Pictures): 1 for a single picture file.
    std::uint32_t pictures() const { return static_cast<std::uint32_t>(starts_.size()); }
    // A path that reads the whole input (a .vx file or a single picture).
    TWideString path() const;
    // Puts picture index of a stream where path() of the frame reads it,
    // and gives that path. False with platform::lastError().
    bool takePicture(std::uint32_t index, TWideString& picturePath);

private:
    platform::NewFile spool_;
    platform::NewFile picture_;
    std::uint64_t size_ = 0;
    std::vector<std::uint64_t> starts_; // where each picture begins; the next one's start (or the end) ends it
    Kind kind_ = Kind::Empty;
};

// The folder for the program's temporary files: $TMPDIR, else /tmp.
std::string temporaryFolder();

// A record sink whose bytes go to a descriptor (standard output) as they
// are released. Bytes before the last release are gone: a write there fails.
class StreamSink final : public RecordSink {
public:
    explicit StreamSink(int fd) : fd_(fd) {}
    std::int64_t size() override { return static_cast<std::int64_t>(base_ + held_.size()); }
    bool writeAt(std::uint64_t position, const void* bytes, std::size_t n) override;
    bool truncate(std::uint64_t size) override;
    // Writes the bytes up to end (at most size()) to the descriptor. False
    // with platform::lastError() when the descriptor refuses them; the
    // bytes are dropped either way.
    bool release(std::uint64_t end);
    bool releaseAll() { return release(static_cast<std::uint64_t>(size())); }

private:
    int fd_;
    std::uint64_t base_ = 0; // the position of held_[0]
    std::vector<std::uint8_t> held_;
};

// Writes all n bytes to a descriptor; false with platform::lastError().
bool writeAllTo(int fd, const void* bytes, std::uint64_t n);

} // namespace vexel
