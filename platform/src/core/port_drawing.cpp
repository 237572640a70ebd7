#include "core/port_drawing.h"

#include <MacErrors.h>

#include <atomic>

namespace vt {

namespace {
// Constant-initialised, so registrations from other files' static initialisers find it ready.
std::atomic<PortImageDrawer> gDrawer{nullptr};
}  // namespace

PortDrawerRegistration::PortDrawerRegistration(PortImageDrawer drawer) { gDrawer = drawer; }

OSErr drawImageIntoPort(CGrafPtr port, const Image& image, const Rect& dst) {
  PortImageDrawer drawer = gDrawer.load();
  return drawer ? drawer(port, image, dst) : OSErr(paramErr);
}

}  // namespace vt
