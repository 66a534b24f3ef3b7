// Captures what the foundation shows (base/dialogs.h) while it lives:
// messages and progress views, instead of the console form.
#pragma once

#include "base/dialogs.h"

#include <string>
#include <vector>

namespace vexel::test {

class DialogCapture : public Dialogs {
public:
    struct Shown {
        std::string caption; // UTF-8, line breaks as in the console form
        std::string text;
    };
    struct Progress final : ProgressView {
        void progress(float value, float) override { values.push_back(value); }
        void finish() override { ++finishes; }
        std::string caption, text;
        std::vector<float> values;
        int finishes = 0;
        bool closed = false;
    };

    // answer: what message() returns (false: as if silenced).
    explicit DialogCapture(bool answer = true) : answer_(answer) { previous_ = installDialogs(this); }
    ~DialogCapture() override { installDialogs(previous_); }

    bool message(const TWideString& text, const TWideString& caption) override {
        messages.push_back({consoleText(caption), consoleText(text)});
        return answer_;
    }
    ProgressView* openProgress(const TWideString& caption, const TWideString& text) override {
        progressViews.emplace_back();
        progressViews.back().caption = caption.toUtf8();
        progressViews.back().text = text.toUtf8();
        return &progressViews.back();
    }
    void closeProgress(ProgressView* view) override { static_cast<Progress*>(view)->closed = true; }

    std::vector<Shown> messages;
    std::vector<Progress> progressViews; // reserve before use when views stay open across openings

private:
    bool answer_;
    Dialogs* previous_;
};

} // namespace vexel::test
