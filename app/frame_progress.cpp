#include "app/frame_progress.h"

#include "base/dialogs.h"
#include "platform/system.h"

#include <cmath>
#include <cstdio>

namespace vexel {

namespace {
constexpr long double kRedrawSeconds = 0.1;
}

FrameProgress::FrameProgress(std::uint64_t total, std::function<long double()> now,
                             std::function<void(const std::string&)> show)
    : total_(total), now_(now ? std::move(now) : [] { return platform::clockSeconds(); }),
      show_(show ? std::move(show) : [](const std::string& l) { console_status::show(l); }) {
    started_ = now_();
}

FrameProgress::~FrameProgress() { finish(); }

std::string FrameProgress::line(std::uint64_t done, std::uint64_t total, long double seconds) {
    const double fps = seconds > 0 ? static_cast<double>(done / seconds) : 0;
    char text[160];
    if (total > 0) {
        const double left = fps > 0 && total > done ? static_cast<double>(total - done) / fps : 0;
        std::snprintf(text, sizeof text, "vexel: %llu of %llu frames, %.1f fps, %.0f s left",
                      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), fps, std::ceil(left));
    } else {
        std::snprintf(text, sizeof text, "vexel: %llu frames, %.1f fps", static_cast<unsigned long long>(done), fps);
    }
    return text;
}

void FrameProgress::frameDone() {
    ++done_;
    const long double t = now_();
    if (drawn_ >= 0 && t - drawn_ < kRedrawSeconds) return;
    drawn_ = t;
    show_(line(done_, total_, t - started_));
    showing_ = true;
}

void FrameProgress::finish() {
    if (!showing_) return;
    showing_ = false;
    console_status::clear();
}

} // namespace vexel
