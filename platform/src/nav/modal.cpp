#include "nav/modal.h"

#include <Events.h>
#include <MacErrors.h>
#include <MacWindows.h>
#include <Menus.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "events/event_queue.h"
#include "ui/text.h"
#include "ui/window_server.h"

namespace vt::nav {

namespace {

std::vector<RunningDialog> gRunning;
long gTurnLimit = 0;

Rect clipTo(const Rect& r, const Image& img) {
  return makeRect(std::max<int>(r.left, 0), std::max<int>(r.top, 0),
                  std::min<int>(r.right, img.width), std::min<int>(r.bottom, img.height));
}

}  // namespace

void ImagePainter::fill(const Rect& r, Pixel c) {
  Rect k = clipTo(r, img_);
  for (int y = k.top; y < k.bottom; ++y) std::fill(img_.row(y) + k.left, img_.row(y) + k.right, c);
}

void ImagePainter::frame(const Rect& r, Pixel c, int t) {
  fill(makeRect(r.left, r.top, r.right, r.top + t), c);
  fill(makeRect(r.left, r.bottom - t, r.right, r.bottom), c);
  fill(makeRect(r.left, r.top, r.left + t, r.bottom), c);
  fill(makeRect(r.right - t, r.top, r.right, r.bottom), c);
}

void ImagePainter::text(int x, int baseline, const std::string& utf8, int size, Pixel c,
                        bool bold) {
  ui::TextStyle style;
  style.size = size;
  style.bold = bold;
  style.color = c;
  ui::drawText(img_, x, baseline, utf8, style);
}

int ImagePainter::textWidth(const std::string& utf8, int size, bool bold) {
  return ui::measureText(utf8, size, bold);
}

void ImagePainter::image(const Rect& r, const Image& src) {
  if (src.empty() || r.right <= r.left || r.bottom <= r.top) return;
  Image scaled(r.right - r.left, r.bottom - r.top);
  scaleImage(src, scaled);
  for (int y = 0; y < scaled.height; ++y) {
    int dy = r.top + y;
    if (dy < 0 || dy >= img_.height) continue;
    for (int x = 0; x < scaled.width; ++x) {
      int dx = r.left + x;
      if (dx >= 0 && dx < img_.width) img_.at(dx, dy) = scaled.at(x, y) | 0xFF000000u;
    }
  }
}

const RunningDialog* currentDialog() { return gRunning.empty() ? nullptr : &gRunning.back(); }

void setTurnLimit(long turns) { gTurnLimit = std::max(0L, turns); }

namespace {

void present(WindowRef w, ModalContent& content, Image& canvas) {
  ImagePainter painter(canvas);
  content.draw(painter);
  VTPort* port = GetWindowPort(w);
  Rect all = makeRect(0, 0, canvas.width, canvas.height);
  ui::drawImage(port, canvas, all);
  ui::portChanged(port, all);
}

void passEvent(NavEventUPP proc, void* ud, NavCBRec& cb, EventRecord& e) {
  if (!proc) return;
  cb.eventData.eventDataParms.event = &e;
  cb.eventData.itemHit = 0;
  proc(kNavCBEvent, &cb, ud);
  cb.eventData.eventDataParms.event = nullptr;
}

// Pascal string of at most 255 bytes.
void toPascal(const std::string& s, Str255 out) {
  size_t n = std::min<size_t>(s.size(), 255);
  out[0] = (unsigned char)n;
  std::memcpy(out + 1, s.data(), n);
}

}  // namespace

OSErr runModal(ModalContent& content, const std::string& titleUtf8, Point location,
               NavEventUPP eventProc, void* callBackUD, ModalStats& stats) {
  int w = content.width(), h = content.height();
  Rect desk = ui::desktopBounds();
  int left = (desk.left + desk.right - w) / 2;
  int top = desk.top + std::max(ui::kTitleBarHeight + 10, (desk.bottom - desk.top - h) / 3);
  if (location.h != -1 || location.v != -1) {
    // Keep a requested position on the desktop.
    left = std::clamp<int>(location.h, desk.left, std::max<int>(desk.left, desk.right - w));
    top = std::clamp<int>(location.v, desk.top + ui::kTitleBarHeight,
                          std::max<int>(desk.top + ui::kTitleBarHeight, desk.bottom - h));
  }
  Rect bounds = makeRect(left, top, left + w, top + h);
  Str255 title;
  toPascal(ui::utf8ToMacRoman(titleUtf8), title);
  WindowRef window = NewCWindow(nullptr, &bounds, title, false, movableDBoxProc, (WindowRef)-1,
                                false, 0);
  if (!window) {
    content.abandon();
    return memFullErr;
  }
  SetWindowKind(window, dialogKind);
  Image canvas(w, h);
  present(window, content, canvas);
  ShowWindow(window);
  SelectWindow(window);

  gRunning.push_back(RunningDialog{&content, window, &stats});
  // The window goes and the dialog leaves the running list on every way out.
  struct Cleanup {
    WindowRef w;
    ~Cleanup() {
      gRunning.pop_back();
      DisposeWindow(w);
    }
  } cleanup{window};
  NavCBRec cb{};
  cb.version = kNavCBRecVersion;
  cb.window = window;
  cb.customRect = Rect{0, 0, 0, 0};
  cb.previewRect = Rect{0, 0, 0, 0};
  if (eventProc) eventProc(kNavCBStart, &cb, callBackUD);

  // High-level events stay queued for the application's own loop once the dialog is gone.
  const EventMask mask = everyEvent & ~highLevelEventMask;
  while (!content.finished()) {
    if (gTurnLimit > 0 && stats.turns >= gTurnLimit) {
      content.abandon();
      break;
    }
    ++stats.turns;
    events::callModalHook();
    bool dirty = content.automationTurn();
    if (content.finished()) break;
    EventRecord e{};
    events::waitNextEvent(mask, e, 0, nullptr);
    switch (e.what) {
      case nullEvent:
        ++stats.nullsPassed;
        passEvent(eventProc, callBackUD, cb, e);
        break;
      case updateEvt: {
        WindowRef target = (WindowRef)e.message;
        if (target == window) {
          BeginUpdate(window);
          present(window, content, canvas);
          EndUpdate(window);
        } else if (ui::isLiveWindow(target)) {
          if (eventProc) {
            ++stats.updatesPassed;
            passEvent(eventProc, callBackUD, cb, e);
          }
          // Whatever the callback drew, the update is over; an unanswered one would come back
          // every turn and starve the null events.
          if (ui::isLiveWindow(target)) {
            BeginUpdate(target);
            EndUpdate(target);
          }
        }
        break;
      }
      case mouseDown: {
        WindowRef hit = nullptr;
        WindowPartCode part = FindWindow(e.where, &hit);
        if (hit == window && part == inDrag) {
          DragWindow(window, e.where, &desk);
        } else if (hit == window && part == inContent) {
          Rect c = window->content;
          dirty |= content.click(e.where.h - c.left, e.where.v - c.top, e.when, e.modifiers);
        } else {
          SysBeep(1);  // the dialog is modal: nothing behind it answers
        }
        break;
      }
      case keyDown:
      case autoKey:
        dirty |= content.key((char)(e.message & charCodeMask), e.modifiers, e.when);
        break;
      default:
        break;  // activate, key-up, mouse-up and OS events mean nothing to the dialog
    }
    for (int b = content.takeBeeps(); b > 0; --b) SysBeep(1);
    if (dirty && !content.finished()) present(window, content, canvas);
  }

  if (eventProc) eventProc(kNavCBTerminate, &cb, callBackUD);
  return noErr;
}

}  // namespace vt::nav
