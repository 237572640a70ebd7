// The colour picker as a modal window.
#include <ColorPicker.h>
#include <Events.h>
#include <VTAutomationUI.h>

#include "core/boundary.h"
#include "ui/text.h"
#include "ui/widgets/colour_picker.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace {

using vt::ui::ColourPicker;

struct Running {
  ColourPicker* picker = nullptr;
  WindowRef window = nullptr;
};
Running gRunning;

void redraw(WindowRef w, ColourPicker& picker) {
  vt::ui::PortPainter p(&w->port);
  picker.draw(p);
  vt::ui::portChanged(&w->port, w->port.portRect);
}

bool focusedPickerField(WindowRef w, vt::ui::FocusedField& out) {
  if (!gRunning.picker || w != gRunning.window || gRunning.picker->focusedField() < 0) return false;
  out.field = &gRunning.picker->field(gRunning.picker->focusedField());
  out.box = gRunning.picker->fieldRect(gRunning.picker->focusedField());
  return true;
}

void click(WindowRef w, ColourPicker& picker, const EventRecord& e) {
  Point local{};
  switch (vt::ui::dialogClick(w, e, &local)) {
    case vt::ui::DialogClick::outside:
      SysBeep(1);  // modal: nothing behind it answers
      return;
    case vt::ui::DialogClick::content: break;
    default: return;
  }
  const auto& buttons = picker.buttons();
  int b = vt::ui::hitButton(buttons, local.h, local.v);
  if (b >= 0) {
    // A button acts when released over it.
    if (!vt::ui::trackPress(w, buttons[(size_t)b].rect)) return;
  }
  picker.click(local.h, local.v, e.when, (e.modifiers & shiftKey) != 0);
  redraw(w, picker);
  if (picker.dragging()) {
    vt::ui::trackDrag(w, [&](Point p) {
      if (picker.drag(p.h, p.v)) redraw(w, picker);
    });
    picker.endDrag();
  }
}

}  // namespace

Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor,
                 RGBColor* outColor) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    if (!inColor || !outColor || gRunning.picker) return false;
    ColourPicker picker(prompt ? vt::ui::pascalToUtf8(prompt) : std::string("Choose a color:"),
                        *inColor);
    Rect desk = vt::ui::desktopBounds();
    int left = where.h, top = where.v;
    if ((where.h == 0 && where.v == 0) || (where.h == -1 && where.v == -1)) {
      left = desk.left + (desk.right - desk.left - ColourPicker::kWidth) / 2;
      top = desk.top + vt::ui::kTitleBarHeight +
            (desk.bottom - desk.top - ColourPicker::kHeight - vt::ui::kTitleBarHeight) / 3;
    }
    Rect bounds =
        vt::ui::makeRect(left, top, left + ColourPicker::kWidth, top + ColourPicker::kHeight);
    WindowRef w = NewCWindow(nullptr, &bounds, (const unsigned char*)"\x06" "Colors", true,
                           movableDBoxProc, (WindowRef)-1L, false, 0);
    if (!w) return false;
    SetWindowKind(w, kDialogWindowKind);
    vt::ui::addFieldFinder(focusedPickerField);
    gRunning = {&picker, w};
    redraw(w, picker);
    while (picker.state() == ColourPicker::State::running) {
      vt::ui::beginModalTurn();
      EventRecord e{};
      vt::ui::nextModalEvent(e);
      if (!vt::ui::isLiveWindow(w)) {
        picker.cancel();
        break;
      }
      switch (e.what) {
        case mouseDown: click(w, picker, e); break;
        case keyDown:
        case autoKey:
          if (picker.key(vt::ui::KeyPress::from(e))) redraw(w, picker);
          break;
        case updateEvt: {
          // Other windows keep their pictures in their backing stores.
          WindowRef other = (WindowRef)e.message;
          if (!vt::ui::isLiveWindow(other)) break;
          BeginUpdate(other);
          if (other == w) {
            vt::ui::PortPainter painter(&w->port);
            picker.draw(painter);
          }
          EndUpdate(other);
          break;
        }
        default: break;
      }
      for (int b = picker.takeBeeps(); b > 0; --b) SysBeep(1);
    }
    gRunning = {};
    if (vt::ui::isLiveWindow(w)) DisposeWindow(w);
    if (picker.state() != ColourPicker::State::accepted) return false;
    *outColor = picker.colour();
    return true;
  });
}

bool VTAutomationColourPicker(VTColourPickerInfo* info) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    if (!gRunning.picker || !vt::ui::isLiveWindow(gRunning.window)) return false;
    if (!info) return true;
    ColourPicker& p = *gRunning.picker;
    auto global = [](Rect r) {
      OffsetRect(&r, gRunning.window->content.left, gRunning.window->content.top);
      return r;
    };
    info->colour = p.colour();
    info->hex = p.hexText();
    info->prompt = p.prompt();
    info->square = global(p.squareRect());
    info->hueStrip = global(p.hueRect());
    info->swatches.clear();
    for (int k = 0; k < (int)vt::ui::colourQuickPicks().size(); ++k)
      info->swatches.push_back(global(p.swatchRect(k)));
    info->fields.clear();
    for (int f = 0; f < ColourPicker::kFieldCount; ++f)
      info->fields.push_back(
          {ColourPicker::fieldLabel(f), p.field(f).text(), global(p.fieldRect(f))});
    info->ok = global(p.buttons()[1].rect);
    info->cancel = global(p.buttons()[0].rect);
    return true;
  });
}
