// The drawn message and progress windows on their own, for the window
// tests: each step waits for a line on standard input, so that the test
// can look at the screen in between, and reports on standard output.
//
//   dialog_demo message CAPTION TEXT   shows TEXT (\r and \n as given) three
//                                      times in a row: "shown N RESULT" or
//                                      "silenced N" for each
//   dialog_demo progress               a progress window at 0, 0.5, then
//                                      finished; "ready" before each wait
//   dialog_demo sort N                 sorts N file names (the file list's
//                                      sort) with its progress window,
//                                      holding the finished window
#include "base/dialogs.h"
#include "base/tspisokstrok.h"
#include "base/units.h"
#include "display/video_sdl.h"
#include "ui/dialogs_sdl.h"
#include "ui/toknosoobzheniy.h"
#include "ui/toknosostoyaniya.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

using namespace vexel;

void ready() {
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);
}

// The drawn progress backend, holding the window after it was filled.
class Holding final : public ui::ProgressBackend {
public:
    explicit Holding(ui::ProgressBackend& drawn) : drawn_(drawn) {}
    void shown(const TWideString& c, const TWideString& t) override { drawn_.shown(c, t); }
    void progressed(float p, float s) override {
        ++posts;
        drawn_.progressed(p, s);
    }
    void finished() override {
        drawn_.finished();
        std::cout << "posts " << posts << std::endl;
        ready();
    }
    void closed() override { drawn_.closed(); }
    int posts = 0;

private:
    ui::ProgressBackend& drawn_;
};

std::string unescape(std::string s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
            out.push_back(s[i + 1] == 'r' ? '\r' : '\n');
            ++i;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    initializeBaseUnits();
    ui::installDialogs();
    if (!ui::useDrawnDialogs()) {
        std::cerr << "no display\n";
        return 1;
    }
    const std::string what = argv[1];
    if (what == "message" && argc == 4) {
        const TWideString caption = TWideString::fromUtf8(argv[2]), text = TWideString::fromUtf8(unescape(argv[3]));
        for (int n = 1; n <= 3; ++n) {
            const bool silencedBefore = ui::messagesSilenced();
            const bool shown = ui::showMessageWide(text, caption);
            if (!shown) std::cout << "silenced " << n << std::endl;
            else std::cout << "shown " << n << (ui::messagesSilenced() && !silencedBefore ? " cancel" : " accept") << std::endl;
        }
    } else if (what == "progress") {
        ProgressView* view = dialogs().openProgress(TWideString(), TWideString(u"Сортировка списка файлов"));
        if (!view) return 1;
        view->progress(0, -1);
        ready();
        view->progress(0.5f, -1);
        ready();
        view->finish();
        ready();
        dialogs().closeProgress(view);
    } else if (what == "sort" && argc == 3) {
        ui::ProgressBackend* drawn = ui::setProgressBackend(nullptr); // the one useDrawnDialogs installed
        Holding hold(*drawn);
        ui::setProgressBackend(&hold);
        const int n = std::stoi(argv[2]);
        TSpisokStrok list(static_cast<std::uint32_t>(n), 8);
        for (int i = n; i > 0; --i) {
            const std::string name = "s" + std::to_string(i) + ".bmp";
            list.append(TWideString::fromUtf8(name).view());
        }
        const bool sorted = list.sort();
        std::cout << (sorted ? "sorted " : "failed ") << TWideString(list.text(0)).toUtf8() << std::endl;
        ui::setProgressBackend(drawn);
    } else {
        return 2;
    }
    ui::stopDrawnDialogs();
    sdl::stopVideo();
    return 0;
}
