// What long movie work (a flatten) shows when its caller passes the default progress procedure,
// (MovieProgressUPP)-1. The window is drawn by an area above this one, which registers how to
// make it; without one the work goes on silently.
#pragma once
#include <memory>
#include <string>

namespace vt::movie {

class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  // Shows `fraction` (0..1) done; false once the user cancelled.
  virtual bool update(double fraction) = 0;
};

using ProgressDisplayMaker = std::unique_ptr<ProgressDisplay> (*)(const std::string& what);
void setProgressDisplayMaker(ProgressDisplayMaker maker);
// The registered display for `what` (UTF-8, e.g. "Saving “x.mov”"); null without one.
std::unique_ptr<ProgressDisplay> makeProgressDisplay(const std::string& what);

}  // namespace vt::movie
