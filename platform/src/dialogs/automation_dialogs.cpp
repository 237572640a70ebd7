// Automation of dialogs: what the front dialog shows and pressing its items with posted clicks.
#include <VTAutomationUI.h>

#include "core/boundary.h"
#include "dialogs/dialog_manager.h"
#include "events/event_queue.h"
#include "core/macroman.h"
#include "ui/window_server.h"

using namespace vt::dialogs;

bool VTAutomationHasFrontDialog() {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return frontDialog() != nullptr; });
}

std::vector<VTDialogItemInfo> VTAutomationFrontDialogItems() {
  return vt::apiCall<std::vector<VTDialogItemInfo>>(
      vt::noErrorState, {}, [&]() -> std::vector<VTDialogItemInfo> {
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
          info.text = vt::toolboxToUtf8(shownText(d, i));
          info.rect = it.rect;
          info.globalRect = globalRect(d, it.rect);
          out.push_back(std::move(info));
        }
        return out;
      });
}

short VTAutomationFindDialogItem(const std::string& text) {
  return vt::apiCall<short>(vt::noErrorState, {}, [&]() -> short {
    auto items = VTAutomationFrontDialogItems();
    for (const auto& it : items)
      if (it.text == text) return it.index;
    if (text.empty()) return 0;
    for (const auto& it : items)
      if (it.text.find(text) != std::string::npos) return it.index;
    return 0;
  });
}

bool VTAutomationPressDialogItem(short item) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    VTDialog* d = frontDialog();
    if (!d || item < 1 || item > (short)d->items.size()) return false;
    Rect g = globalRect(d, d->items[(size_t)item - 1].rect);
    Point p{(short)((g.top + g.bottom) / 2), (short)((g.left + g.right) / 2)};
    vt::events::postMouseMove(p);
    vt::events::post(mouseDown, 0, p, 0);
    vt::events::post(mouseUp, 0, p, 0);
    return true;
  });
}

std::string VTAutomationParamText(int index) {
  return vt::apiCall<std::string>(
      vt::noErrorState, {}, [&]() -> std::string { return vt::toolboxToUtf8(paramText(index)); });
}
