#include "codec/pixspray.h"

namespace vexel {

namespace {

// The drawing entry, apart from the binding (codec/pixspray_binding.cpp),
// so that a program that never binds the library links none of it.
std::atomic<PixSprayModule>& moduleSlot() {
    static std::atomic<PixSprayModule> module{nullptr};
    return module;
}

} // namespace

PixSprayModule pixSprayModule() { return moduleSlot().load(); }

void forgetPixSprayModule() { moduleSlot().store(nullptr); }

void installPixSprayModule(PixSprayModule module) { moduleSlot().store(module); }

void setPixSprayModuleForTest(PixSprayModule module) { moduleSlot().store(module); }

} // namespace vexel
