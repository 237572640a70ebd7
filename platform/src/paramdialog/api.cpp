// The toolbox calls of the standard effects parameter dialog and its automation.
#include <MacMemory.h>
#include <QuickTimeEffects.h>
#include <VTAutomationEffects.h>

#include <exception>
#include <memory>

#include "core/boundary.h"
#include "core/picture.h"
#include "events/event_queue.h"
#include "paramdialog/param_window.h"
#include "ui/text.h"
#include "ui/window_server.h"

using vt::paramdialog::Answer;
using vt::paramdialog::Dialog;

OSErr QTCreateStandardParameterDialog(QTAtomContainer effectList, QTAtomContainer parameters,
                                      long dialogOptions, QTParameterDialog* createdDialog) {
  return vt::apiStatus([&]() -> OSErr {
    if (createdDialog) *createdDialog = 0;
    if (!createdDialog || !effectList || !parameters) return paramErr;
    if (!VTIsValidHandle(effectList) || !VTIsValidHandle(parameters)) return paramErr;
    if (dialogOptions & ~(long)(pdOptionsCollectOneValue | pdOptionsAllowOptionalInterpolations |
                                pdOptionsModalDialogBox))
      return paramErr;
    auto effects = vt::paramdialog::parseEffectsList(effectList);
    vt::paramdialog::DialogOptions options;
    options.oneValue = (dialogOptions & pdOptionsCollectOneValue) != 0;
    options.optionalTweens = (dialogOptions & pdOptionsAllowOptionalInterpolations) != 0;
    auto d = std::make_unique<Dialog>(std::move(effects), parameters, options,
                                      (dialogOptions & pdOptionsModalDialogBox) != 0);
    if (!d->open()) return memFullErr;
    *createdDialog = vt::paramdialog::registerDialog(std::move(d));
    return noErr;
  });
}

OSErr QTIsStandardParameterDialogEvent(EventRecord* pEvent, QTParameterDialog createdDialog) {
  return vt::apiStatus([&]() -> OSErr {
    Dialog* d = vt::paramdialog::findDialog(createdDialog);
    if (!d) return paramErr;
    if (!pEvent) return paramErr;
    switch (d->handleEvent(*pEvent)) {
      case Answer::NotMine: return featureUnsupported;
      case Answer::Handled: return noErr;
      case Answer::Confirm: return codecParameterDialogConfirm;
      case Answer::Cancel: return userCanceledErr;
    }
    return noErr;
  });
}

OSErr QTDismissStandardParameterDialog(QTParameterDialog createdDialog) {
  return vt::apiStatus([&]() -> OSErr {
    if (!vt::paramdialog::removeDialog(createdDialog)) return paramErr;
    return noErr;
  });
}

OSErr QTStandardParameterDialogDoAction(QTParameterDialog createdDialog, long action,
                                        void* params) {
  return vt::apiStatus([&]() -> OSErr {
    Dialog* d = vt::paramdialog::findDialog(createdDialog);
    if (!d) return paramErr;
    switch (action) {
      case pdActionConfirmDialog: return d->confirm();
      case pdActionSetPreviewPicture: {
        auto* rec = static_cast<QTParamPreviewPtr>(params);
        if (!rec || (rec->sourceID != 1 && rec->sourceID != 2)) return paramErr;
        if (!rec->sourcePicture || !VTIsValidHandle((Handle)rec->sourcePicture)) return paramErr;
        vt::Image img;
        // Decoded now: the caller may kill its picture as soon as this returns.
        if (!vt::pictureToImage(rec->sourcePicture, img) || img.empty()) return paramErr;
        d->setPreview((int)rec->sourceID, img);
        return noErr;
      }
      default: return featureUnsupported;
    }
  });
}

// Automation

namespace {
Dialog* current() { return vt::paramdialog::newestDialog(); }

bool postClick(const Rect& r) {
  if (r.right <= r.left) return false;
  Point p{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
  vt::events::setMouseGlobal(p);
  return vt::events::post(mouseDown, 0, p, 0) && vt::events::post(mouseUp, 0, p, 0);
}
}  // namespace

bool VTAutomationEffectsDialogUp() {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool { return current() != nullptr; });
}

std::vector<VTEffectsDialogEntry> VTAutomationEffectsDialogEffects() {
  return vt::apiCall(vt::noErrorState, std::vector<VTEffectsDialogEntry>{},
                     [&]() -> std::vector<VTEffectsDialogEntry> {
                       std::vector<VTEffectsDialogEntry> out;
                       if (Dialog* d = current())
                         for (const auto& e : d->model().effects()) out.push_back({e.name, e.code});
                       return out;
                     });
}

int VTAutomationEffectsDialogSelected() {
  return vt::apiCall(vt::noErrorState, int(0), [&]() -> int {
    Dialog* d = current();
    return d ? d->model().selected() : -1;
  });
}

namespace {
// Selects the newest dialog's first effect that `matches`; false without one.
template <class Match>
bool selectFirst(Match&& matches) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    if (!d) return false;
    const auto& effects = d->model().effects();
    for (size_t i = 0; i < effects.size(); ++i)
      if (matches(effects[i])) {
        d->select((int)i);
        return true;
      }
    return false;
  });
}
}  // namespace

bool VTAutomationEffectsDialogSelectName(const std::string& name) {
  return selectFirst([&](const auto& e) { return e.name == name; });
}

bool VTAutomationEffectsDialogSelectCode(OSType code) {
  return selectFirst([&](const auto& e) { return e.code == code; });
}

std::vector<VTEffectsDialogParam> VTAutomationEffectsDialogParams() {
  return vt::apiCall(vt::noErrorState, std::vector<VTEffectsDialogParam>{},
                     [&]() -> std::vector<VTEffectsDialogParam> {
                       std::vector<VTEffectsDialogParam> out;
                       if (Dialog* d = current())
                         for (const auto& p : d->model().params())
                           out.push_back({p.desc->code, p.desc->name, p.tweened, p.start[0],
                                          p.tweened ? p.end[0] : 0, p.imageName, p.text});
                       return out;
                     });
}

bool VTAutomationEffectsDialogSetParam(OSType code, double value, int which) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    return d && d->setParam(code, which, value);
  });
}

bool VTAutomationEffectsDialogSetColour(OSType code, double red, double green, double blue,
                                        int which) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    return d && d->setParam(code, which, std::array<double, 3>{red, green, blue});
  });
}

bool VTAutomationEffectsDialogSetText(OSType code, const std::string& text) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    return d && d->setText(code, text);
  });
}

bool VTAutomationEffectsDialogPressOK() {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    return d && postClick(d->buttonRect(true));
  });
}

bool VTAutomationEffectsDialogPressCancel() {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    return d && postClick(d->buttonRect(false));
  });
}

Rect VTAutomationEffectsDialogButtonRect(bool ok) {
  return vt::apiCall(vt::noErrorState, Rect{}, [&]() -> Rect {
    Dialog* d = current();
    return d ? d->buttonRect(ok) : Rect{0, 0, 0, 0};
  });
}

namespace {
VTEffectsControl controlOf(vt::paramdialog::Hot::Kind k) {
  using H = vt::paramdialog::Hot;
  switch (k) {
    case H::ListRow: return VTEffectsControl::list;
    case H::Slider: return VTEffectsControl::slider;
    case H::Field: return VTEffectsControl::field;
    case H::Popup: return VTEffectsControl::popup;
    case H::Check: return VTEffectsControl::check;
    case H::Well: return VTEffectsControl::colourWell;
    case H::Swatch: return VTEffectsControl::swatch;
    case H::ImageChoose: return VTEffectsControl::chooseImage;
    case H::ImageClear: return VTEffectsControl::clearImage;
    case H::TweenToggle: return VTEffectsControl::animate;
    default: return VTEffectsControl::none;
  }
}
}  // namespace

bool VTAutomationEffectsDialogControlRect(OSType code, VTEffectsControl control, int which,
                                          Rect* global, int swatch) {
  return vt::apiCall(vt::noErrorState, false, [&]() -> bool {
    Dialog* d = current();
    if (!d || !global) return false;
    const auto& params = d->model().params();
    for (const auto& hot : d->layout()) {
      if (controlOf(hot.kind) != control || hot.which != which || hot.index >= (int)params.size() ||
          params[(size_t)hot.index].desc->code != code ||
          (control == VTEffectsControl::swatch && hot.extra != swatch))
        continue;
      *global = hot.r;
      OffsetRect(global, d->window()->content.left, d->window()->content.top);
      return true;
    }
    return false;
  });
}

VTEffectsFocus VTAutomationEffectsDialogFocus() {
  return vt::apiCall(vt::noErrorState, VTEffectsFocus{}, [&]() -> VTEffectsFocus {
    VTEffectsFocus f;
    Dialog* d = current();
    vt::paramdialog::Hot hot{};
    if (!d || !d->focused(hot)) return f;
    f.control = controlOf(hot.kind);
    if (hot.kind != vt::paramdialog::Hot::ListRow) {
      f.code = d->model().params()[(size_t)hot.index].desc->code;
      f.which = hot.which;
    }
    return f;
  });
}

std::string VTAutomationEffectsDialogFieldText(OSType code, int which) {
  return vt::apiCall(vt::noErrorState, std::string{}, [&]() -> std::string {
    Dialog* d = current();
    if (!d) return {};
    const auto& params = d->model().params();
    for (size_t i = 0; i < params.size(); ++i)
      if (params[i].desc->code == code) return d->fieldText((int)i, which);
    return {};
  });
}
