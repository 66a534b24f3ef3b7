// Captures the messages shown while it lives, instead of printing them.
#pragma once

#include "ui/toknosoobzheniy.h"

#include <string>
#include <vector>

namespace vexel::test {

class MessageCapture : public ui::MessageBackend {
public:
    struct Shown {
        std::string caption; // UTF-8, line breaks as in the console form
        std::string text;
        ui::MessageChannel channel;
    };
    // answer: the button result every box returns.
    explicit MessageCapture(int answer = ui::kResultAccept) : answer_(answer) {
        previous_ = ui::setMessageBackend(this);
        ui::liftSilence();
    }
    ~MessageCapture() override {
        ui::setMessageBackend(previous_);
        ui::liftSilence();
    }
    int show(const TWideString& caption, const TWideString& text, int, ui::MessageChannel channel) override {
        messages.push_back({consoleText(caption), consoleText(text), channel});
        return answer_;
    }
    std::vector<Shown> messages;

private:
    int answer_;
    ui::MessageBackend* previous_;
};

} // namespace vexel::test
