#include "core/port_drawing.h"

#include <MacErrors.h>

#include <atomic>

namespace vt {

namespace {
std::atomic<PortImageDrawer> gDrawer{nullptr};
}  // namespace

void setPortImageDrawer(PortImageDrawer drawer) { gDrawer = drawer; }

OSErr drawImageIntoPort(CGrafPtr port, const Image& image, const Rect& dst) {
  PortImageDrawer drawer = gDrawer.load();
  return drawer ? drawer(port, image, dst) : OSErr(paramErr);
}

}  // namespace vt
