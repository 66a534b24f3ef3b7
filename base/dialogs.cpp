#include "base/dialogs.h"

#include "base/language.h"
#include "base/memdiag.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
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
        console_status::clear();
        const std::string line = consoleText(translated(caption.empty() ? TWideString(u"Ошибка") : caption)) + ": " +
                                 consoleText(translated(text)) + "\n";
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
        return new (block)
            ConsoleProgressView(translated(caption.empty() ? TWideString(u"Состояние выполнения") : caption),
                                translated(text));
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

namespace console_status {

namespace {
std::mutex lineMutex;
bool shown = false;
} // namespace

bool available() { return isatty(STDERR_FILENO) == 1; }

void show(const std::string& line) {
    if (!available()) return;
    std::lock_guard<std::mutex> guard(lineMutex);
    // Back to the line's start, the new text, the rest of the old one erased.
    const std::string out = "\r" + line + "\033[K";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    shown = true;
}

void clear() {
    std::lock_guard<std::mutex> guard(lineMutex);
    if (!shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown = false;
}

} // namespace console_status

void ConsoleProgressLine::shown(const TWideString& caption, const TWideString& text) {
    line_ = consoleText(caption) + ": " + consoleText(text);
    for (char& c : line_)
        if (c == '\n') c = ' ';
    percent_ = -1;
}

void ConsoleProgressLine::progressed(float progress) {
    if (!console_status::available()) return;
    const int percent = static_cast<int>(std::floor(std::fmin(std::fmax(progress, 0.0f), 1.0f) * 100.0f));
    if (percent == percent_) return;
    percent_ = percent;
    console_status::show(line_ + " " + std::to_string(percent) + "%");
}

void ConsoleProgressLine::finished() {
    progressed(1.0f);
    console_status::clear();
    percent_ = -1;
}

} // namespace vexel
