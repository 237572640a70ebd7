#include "paramdialog/param_window.h"

#include <AppleEvents.h>
#include <ColorPicker.h>
#include <Events.h>
#include <MacMemory.h>
#include <Navigation.h>
#include <QTAtoms.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "codec/demux.h"
#include "codec/registry.h"
#include "core/pstring.h"
#include "core/reset.h"
#include "effects/render_api.h"
#include "events/event_queue.h"
#include "files/fsspec.h"
#include "paramdialog/param_layout.h"
#include "ui/text.h"
#include "ui/widgets/colour_picker.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::effects::ParamType;
using vt::ui::makeRect;
namespace colour = vt::ui::colour;

namespace {

// The image chooser's filter: folders, and files an image importer reads.
Boolean imagesOnly(AEDesc*, void* info, void*, NavFilterModes) {
  auto* i = static_cast<NavFileOrFolderInfo*>(info);
  if (!i || i->isFolder) return true;
  return vt::codec::isImageType(i->fileAndFolder.fileInfo.finderInfo.fdType);
}

// Automation finds the focused number field through this.
bool focusedParamField(WindowRef w, vt::ui::FocusedField& out);

}  // namespace

Dialog::Dialog(std::vector<EffectEntry> effects, QTAtomContainer target, DialogOptions options,
               bool modal)
    : model_(std::move(effects), options), target_(target), modal_(modal) {
  preview_ = Image(kPreviewW, kPreviewH);
  animStart_ = vt::events::ticks();
}

Dialog::~Dialog() {
  if (window_ && vt::ui::isLiveWindow(window_)) DisposeWindow(window_);
}

bool Dialog::open() {
  Rect desk = vt::ui::desktopBounds();
  maxHeight_ =
      std::max(kTop + kParamPitch + 60, (desk.bottom - desk.top) - vt::ui::kTitleBarHeight);
  int h = height();
  int left = desk.left + std::max(0, ((desk.right - desk.left) - kWidth) / 2);
  int top = desk.top + vt::ui::kTitleBarHeight +
            std::max(0, ((desk.bottom - desk.top) - h - vt::ui::kTitleBarHeight) / 3);
  Rect bounds = makeRect(left, top, left + kWidth, top + h);
  static const unsigned char title[] =
      "\x07"
      "Effects";
  window_ = NewCWindow(nullptr, &bounds, title, true, movableDBoxProc, (WindowRef)-1L, false, 0);
  if (!window_) return false;
  SetWindowKind(window_, kDialogWindowKind);
  SelectWindow(window_);
  vt::ui::addFieldFinder(focusedParamField);
  updateFocusOrder();
  syncFields();
  renderPreview();
  redraw();
  return true;
}

void Dialog::select(int index) {
  commitField();
  if (!model_.select(index)) return;
  // Keep the selection in view.
  int rows = (height() - kTop - 50) / kRow;
  if (index < listScroll_) listScroll_ = index;
  if (index >= listScroll_ + rows) listScroll_ = index - rows + 1;
  animStart_ = vt::events::ticks();
  paramScroll_ = 0;
  fields_.clear();
  fieldEdited_ = false;
  updateFocusOrder();
  changed();
}

bool Dialog::setParam(OSType code, int which, double value) {
  if (!model_.setParam(code, which, value)) return false;
  changed();
  return true;
}

bool Dialog::setParam(OSType code, int which, const std::array<double, 3>& value) {
  if (!model_.setParam(code, which, value)) return false;
  changed();
  return true;
}

bool Dialog::setText(OSType code, const std::string& text) {
  if (!model_.setText(code, text)) return false;
  changed();
  return true;
}

void Dialog::changed() {
  syncFields();
  if (!window_) return;
  renderPreview();
  redraw();
}

ui::TextField& Dialog::fieldFor(int param, int which) {
  auto [it, made] = fields_.try_emplace(ControlID{Hot::Field, param, which});
  if (made) {
    const bool text = model_.params()[(size_t)param].desc->type == ParamType::Text;
    it->second.setMaxChars(text ? 64 : 16);
    if (text)
      it->second.setFilter([](char32_t c) { return c >= 0x20; });
    else
      it->second.setFilter([](char32_t c) { return c < 0x80 || c == U'°'; });
  }
  return it->second;
}

void Dialog::syncFields() {
  Hot f{};
  bool editing = fieldEdited_ && focused(f) && f.kind == Hot::Field;
  const auto& params = model_.params();
  for (int i = 0; i < (int)params.size(); ++i) {
    if (params[(size_t)i].desc->type == ParamType::Text) {
      if (editing && f.index == i) continue;
      ui::TextField& field = fieldFor(i, 0);
      if (field.text() != params[(size_t)i].text) field.setText(params[(size_t)i].text);
      continue;
    }
    if (!isNumber(*params[(size_t)i].desc)) continue;
    for (int which = 0; which < (params[(size_t)i].tweened ? 2 : 1); ++which) {
      if (editing && f.index == i && f.which == which) continue;
      ui::TextField& field = fieldFor(i, which);
      std::string text = formatNumber(*params[(size_t)i].desc, model_.value(i, which)[0]);
      if (field.text() != text) field.setText(text);
    }
  }
}

void Dialog::updateFocusOrder() {
  std::vector<int> order{ControlID{}.encode()};
  for (const auto& hot : allControls()) switch (hot.kind) {
      case Hot::Field:
      case Hot::Popup:
      case Hot::Check:
      case Hot::Well:
      case Hot::ImageChoose:
      case Hot::TweenToggle: order.push_back(ControlID::of(hot).encode()); break;
      default: break;
    }
  focus_.setOrder(order);
}

bool Dialog::focused(Hot& out) const {
  int id = focus_.focused();
  if (id < 0) return false;
  const ControlID c = ControlID::decode(id);
  out.kind = c.kind;
  out.index = c.index;
  out.which = c.which;
  if (out.kind == Hot::ListRow) return true;
  for (const auto& hot : allControls())
    if (hot.kind == out.kind && hot.index == out.index && hot.which == out.which) {
      out.r = hot.r;
      return true;
    }
  return false;
}

std::string Dialog::fieldText(int param, int which) {
  if (param < 0 || param >= (int)model_.params().size() ||
      (!isNumber(*model_.params()[(size_t)param].desc) &&
       model_.params()[(size_t)param].desc->type != ParamType::Text))
    return {};
  return fieldFor(param, which).text();
}

ui::TextField* Dialog::focusedField(Rect* box) {
  Hot f{};
  if (!focused(f) || f.kind != Hot::Field) return nullptr;
  if (box) *box = f.r;
  return &fieldFor(f.index, f.which);
}

bool Dialog::commitField() {
  Hot f{};
  if (!fieldEdited_ || !focused(f) || f.kind != Hot::Field) return true;
  fieldEdited_ = false;
  ui::TextField& field = fieldFor(f.index, f.which);
  if (model_.params()[(size_t)f.index].desc->type == ParamType::Text) {
    model_.setText(f.index, field.text());
    changed();
    return true;
  }
  auto v = parseNumber(*model_.params()[(size_t)f.index].desc, field.text());
  if (!v) {
    SysBeep(1);  // refused: the last good value stays
    syncFields();
    redraw();
    return false;
  }
  std::array<double, 3> value = model_.value(f.index, f.which);
  value[0] = *v;
  model_.setValue(f.index, f.which, value);
  changed();
  return true;
}

void Dialog::setFocus(ControlID id) {
  if (id.encode() == focus_.focused()) return;
  commitField();
  focus_.focus(id.encode());
  revealFocus();
  Hot f{};
  if (focused(f) && f.kind == Hot::Field) fieldFor(f.index, f.which).selectAll();
  redraw();
}

void Dialog::slide(const Hot& hot, Point local) {
  const auto& d = *model_.params()[(size_t)hot.index].desc;
  vt::ui::Slider s;
  s.rect = hot.r;
  s.min = d.minValue;
  s.max = d.maxValue;
  std::array<double, 3> v = model_.value(hot.index, hot.which);
  v[0] = sliderValue(d, s.valueAt(local.h));
  model_.setValue(hot.index, hot.which, v);
  syncFields();
}

void Dialog::popup(const Hot& hot, bool mouseHeld) {
  const auto& d = *model_.params()[(size_t)hot.index].desc;
  std::vector<std::string> names;
  int current = 0;
  double now = model_.value(hot.index, hot.which)[0];
  for (const auto& item : d.enumValues) {
    if ((double)item.value == now) current = (int)names.size();
    names.push_back(item.name);
  }
  int chosen = vt::ui::runPopupMenu(window_, hot.r, names, current, mouseHeld);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (chosen >= 0) {
    std::array<double, 3> v = model_.value(hot.index, hot.which);
    v[0] = (double)d.enumValues[(size_t)chosen].value;
    model_.setValue(hot.index, hot.which, v);
  }
  changed();
}

void Dialog::pickColour(const Hot& hot) {
  const auto& v = model_.value(hot.index, hot.which);
  RGBColor in{(unsigned short)v[0], (unsigned short)v[1], (unsigned short)v[2]}, out{};
  std::string prompt = model_.params()[(size_t)hot.index].desc->name + ":";
  Str255 p;
  vt::toPascal(prompt, p);
  bool ok = GetColor(Point{-1, -1}, p, &in, &out);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (ok)
    model_.setValue(hot.index, hot.which, {(double)out.red, (double)out.green, (double)out.blue});
  changed();
}

void Dialog::chooseImage(int param) {
  NavDialogOptions options{};
  NavGetDefaultDialogOptions(&options);
  options.dialogOptionFlags &= ~kNavAllowMultipleFiles;
  std::string message = "Choose an image for " + model_.params()[(size_t)param].desc->name + ":";
  vt::toPascal(message, options.message);
  NavReplyRecord reply{};
  OSErr err = NavGetFile(nullptr, &reply, &options, nullptr, nullptr, imagesOnly, nullptr, nullptr);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (err == noErr && reply.validRecord) {
    FSSpec spec{};
    AEKeyword keyword = 0;
    DescType type = 0;
    Size size = 0;
    std::string path;
    vt::Result<Image> img = vt::Failure{};
    if (AEGetNthPtr(&reply.selection, 1, typeFSS, &keyword, &type, &spec, sizeof spec, &size) ==
            noErr &&
        vt::files::specToPath(spec, path) == noErr && (img = vt::codec::decodeStillImage(path)) &&
        !img->empty()) {
      model_.setImage(param, *img, path.substr(path.rfind('/') + 1));
    } else {
      SysBeep(1);  // not an image we can read after all
    }
    NavDisposeReply(&reply);
  }
  updateFocusOrder();
  changed();
}

Answer Dialog::click(Point local, const EventRecord& e) {
  if (overflows() && inRect(local, scrollBarRect())) return clickScrollBar(local);
  for (const auto& hot : layout()) {
    if (!inRect(local, hot.r)) continue;
    const ControlID id = ControlID::of(hot);
    switch (hot.kind) {
      case Hot::OK:
      case Hot::Cancel: {
        bool released = vt::ui::trackPress(window_, hot.r, [&](bool on) {
          pressedButton_ = on ? hot.kind : -1;
          redraw();
        });
        pressedButton_ = -1;
        if (!released) return Answer::Handled;
        if (hot.kind == Hot::Cancel) return Answer::Cancel;
        return commitField() ? Answer::Confirm : Answer::Handled;
      }
      case Hot::ListRow:
        setFocus(ControlID{});
        select(hot.index);
        return Answer::Handled;
      case Hot::Slider: {
        // Follows the mouse while the button is held; the preview catches up on release. The
        // keyboard then works the slider's field.
        setFocus(ControlID{Hot::Field, hot.index, hot.which});
        slide(hot, local);
        redraw();
        if (!vt::ui::trackDrag(window_, [&](Point p) {
              slide(hot, p);
              redraw();
            }))
          return Answer::Handled;  // the window went away meanwhile
        fieldFor(hot.index, hot.which).selectAll();
        changed();
        return Answer::Handled;
      }
      case Hot::Field: {
        ui::TextField& field = fieldFor(hot.index, hot.which);
        bool wasFocused = focus_.focused() == id.encode();
        setFocus(id);
        field.press(local.h - hot.r.left, e.when, wasFocused && (e.modifiers & shiftKey));
        redraw();
        vt::ui::trackDrag(window_, [&](Point p) {
          field.dragTo(p.h - hot.r.left);
          redraw();
        });
        return Answer::Handled;
      }
      case Hot::Popup:
        setFocus(id);
        popup(hot, true);
        return Answer::Handled;
      case Hot::Check:
        setFocus(id);
        model_.toggle(hot.index, hot.which);
        changed();
        return Answer::Handled;
      case Hot::TweenToggle:
        setFocus(id);
        model_.setTweened(hot.index, !model_.params()[(size_t)hot.index].tweened);
        updateFocusOrder();
        changed();
        return Answer::Handled;
      case Hot::Well:
        setFocus(id);
        pickColour(hot);
        return Answer::Handled;
      case Hot::Swatch:
        commitField();
        model_.setValue(hot.index, hot.which, colourPresets()[(size_t)hot.extra]);
        changed();
        return Answer::Handled;
      case Hot::ImageChoose:
        setFocus(id);
        chooseImage(hot.index);
        return Answer::Handled;
      case Hot::ImageClear:
        commitField();
        model_.setImage(hot.index, Image(), "");
        updateFocusOrder();
        changed();
        return Answer::Handled;
    }
  }
  return Answer::Handled;
}

Answer Dialog::key(const EventRecord& e) {
  vt::ui::KeyPress k = vt::ui::KeyPress::from(e);
  Hot f{};
  bool hasFocus = focused(f);
  if (k.command) {
    // Clipboard keys work the focused field; other shortcuts stay the application's menus'
    // (a modal dialog keeps them from the menus).
    if (hasFocus && f.kind == Hot::Field &&
        fieldFor(f.index, f.which).key(k) != ui::TextField::Result::ignored) {
      fieldEdited_ = true;
      redraw();
      return Answer::Handled;
    }
    return modal_ ? Answer::Handled : Answer::NotMine;
  }
  if (k.code == vt::ui::key::ret || k.code == vt::ui::key::enter)
    return commitField() ? Answer::Confirm : Answer::Handled;
  if (k.code == vt::ui::key::escape) return Answer::Cancel;
  if (k.code == vt::ui::key::tab) {
    commitField();
    int next = focus_.advance(k.shift);
    revealFocus();
    Hot now{};
    if (focused(now) && now.kind == Hot::Field) fieldFor(now.index, now.which).selectAll();
    (void)next;
    redraw();
    return Answer::Handled;
  }
  if (!hasFocus) return Answer::Handled;
  bool up = k.code == vt::ui::key::up || k.code == vt::ui::key::right;
  bool down = k.code == vt::ui::key::down || k.code == vt::ui::key::left;
  bool space = k.code == ' ';
  switch (f.kind) {
    case Hot::ListRow: {
      int selected = model_.selected();
      if (k.code == vt::ui::key::up && selected > 0) select(selected - 1);
      if (k.code == vt::ui::key::down && selected + 1 < (int)model_.effects().size())
        select(selected + 1);
      break;
    }
    case Hot::Field: {
      ui::TextField& field = fieldFor(f.index, f.which);
      if (k.code == vt::ui::key::up || k.code == vt::ui::key::down) {
        // Up and down step the number; left and right stay the caret's.
        if (!commitField()) break;
        model_.nudge(f.index, f.which, k.code == vt::ui::key::up ? 1 : -1);
        changed();
        field.selectAll();
        redraw();
        break;
      }
      ui::TextField::Result r = field.key(k);
      if (r == ui::TextField::Result::refused) SysBeep(1);
      if (r != ui::TextField::Result::ignored) fieldEdited_ = true;
      redraw();
      break;
    }
    case Hot::Popup:
      if (space)
        popup(f, false);
      else if (up || down) {
        model_.nudge(f.index, f.which, up ? 1 : -1);
        changed();
      }
      break;
    case Hot::Check:
      if (space || up || down) {
        model_.toggle(f.index, f.which);
        changed();
      }
      break;
    case Hot::TweenToggle:
      if (space || up || down) {
        model_.setTweened(f.index, !model_.params()[(size_t)f.index].tweened);
        updateFocusOrder();
        changed();
      }
      break;
    case Hot::Well:
      if (space) {
        pickColour(f);
      } else if (up || down) {
        // Arrows step through the quick picks.
        const auto presets = colourPresets();
        const auto& v = model_.value(f.index, f.which);
        int at = -1;
        for (int i = 0; i < (int)presets.size(); ++i)
          if (presets[(size_t)i] == v) at = i;
        int n = (int)presets.size();
        int next = at < 0 ? (up ? 0 : n - 1) : (at + (up ? 1 : n - 1)) % n;
        model_.setValue(f.index, f.which, presets[(size_t)next]);
        changed();
      }
      break;
    case Hot::ImageChoose:
      if (space) chooseImage(f.index);
      break;
    default: break;
  }
  return Answer::Handled;
}

Answer Dialog::handleEvent(const EventRecord& e) {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return Answer::NotMine;
  // A modal dialog stays in front and takes every click and key.
  bool mine = FrontWindow() == window_ || modal_;
  switch (e.what) {
    case nullEvent: {
      // Idle time drives the preview animation; the application still gets its idle turn.
      uint32_t now = vt::events::ticks();
      if (now - lastFrameTick_ >= 2) {
        renderPreview();
        redraw();
      }
      return Answer::NotMine;
    }
    case mouseDown: {
      Point local{};
      switch (vt::ui::dialogClick(window_, e, &local)) {
        case vt::ui::DialogClick::outside:
          if (!modal_) return Answer::NotMine;
          SysBeep(1);
          SelectWindow(window_);
          return Answer::Handled;
        case vt::ui::DialogClick::content:
          if (FrontWindow() != window_) {
            SelectWindow(window_);
            if (!modal_) return Answer::Handled;
          }
          return click(local, e);
        default: return Answer::Handled;
      }
    }
    case mouseUp: {
      WindowRef w = nullptr;
      FindWindow(e.where, &w);
      return w == window_ || modal_ ? Answer::Handled : Answer::NotMine;
    }
    case keyDown:
    case autoKey:
      if (!mine) return Answer::NotMine;
      return key(e);
    case keyUp:
      // The release follows its press: the dialog's unless it was a menu shortcut.
      if (!mine || ((e.modifiers & cmdKey) && !modal_)) return Answer::NotMine;
      return Answer::Handled;
    case updateEvt:
      if ((WindowRef)e.message != window_) return Answer::NotMine;
      BeginUpdate(window_);
      draw();
      EndUpdate(window_);
      return Answer::Handled;
    case activateEvt: return (WindowRef)e.message == window_ ? Answer::Handled : Answer::NotMine;
    default: return Answer::NotMine;
  }
}

// Registry

namespace {
std::map<long, std::unique_ptr<Dialog>>& registry() {
  static std::map<long, std::unique_ptr<Dialog>> r;
  return r;
}
long nextId = 0x5D1A0001;
// Before the screen reset, so each dialog disposes its own window.
const vt::ResetRegistration kReset(vt::ResetStage::Controllers, [] { registry().clear(); });

bool focusedParamField(WindowRef w, vt::ui::FocusedField& out) {
  for (auto& [id, d] : registry())
    if (d->window() == w) {
      out.field = d->focusedField(&out.box);
      return out.field != nullptr;
    }
  return false;
}
}  // namespace

long registerDialog(std::unique_ptr<Dialog> d) {
  long id = nextId++;
  registry()[id] = std::move(d);
  return id;
}

Dialog* findDialog(long id) {
  auto it = registry().find(id);
  return it == registry().end() ? nullptr : it->second.get();
}

bool removeDialog(long id) { return registry().erase(id) > 0; }

Dialog* newestDialog() {
  for (auto it = registry().rbegin(); it != registry().rend(); ++it) {
    Dialog* d = it->second.get();
    if (d->window() && vt::ui::isLiveWindow(d->window())) return d;
  }
  return nullptr;
}

}  // namespace vt::paramdialog
