// The program's start-up and shut-down around the entry routine.
#pragma once

namespace vexel {

// Initialises every unit in order.
void initializeProgramUnits();
// Finalises every unit in reverse order.
void finalizeProgramUnits();
// Takes a 10-byte block from the allocator and gives it back. When none can
// be had, shows "Not enough RAM to run application" (caption "Error") and
// returns false; the run then ends with exit code 10.
bool startupMemoryCheck();

} // namespace vexel
