// Compiled into every program that links the SDL backend (an interface source of the library),
// so the backend is registered before main without anyone having to call into it.
namespace vt::backend_sdl {
void registerBackend();
}

namespace {
struct Registration {
  Registration() { vt::backend_sdl::registerBackend(); }
} gRegistration;
}  // namespace
