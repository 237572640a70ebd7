// Automation of dialogs: what the front dialog shows and pressing its items with posted clicks.
#include <VTAutomationUI.h>

#include "core/guard.h"
#include "dialogs/dialog_manager.h"
#include "events/event_queue.h"
#include "resources/macroman.h"
#include "ui/window_server.h"

using namespace vt::dialogs;

bool VTAutomationHasFrontDialog() try { return frontDialog() != nullptr; } catch (...) {
  vtErrorFromException();
  return {};
}

std::vector<VTDialogItemInfo> VTAutomationFrontDialogItems() try {
  std::vector<VTDialogItemInfo> out;
  VTDialog* d = frontDialog();
  if (!d) return out;
  for (int i = 1; i <= (int)d->items.size(); ++i) {
    const VTDialog::Item& it = d->items[(size_t)i - 1];
    VTDialogItemInfo info;
    info.index = (short)i;
    info.kind = it.kind;
    info.enabled = it.enabled;
    info.visible = it.visible;
    info.text = vt::resources::toolboxToUtf8(shownText(d, i));
    info.rect = it.rect;
    info.globalRect = globalRect(d, it.rect);
    out.push_back(std::move(info));
  }
  return out;
} catch (...) {
  vtErrorFromException();
  return {};
}

short VTAutomationFindDialogItem(const std::string& text) try {
  auto items = VTAutomationFrontDialogItems();
  for (const auto& it : items)
    if (it.text == text) return it.index;
  if (text.empty()) return 0;
  for (const auto& it : items)
    if (it.text.find(text) != std::string::npos) return it.index;
  return 0;
} catch (...) {
  vtErrorFromException();
  return {};
}

bool VTAutomationPressDialogItem(short item) try {
  VTDialog* d = frontDialog();
  if (!d || item < 1 || item > (short)d->items.size()) return false;
  Rect g = globalRect(d, d->items[(size_t)item - 1].rect);
  Point p{(short)((g.top + g.bottom) / 2), (short)((g.left + g.right) / 2)};
  vt::events::postMouseMove(p);
  vt::events::post(mouseDown, 0, p, 0);
  vt::events::post(mouseUp, 0, p, 0);
  return true;
} catch (...) {
  vtErrorFromException();
  return {};
}

std::string VTAutomationParamText(int index) try {
  return vt::resources::toolboxToUtf8(paramText(index));
} catch (...) {
  vtErrorFromException();
  return {};
}
