// vexel-probe's reading of a file: the records by their links, each decoded
// in order (--check), and the text and JSON written of it.
#include "app/probe.h"
#include "fuzz/fuzz_files.h"
#include "pipeline/codec_session.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexel::fuzz::prepareFileTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexel;
    if (fuzz::folder().empty() || !fuzz::writeInput("in.vx", data, size)) return 0;
    if (!fuzz::recordsFitInMemory(fuzz::folder() + "/in.vx")) return 0;
    ProbeReport report;
    const int result = probeFile(fuzz::folder() + "/in.vx", (size & 1) != 0, report);
    if (result != kProbeDone && report.failure.empty()) std::abort();
    if (probeText(report).empty() || probeJson(report).empty()) std::abort();
    return 0;
}
