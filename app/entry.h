// The entry routine: reads the command line and runs the frame loop.
#pragma once

namespace vexel {

// The process exit code of one run over the given arguments.
int entryRoutine(int argc, char** argv);

} // namespace vexel
