#include "ui/toknosostoyaniya.h"

#include "base/language.h"
#include "base/memdiag.h"
#include "ui/toknosoobzheniy.h"

#include <mutex>
#include <new>

namespace vexel::ui {

namespace {

class ConsoleProgress final : public ProgressBackend {
public:
    void shown(const TWideString& caption, const TWideString& text) override { line_.shown(caption, text); }
    void progressed(float progress, float) override { line_.progressed(progress); }
    void finished() override { line_.finished(); }
    void closed() override {}

private:
    ConsoleProgressLine line_;
};

ProgressBackend* currentBackend = nullptr;

ProgressBackend& backend() { return currentBackend ? *currentBackend : consoleProgressBackend(); }

} // namespace

ProgressBackend& consoleProgressBackend() {
    static ConsoleProgress console;
    return console;
}

ProgressBackend* setProgressBackend(ProgressBackend* replacement) {
    ProgressBackend* previous = currentBackend;
    currentBackend = replacement;
    return previous;
}

TOknoSostoyaniya* TOknoSostoyaniya::createAndShow(const TWideString& caption, const TWideString& text) {
    void* block;
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock());
        block = memAllocate(sizeof(TOknoSostoyaniya), sizeof(TOknoSostoyaniya));
    }
    if (!block) return nullptr;
    auto* window = new (block) TOknoSostoyaniya;
    window->caption_ = translated(caption.empty() ? TWideString(u"Состояние выполнения") : caption);
    window->text_ = translated(text);
    backend().shown(window->caption_, window->text_);
    return window;
}

void TOknoSostoyaniya::destroy(TOknoSostoyaniya* window) {
    if (!window) return;
    backend().closed();
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    window->~TOknoSostoyaniya();
    memFree(window);
}

void TOknoSostoyaniya::postProgress(float progress, float second) {
    progressPosted_ = true;
    postedProgress_ = progress;
    postedSecond_ = second;
}

void TOknoSostoyaniya::postFinish() { finishPosted_ = true; }

void TOknoSostoyaniya::postAllowCancel() { cancelPosted_ = true; }

int TOknoSostoyaniya::pump() {
    if (progressPosted_) {
        progressPosted_ = false;
        progress_ = postedProgress_;
        second_ = postedSecond_;
        if (progress_ != paintedProgress_) {
            paintedProgress_ = progress_;
            backend().progressed(progress_, second_);
        }
    }
    if (cancelPosted_) {
        cancelPosted_ = false;
        cancelAllowed_ = true;
        backend().cancelAllowed();
    }
    if (finishPosted_) {
        finishPosted_ = false;
        progress_ = paintedProgress_ = 1.0f;
        backend().finished();
    }
    return 0;
}

} // namespace vexel::ui
