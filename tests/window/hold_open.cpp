// Preloaded into a program under test (LD_PRELOAD) to hold it at a known
// point: when it creates a file whose path contains $HOLD_OPEN_NAME, the
// open waits until the file $HOLD_OPEN_RELEASE exists; while it waits, the
// file $HOLD_OPEN_RELEASE.held exists. A test can then look at the program's
// window in a state that stays until it lets the program go on.
// Its own open and open64 replace the C library's: no inline wrappers.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

OpenFunction next(const char* name) { return reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name)); }

void hold(const char* path, int flags) {
    const char* name = std::getenv("HOLD_OPEN_NAME");
    const char* release = std::getenv("HOLD_OPEN_RELEASE");
    if (!name || !release || !path || !(flags & O_CREAT) || !std::strstr(path, name)) return;
    char held[4096];
    std::snprintf(held, sizeof held, "%s.held", release);
    const int fd = next("open")(held, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    const timespec tick{0, 10 * 1000 * 1000};
    while (access(release, F_OK) != 0) nanosleep(&tick, nullptr);
}

int forward(const char* function, const char* path, int flags, va_list args) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) mode = static_cast<mode_t>(va_arg(args, int));
    hold(path, flags);
    return next(function)(path, flags, mode);
}

} // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward("open", path, flags, args);
    va_end(args);
    return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward("open64", path, flags, args);
    va_end(args);
    return fd;
}
