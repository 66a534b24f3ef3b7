// Start-up and shut-down of the foundation units, in order.
#pragma once

namespace vexel {

// Initialises the allocator, the kernel (code page table) and the number
// symbols, in that order; nested calls only count.
void initializeBaseUnits();
// Finalises them in reverse order.
void finalizeBaseUnits();

} // namespace vexel
