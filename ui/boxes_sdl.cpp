#include "ui/dialogs_sdl.h"

#include "display/video_sdl.h"
#include "platform/system.h"
#include "platform/utf.h"
#include "ui/dialog_logic.h"
#include "ui/toknosoobzheniy.h"
#include "ui/toknosostoyaniya.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vexel::ui {

namespace {

// A fixed light palette that reads like the classic system one.
struct Colour {
    Uint8 r, g, b;
};
constexpr Colour kButtonFace{212, 208, 200};
constexpr Colour kActiveCaption{10, 36, 106};
constexpr Colour kCaptionText{255, 255, 255};
constexpr Colour kButtonShadow{128, 128, 128};
constexpr Colour kButtonHighlight{255, 255, 255};
constexpr Colour kGrayText{128, 128, 128};
constexpr Colour kButtonText{0, 0, 0};
constexpr Colour kWindowText{0, 0, 0};
constexpr Colour kWindowFrame{0, 0, 0};

constexpr int kCaptionStrip = 21;
constexpr int kFontHeight = 15;
constexpr int kLongestWaitMs = 100;

// ---------------------------------------------------------------- the font

const char* const kFontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
};

// DejaVu Sans through fontconfig, else its Debian path.
std::string fontFile() {
    if (std::FILE* pipe = popen("fc-match -f '%{file}' 'DejaVu Sans:style=Book' 2>/dev/null", "r")) {
        char path[4096];
        const std::size_t n = std::fread(path, 1, sizeof path - 1, pipe);
        pclose(pipe);
        path[n] = 0;
        const std::string found(path);
        if (found.find("DejaVuSans") != std::string::npos)
            if (std::FILE* f = std::fopen(found.c_str(), "rb")) {
                std::fclose(f);
                return found;
            }
    }
    for (const char* candidate : kFontFiles)
        if (std::FILE* f = std::fopen(candidate, "rb")) {
            std::fclose(f);
            return candidate;
        }
    return std::string();
}

struct FontState {
    bool tried = false;
    TTF_Font* font = nullptr;
};
FontState fontState;

// The font at the size whose height is 15 pixels, so that lines 17 apart
// never overlap. Made once; null when there is none.
TTF_Font* boxFont() {
    bool& tried = fontState.tried;
    TTF_Font*& font = fontState.font;
    if (tried) return font;
    tried = true;
    if (!sdl::loadLibraries() || (!TTF_WasInit() && TTF_Init() != 0)) return nullptr;
    const std::string file = fontFile();
    if (file.empty()) return nullptr;
    for (int points : {12, 11, 13})
        for (unsigned dpi = 72; dpi <= 96 && !font; ++dpi) {
            TTF_Font* f = TTF_OpenFontDPI(file.c_str(), points, dpi, dpi);
            if (f && TTF_FontHeight(f) == kFontHeight) font = f;
            else if (f) TTF_CloseFont(f);
        }
    if (!font) font = TTF_OpenFont(file.c_str(), 12);
    return font;
}

void closeFont() {
    if (fontState.font) TTF_CloseFont(fontState.font);
    fontState = FontState();
    if (sdl::librariesLoaded() && TTF_WasInit()) TTF_Quit();
}

void measure(const std::string& utf8, std::int32_t& width, std::int32_t& height) {
    int w = 0, h = 0;
    if (TTF_Font* f = boxFont(); f && !utf8.empty()) TTF_SizeUTF8(f, utf8.c_str(), &w, &h);
    width = w;
    height = h ? h : kFontHeight;
}

// ---------------------------------------------------------------- a box window

BoxKey boxKey(SDL_Keycode key) {
    switch (key) {
    case SDLK_SPACE: return BoxKey::Space;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return BoxKey::Enter;
    case SDLK_TAB: return BoxKey::Tab;
    case SDLK_RIGHT: return BoxKey::Right;
    case SDLK_LEFT: return BoxKey::Left;
    case SDLK_ESCAPE: return BoxKey::Escape;
    default: return BoxKey::Other;
    }
}

// The caption strip drags the box (the window has no frame of the system's).
SDL_HitTestResult hitTest(SDL_Window*, const SDL_Point* point, void*) {
    return inCaptionStrip(point->y - 1) ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

// An undecorated window centred on the screen that draws its own frame,
// caption strip, text and buttons.
class BoxWindow {
public:
    BoxWindow(const TWideString& caption, BoxLayout layout, std::vector<BoxButton> buttons, int focus)
        : caption_(platform::utf16ToDisplayUtf8(caption.view())), layout_(std::move(layout)),
          buttons_(std::move(buttons)), state_(static_cast<int>(buttons_.size()), focus) {}
    ~BoxWindow() {
        if (renderer_) SDL_DestroyRenderer(renderer_);
        if (window_) SDL_DestroyWindow(window_);
        // What this box put aside goes back to the windows it belongs to.
        for (const SDL_Event& e : others_) sdl::keepEvent(e);
    }

    bool create() {
        if (!boxFont()) return false;
        SDL_Rect screen{0, 0, 1024, 768};
        SDL_GetDisplayBounds(0, &screen);
        window_ = SDL_CreateWindow(caption_.c_str(), screen.x + (screen.w - layout_.width) / 2,
                                   screen.y + (screen.h - layout_.height) / 2, layout_.width, layout_.height,
                                   SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN | SDL_WINDOW_SKIP_TASKBAR);
        if (!window_) return false;
        id_ = SDL_GetWindowID(window_);
        SDL_SetWindowHitTest(window_, hitTest, nullptr);
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
        if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
        return renderer_ != nullptr;
    }

    // Shown raised and with the keyboard's focus.
    void show() {
        SDL_ShowWindow(window_);
        SDL_RaiseWindow(window_);
        SDL_SetWindowInputFocus(window_);
    }

    // Handles one event taken from the queue: true when it was this box's.
    // Events for other windows and quit requests are put aside.
    bool handle(const SDL_Event& e, bool& repaint) {
        if (e.type == SDL_QUIT) {
            others_.push_back(e);
            quit_ = true;
            return false;
        }
        if (sdl::windowOf(e) != id_) {
            if (sdl::windowOf(e) != 0) others_.push_back(e);
            return false;
        }
        const auto client = [&](int x, int y, int& cx, int& cy) {
            cx = x - 1;
            cy = y - 1;
        };
        int x = 0, y = 0;
        switch (e.type) {
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_EXPOSED) repaint = true;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) closeRequested_ = true;
            break;
        case SDL_KEYDOWN: repaint |= state_.keyDown(boxKey(e.key.keysym.sym)); break;
        case SDL_KEYUP: repaint |= keyUp(boxKey(e.key.keysym.sym)); break;
        case SDL_MOUSEBUTTONDOWN:
            client(e.button.x, e.button.y, x, y);
            if (e.button.button == SDL_BUTTON_LEFT) repaint |= state_.leftDown(buttonAt(layout_, x, y));
            break;
        case SDL_MOUSEBUTTONUP:
            client(e.button.x, e.button.y, x, y);
            if (e.button.button == SDL_BUTTON_LEFT) repaint |= state_.leftUp(buttonAt(layout_, x, y));
            else if (e.button.button == SDL_BUTTON_RIGHT) repaint |= rightUp();
            break;
        case SDL_MOUSEMOTION:
            client(e.motion.x, e.motion.y, x, y);
            repaint |= state_.mouseMove(buttonAt(layout_, x, y), y >= layout_.clientHeight - 41);
            break;
        default: break;
        }
        return true;
    }

    // Draws the whole box and presents it.
    void paint(const std::function<void()>& extra = nullptr) {
        fill({0, 0, layout_.width, layout_.height}, kButtonFace);
        fill({1, 1, layout_.clientWidth, kCaptionStrip}, kActiveCaption);
        text(caption_, 1 + 8, 1 + (kCaptionStrip - kFontHeight) / 2, kCaptionText);
        for (std::size_t i = 0; i < layout_.buttons.size(); ++i) drawButton(i);
        for (std::size_t i = 0; i < layout_.lines.size(); ++i)
            text(drawnLine(layout_.lines[i]), 1 + 8, 1 + 29 + 17 * static_cast<int>(i), kWindowText);
        if (extra) extra();
        frame({0, 0, layout_.width, layout_.height}, kWindowFrame);
        SDL_RenderPresent(renderer_);
    }

    void fill(const BoxRect& r, Colour c) {
        SDL_SetRenderDrawColor(renderer_, c.r, c.g, c.b, 255);
        const SDL_Rect rect{r.x, r.y, r.width, r.height};
        SDL_RenderFillRect(renderer_, &rect);
    }
    void frame(const BoxRect& r, Colour c) {
        SDL_SetRenderDrawColor(renderer_, c.r, c.g, c.b, 255);
        const SDL_Rect rect{r.x, r.y, r.width, r.height};
        SDL_RenderDrawRect(renderer_, &rect);
    }
    // Text at (x, y), its top; nothing when the font renders nothing.
    void text(const std::string& utf8, int x, int y, Colour c, int centreIn = -1) {
        if (utf8.empty()) return;
        SDL_Surface* s = TTF_RenderUTF8_Blended(boxFont(), utf8.c_str(), SDL_Color{c.r, c.g, c.b, 255});
        if (!s) return;
        if (SDL_Texture* t = SDL_CreateTextureFromSurface(renderer_, s)) {
            const SDL_Rect to{centreIn >= 0 ? x + (centreIn - s->w) / 2 : x, y, s->w, s->h};
            SDL_RenderCopy(renderer_, t, nullptr, &to);
            SDL_DestroyTexture(t);
        }
        SDL_FreeSurface(s);
    }

    BoxState& state() { return state_; }
    const BoxLayout& layout() const { return layout_; }
    const std::vector<BoxButton>& buttons() const { return buttons_; }
    bool quitRequested() const { return quit_; }
    bool closeRequested() const { return closeRequested_; }
    Uint32 id() const { return id_; }

protected:
    virtual bool keyUp(BoxKey key) { return state_.keyUp(key); }
    virtual bool rightUp() { return state_.rightUp(); }

private:
    void drawButton(std::size_t i) {
        const BoxRect b = layout_.buttons[i];
        const BoxRect r{1 + b.x, 1 + b.y, b.width, b.height};
        fill(r, kButtonFace);
        const bool focused = static_cast<int>(i) == state_.focusedButton();
        const bool pressed = focused && state_.pressedLook();
        const Colour topLeft = pressed ? kButtonShadow : kButtonHighlight;
        const Colour bottomRight = pressed ? kButtonHighlight : kButtonShadow;
        SDL_SetRenderDrawColor(renderer_, topLeft.r, topLeft.g, topLeft.b, 255);
        SDL_RenderDrawLine(renderer_, r.x, r.y, r.x + r.width - 1, r.y);
        SDL_RenderDrawLine(renderer_, r.x, r.y, r.x, r.y + r.height - 1);
        SDL_SetRenderDrawColor(renderer_, bottomRight.r, bottomRight.g, bottomRight.b, 255);
        SDL_RenderDrawLine(renderer_, r.x, r.y + r.height - 1, r.x + r.width - 1, r.y + r.height - 1);
        SDL_RenderDrawLine(renderer_, r.x + r.width - 1, r.y, r.x + r.width - 1, r.y + r.height - 1);
        if (focused) frame({r.x + 2, r.y + 2, r.width - 4, r.height - 4}, kGrayText);
        const int offset = pressed ? 1 : 0;
        text(platform::utf16ToDisplayUtf8(buttons_[i].label.view()), r.x + offset,
             r.y + (r.height - kFontHeight) / 2 + offset, kButtonText, r.width);
    }

    std::string caption_;
    BoxLayout layout_;
    std::vector<BoxButton> buttons_;
    BoxState state_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    Uint32 id_ = 0;
    std::vector<SDL_Event> others_;
    bool quit_ = false;
    bool closeRequested_ = false;
};

// ---------------------------------------------------------------- messages

// Runs a modal message box; false when it could not be made.
bool runMessageBox(const TWideString& caption, const TWideString& text, int style, int& result) {
    std::vector<BoxButton> buttons = messageButtons(style);
    BoxLayout layout = messageLayout(caption, text, static_cast<int>(buttons.size()), measure);
    BoxWindow box(caption, std::move(layout), buttons, initialFocus(style, static_cast<int>(buttons.size())));
    if (!box.create()) return false;
    box.show();
    box.paint();
    while (!box.state().closing() && !box.closeRequested() && !box.quitRequested()) {
        SDL_Event e;
        if (!sdl::nextEvent(e, kLongestWaitMs, /*newOnly=*/true)) {
            if (platform::stopSignal()) break; // the run is ending: choose nothing
            continue;
        }
        bool repaint = false;
        box.handle(e, repaint);
        if (repaint && !box.state().closing()) box.paint();
    }
    result = box.state().closing() || box.closeRequested() ? boxResult(box.state(), box.buttons()) : 0;
    return true;
}

class DrawnMessages final : public MessageBackend {
public:
    int show(const TWideString& caption, const TWideString& text, int style, MessageChannel channel) override {
        // The usage text and every message also go where scripts and logs see them.
        const int echoed = consoleBackend().show(caption, text, style, channel);
        if (channel == MessageChannel::Usage) return echoed;
        int result = kResultAccept;
        if (!runMessageBox(caption, text, style, result)) return kResultAccept; // shown on the console only
        return result;
    }
};

// ---------------------------------------------------------------- progress

class ProgressBox final : public BoxWindow {
public:
    ProgressBox(const TWideString& caption, BoxLayout layout, std::vector<BoxButton> buttons, int focus)
        : BoxWindow(caption, std::move(layout), std::move(buttons), focus) {}

    float progress = -1, painted = -1, second = -1;
    bool cancelAllowed = false;

    // Draws the box with its bar.
    void paintAll() {
        paint([this] { drawBar(); });
        painted = progress;
    }
    // Handles what is queued for the box, without waiting.
    void pumpEvents() {
        SDL_Event e;
        bool repaint = false;
        while (sdl::nextEvent(e, 0, /*newOnly=*/true)) handle(e, repaint);
        if (repaint) paintAll();
    }

protected:
    bool keyUp(BoxKey key) override {
        // Escape ends the run only when cancelling is allowed; the window itself stays.
        if (key == BoxKey::Escape && cancelAllowed) {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            sdl::keepEvent(quit);
        }
        return BoxWindow::keyUp(key);
    }

private:
    void drawBar() {
        const BoxRect bar = layout().bar;
        const BoxRect frameRect{1 + bar.x, 1 + bar.y, bar.width, bar.height};
        fill(frameRect, kButtonFace);
        frame(frameRect, kButtonText);
        const std::int32_t main = progressFill(progress, bar.width);
        if (main > 1) fill({frameRect.x + 1, frameRect.y + 1, main - 1, bar.height - 2}, second >= 0 ? kGrayText : kButtonText);
        if (second >= 0) {
            const std::int32_t over = progressFill(second, layout().clientWidth - 16);
            if (over > 1) fill({frameRect.x + 1, frameRect.y + 1, over - 1, bar.height - 2}, kButtonText);
        }
    }
};

class DrawnProgress final : public ProgressBackend {
public:
    void shown(const TWideString& caption, const TWideString& text) override {
        box_.reset();
        std::vector<BoxButton> buttons = progressButtons(0);
        BoxLayout layout = progressLayout(caption, text, static_cast<int>(buttons.size()), measure);
        auto box = std::make_unique<ProgressBox>(caption, std::move(layout), buttons, initialFocus(0, 0));
        if (!box->create()) {
            console_.shown(caption, text); // no window: the console line instead
            return;
        }
        box->show();
        box->paintAll();
        box_ = std::move(box);
    }
    void progressed(float progress, float second) override {
        if (!box_) return console_.progressed(progress, second);
        box_->pumpEvents();
        box_->progress = progress;
        box_->second = second;
        if (progressWorthPainting(progress, box_->painted, box_->layout().clientWidth)) box_->paintAll();
    }
    void finished() override {
        if (!box_) return console_.finished();
        for (const FinishStep& step : finishingSequence(box_->progress)) {
            box_->progress = step.progress;
            box_->paintAll();
            for (int left = step.waitMs; left > 0; left -= 10) {
                SDL_Delay(static_cast<Uint32>(std::min(left, 10)));
                box_->pumpEvents();
            }
        }
    }
    void closed() override {
        if (!box_) return console_.closed();
        box_.reset();
    }
    void cancelAllowed() override {
        if (box_) box_->cancelAllowed = true;
    }

private:
    std::unique_ptr<ProgressBox> box_;
    ProgressBackend& console_ = consoleProgressBackend();
};

DrawnMessages drawnMessages;
DrawnProgress drawnProgress;

} // namespace

bool useDrawnDialogs() {
    if (!sdl::videoAvailable()) return false;
    setMessageBackend(&drawnMessages);
    setProgressBackend(&drawnProgress);
    return true;
}

void stopDrawnDialogs() {
    setMessageBackend(nullptr);
    setProgressBackend(nullptr);
    drawnProgress.closed();
    closeFont();
}

} // namespace vexel::ui
