// The progress of a run that packs or unpacks many frames, for a person at
// a terminal: one status line on standard error (base/dialogs.h) with the
// frames done, of the total when it is known, the frames per second and the
// time left, redrawn at most ten times a second and cleared at the end and
// before any message. Nothing when standard error is not a terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vexel {

class FrameProgress {
public:
    // total: the frames of the run, 0 when not known. now: a clock in
    // seconds; show: draws the line (the terminal's status line by default).
    explicit FrameProgress(std::uint64_t total, std::function<long double()> now = nullptr,
                           std::function<void(const std::string&)> show = nullptr);
    ~FrameProgress();

    void frameDone();
    // Clears the line (also done by the destructor).
    void finish();

    // The line for done frames after `seconds`: "vexel: 12 of 60 frames,
    // 24.0 fps, 2 s left" ("vexel: 12 frames, 24.0 fps" without a total).
    static std::string line(std::uint64_t done, std::uint64_t total, long double seconds);

private:
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::function<long double()> now_;
    std::function<void(const std::string&)> show_;
    long double started_ = 0, drawn_ = -1;
    bool showing_ = false;
};

} // namespace vexel
