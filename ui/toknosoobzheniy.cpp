#include "ui/toknosoobzheniy.h"

#include "platform/system.h"

#include <cstdio>
#include <mutex>

namespace vexel::ui {

namespace {

class ConsoleBackend final : public MessageBackend {
public:
    int show(const TWideString& caption, const TWideString& text, int, MessageChannel channel) override {
        std::string line = consoleText(caption) + ": " + consoleText(text) + "\n";
        std::FILE* out = channel == MessageChannel::Usage ? stdout : stderr;
        std::fwrite(line.data(), 1, line.size(), out);
        std::fflush(out);
        return kResultAccept;
    }
};

std::mutex silenceMutex;
long double silencedUntil = 0;
MessageBackend* currentBackend = nullptr;

bool silenced() {
    std::lock_guard<std::mutex> guard(silenceMutex);
    return silencedUntil > 0 && platform::clockSeconds() < silencedUntil;
}

bool run(const TWideString& text, const TWideString& caption, MessageChannel channel) {
    if (silenced()) return false;
    TWideString shownCaption = caption.empty() ? TWideString(u"Ошибка") : caption;
    MessageBackend& backend = currentBackend ? *currentBackend : consoleBackend();
    int result = backend.show(shownCaption, text, 1, channel);
    if (result == kResultCancel) {
        std::lock_guard<std::mutex> guard(silenceMutex);
        silencedUntil = platform::clockSeconds() + 10;
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

bool showMessageWide(const TWideString& text, const TWideString& caption) {
    return run(text, caption, MessageChannel::Message);
}

bool showMessageNarrow(const TAnsiString& text, const TAnsiString& caption) {
    return run(TWideString(text), TWideString(caption), MessageChannel::Message);
}

bool showMessage(const TWideString& text) { return run(text, TWideString(), MessageChannel::Message); }

bool showUsage(const TWideString& text, const TWideString& caption) { return run(text, caption, MessageChannel::Usage); }

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

} // namespace vexel::ui
