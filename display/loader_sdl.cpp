#define VEXEL_SDL_API_FILLING
#include "display/loader_sdl.h"

#include <dlfcn.h>

namespace vexel::sdl {

Api api;

namespace {
enum class Load { Untried, Loaded, Failed };
Load state = Load::Untried;
} // namespace

bool loadLibraries() {
    if (state != Load::Untried) return state == Load::Loaded;
    state = Load::Failed;
    // The libraries stay loaded to the end of the program: SDL keeps threads and handlers of its own.
    void* video = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    void* fonts = video ? dlopen("libSDL2_ttf-2.0.so.0", RTLD_NOW | RTLD_GLOBAL) : nullptr;
    if (!fonts) return false;
    Api loaded;
    bool all = true;
    void* from = video;
#define VEXEL_SDL_FILL(name)                                                     \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(from, #name)); \
    all = all && loaded.name != nullptr;
    VEXEL_SDL_FUNCTIONS(VEXEL_SDL_FILL)
    from = fonts;
    VEXEL_TTF_FUNCTIONS(VEXEL_SDL_FILL)
#undef VEXEL_SDL_FILL
    if (!all) return false;
    api = loaded;
    state = Load::Loaded;
    return true;
}

bool librariesLoaded() { return state == Load::Loaded; }

} // namespace vexel::sdl
