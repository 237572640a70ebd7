#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include "core/boundary.h"
#include "core/reset.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "ui/server_state.h"
#include "ui/text.h"
#include "ui/widgets/text_field.h"
#include "ui/widgets/tracking.h"

namespace ev = vt::events;
using namespace vt::ui;

void VTAutomationUseHeadless(short width, short height, bool wallClock) {
  vt::apiCall(vt::noErrorState, [&] {
    ev::useHeadless(width, height, wallClock);
    ensureServer();
    resetWindowServer();
  });
}

bool VTAutomationIsHeadless() {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool { return ev::backend().isHeadless(); });
}

Rect VTAutomationScreenBounds() {
  return vt::apiCall(vt::noErrorState, Rect{}, [&]() -> Rect { return screenBounds(); });
}

bool VTAutomationResizeScreen(short width, short height) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    if (!ev::backend().resizeScreen(width, height)) return false;
    screenResized();
    return true;
  });
}

void VTAutomationPostMouseDown(Point where, EventModifiers modifiers) {
  vt::apiCall(vt::noErrorState, [&] {
    ev::postMouseMove(where);
    ev::post(mouseDown, 0, where, modifiers);
  });
}

void VTAutomationPostMouseUp(Point where, EventModifiers modifiers) {
  vt::apiCall(vt::noErrorState, [&] {
    ev::postMouseMove(where);
    ev::post(mouseUp, 0, where, modifiers);
  });
}

void VTAutomationPostMouseMove(Point where) {
  vt::apiCall(vt::noErrorState, [&] { ev::postMouseMove(where); });
}

void VTAutomationPostClick(Point where, EventModifiers modifiers) {
  vt::apiCall(vt::noErrorState, [&] {
    VTAutomationPostMouseDown(where, modifiers);
    VTAutomationPostMouseUp(where, modifiers);
  });
}

void VTAutomationPostDrag(Point from, Point to, int steps, EventModifiers modifiers) {
  vt::apiCall(vt::noErrorState, [&] {
    if (steps < 1) steps = 1;
    VTAutomationPostMouseDown(from, modifiers);
    for (int i = 1; i <= steps; ++i) {
      Point p{(short)(from.v + (to.v - from.v) * i / steps),
              (short)(from.h + (to.h - from.h) * i / steps)};
      ev::post(ev::kMouseMovedKind, 0, p, modifiers);
    }
    ev::post(mouseUp, 0, to, modifiers);
  });
}

void VTAutomationPostKey(char key, EventModifiers modifiers, unsigned char keyCode) {
  vt::apiCall(vt::noErrorState, [&] {
    unsigned long msg = ((unsigned long)keyCode << 8) | (unsigned char)key;
    Point where = ev::mouseGlobal();
    ev::post(keyDown, msg, where, modifiers);
    ev::post(keyUp, msg, where, modifiers);
  });
}

void VTAutomationPostText(const std::string& utf8, EventModifiers modifiers) {
  vt::apiCall(vt::noErrorState, [&] { ev::postText(utf8, modifiers); });
}

std::string VTAutomationClipboardText() {
  return vt::apiCall(vt::noErrorState, std::string{},
                     [&]() -> std::string { return ev::clipboardText(); });
}
void VTAutomationSetClipboardText(const std::string& utf8) {
  vt::apiCall(vt::noErrorState, [&] { ev::setClipboardText(utf8); });
}

bool VTAutomationFocusedTextField(VTTextFieldInfo* info) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
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
  });
}

void VTAutomationPostFocus(bool focused) {
  vt::apiCall(vt::noErrorState, [&] { setForeground(focused); });
}

int VTAutomationPendingInput() {
  return vt::apiCall(vt::noErrorState, int(0), [&]() -> int { return ev::pendingCount(); });
}

void VTAutomationAdvanceTicks(UInt32 ticks) {
  vt::apiCall(vt::noErrorState, [&] { ev::backend().advanceTicks(ticks); });
}
UInt32 VTAutomationTicks() {
  return vt::apiCall(vt::noErrorState, UInt32{}, [&]() -> UInt32 { return ev::ticks(); });
}

std::vector<VTWindowInfo> VTAutomationListWindows() {
  return vt::apiCall(
      vt::noErrorState, std::vector<VTWindowInfo>{}, [&]() -> std::vector<VTWindowInfo> {
        std::vector<VTWindowInfo> out;
        for (VTWindow* w : windowsFrontToBack())
          out.push_back(VTWindowInfo{w, w->kind, toolboxToUtf8(w->title), structureRect(w),
                                     w->content, w->visible, w->hilited, w->refCon});
        return out;
      });
}

bool VTAutomationSnapshot(const std::string& pngPath) {
  return vt::apiCall(vt::noErrorState, false,
                     [&]() -> bool { return vt::writePNG(composeScreen(), pngPath.c_str()); });
}

UInt32 VTAutomationScreenPixel(short h, short v) {
  return vt::apiCall(vt::noErrorState, UInt32{}, [&]() -> UInt32 {
    const vt::Image& img = composeScreen();
    if (h < 0 || v < 0 || h >= img.width || v >= img.height) return 0;
    return img.at(h, v);
  });
}

void VTAutomationSetModalHook(std::function<void()> hook) {
  vt::apiCall(vt::noErrorState, [&] { ev::setModalHook(std::move(hook)); });
}
long VTAutomationModalTurns() {
  return vt::apiCall(vt::noErrorState, long(0), [&]() -> long { return ev::modalTurns(); });
}

void VTAutomationReset() {
  vt::apiCall(vt::noErrorState, [&] {
    resetWindowServer();
    ev::resetQueue();
    if (ev::backend().isHeadless()) ev::setClipboardText({});  // never the user's own clipboard
  });
}

namespace {
const vt::ResetRegistration kReset(vt::ResetStage::Screen, VTAutomationReset);
}
