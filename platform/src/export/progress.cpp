#include "export/progress.h"

#include <Events.h>
#include <MacWindows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "movie/progress_display.h"
#include "ui/text.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::exporter {
namespace {

constexpr int kWidth = 420, kHeight = 118;
const Rect kBar = ui::makeRect(20, 44, kWidth - 20, 58);
const Rect kCancel = ui::makeRect(kWidth - 16 - 96, kHeight - 36, kWidth - 16, kHeight - 12);
ProgressWindow* gCurrent = nullptr;

std::string timeLeft(double seconds) {
  if (!std::isfinite(seconds)) return "Estimating the time left…";
  long s = std::lround(std::max(1.0, seconds));
  char text[64];
  if (s < 60)
    std::snprintf(text, sizeof text, "About %ld second%s left", s, s == 1 ? "" : "s");
  else
    std::snprintf(text, sizeof text, "About %ld minute%s left", (s + 30) / 60,
                  (s + 30) / 60 == 1 ? "" : "s");
  return text;
}

// The movie toolbox's long work shows this window for the default progress procedure.
class WindowDisplay : public movie::ProgressDisplay {
 public:
  explicit WindowDisplay(const std::string& what) : window_(what) {}
  bool update(double fraction) override { return window_.update(fraction); }

 private:
  ProgressWindow window_;
};

}  // namespace

void registerProgressWindow() {
  movie::setProgressDisplayMaker([](const std::string& what) {
    return std::unique_ptr<movie::ProgressDisplay>(new WindowDisplay(what));
  });
}

ProgressWindow* ProgressWindow::current() { return gCurrent; }

ProgressWindow::ProgressWindow(std::string what)
    : what_(std::move(what)), canvas_(kWidth, kHeight) {
  start_ = std::chrono::steady_clock::now();
  Rect desk = ui::desktopBounds();
  int left = (desk.left + desk.right - kWidth) / 2;
  int top = desk.top + std::max(ui::kTitleBarHeight + 10, (desk.bottom - desk.top - kHeight) / 3);
  Rect bounds = ui::makeRect(left, top, left + kWidth, top + kHeight);
  Str255 title = {8, 'P', 'r', 'o', 'g', 'r', 'e', 's', 's'};
  window_ = NewCWindow(nullptr, &bounds, title, false, movableDBoxProc, (WindowRef)-1, false, 0);
  if (!window_) return;  // the work goes on without a window
  SetWindowKind(window_, dialogKind);
  draw();
  ShowWindow(window_);
  SelectWindow(window_);
  gCurrent = this;
}

ProgressWindow::~ProgressWindow() {
  if (gCurrent == this) gCurrent = nullptr;
  if (window_) DisposeWindow(window_);
}

Rect ProgressWindow::cancelRect() const {
  if (!window_) return Rect{0, 0, 0, 0};
  Point origin = ui::localPoint(window_, Point{0, 0});
  Rect r = kCancel;
  OffsetRect(&r, (short)-origin.h, (short)-origin.v);
  return r;
}

bool ProgressWindow::update(double fraction) {
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  auto now = std::chrono::steady_clock::now();
  if (window_ && (now - last_ > std::chrono::milliseconds(100) || fraction_ >= 1)) {
    last_ = now;
    handleEvents();
    if (!cancelled_) draw();
  }
  return !cancelled_;
}

void ProgressWindow::handleEvents() {
  for (int n = 0; n < 32 && !cancelled_; n++) {
    ui::beginModalTurn();
    EventRecord e{};
    if (!GetNextEvent(ui::kModalEventMask, &e)) break;
    if (e.what == updateEvt && (WindowRef)e.message == window_) {
      BeginUpdate(window_);
      draw();
      EndUpdate(window_);
    } else if (e.what == mouseDown) {
      Point local{};
      if (ui::dialogClick(window_, e, &local) == ui::DialogClick::content &&
          ui::inRect(kCancel, local.h, local.v)) {
        cancelled_ = ui::trackPress(window_, kCancel, [&](bool on) {
          pressed_ = on;
          draw();
        });
        pressed_ = false;
      }
    } else if (e.what == keyDown || e.what == autoKey) {
      ui::KeyPress k = ui::KeyPress::from(e);
      cancelled_ = k.code == ui::key::escape || (k.command && k.code == '.');
    }
  }
}

void ProgressWindow::draw() {
  if (!window_) return;
  ui::ImagePainter p(canvas_);
  namespace colour = ui::colour;
  p.fill(ui::makeRect(0, 0, kWidth, kHeight), colour::background);
  p.text(20, 32, what_, 13, colour::black, true);
  p.fill(kBar, colour::white);
  p.frame(kBar, colour::border);
  int filled = (int)std::lround((kBar.right - kBar.left - 2) * fraction_);
  p.fill(ui::makeRect(kBar.left + 1, kBar.top + 1, kBar.left + 1 + filled, kBar.bottom - 1),
         colour::selection);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  double left = fraction_ > 0.01 && elapsed > 0.5 ? elapsed * (1 - fraction_) / fraction_ : NAN;
  p.text(20, 78, timeLeft(left), 11, colour::black);
  ui::Button cancel = ui::Button::pushButton("Cancel", false, kCancel);
  cancel.pressed = pressed_;
  cancel.draw(p);
  VTPort* port = GetWindowPort(window_);
  Rect all = ui::makeRect(0, 0, kWidth, kHeight);
  ui::drawImage(port, canvas_, all);
  ui::portChanged(port, all);
}

}  // namespace vt::exporter
