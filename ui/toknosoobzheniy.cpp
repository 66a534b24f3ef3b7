#include "ui/toknosoobzheniy.h"

#include "base/language.h"
#include "platform/system.h"
#include "ui/toknosostoyaniya.h"

#include <cstdio>
#include <mutex>

namespace vexel::ui {

namespace {

class ConsoleBackend final : public MessageBackend {
public:
    int show(const TWideString& caption, const TWideString& text, int, MessageChannel channel) override {
        console_status::clear();
        std::string line = consoleText(caption) + ": " + consoleText(text) + "\n";
        std::FILE* out = channel == MessageChannel::Usage ? stdout : stderr;
        std::fwrite(line.data(), 1, line.size(), out);
        std::fflush(out);
        return kResultAccept;
    }
};

std::mutex silenceMutex;
long double silencedUntil = 0;
long double (*silenceClock)() = nullptr;
MessageBackend* currentBackend = nullptr;

long double now() { return silenceClock ? silenceClock() : platform::clockSeconds(); }

bool silenced() {
    std::lock_guard<std::mutex> guard(silenceMutex);
    return silencedUntil > 0 && now() < silencedUntil;
}

bool run(const TWideString& text, const TWideString& caption, MessageChannel channel) {
    if (silenced()) return false;
    TWideString shownCaption = caption.empty() ? TWideString(u"Ошибка") : caption;
    MessageBackend& backend = currentBackend ? *currentBackend : consoleBackend();
    int result = backend.show(translated(shownCaption), translated(text), 1, channel);
    if (result == kResultCancel) {
        std::lock_guard<std::mutex> guard(silenceMutex);
        silencedUntil = now() + 10;
    }
    return true;
}

} // namespace

MessageBackend& consoleBackend() {
    static ConsoleBackend backend;
    return backend;
}

MessageBackend* setMessageBackend(MessageBackend* backend) {
    MessageBackend* previous = currentBackend;
    currentBackend = backend;
    return previous;
}

bool showMessageWide(const TWideString& text, const TWideString& caption) {
    return run(text, caption, MessageChannel::Message);
}

bool showMessageNarrow(const TAnsiString& text, const TAnsiString& caption) {
    return run(TWideString(text), TWideString(caption), MessageChannel::Message);
}

bool showMessage(const TWideString& text) { return run(text, TWideString(), MessageChannel::Message); }

bool showUsage(const TWideString& text, const TWideString& caption) { return run(text, caption, MessageChannel::Usage); }

void showWarning(const TWideString& text) {
    console_status::clear();
    const std::string line =
        consoleText(translated(TWideString(u"Предупреждение"))) + ": " + consoleText(translated(text)) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void showSystemMessageBox(const char* text, const char* caption) {
    std::fputs(caption, stderr);
    std::fputs(": ", stderr);
    std::fputs(text, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

bool messagesSilenced() { return silenced(); }

void liftSilence() {
    std::lock_guard<std::mutex> guard(silenceMutex);
    silencedUntil = 0;
}

void setSilenceClock(long double (*clock)()) {
    std::lock_guard<std::mutex> guard(silenceMutex);
    silenceClock = clock;
}

namespace {

class WindowDialogs final : public Dialogs {
public:
    bool message(const TWideString& text, const TWideString& caption) override {
        return showMessageWide(text, caption);
    }
    ProgressView* openProgress(const TWideString& caption, const TWideString& text) override {
        return TOknoSostoyaniya::createAndShow(caption, text);
    }
    void closeProgress(ProgressView* view) override { TOknoSostoyaniya::destroy(static_cast<TOknoSostoyaniya*>(view)); }
};

} // namespace

void installDialogs() {
    static WindowDialogs windows;
    vexel::installDialogs(&windows);
}

} // namespace vexel::ui
