#include "pipeline/screen.h"

namespace vexel {

ScreenSize referenceScreenSize() { return {1920, 1080}; }

} // namespace vexel
