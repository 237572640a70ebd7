// Running dialogs: the modal loop, the standard filter, modeless dispatch and alerts.
#include <Dialogs.h>
#include <VTAutomationUI.h>
#include <MacMemory.h>
#include <MacWindows.h>
#include <Events.h>
#include <Resources.h>

#include "core/boundary.h"
#include "core/reset.h"
#include "dialogs/dialog_manager.h"
#include "core/macroman.h"
#include "resources/resource_manager.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

#include <MacErrors.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vt::dialogs {
namespace {

// Follows the mouse after a press on a control until release; true when released inside.
bool trackControl(VTDialog* d, int index) {
  Rect r = d->items[(size_t)index - 1].rect;
  bool inside = vt::ui::trackPress(d->window, r, [&](bool on) {
    d->pressed = on ? (SInt16)index : 0;
    drawItem(d, index);
  });
  return inside && validDialog(d);
}

void setFocus(VTDialog* d, int index) {
  int old = d->focus;
  d->focus = (SInt16)index;
  drawItem(d, old);
  drawItem(d, index);
}

// The edited text goes into the item's handle, where GetDialogItemText reads it.
void storeFieldText(VTDialog* d, int index) {
  VTDialog::Item& it = d->items[(size_t)index - 1];
  if (!it.field || !it.handle || !VTIsValidHandle(it.handle)) return;
  std::string text = vt::ui::utf8ToToolbox(it.field->text());
  SetHandleSize(it.handle, (Size)text.size());
  if (GetHandleSize(it.handle) != (Size)text.size()) return;
  if (!text.empty()) std::memcpy(*it.handle, text.data(), text.size());
}

// A press in an edit text item: focus, caret or selection, then a drag that selects.
void pressField(VTDialog* d, int index, const EventRecord& e) {
  if (d->focus != index) setFocus(d, index);
  vt::ui::TextField* f = editField(d, index);
  if (!f) return;
  Rect box = fieldBox(d->items[(size_t)index - 1].rect);
  Point local = vt::ui::localPoint(d->window, e.where);
  f->press(local.h - box.left, e.when, (e.modifiers & shiftKey) != 0);
  drawItem(d, index);
  vt::ui::trackDrag(d->window, [&](Point p) {
    if (!validDialog(d) || !editField(d, index)) return;
    f->dragTo(p.h - box.left);
    drawItem(d, index);
  });
}

// A key for the edit text item with the focus; true when the key went there.
bool editKey(VTDialog* d, const EventRecord& e) {
  if (d->focus < 1 || d->focus > (int)d->items.size()) return false;
  vt::ui::KeyPress k = vt::ui::KeyPress::from(e);
  if (k.code == kTabCharCode && !k.command) {
    vt::ui::FocusChain chain;
    std::vector<int> fields;
    for (int i = 1; i <= (int)d->items.size(); ++i)
      if (d->items[(size_t)i - 1].kind == editText && d->items[(size_t)i - 1].visible)
        fields.push_back(i);
    chain.setOrder(fields);
    chain.focus(d->focus);
    int next = chain.advance(k.shift);
    if (next > 0 && next != d->focus) setFocus(d, next);
    if (vt::ui::TextField* f = editField(d, next)) {
      f->selectAll();  // a field reached by Tab has its whole text selected
      drawItem(d, next);
    }
    return true;
  }
  vt::ui::TextField* f = editField(d, d->focus);
  if (!f) return false;
  vt::ui::TextField::Result r = f->key(k);
  if (r == vt::ui::TextField::Result::ignored) return false;  // Return, Escape, menu keys
  if (r == vt::ui::TextField::Result::refused) SysBeep(1);
  storeFieldText(d, d->focus);
  drawItem(d, d->focus);
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
      Point local{};
      vt::ui::DialogClick part = vt::ui::dialogClick(d->window, e, &local);
      if (part == vt::ui::DialogClick::outside && modal) SysBeep(1);  // nothing else answers
      if (part != vt::ui::DialogClick::content) return false;
      int index = itemAt(d, local);
      if (index == 0) return false;
      SInt16 kind = d->items[(size_t)index - 1].kind;
      if (kind >= ctrlItem && kind < ctrlItem + 4) {
        if (!trackControl(d, index)) return false;
      } else if (kind == editText) {
        pressField(d, index, e);
        if (!validDialog(d)) return false;
      }
      *itemHit = (DialogItemIndex)index;
      return true;
    }
    case keyDown:
    case autoKey: {
      if (!editKey(d, e)) return false;
      if (!itemUsable(d, d->focus)) return false;
      *itemHit = d->focus;
      return true;
    }
    default: return false;
  }
}

std::function<void(const std::string&)>& alertSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
const vt::ResetRegistration kResetSink(vt::ResetStage::Dialogs, [] { alertSink() = nullptr; });

DialogItemIndex runAlert(SInt16 alertID, ModalFilterUPP filter, SInt16 icon) {
  auto res = vt::resources::findAlert(alertID);
  if (!res) return -1;
  if (icon >= 0) res->alertType = icon;
  VTDialog* d = makeDialog(*res, (WindowRef)-1);
  if (!d) return -1;
  if (const auto& sink = alertSink()) {
    // Nobody can answer: say what it says and take its default button.
    std::string line;
    for (int i = 1; i <= (int)d->items.size(); ++i) {
      if (d->items[(size_t)i - 1].kind != statText) continue;
      std::string t = vt::toolboxToUtf8(shownText(d, i));
      for (char& c : t)
        if (c == '\n' || c == '\r') c = ' ';
      if (t.empty()) continue;
      if (!line.empty()) line += ' ';
      line += t;
    }
    DialogItemIndex item = d->defaultItem > 0 ? d->defaultItem : 1;
    DisposeDialog(d);
    sink(line);
    return item;
  }
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
  vt::apiCall(vt::noErrorState, [&] {
    DialogItemIndex scratch = 0;
    if (!itemHit) itemHit = &scratch;
    VTDialog* d = frontDialog();
    if (!d) {
      *itemHit = -1;  // no dialog to run
      return;
    }
    ModalFilterUPP filter = filterProc ? filterProc : StdFilterProc;
    for (;;) {
      vt::ui::beginModalTurn();
      if (!validDialog(d)) {
        *itemHit = -1;
        return;
      }
      EventRecord e;
      vt::ui::nextModalEvent(e);
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
  });
}

Boolean StdFilterProc(DialogRef theDialog, EventRecord* event, DialogItemIndex* itemHit) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
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
  });
}

OSErr GetStdFilterProc(ModalFilterUPP* theProc) {
  return vt::apiStatus([&]() -> OSErr {
    if (!theProc) return paramErr;
    *theProc = StdFilterProc;
    return noErr;
  });
}

Boolean IsDialogEvent(const EventRecord* theEvent) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    if (!theEvent) return false;
    switch (theEvent->what) {
      case updateEvt:
      case activateEvt: return dialogOfWindow((WindowRef)theEvent->message) != nullptr;
      case mouseDown: {
        WindowRef w = nullptr;
        FindWindow(theEvent->where, &w);
        return dialogOfWindow(w) != nullptr;
      }
      case keyDown:
      case autoKey:
      case nullEvent: return dialogOfWindow(FrontWindow()) != nullptr;
      default: return false;
    }
  });
}

Boolean DialogSelect(const EventRecord* theEvent, DialogRef* theDialog, DialogItemIndex* itemHit) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    if (!theEvent || !IsDialogEvent(theEvent)) return false;
    VTDialog* d = nullptr;
    switch (theEvent->what) {
      case updateEvt:
      case activateEvt: d = dialogOfWindow((WindowRef)theEvent->message); break;
      case mouseDown: {
        WindowRef w = nullptr;
        FindWindow(theEvent->where, &w);
        d = dialogOfWindow(w);
        break;
      }
      default: d = dialogOfWindow(FrontWindow()); break;
    }
    if (!d) return false;
    if (theDialog) *theDialog = d;
    DialogItemIndex hit = 0;
    if (!standardHandle(d, *theEvent, &hit, false)) return false;
    if (itemHit) *itemHit = hit;
    return true;
  });
}

DialogItemIndex Alert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return vt::apiCall<DialogItemIndex>(vt::noErrorState, {}, [&]() -> DialogItemIndex {
    return runAlert(alertID, modalFilter, -1);
  });
}
DialogItemIndex StopAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return vt::apiCall<DialogItemIndex>(vt::noErrorState, {}, [&]() -> DialogItemIndex {
    return runAlert(alertID, modalFilter, kAlertStopAlert);
  });
}
DialogItemIndex NoteAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return vt::apiCall<DialogItemIndex>(vt::noErrorState, {}, [&]() -> DialogItemIndex {
    return runAlert(alertID, modalFilter, kAlertNoteAlert);
  });
}
DialogItemIndex CautionAlert(SInt16 alertID, ModalFilterUPP modalFilter) {
  return vt::apiCall<DialogItemIndex>(vt::noErrorState, {}, [&]() -> DialogItemIndex {
    return runAlert(alertID, modalFilter, kAlertCautionAlert);
  });
}

void VTAutomationAnswerAlertsWith(std::function<void(const std::string& line)> sink) {
  vt::apiCall(vt::noErrorState, [&] { alertSink() = std::move(sink); });
}
