#include "display/viewer_sdl.h"

#include "base/dialogs.h"
#include "display/icon.h"
#include "display/painting.h"
#include "display/video_sdl.h"
#include "platform/system.h"
#include "platform/utf.h"

#include <algorithm>
#include <cmath>

namespace vexel {

namespace {

// The keys the viewer answers, released; every other key does nothing.
struct KeyBinding {
    SDL_Keycode key;
    ViewerEvent event;
};
constexpr KeyBinding kKeys[] = {
    {SDLK_SPACE, ViewerEvent::SpaceReleased}, {SDLK_q, ViewerEvent::Close},
    {SDLK_ESCAPE, ViewerEvent::Close},        {SDLK_RIGHT, ViewerEvent::NextFrame},
    {SDLK_PERIOD, ViewerEvent::NextFrame},    {SDLK_LEFT, ViewerEvent::PreviousFrame},
    {SDLK_COMMA, ViewerEvent::PreviousFrame}, {SDLK_HOME, ViewerEvent::FirstFrame},
    {SDLK_END, ViewerEvent::LastFrame},       {SDLK_l, ViewerEvent::Loop},
    {SDLK_f, ViewerEvent::FullScreen},
};

constexpr int kIconSize = 64;
// The longest single wait for events, so that SIGINT and SIGTERM are seen in time.
constexpr int kLongestWaitMs = 100;

class SdlViewer final : public ViewerWindow {
public:
    explicit SdlViewer(TWnd& record) : record_(record) {}
    ~SdlViewer() override {
        if (texture_) SDL_DestroyTexture(texture_);
        if (renderer_) SDL_DestroyRenderer(renderer_);
        if (window_) SDL_DestroyWindow(window_);
        if (record_.window == this) record_.window = nullptr;
    }

    bool open() {
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
        SDL_Rect area{0, 0, 1024, 768};
        if (SDL_GetDisplayUsableBounds(0, &area) != 0) SDL_GetDisplayBounds(0, &area);
        window_ = SDL_CreateWindow("Vexel", area.x, area.y, area.w, area.h, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
        if (!window_) return false;
        id_ = SDL_GetWindowID(window_);
        std::vector<std::uint32_t> icon = programIcon(kIconSize);
        if (SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(icon.data(), kIconSize, kIconSize, 32, kIconSize * 4,
                                                                SDL_PIXELFORMAT_ARGB8888)) {
            SDL_SetWindowIcon(window_, s);
            SDL_FreeSurface(s);
        }
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
        if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
        if (!renderer_) return false;
        // The display-mode check: the picture buffer's 32-bit pixels must go
        // to the screen as they are.
        if (!makeTexture(1, 1)) {
            dialogs().message(TWideString(u"Формат пикселя неправильный. Должен быть - RGB 32 бита"),
                              TWideString(u"Ошибка"));
            return false;
        }
        updateClientArea();
        return true;
    }

    TWideString title() override { return TWideString::fromUtf8(SDL_GetWindowTitle(window_)); }

    void setTitle(const TWideString& text) override {
        SDL_SetWindowTitle(window_, platform::utf16ToDisplayUtf8(text.view()).c_str());
    }

    void showMaximized() override {
        SDL_ShowWindow(window_);
        SDL_MaximizeWindow(window_);
        SDL_RaiseWindow(window_);
        updateClientArea();
    }

    void paint() override {
        if (record_.picture.pictureInPlanes()) paintPlanes(record_);
        present();
    }

    int drainEvents() override { return pump(0); }

    int waitForQuit() override {
        for (;;)
            if (const int quit = pump(kLongestWaitMs); quit >= 0) return quit;
    }

    int waitForEvents(double seconds) override {
        const long double deadline = platform::clockSeconds() + seconds;
        for (;;) {
            const long double left = deadline - platform::clockSeconds();
            const int ms = left > 0 ? static_cast<int>(std::min<long double>(kLongestWaitMs, std::floor(left * 1000))) : 0;
            const int quit = pump(ms);
            if (quit >= 0 || ms < kLongestWaitMs) return quit;
        }
    }

    ScreenSize displaySize() override {
        SDL_DisplayMode mode;
        const int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
        if (SDL_GetDesktopDisplayMode(display, &mode) != 0) return referenceScreenSize();
        return {mode.w, mode.h};
    }

private:
    // Waits up to timeoutMs for an event, then handles everything queued;
    // one repaint for all the size and expose events among them. The quit
    // code taken (which ends the handling), or -1.
    int pump(int timeoutMs) {
        SDL_Event event;
        int quit = -1;
        for (bool got = sdl::nextEvent(event, timeoutMs); got && quit < 0; got = sdl::nextEvent(event, 0))
            quit = handle(event);
        if (repaintPending_) {
            repaintPending_ = false;
            paint();
        }
        if (quit < 0 && platform::stopSignal()) quit = 0;
        return quit;
    }

    int handle(const SDL_Event& event) {
        if (event.type == SDL_QUIT) return 0;
        if (sdl::windowOf(event) != id_) return -1;
        ViewerEvent what;
        switch (event.type) {
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
            case SDL_WINDOWEVENT_MOVED: what = ViewerEvent::Moved; break;
            case SDL_WINDOWEVENT_SIZE_CHANGED: what = ViewerEvent::Sized; break;
            case SDL_WINDOWEVENT_EXPOSED: what = ViewerEvent::Exposed; break;
            case SDL_WINDOWEVENT_CLOSE: what = ViewerEvent::Close; break;
            default: return -1;
            }
            break;
        case SDL_KEYUP: {
            const auto* binding = std::find_if(std::begin(kKeys), std::end(kKeys),
                                               [&](const KeyBinding& k) { return k.key == event.key.keysym.sym; });
            if (binding == std::end(kKeys)) return -1;
            what = binding->event;
            break;
        }
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT) what = ViewerEvent::LeftReleased;
            else if (event.button.button == SDL_BUTTON_RIGHT) what = ViewerEvent::RightReleased;
            else return -1;
            break;
        default: return -1;
        }
        const ViewerResponse r = respond(record_, what);
        if (r.updatePosition || r.resizeSurface) updateClientArea();
        if (r.resizeSurface && record_.graphicsWindow)
            record_.graphicsWindow->SetPictureSize(nullptr, OffScreenBuffer::kKeepMemoryChoice, -1, false);
        if (r.repaint) repaintPending_ = true;
        if (r.fitToPicture) fitToPicture();
        if (r.toggleFullScreen) {
            const bool full = SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP;
            SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
        }
        return r.quitCode;
    }

    // The client area in pixels, from the window itself.
    void clientSize(int& width, int& height) {
        if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0) SDL_GetWindowSize(window_, &width, &height);
    }

    void updateClientArea() {
        if (!record_.graphicsWindow) return;
        int x = 0, y = 0, width = 0, height = 0;
        SDL_GetWindowPosition(window_, &x, &y);
        clientSize(width, height);
        record_.graphicsWindow->setClientArea(x, y, width, height);
    }

    bool makeTexture(int width, int height) {
        if (texture_ && textureWidth_ == width && textureHeight_ == height) return true;
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
        textureWidth_ = texture_ ? width : 0;
        textureHeight_ = texture_ ? height : 0;
        // The fourth byte of a pixel is not alpha: the picture is copied as it is.
        if (texture_) SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
        return texture_ != nullptr;
    }

    // Presents the off-screen surface: its picture area scaled into the
    // client area with its aspect kept and black bars.
    void present() {
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        PictureAccess p;
        TGraficheskoeOkno* g = record_.graphicsWindow;
        if (record_.picture.paintable && g && g->lockPicture(p)) {
            const bool uploaded = makeTexture(p.width, p.height) &&
                                  SDL_UpdateTexture(texture_, nullptr, p.rowFromTop(0), static_cast<int>(p.buffer.pitch)) == 0;
            const std::int32_t width = p.width, height = p.height;
            g->unlockPicture(p);
            int cw = 0, ch = 0;
            clientSize(cw, ch);
            ViewRect t;
            if (uploaded && presentTarget(width, height, cw, ch, t)) {
                const SDL_Rect target{t.x, t.y, t.width, t.height};
                SDL_RenderCopy(renderer_, texture_, nullptr, &target);
            }
        }
        SDL_RenderPresent(renderer_);
    }

    // Shrinks the window by the bars around the picture.
    void fitToPicture() {
        if (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) return;
        int cw = 0, ch = 0;
        clientSize(cw, ch);
        Margins m;
        if (!fitMargins(record_.picture.pictureWidth(), record_.picture.pictureHeight(), cw, ch, m)) return;
        if (SDL_GetWindowFlags(window_) & SDL_WINDOW_MAXIMIZED) SDL_RestoreWindow(window_);
        int x = 0, y = 0, ww = 0, wh = 0;
        SDL_GetWindowPosition(window_, &x, &y);
        SDL_GetWindowSize(window_, &ww, &wh);
        // Margins are in pixels; the window is placed in screen units.
        const double sx = static_cast<double>(ww) / cw, sy = static_cast<double>(wh) / ch;
        const int left = static_cast<int>(std::lround(m.left * sx)), right = static_cast<int>(std::lround(m.right * sx));
        const int top = static_cast<int>(std::lround(m.top * sy)), bottom = static_cast<int>(std::lround(m.bottom * sy));
        SDL_SetWindowPosition(window_, x + left, y + top);
        SDL_SetWindowSize(window_, std::max(1, ww - left - right), std::max(1, wh - top - bottom));
        updateClientArea();
    }

    TWnd& record_;
    SDL_Window* window_ = nullptr;
    Uint32 id_ = 0;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0, textureHeight_ = 0;
    bool repaintPending_ = false;
};

} // namespace

std::unique_ptr<ViewerWindow> openSdlViewer(TWnd& record) {
    if (!sdl::videoAvailable()) return nullptr;
    auto viewer = std::make_unique<SdlViewer>(record);
    if (!viewer->open()) return nullptr;
    return viewer;
}

} // namespace vexel
