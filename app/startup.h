// The program's start-up and shut-down around the entry routine.
#pragma once

namespace vexel {

// Initialises every unit in order.
void initializeProgramUnits();
// Finalises every unit in reverse order.
void finalizeProgramUnits();
// Takes a 10-byte block from the allocator (its first arena) and, beside
// it, room for what the start-up takes from the system heap, and gives both
// back. When either cannot be had, shows "Not enough RAM to run application"
// (caption "Error") and returns false; the run then ends with exit code 10.
// It needs no unit initialised: main calls it before anything else.
bool startupMemoryCheck();

} // namespace vexel
