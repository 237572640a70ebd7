// Automation of the menu bar: what it shows, where, and choosing an item with posted clicks.
#include <VTAutomationUI.h>

#include "core/boundary.h"
#include "events/event_queue.h"
#include "menus/menu_manager.h"
#include "core/macroman.h"

using namespace vt::menus;

namespace {

int barIndexOf(short menuID) {
  const auto& menus = barMenus();
  for (int i = 0; i < (int)menus.size(); ++i)
    if (menus[(size_t)i]->id == menuID) return i;
  return -1;
}

Point centre(const Rect& r) {
  return Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
}

}  // namespace

std::vector<VTMenuInfo> VTAutomationMenuBar() {
  return vt::apiCall<std::vector<VTMenuInfo>>(
      vt::noErrorState, {}, [&]() -> std::vector<VTMenuInfo> {
        std::vector<VTMenuInfo> out;
        for (const VTMenu* m : barMenus()) {
          VTMenuInfo info;
          info.id = m->id;
          info.title = vt::toolboxToUtf8(shownTitle(m));
          info.enabled = m->enabled;
          for (const ShownItem& s : shownItems(m)) {
            VTMenuItemInfo item;
            item.text = vt::toolboxToUtf8(s.text);
            item.separator = s.separator;
            item.enabled = s.enabled;
            item.checked = s.checked;
            item.commandKey = s.key;
            item.modifiers = s.modifiers;
            item.platformItem = info.items.size() >= m->items.size();  // past the menu's own items
            info.items.push_back(item);
          }
          out.push_back(std::move(info));
        }
        return out;
      });
}

bool VTAutomationMenuTitleRect(short menuID, Rect* r) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    int i = barIndexOf(menuID);
    if (i < 0 || !r) return false;
    *r = titleRect(i);
    return true;
  });
}

bool VTAutomationMenuItemRect(short menuID, short item, Rect* r) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    int i = barIndexOf(menuID);
    if (i < 0 || !r || item < 1) return false;
    Rect ir = itemRect(i, item - 1);
    if (ir.bottom <= ir.top) return false;
    *r = ir;
    return true;
  });
}

bool VTAutomationPostMenuChoice(short menuID, short item) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    Rect t, ir;
    if (!VTAutomationMenuTitleRect(menuID, &t) || !VTAutomationMenuItemRect(menuID, item, &ir))
      return false;
    Point from = centre(t), to = centre(ir);
    vt::events::post(mouseDown, 0, from, 0);
    vt::events::postMouseMove(Point{(short)((from.v + to.v) / 2), to.h});
    vt::events::postMouseMove(to);
    vt::events::post(mouseUp, 0, to, 0);
    return true;
  });
}

short VTAutomationHilitedMenu() {
  return vt::apiCall<short>(vt::noErrorState, {}, [&]() -> short { return hilitedMenu(); });
}
