// What the codec's and the pipelines' entry points return: a code, whose
// number is what the program has always reported, and a reason that says
// what went wrong.
//
//    1  done
//    0  failed: a read failed, a stream does not expand or parse, a
//       renderer, a working buffer or the stream compressor failed
//   -1  a file cannot be opened, written, positioned or put in place
//   -2  not a .vx record, or a mode this program does not know
//   -3  memory, planes, a surface or the picture cannot be had
//
// Callers branch on the code: a result reads as its number, so `r < 1`
// and `r == kDone` keep their meaning. The reason is for tests, for the
// library's callers and for whoever reads a log; each has a name
// (reasonName), in the way an errno has its strerror.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

enum class Reason : std::uint8_t {
    None,                // done
    // code 0
    Failed,              // no more is known
    ReadFailed,          // a position cannot be reached or nothing can be read there
    StreamDoesNotExpand, // the stream compressor refuses the stream
    StreamDoesNotParse,  // the blocks or sections do not fit the picture
    SiblingFailed,       // another stream of the record failed, so this one did not draw
    DrawingFailed,       // a renderer failed
    EncodingFailed,      // a working buffer or the stream compressor failed while packing
    RecordCut,           // the file ends before the record does
    // code -1
    FileError,
    CannotOpen,          // the file cannot be opened
    CannotWrite,         // the output cannot be written, positioned or synced
    CannotReplace,       // the finished output cannot take the target's name
    NoOutput,            // a grouped record was given no grouped output to go to
    // code -2
    NotVxRecord,         // the header is refused
    UnknownMode,         // a mode above 9
    // code -3
    NoMemory,
    NoPixels,            // the target cannot give its pixels, or the picture cannot be read
    Count
};

class Result {
public:
    constexpr Result() : code_(0), reason_(Reason::Failed) {}
    constexpr Result(int code, Reason reason) : code_(code), reason_(reason) {}

    // The number the program reports.
    constexpr operator int() const { return code_; }
    constexpr int code() const { return code_; }
    constexpr Reason reason() const { return reason_; }
    constexpr bool ok() const { return code_ >= 1; }

    // The same code with a reason that says more.
    constexpr Result because(Reason reason) const { return Result(code_, reason); }

private:
    int code_;
    Reason reason_;
};

inline constexpr Result kDone{1, Reason::None};
inline constexpr Result kFailed{0, Reason::Failed};
inline constexpr Result kFileError{-1, Reason::FileError};
inline constexpr Result kNotVx{-2, Reason::NotVxRecord};
inline constexpr Result kNoMemory{-3, Reason::NoMemory};

// The reason in a few English words ("the stream does not expand"); never null.
const char* reasonName(Reason reason);
// The code a reason belongs to (1 for None).
int reasonCode(Reason reason);

} // namespace vexel
