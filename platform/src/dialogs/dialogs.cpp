// Dialogs and their items: making them from resources, reading and changing items, drawing.
#include <Dialogs.h>
#include <MacMemory.h>
#include <Events.h>
#include <Resources.h>

#include <algorithm>
#include <utility>
#include <cstring>
#include <map>
#include <memory>

#include "core/boundary.h"
#include "core/pstring.h"
#include "core/reset.h"
#include "core/icon.h"
#include "dialogs/dialog_manager.h"
#include "resources/resource_manager.h"
#include "ui/text.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/painter.h"
#include "ui/window_server.h"

namespace vt::dialogs {
namespace {

constexpr uint32_t kDialogMagic = 0x444C4F47;  // 'DLOG'
constexpr int kTextSize = vt::ui::kControlTextSize;

namespace colour = vt::ui::colour;

struct State {
  std::map<VTDialog*, std::unique_ptr<VTDialog>> live;
  std::string params[4];
};

State& state() {
  static State s;
  return s;
}

Handle textHandle(const std::string& text) {
  Handle h = NewHandle((Size)text.size());
  if (h && !text.empty()) std::memcpy(*h, text.data(), text.size());
  return h;
}

std::string handleText(Handle h) {
  if (!h || !VTIsValidHandle(h) || !*h) return {};
  Size n = std::min<Size>(GetHandleSize(h), 255);
  return std::string(*h, (size_t)n);
}

bool isControl(SInt16 kind) { return kind >= ctrlItem && kind < ctrlItem + 4; }
bool hasText(SInt16 kind) { return isControl(kind) || kind == statText || kind == editText; }

Rect inset(Rect r, int d) {
  return Rect{(short)(r.top + d), (short)(r.left + d), (short)(r.bottom - d), (short)(r.right - d)};
}

vt::ui::Button::Kind buttonKind(SInt16 kind) {
  switch (kind) {
    case ctrlItem + chkCtrl: return vt::ui::Button::checkBox;
    case ctrlItem + radCtrl: return vt::ui::Button::radio;
    case ctrlItem + btnCtrl: return vt::ui::Button::push;
    default: return vt::ui::Button::checkBox;  // resource controls show as check boxes
  }
}

// Icon 128 is the application's own, as its icon family is numbered on the original platform.
constexpr SInt16 kAppIconID = 128;

// The application's icon at w x h, composed on the dialog's white.
vt::Image appIconOnWhite(int w, int h) {
  vt::Image icon = vt::appIcon(std::max(1, std::min(w, h)));
  vt::Image out(w, h, colour::white);
  const int x0 = (w - icon.width) / 2, y0 = (h - icon.height) / 2;
  for (int y = 0; y < icon.height; ++y)
    for (int x = 0; x < icon.width; ++x) {
      Pixel c = icon.at(x, y);
      auto mix = [a = vt::pixelA(c)](uint8_t v) {
        return (uint8_t)((v * a + 255 * (255 - a)) / 255);
      };
      out.at(x0 + x, y0 + y) =
          vt::makePixel(mix(vt::pixelR(c)), mix(vt::pixelG(c)), mix(vt::pixelB(c)));
    }
  return out;
}

void drawAlertIcon(vt::ui::Painter& p, SInt16 type) {
  if (type < 0 || type > 2) return;
  Rect r{10, 20, 42, 52};
  static const Pixel colours[3] = {makePixel(0xC8, 0x28, 0x28), makePixel(0x28, 0x60, 0xC0),
                                   makePixel(0xF0, 0xC0, 0x20)};
  p.fill(r, colours[type]);
  p.frame(r, colour::black);
  const char* glyph = type == 1 ? "i" : "!";
  int w = p.textWidth(glyph, 22, true);
  p.text((r.left + r.right) / 2 - w / 2, r.top + 25, glyph, 22,
         type == 2 ? colour::black : colour::white, true);
}

}  // namespace

VTDialog* validDialog(DialogRef d) {
  if (!d) return nullptr;
  auto& live = state().live;
  auto it = live.find(d);
  return it != live.end() && d->magic == kDialogMagic && vt::ui::isLiveWindow(d->window) ? d
                                                                                         : nullptr;
}

VTDialog* dialogOfWindow(WindowRef w) {
  if (!w) return nullptr;
  for (auto& [p, owned] : state().live)
    if (p->window == w && validDialog(p)) return p;
  return nullptr;
}

VTDialog* frontDialog() {
  for (VTWindow* w : vt::ui::windowsFrontToBack())
    if (w->visible)
      if (VTDialog* d = dialogOfWindow(w)) return d;
  return nullptr;
}

std::vector<VTDialog*> allDialogs() {
  std::vector<VTDialog*> out;
  for (auto& [p, owned] : state().live) out.push_back(p);
  return out;
}

VTDialog* makeDialog(const vt::resources::DialogRes& res, WindowRef behind) {
  // Keep the dialog on the screen whatever size the screen has.
  Rect b = res.bounds;
  Rect desk = vt::ui::desktopBounds();
  int w = b.right - b.left, h = b.bottom - b.top;
  int top = std::clamp<int>(b.top, desk.top + vt::ui::kTitleBarHeight,
                            std::max<int>(desk.top + vt::ui::kTitleBarHeight, desk.bottom - h));
  int left = std::clamp<int>(b.left, desk.left, std::max<int>(desk.left, desk.right - w));
  Rect bounds{(short)top, (short)left, (short)(top + h), (short)(left + w)};
  Str255 title;
  vt::toPascal(res.title, title);
  WindowRef win = NewCWindow(nullptr, &bounds, title, false, res.procID, behind, res.goAway, 0);
  if (!win) return nullptr;
  SetWindowKind(win, kDialogWindowKind);
  auto d = std::make_unique<VTDialog>();
  d->window = win;
  d->defaultItem = res.defaultItem;
  d->cancelItem = res.cancelItem;
  d->alertType = res.alertType;
  d->magic = kDialogMagic;
  for (const auto& r : res.items) {
    VTDialog::Item item;
    item.kind = r.kind;
    item.enabled = r.enabled;
    item.rect = r.rect;
    item.resID = r.resID;
    if (hasText(r.kind)) {
      item.ownText = textHandle(r.text);
      item.handle = item.ownText;
    }
    if (r.kind == editText) {
      if (d->focus == 0) d->focus = (SInt16)(d->items.size() + 1);
      item.field = std::make_unique<vt::ui::TextField>();
      // The handle holds at most 255 bytes of UTF-8 (what GetDialogItemText can return).
      item.field->setMaxBytes(255);
      item.field->setText(vt::ui::toolboxToUtf8(r.text));
    }
    d->items.push_back(std::move(item));
  }
  vt::ui::addFieldFinder(focusedEditField);
  VTDialog* p = d.get();
  state().live[p] = std::move(d);
  drawAll(p);
  if (res.visible) ShowWindow(win);
  return p;
}

vt::ui::TextField* editField(VTDialog* d, int index) {
  if (!d || index < 1 || index > (int)d->items.size()) return nullptr;
  VTDialog::Item& it = d->items[(size_t)index - 1];
  if (it.kind != editText) return nullptr;
  if (!it.field) {
    it.field = std::make_unique<vt::ui::TextField>();
    it.field->setMaxBytes(255);
  }
  // Text the application put into the handle wins; the field's own text stays while the handle
  // still holds it.
  std::string held = handleText(it.handle);
  if (vt::ui::utf8ToToolbox(it.field->text()) != held)
    it.field->setText(vt::ui::toolboxToUtf8(held));
  return it.field.get();
}

bool focusedEditField(WindowRef w, vt::ui::FocusedField& out) {
  VTDialog* d = dialogOfWindow(w);
  if (!d || !itemUsable(d, d->focus)) return false;
  out.field = editField(d, d->focus);
  out.box = fieldBox(d->items[(size_t)d->focus - 1].rect);
  return out.field != nullptr;
}

Rect fieldBox(const Rect& item) { return inset(item, -3); }

std::string itemText(const VTDialog* d, int index) {
  if (!d || index < 1 || index > (int)d->items.size()) return {};
  const VTDialog::Item& it = d->items[(size_t)index - 1];
  return hasText(it.kind) ? handleText(it.handle) : std::string();
}

std::string substitute(const std::string& text) {
  // One pass: a replacement that itself holds ^0 is shown as it is, never expanded again.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '^' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
      out += state().params[text[i + 1] - '0'];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string shownText(const VTDialog* d, int index) {
  std::string t = itemText(d, index);
  if (d && index >= 1 && index <= (int)d->items.size() &&
      d->items[(size_t)index - 1].kind == statText)
    return substitute(t);
  return t;
}

std::string paramText(int index) {
  return index >= 0 && index < 4 ? state().params[index] : std::string();
}

bool itemUsable(const VTDialog* d, int index) {
  if (!d || index < 1 || index > (int)d->items.size()) return false;
  const VTDialog::Item& it = d->items[(size_t)index - 1];
  return it.enabled && it.visible;
}

int itemAt(const VTDialog* d, Point p) {
  if (!d) return 0;
  for (int i = 1; i <= (int)d->items.size(); ++i) {
    const Rect& r = d->items[(size_t)i - 1].rect;
    if (itemUsable(d, i) && p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right)
      return i;
  }
  return 0;
}

Rect globalRect(const VTDialog* d, const Rect& r) {
  const Rect& c = d->window->content;
  return Rect{(short)(r.top + c.top), (short)(r.left + c.left), (short)(r.bottom + c.top),
              (short)(r.right + c.left)};
}

void drawItem(VTDialog* d, int index) {
  if (!validDialog(d) || index < 1 || index > (int)d->items.size()) return;
  VTDialog::Item& it = d->items[(size_t)index - 1];
  vt::ui::PortPainter p(&d->window->port);
  Rect r = it.rect;
  if (index == d->defaultItem && isControl(it.kind)) p.fill(inset(r, -4), colour::white);
  // A user item is its procedure's to draw, erasing included (it may share its place).
  if (it.kind != userItem) p.fill(r, colour::white);
  if (!it.visible) return;
  std::string text = vt::ui::toolboxToUtf8(shownText(d, index));
  if (isControl(it.kind)) {
    vt::ui::Button b;
    b.kind = buttonKind(it.kind);
    b.rect = r;
    b.label = text;
    b.enabled = it.enabled;
    b.isDefault = index == d->defaultItem;
    b.pressed = d->pressed == index;
    b.draw(p, colour::white);
    return;
  }
  switch (it.kind) {
    case statText: {
      auto metrics = vt::ui::fontMetrics(kTextSize, false);
      int y = r.top + metrics.ascent;
      int lineHeight = std::max(metrics.ascent + metrics.descent + metrics.leading, 1);
      for (const std::string& line : vt::ui::wrapText(p, text, r.right - r.left, kTextSize)) {
        if (y - metrics.ascent >= r.bottom) break;
        p.text(r.left, y, line, kTextSize, colour::black);
        y += lineHeight;
      }
      break;
    }
    case editText:
      if (vt::ui::TextField* f = editField(d, index))
        f->draw(p, fieldBox(r), d->focus == index, it.enabled);
      break;
    case userItem:
      if (it.handle) {
        // A user item's handle is its drawing procedure; it draws into the dialog's port.
        GrafPtr saved;
        GetPort(&saved);
        SetPort(GetWindowPort(d->window));
        auto proc = reinterpret_cast<UserItemUPP>(reinterpret_cast<void*>(it.handle));
        proc(d, (DialogItemIndex)index);
        if (vt::ui::isLivePort(saved)) SetPort(saved);
      }
      break;
    case iconItem:
      if (it.resID == kAppIconID) {
        p.image(r, appIconOnWhite(r.right - r.left, r.bottom - r.top));
        break;
      }
      p.frame(r, colour::border);
      break;
    case picItem: p.frame(r, colour::border); break;
    default: break;
  }
}

void drawAll(VTDialog* d) {
  if (!validDialog(d)) return;
  vt::ui::PortPainter p(&d->window->port);
  p.fill(d->window->port.portRect, colour::white);
  drawAlertIcon(p, d->alertType);
  for (int i = 1; i <= (int)d->items.size() && validDialog(d); ++i) drawItem(d, i);
}

void resetDialogs() {
  while (!state().live.empty()) DisposeDialog(state().live.begin()->first);
  for (auto& p : state().params) p.clear();
}
const ResetRegistration kReset(ResetStage::Dialogs, resetDialogs);

}  // namespace vt::dialogs

using namespace vt::dialogs;

namespace {

// A call on a live dialog; a dead one gives the fallback.
constexpr auto withDialog = [](auto&&... args) noexcept {
  return vt::apiOnLive(validDialog, std::forward<decltype(args)>(args)...);
};

}  // namespace

ModalFilterUPP NewModalFilterUPP(ModalFilterProcPtr userRoutine) { return userRoutine; }
// Deliberately does nothing: the callback reference is the procedure itself.
void DisposeModalFilterUPP(ModalFilterUPP) {}
Boolean InvokeModalFilterUPP(DialogRef theDialog, EventRecord* theEvent, DialogItemIndex* itemHit,
                             ModalFilterUPP userUPP) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    return userUPP ? userUPP(theDialog, theEvent, itemHit) : false;
  });
}
UserItemUPP NewUserItemUPP(UserItemProcPtr userRoutine) { return userRoutine; }
// Deliberately does nothing, as above.
void DisposeUserItemUPP(UserItemUPP) {}
void InvokeUserItemUPP(DialogRef theDialog, DialogItemIndex itemNo, UserItemUPP userUPP) {
  vt::apiCall(vt::noErrorState, [&] {
    if (userUPP) userUPP(theDialog, itemNo);
  });
}

DialogRef GetNewDialog(short dialogID, void*, WindowRef behind) {
  return vt::apiCall<DialogRef>(vt::noErrorState, {}, [&]() -> DialogRef {
    // The storage argument is not used: dialog records are the manager's own objects.
    auto res = vt::resources::findDialog(dialogID);
    if (!res) return nullptr;
    return makeDialog(*res, behind);
  });
}

void DisposeDialog(DialogRef theDialog) {
  vt::apiCall(vt::noErrorState, [&] {
    auto& live = state().live;
    auto found = live.find(theDialog);
    if (found == live.end()) return;
    VTDialog* d = found->first;
    if (vt::ui::isLiveWindow(d->window)) DisposeWindow(d->window);
    for (auto& it : d->items)
      if (it.ownText && VTIsValidHandle(it.ownText)) DisposeHandle(it.ownText);
    d->magic = 0;
    live.erase(found);
  });
}

WindowRef GetDialogWindow(DialogRef dialog) {
  return withDialog(dialog, WindowRef{nullptr}, [&](VTDialog& d) -> WindowRef { return d.window; });
}

CGrafPtr GetDialogPort(DialogRef dialog) {
  return withDialog(dialog, CGrafPtr{nullptr},
                    [&](VTDialog& d) -> CGrafPtr { return GetWindowPort(d.window); });
}

void SetPortDialogPort(DialogRef dialog) {
  vt::apiCall(vt::noErrorState, [&] {
    if (CGrafPtr port = GetDialogPort(dialog)) SetPort(port);
  });
}

DialogRef GetDialogFromWindow(WindowRef window) {
  return vt::apiCall<DialogRef>(vt::noErrorState, {},
                                [&]() -> DialogRef { return dialogOfWindow(window); });
}

void SetDialogDefaultItem(DialogRef theDialog, DialogItemIndex newItem) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (!d || newItem < 0 || newItem > (int)d->items.size()) return;
    SInt16 old = d->defaultItem;
    d->defaultItem = newItem;
    if (old >= 1 && old != newItem)  // take the outline away from the old default
      vt::ui::fillRect(&d->window->port, inset(d->items[(size_t)old - 1].rect, -4), colour::white);
    drawItem(d, old);
    drawItem(d, newItem);
  });
}

void SetDialogCancelItem(DialogRef theDialog, DialogItemIndex newItem) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (d && newItem >= 0 && newItem <= (int)d->items.size()) d->cancelItem = newItem;
  });
}

DialogItemIndex GetDialogDefaultItem(DialogRef theDialog) {
  return withDialog(theDialog, DialogItemIndex{0},
                    [&](VTDialog& d) -> DialogItemIndex { return d.defaultItem; });
}

DialogItemIndex GetDialogCancelItem(DialogRef theDialog) {
  return withDialog(theDialog, DialogItemIndex{0},
                    [&](VTDialog& d) -> DialogItemIndex { return d.cancelItem; });
}

DialogItemIndex CountDITL(DialogRef theDialog) {
  return withDialog(theDialog, DialogItemIndex{0}, [&](VTDialog& d) -> DialogItemIndex {
    return (DialogItemIndex)d.items.size();
  });
}

void GetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType* itemType,
                   Handle* item, Rect* box) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (!d || itemNo < 1 || itemNo > (int)d->items.size()) {
      if (itemType) *itemType = 0;
      if (item) *item = nullptr;
      if (box) *box = Rect{0, 0, 0, 0};
      return;
    }
    const VTDialog::Item& it = d->items[(size_t)itemNo - 1];
    if (itemType) *itemType = (DialogItemType)(it.kind | (it.enabled ? 0 : itemDisable));
    if (item) *item = it.handle;
    if (box) *box = it.rect;
  });
}

void SetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType itemType,
                   Handle item, const Rect* box) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (!d || itemNo < 1 || itemNo > (int)d->items.size()) return;
    VTDialog::Item& it = d->items[(size_t)itemNo - 1];
    Rect old = it.rect;
    it.kind = (SInt16)(itemType & ~itemDisable);
    it.enabled = !(itemType & itemDisable);
    it.handle = item;  // our own text handle, if replaced, is still freed with the dialog
    if (box) it.rect = *box;
    if (old.top != it.rect.top || old.left != it.rect.left || old.bottom != it.rect.bottom ||
        old.right != it.rect.right)
      vt::ui::fillRect(&d->window->port, it.kind == editText ? fieldBox(old) : old, colour::white);
    drawItem(d, itemNo);
  });
}

void GetDialogItemText(Handle item, Str255 text) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!text) return;
    vt::toPascal(handleText(item), text);
  });
}

void SetDialogItemText(Handle item, ConstStr255Param text) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!item || !VTIsValidHandle(item)) return;
    Size n = text ? text[0] : 0;
    SetHandleSize(item, n);
    if (GetHandleSize(item) != n) return;
    if (n) std::memcpy(*item, text + 1, (size_t)n);
    for (VTDialog* d : allDialogs())
      for (int i = 1; i <= (int)d->items.size(); ++i)
        if (d->items[(size_t)i - 1].handle == item) drawItem(d, i);
  });
}

void HideDialogItem(DialogRef theDialog, DialogItemIndex itemNo) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (!d || itemNo < 1 || itemNo > (int)d->items.size()) return;
    d->items[(size_t)itemNo - 1].visible = false;
    drawItem(d, itemNo);
  });
}

void ShowDialogItem(DialogRef theDialog, DialogItemIndex itemNo) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    if (!d || itemNo < 1 || itemNo > (int)d->items.size()) return;
    d->items[(size_t)itemNo - 1].visible = true;
    drawItem(d, itemNo);
  });
}

void SelectDialogItemText(DialogRef theDialog, DialogItemIndex itemNo, SInt16 strtSel,
                          SInt16 endSel) {
  vt::apiCall(vt::noErrorState, [&] {
    VTDialog* d = validDialog(theDialog);
    vt::ui::TextField* f = editField(d, itemNo);
    if (!f) return;
    // The range counts bytes of the item's (UTF-8) text; the field moves a limit that falls
    // inside a character back to its start.
    auto offset = [&](SInt16 bytes) { return std::min<size_t>((size_t)bytes, f->text().size()); };
    f->select(offset(std::max<SInt16>(strtSel, 0)), offset(std::max<SInt16>(endSel, 0)));
    SInt16 old = d->focus;
    d->focus = itemNo;
    drawItem(d, old);
    drawItem(d, itemNo);
  });
}

DialogItemIndexZeroBased FindDialogItem(DialogRef theDialog, Point thePt) {
  return vt::apiCall<DialogItemIndexZeroBased>(
      vt::noErrorState, {}, [&]() -> DialogItemIndexZeroBased {
        return (DialogItemIndexZeroBased)(itemAt(validDialog(theDialog), thePt) - 1);
      });
}

void DrawDialog(DialogRef theDialog) {
  vt::apiCall(vt::noErrorState, [&] { drawAll(validDialog(theDialog)); });
}

void UpdateDialog(DialogRef theDialog, RgnHandle) {
  vt::apiCall(vt::noErrorState, [&] { drawAll(validDialog(theDialog)); });
}

void ParamText(ConstStr255Param param0, ConstStr255Param param1, ConstStr255Param param2,
               ConstStr255Param param3) {
  vt::apiCall(vt::noErrorState, [&] {
    ConstStr255Param p[4] = {param0, param1, param2, param3};
    for (int i = 0; i < 4; ++i)
      state().params[i] = p[i] ? std::string((const char*)p[i] + 1, p[i][0]) : std::string();
  });
}
