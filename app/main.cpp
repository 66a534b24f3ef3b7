// vexel: a compressor and viewer for pictures and short videos.
#include "app/entry.h"
#include "app/startup.h"
#include "base/language.h"
#include "platform/system.h"
#include "platform/test_hooks.h"
#if VEXEL_HAVE_DISPLAY
#include "display/video_sdl.h"
#include "display/viewer_sdl.h"
#include "ui/dialogs_sdl.h"
#endif

#include <csignal>

int main(int argc, char** argv) {
    // Before anything else takes memory: a process without room for its first
    // arena, and for what its start-up takes beside it, ends here with its
    // message and code 10 (nothing has been set up that must be undone).
    if (!vexel::startupMemoryCheck()) return 10;
    // A full disk or a file-size limit must fail a write, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    vexel::platform::installStopSignals();
    vexel::platform::testStopPoint("start");
    vexel::WindowSystem windows;
#if VEXEL_HAVE_DISPLAY
    windows.openViewer = &vexel::openSdlViewer;
    windows.useDrawnDialogs = &vexel::ui::useDrawnDialogs;
#endif
    vexel::initializeProgramUnits();
    // Messages in the user's language, where the catalogue has it.
    vexel::startLanguage();
    const int code = vexel::entryRoutine(argc, argv, vexel::FrameCodec(), windows);
#if VEXEL_HAVE_DISPLAY
    vexel::ui::stopDrawnDialogs();
#endif
    vexel::finalizeProgramUnits();
#if VEXEL_HAVE_DISPLAY
    vexel::sdl::stopVideo();
#endif
    return code;
}
