// The progress window: a modeless status window with a bar, shown while a
// long file list is sorted.
//
// The owner creates it, posts progress values to it, pumps it between steps
// of work, asks it to finish and destroys it. Posted values take effect when
// the window is pumped. Every window goes through one backend. Without a
// window system the console backend writes one progress line to standard
// error, and only when standard error is a terminal:
//     "\r<caption>: <text> <percent>%"   (rewritten in place; a new line at the finish)
#pragma once

#include "base/dialogs.h"
#include "base/tstring.h"

namespace vexel::ui {

class ProgressBackend {
public:
    virtual ~ProgressBackend() = default;
    virtual void shown(const TWideString& caption, const TWideString& text) = 0;
    // A new bar value; second < 0 means no second bar.
    virtual void progressed(float progress, float second) = 0;
    // The bar was filled to the end.
    virtual void finished() = 0;
    virtual void closed() = 0;
    // Escape may end the run from now on.
    virtual void cancelAllowed() {}
};

// The console backend (the default).
ProgressBackend& consoleProgressBackend();
// Replaces the backend; null restores the console. Returns the previous one.
ProgressBackend* setProgressBackend(ProgressBackend* backend);

class TOknoSostoyaniya final : public ProgressView {
public:
    // Shows a window; an empty caption reads "Состояние выполнения". Null
    // when memory was refused (the owner then works without one).
    static TOknoSostoyaniya* createAndShow(const TWideString& caption, const TWideString& text);
    static void destroy(TOknoSostoyaniya* window);

    // Posts the bar value and the second bar's (negative: none).
    void postProgress(float progress, float second);
    // Posts the finish: the bar fills to the end.
    void postFinish();
    // Posts permission to end the run with Escape.
    void postAllowCancel();
    // Handles everything posted; returns 0.
    int pump();

    // The foundation's view of the window: post, then pump.
    void progress(float value, float second) override {
        postProgress(value, second);
        pump();
    }
    void finish() override {
        postFinish();
        pump();
    }

    float progress() const { return progress_; }
    float secondProgress() const { return second_; }
    bool cancelAllowed() const { return cancelAllowed_; }

private:
    TOknoSostoyaniya() = default;
    ~TOknoSostoyaniya() override = default;

    TWideString caption_;
    TWideString text_;
    float progress_ = -1;
    float paintedProgress_ = -1;
    float second_ = -1;
    bool cancelAllowed_ = false;
    // Posted and not yet handled.
    bool progressPosted_ = false;
    float postedProgress_ = 0;
    float postedSecond_ = -1;
    bool finishPosted_ = false;
    bool cancelPosted_ = false;
};

} // namespace vexel::ui
