#include "base/dialogs.h"

#include "base/memdiag.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>

namespace vexel {

namespace {

class ConsoleProgressView final : public ProgressView {
public:
    ConsoleProgressView(const TWideString& caption, const TWideString& text) { line_.shown(caption, text); }
    void progress(float value, float) override { line_.progressed(value); }
    void finish() override { line_.finished(); }

private:
    ConsoleProgressLine line_;
};

class ConsoleDialogs final : public Dialogs {
public:
    bool message(const TWideString& text, const TWideString& caption) override {
        const std::string line =
            consoleText(caption.empty() ? TWideString(u"Ошибка") : caption) + ": " + consoleText(text) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        return true;
    }
    ProgressView* openProgress(const TWideString& caption, const TWideString& text) override {
        void* block;
        {
            std::lock_guard<std::recursive_mutex> guard(globalLock());
            block = memAllocate(sizeof(ConsoleProgressView), sizeof(ConsoleProgressView));
        }
        if (!block) return nullptr;
        return new (block) ConsoleProgressView(caption.empty() ? TWideString(u"Состояние выполнения") : caption, text);
    }
    void closeProgress(ProgressView* view) override {
        if (!view) return;
        std::lock_guard<std::recursive_mutex> guard(globalLock());
        view->~ProgressView();
        memFree(view);
    }
};

std::atomic<Dialogs*> installedDialogs{nullptr};

} // namespace

Dialogs& consoleDialogs() {
    static ConsoleDialogs console;
    return console;
}

Dialogs& dialogs() {
    Dialogs* installed = installedDialogs.load();
    return installed ? *installed : consoleDialogs();
}

Dialogs* installDialogs(Dialogs* installed) { return installedDialogs.exchange(installed); }

std::string consoleText(const TWideString& text) {
    std::string utf8 = text.toUtf8(), out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
        } else {
            out.push_back(utf8[i]);
        }
    }
    return out;
}

void ConsoleProgressLine::shown(const TWideString& caption, const TWideString& text) {
    line_ = consoleText(caption) + ": " + consoleText(text);
    for (char& c : line_)
        if (c == '\n') c = ' ';
    percent_ = -1;
}

void ConsoleProgressLine::progressed(float progress) {
    if (!isatty(STDERR_FILENO)) return;
    const int percent = static_cast<int>(std::floor(std::fmin(std::fmax(progress, 0.0f), 1.0f) * 100.0f));
    if (percent == percent_) return;
    percent_ = percent;
    std::fprintf(stderr, "\r%s %d%%", line_.c_str(), percent);
    std::fflush(stderr);
}

void ConsoleProgressLine::finished() {
    progressed(1.0f);
    if (percent_ >= 0 && isatty(STDERR_FILENO)) std::fputs("\n", stderr);
    percent_ = -1;
}

} // namespace vexel
