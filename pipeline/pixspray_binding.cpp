#include "pipeline/pixspray_binding.h"

#include "platform/utf.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace vexel {

namespace {

struct Binding {
    std::mutex mutex;
    void* library = nullptr;
    int device = -1;
    int marker = -1;
};

Binding& binding() {
    static Binding* b = new Binding;
    return *b;
}

// Takes the marker lock; -1 when another process holds it or it cannot be made.
int takeMarker() {
    int fd = ::open(pixSprayMarkerPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void unload(Binding& b) {
    installPixSprayModule(nullptr);
    if (b.library) ::dlclose(b.library);
    b.library = nullptr;
}

void dropMarker(Binding& b) {
    if (b.marker >= 0) ::close(b.marker); // closing the last descriptor drops the lock
    b.marker = -1;
}

} // namespace

std::string pixSprayMarkerPath() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    if (!folder || !*folder) folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    std::string path(folder);
    if (path.back() != '/') path += '/';
    return path + kPixSprayMarker;
}

int pixSprayDevice() {
    std::lock_guard<std::mutex> guard(binding().mutex);
    return binding().device;
}

bool pixSprayMarkerHeld() {
    std::lock_guard<std::mutex> guard(binding().mutex);
    return binding().marker >= 0;
}

bool bindPixSpray(std::u16string_view folder, bool allowed) {
    Binding& b = binding();
    std::lock_guard<std::mutex> guard(b.mutex);
    if (b.library) return pixSprayModule() != nullptr;
    if (!allowed || folder.empty()) return false;
    int marker = takeMarker();
    if (marker < 0) return false;
    std::string path = platform::utf16ToUtf8(folder) + kPixSprayLibrary;
    b.library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!b.library) {
        ::dlerror();
        ::close(marker);
        return false;
    }
    b.marker = marker;
    auto init = reinterpret_cast<PixSprayInit>(::dlsym(b.library, "pixSpray_init"));
    auto module = reinterpret_cast<PixSprayModule>(::dlsym(b.library, "pixSpray_module"));
    if (init && module) {
        b.device = init(b.device);
        if (b.device >= 0) installPixSprayModule(module);
    }
    if (!pixSprayModule()) {
        unload(b);
        dropMarker(b);
        return false;
    }
    return true;
}

void releasePixSprayMarker() {
    std::lock_guard<std::mutex> guard(binding().mutex);
    dropMarker(binding());
}

void unbindPixSpray() {
    Binding& b = binding();
    std::lock_guard<std::mutex> guard(b.mutex);
    unload(b);
    dropMarker(b);
    b.device = -1;
}

} // namespace vexel
