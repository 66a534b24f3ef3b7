// vexel: a compressor and viewer for pictures and short videos.
#include "app/entry.h"
#include "app/startup.h"

#include <csignal>

int main(int argc, char** argv) {
    // A full disk or a file-size limit must fail a write, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    vexel::initializeProgramUnits();
    int code = vexel::startupMemoryCheck() ? vexel::entryRoutine(argc, argv) : 10;
    vexel::finalizeProgramUnits();
    return code;
}
