// The platform's progress window: what is being done, a bar, the time left and Cancel. Long
// work (an export, a flatten) shows it when its caller asks for the default progress
// procedure, and updates it as it goes; the window runs its own events meanwhile.
#pragma once
#include <MacTypes.h>

#include <chrono>
#include <string>

#include "core/image.h"

struct VTWindow;

namespace vt::exporter {

// Makes this window what long movie work (a flatten) shows for the default progress procedure.
// The movie toolbox's start (EnterMovies) calls it.
void registerProgressWindow();

class ProgressWindow {
 public:
  // `what`: a line such as "Exporting “fx.mp4”" (UTF-8).
  explicit ProgressWindow(std::string what);
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Shows `fraction` (0..1) done; false once the user cancelled (Cancel, Escape or Ctrl+.).
  // Redraws and reads events at most ten times a second, and always at the end.
  bool update(double fraction);
  bool cancelled() const { return cancelled_; }
  // Where Cancel is, global coordinates; empty without a window (tests click it).
  Rect cancelRect() const;
  // The window shown now, if any.
  static ProgressWindow* current();

 private:
  void draw();
  void handleEvents();

  std::string what_;
  VTWindow* window_ = nullptr;
  Image canvas_;
  double fraction_ = 0;
  bool cancelled_ = false;
  bool pressed_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace vt::exporter
