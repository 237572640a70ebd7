// Running dialogs: the modal loop, the standard filter, modeless dispatch and alerts.
#include <Dialogs.h>
#include <MacWindows.h>
#include <Menus.h>
#include <Resources.h>

#include "dialogs/dialog_manager.h"
#include "events/event_queue.h"
#include "resources/resource_manager.h"
#include "ui/window_server.h"

#include <MacErrors.h>

#include <cstring>

namespace vt::dialogs {
namespace {

Point toLocal(const VTDialog* d, Point global) {
  return Point{(short)(global.v - d->window->content.top), (short)(global.h - d->window->content.left)};
}

bool inside(const Rect& r, Point p) {
  return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right;
}

// Follows the mouse after a press on a control until release; true when released inside.
bool trackControl(VTDialog* d, int index) {
  Rect r = d->items[(size_t)index - 1].rect;
  d->pressed = (SInt16)index;
  drawItem(d, index);
  Point where;
  bool in = true;
  for (;;) {
    bool down = vt::events::trackMouse(where);
    if (!validDialog(d)) return false;
    in = inside(r, toLocal(d, where));
    SInt16 shown = in ? (SInt16)index : 0;
    if (shown != d->pressed) {
      d->pressed = shown;
      drawItem(d, index);
    }
    if (!down) break;
  }
  d->pressed = 0;
  drawItem(d, index);
  return in;
}

void setFocus(VTDialog* d, int index) {
  int old = d->focus;
  d->focus = (SInt16)index;
  drawItem(d, old);
  drawItem(d, index);
}

// Typing into the edit text item with the focus; true when the key went there.
bool editKey(VTDialog* d, unsigned char c) {
  if (d->focus < 1 || d->focus > (int)d->items.size()) return false;
  VTDialog::Item& it = d->items[(size_t)d->focus - 1];
  if (c == kTabCharCode) {
    int n = (int)d->items.size();
    for (int k = 1; k <= n; ++k) {
      int next = (d->focus - 1 + k) % n + 1;
      if (d->items[(size_t)next - 1].kind == editText && d->items[(size_t)next - 1].visible) {
        setFocus(d, next);
        break;
      }
    }
    return true;
  }
  std::string text = itemText(d, d->focus);
  if (c == kBackspaceCharCode || c == kDeleteCharCode) {
    if (!text.empty()) text.pop_back();
  } else if (c >= 0x20) {
    if (text.size() >= 255) {
      SysBeep(1);
      return true;
    }
    text += (char)c;
  } else {
    return false;  // Return, Enter, Escape and arrows are not text
  }
  Str255 p;
  p[0] = (unsigned char)text.size();
  std::memcpy(p + 1, text.data(), text.size());
  SetDialogItemText(it.handle, p);
  return true;
}

// What a dialog does with an event nobody else took. True with *itemHit when an item was hit.
bool standardHandle(VTDialog* d, const EventRecord& e, DialogItemIndex* itemHit, bool modal) {
  switch (e.what) {
    case updateEvt: {
      WindowRef w = (WindowRef)e.message;
      if (!vt::ui::isLiveWindow(w)) return false;
      BeginUpdate(w);
      if (VTDialog* other = dialogOfWindow(w)) drawAll(other);
      // Another window's update that the filter did not take is cleared all the same: its
      // backing store still holds its picture, and an update left pending would come back on
      // every turn and starve the dialog of null events.
      EndUpdate(w);
      return false;
    }
    case activateEvt:
      if ((WindowRef)e.message == d->window) drawAll(d);
      return false;
    case mouseDown: {
      WindowRef w = nullptr;
      WindowPartCode part = FindWindow(e.where, &w);
      if (w != d->window) {
        if (modal) SysBeep(1);  // nothing outside a modal dialog answers
        return false;
      }
      if (part == inDrag) {
        DragWindow(w, e.where, nullptr);
        return false;
      }
      if (part != inContent) return false;
      int index = itemAt(d, toLocal(d, e.where));
      if (index == 0) return false;
      SInt16 kind = d->items[(size_t)index - 1].kind;
      if (kind >= ctrlItem && kind < ctrlItem + 4) {
        if (!trackControl(d, index)) return false;
      } else if (kind == editText) {
        setFocus(d, index);
      }
      *itemHit = (DialogItemIndex)index;
      return true;
    }
    case keyDown:
    case autoKey: {
      if (e.modifiers & cmdKey) return false;
      if (!editKey(d, (unsigned char)(e.message & charCodeMask))) return false;
      if (!itemUsable(d, d->focus)) return false;
      *itemHit = d->focus;
      return true;
    }
    default:
      return false;
  }
}

DialogItemIndex runAlert(SInt16 alertID, ModalFilterUPP filter, SInt16 icon) {
  auto res = vt::resources::findAlert(alertID);
  if (!res) return -1;
  if (icon >= 0) res->alertType = icon;
  VTDialog* d = makeDialog(*res, (WindowRef)-1);
  if (!d) return -1;
  GrafPtr saved;
  GetPort(&saved);
  SetPortDialogPort(d);
  DialogItemIndex item = 0;
  int count = (int)d->items.size();
  while (validDialog(d)) {
    item = 0;
    ModalDialog(filter, &item);
    if (item >= 1 && item <= count) break;
  }
  if (!validDialog(d)) item = -1;  // taken down by someone else: nothing was chosen
  DisposeDialog(d);
  if (vt::ui::isLivePort(saved)) SetPort(saved);
  return item;
}

}  // namespace
}  // namespace vt::dialogs

using namespace vt::dialogs;

void ModalDialog(ModalFilterUPP filterProc, DialogItemIndex* itemHit) {
  DialogItemIndex scratch = 0;
  if (!itemHit) itemHit = &scratch;
  VTDialog* d = frontDialog();
  if (!d) {
    *itemHit = -1;  // no dialog to run
    return;
  }
  ModalFilterUPP filter = filterProc ? filterProc : StdFilterProc;
  // Apple events stay queued for the application's own loop.
  const EventMask mask = everyEvent & ~highLevelEventMask;
  for (;;) {
    vt::events::callModalHook();
    if (!validDialog(d)) {
      *itemHit = -1;
      return;
    }
    EventRecord e;
    vt::events::waitNextEvent(mask, e, 0, nullptr);
    if (filter(d, &e, itemHit)) return;
    if (!validDialog(d)) {
      *itemHit = -1;
      return;
    }
    DialogItemIndex hit = 0;
    if (standardHandle(d, e, &hit, true)) {
      *itemHit = hit;
      return;
    }
  }
}

Boolean StdFilterProc(DialogRef theDialog, EventRecord* event, DialogItemIndex* itemHit) {
  VTDialog* d = validDialog(theDialog);
  if (!d || !event || (event->what != keyDown && event->what != autoKey)) return false;
  unsigned char c = (unsigned char)(event->message & charCodeMask);
  DialogItemIndex chosen = 0;
  if (c == kReturnCharCode || c == kEnterCharCode)
    chosen = d->defaultItem;
  else if (c == kEscapeCharCode || ((event->modifiers & cmdKey) && c == '.'))
    chosen = d->cancelItem;
  // A key never chooses a disabled or hidden button.
  if (chosen < 1 || !itemUsable(d, chosen)) return false;
  if (itemHit) *itemHit = chosen;
  return true;
}

OSErr GetStdFilterProc(ModalFilterUPP* theProc) {
  if (!theProc) return paramErr;
  *theProc = StdFilterProc;
  return noErr;
}

Boolean IsDialogEvent(const EventRecord* theEvent) {
  if (!theEvent) return false;
  switch (theEvent->what) {
    case updateEvt:
    case activateEvt:
      return dialogOfWindow((WindowRef)theEvent->message) != nullptr;
    case mouseDown: {
      WindowRef w = nullptr;
      FindWindow(theEvent->where, &w);
      return dialogOfWindow(w) != nullptr;
    }
    case keyDown:
    case autoKey:
    case nullEvent:
      return dialogOfWindow(FrontWindow()) != nullptr;
    default:
      return false;
  }
}

Boolean DialogSelect(const EventRecord* theEvent, DialogRef* theDialog, DialogItemIndex* itemHit) {
  if (!theEvent || !IsDialogEvent(theEvent)) return false;
  VTDialog* d = nullptr;
  switch (theEvent->what) {
    case updateEvt:
    case activateEvt:
      d = dialogOfWindow((WindowRef)theEvent->message);
      break;
    case mouseDown: {
      WindowRef w = nullptr;
      FindWindow(theEvent->where, &w);
      d = dialogOfWindow(w);
      break;
    }
    default:
      d = dialogOfWindow(FrontWindow());
      break;
  }
  if (!d) return false;
  if (theDialog) *theDialog = d;
  DialogItemIndex hit = 0;
  if (!standardHandle(d, *theEvent, &hit, false)) return false;
  if (itemHit) *itemHit = hit;
  return true;
}

DialogItemIndex Alert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return runAlert(alertID, modalFilter, -1);
}
DialogItemIndex StopAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return runAlert(alertID, modalFilter, kAlertStopAlert);
}
DialogItemIndex NoteAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return runAlert(alertID, modalFilter, kAlertNoteAlert);
}
DialogItemIndex CautionAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return runAlert(alertID, modalFilter, kAlertCautionAlert);
}
