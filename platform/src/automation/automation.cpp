#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include "core/guard.h"
#include "core/reset.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "ui/server_state.h"
#include "ui/text.h"
#include "ui/widgets/text_field.h"
#include "ui/widgets/tracking.h"

namespace ev = vt::events;
using namespace vt::ui;

void VTAutomationUseHeadless(short width, short height, bool wallClock) try {
  ev::useHeadless(width, height, wallClock);
  ensureServer();
  resetWindowServer();
} catch (...) {
  vtErrorFromException();
}

bool VTAutomationIsHeadless() try { return ev::backend().isHeadless(); } catch (...) {
  vtErrorFromException();
  return {};
}

Rect VTAutomationScreenBounds() try { return screenBounds(); } catch (...) {
  vtErrorFromException();
  return {};
}

bool VTAutomationResizeScreen(short width, short height) try {
  if (!ev::backend().resizeScreen(width, height)) return false;
  screenResized();
  return true;
} catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationPostMouseDown(Point where, EventModifiers modifiers) try {
  ev::postMouseMove(where);
  ev::post(mouseDown, 0, where, modifiers);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationPostMouseUp(Point where, EventModifiers modifiers) try {
  ev::postMouseMove(where);
  ev::post(mouseUp, 0, where, modifiers);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationPostMouseMove(Point where) try { ev::postMouseMove(where); } catch (...) {
  vtErrorFromException();
}

void VTAutomationPostClick(Point where, EventModifiers modifiers) try {
  VTAutomationPostMouseDown(where, modifiers);
  VTAutomationPostMouseUp(where, modifiers);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationPostDrag(Point from, Point to, int steps, EventModifiers modifiers) try {
  if (steps < 1) steps = 1;
  VTAutomationPostMouseDown(from, modifiers);
  for (int i = 1; i <= steps; ++i) {
    Point p{(short)(from.v + (to.v - from.v) * i / steps),
            (short)(from.h + (to.h - from.h) * i / steps)};
    ev::post(ev::kMouseMovedKind, 0, p, modifiers);
  }
  ev::post(mouseUp, 0, to, modifiers);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationPostKey(char key, EventModifiers modifiers, unsigned char keyCode) try {
  unsigned long msg = ((unsigned long)keyCode << 8) | (unsigned char)key;
  Point where = ev::mouseGlobal();
  ev::post(keyDown, msg, where, modifiers);
  ev::post(keyUp, msg, where, modifiers);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationPostText(const std::string& utf8, EventModifiers modifiers) try {
  ev::postText(utf8, modifiers);
} catch (...) {
  vtErrorFromException();
}

std::string VTAutomationClipboardText() try { return ev::clipboardText(); } catch (...) {
  vtErrorFromException();
  return {};
}
void VTAutomationSetClipboardText(const std::string& utf8) try {
  ev::setClipboardText(utf8);
} catch (...) {
  vtErrorFromException();
}

bool VTAutomationFocusedTextField(VTTextFieldInfo* info) try {
  FocusedField found;
  if (!info || !findFocusedField(FrontWindow(), found)) return false;
  WindowRef w = FrontWindow();
  const TextField& f = *found.field;
  const std::string& text = f.text();
  *info = VTTextFieldInfo{};
  info->text = text;
  int dh = w->content.left - w->port.portRect.left, dv = w->content.top - w->port.portRect.top;
  info->globalRect = Rect{(short)(found.box.top + dv), (short)(found.box.left + dh),
                          (short)(found.box.bottom + dv), (short)(found.box.right + dh)};
  int chars = 0;
  for (size_t at = 0;; at = nextCharBoundary(text, at), ++chars) {
    if (at == f.selectionStart()) info->selectionStart = chars;
    if (at == f.selectionEnd()) info->selectionEnd = chars;
    if (at == f.caret()) info->caret = chars;
    info->caretX.push_back((short)(info->globalRect.left + f.xOf(at)));
    if (at >= text.size()) break;
  }
  return true;
} catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationPostFocus(bool focused) try { setForeground(focused); } catch (...) {
  vtErrorFromException();
}

int VTAutomationPendingInput() try { return ev::pendingCount(); } catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationAdvanceTicks(UInt32 ticks) try { ev::backend().advanceTicks(ticks); } catch (...) {
  vtErrorFromException();
}
UInt32 VTAutomationTicks() try { return ev::ticks(); } catch (...) {
  vtErrorFromException();
  return {};
}

std::vector<VTWindowInfo> VTAutomationListWindows() try {
  std::vector<VTWindowInfo> out;
  for (VTWindow* w : windowsFrontToBack())
    out.push_back(VTWindowInfo{w, w->kind, toolboxToUtf8(w->title), structureRect(w), w->content,
                               w->visible, w->hilited, w->refCon});
  return out;
} catch (...) {
  vtErrorFromException();
  return {};
}

bool VTAutomationSnapshot(const std::string& pngPath) try {
  return vt::writePNG(composeScreen(), pngPath.c_str());
} catch (...) {
  vtErrorFromException();
  return {};
}

UInt32 VTAutomationScreenPixel(short h, short v) try {
  const vt::Image& img = composeScreen();
  if (h < 0 || v < 0 || h >= img.width || v >= img.height) return 0;
  return img.at(h, v);
} catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationSetModalHook(std::function<void()> hook) try {
  ev::setModalHook(std::move(hook));
} catch (...) {
  vtErrorFromException();
}
long VTAutomationModalTurns() try { return ev::modalTurns(); } catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationReset() try {
  resetWindowServer();
  ev::resetQueue();
  if (ev::backend().isHeadless()) ev::setClipboardText({});  // never the user's own clipboard
} catch (...) {
  vtErrorFromException();
}

namespace {
const vt::ResetRegistration kReset(vt::ResetStage::Screen, VTAutomationReset);
}
