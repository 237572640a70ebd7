#include "nav/modal.h"

#include <Events.h>
#include <MacErrors.h>
#include <MacWindows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/pstring.h"
#include "ui/text.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::nav {

namespace {

std::vector<RunningDialog> gRunning;
long gTurnLimit = 0;

}  // namespace

const RunningDialog* currentDialog() { return gRunning.empty() ? nullptr : &gRunning.back(); }

void setTurnLimit(long turns) { gTurnLimit = std::max(0L, turns); }

namespace {

void present(WindowRef w, ModalContent& content, Image& canvas) {
  ui::ImagePainter painter(canvas);
  content.draw(painter);
  VTPort* port = GetWindowPort(w);
  Rect all = ui::makeRect(0, 0, canvas.width, canvas.height);
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

// A press in the content: a button is tracked (shown pressed while the mouse is on it) and
// acts on release; a press that starts a drag is followed until release.
bool pressContent(WindowRef window, ModalContent& content, Image& canvas, Point local,
                  const EventRecord& e) {
  if (ui::Button* b = content.buttonAt(local.h, local.v)) {
    bool released = ui::trackPress(window, b->rect, [&](bool on) {
      b->pressed = on;
      present(window, content, canvas);
    });
    return released && ui::isLiveWindow(window) &&
           content.click(local.h, local.v, e.when, e.modifiers);
  }
  bool dirty = content.click(local.h, local.v, e.when, e.modifiers);
  if (content.dragging()) {
    if (dirty) present(window, content, canvas);
    ui::trackDrag(window, [&](Point p) {
      if (content.drag(p.h, p.v)) present(window, content, canvas);
    });
    content.endDrag();
  }
  return dirty;
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
  Rect bounds = ui::makeRect(left, top, left + w, top + h);
  Str255 title;
  vt::toPascal(ui::utf8ToToolbox(titleUtf8), title);
  WindowRef window =
      NewCWindow(nullptr, &bounds, title, false, movableDBoxProc, (WindowRef)-1, false, 0);
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

  while (!content.finished()) {
    if (gTurnLimit > 0 && stats.turns >= gTurnLimit) {
      content.abandon();
      break;
    }
    ++stats.turns;
    ui::beginModalTurn();
    bool dirty = content.automationTurn();
    if (content.finished()) break;
    EventRecord e{};
    ui::nextModalEvent(e);
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
        Point local{};
        ui::DialogClick part = ui::dialogClick(window, e, &local);
        if (part == ui::DialogClick::outside) {
          SysBeep(1);  // the dialog is modal: nothing behind it answers
        } else if (part == ui::DialogClick::content) {
          dirty |= pressContent(window, content, canvas, local, e);
        }
        break;
      }
      case keyDown:
      case autoKey: dirty |= content.key(ui::KeyPress::from(e)); break;
      default: break;  // activate, key-up, mouse-up and OS events mean nothing to the dialog
    }
    for (int b = content.takeBeeps(); b > 0; --b) SysBeep(1);
    if (dirty && !content.finished()) present(window, content, canvas);
  }

  if (eventProc) eventProc(kNavCBTerminate, &cb, callBackUD);
  return noErr;
}

}  // namespace vt::nav
