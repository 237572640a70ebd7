// Menus and items: the data the menu bar shows and the calls that change it.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Menus.h>

#include <algorithm>
#include <utility>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "core/boundary.h"
#include "core/pstring.h"
#include "core/reset.h"
#include "menus/menu_manager.h"
#include "resources/resource_manager.h"

namespace vt::menus {
namespace {

constexpr uint32_t kMenuMagic = 0x4D454E55;  // 'MENU'
constexpr uint32_t kListMagic = 0x564D4C53;  // 'VMLS': a menu list handle of ours
constexpr size_t kMaxItems = 1024;

struct Model {
  std::map<VTMenu*, std::unique_ptr<VTMenu>> live;
  std::vector<VTMenu*> bar;
};

Model& model() {
  static Model m;
  return m;
}

VTMenu::Item* itemOf(MenuRef menu, long item) {
  VTMenu* m = validMenu(menu);
  if (!m || item < 1 || (size_t)item > m->items.size()) return nullptr;
  return &m->items[(size_t)item - 1];
}

// One item from text with the classic metacharacters.
VTMenu::Item parseItem(const std::string& spec) {
  VTMenu::Item item;
  std::string text;
  for (size_t i = 0; i < spec.size(); ++i) {
    char c = spec[i];
    if (c == '(') {
      item.enabled = false;
    } else if (c == '/' && i + 1 < spec.size()) {
      item.key = (char)std::toupper((unsigned char)spec[++i]);
    } else if (c == '!' && i + 1 < spec.size()) {
      item.mark = (UInt8)spec[++i];
    } else if ((c == '^' || c == '<') && i + 1 < spec.size()) {
      ++i;  // icon numbers and styles: not shown by this platform
    } else {
      text += c;
    }
  }
  item.text = text;
  if (item.separator()) {
    item.enabled = false;
    item.key = 0;
  }
  return item;
}

std::vector<VTMenu::Item> parseItems(ConstStr255Param data) {
  std::vector<VTMenu::Item> items;
  std::string all = vt::fromPascal(data), part;
  for (char c : all) {
    if (c == ';' || c == '\r') {
      items.push_back(parseItem(part));
      part.clear();
    } else {
      part += c;
    }
  }
  items.push_back(parseItem(part));
  return items;
}

}  // namespace

VTMenu* validMenu(MenuRef m) {
  if (!m) return nullptr;
  auto& live = model().live;
  auto it = live.find(m);
  return it != live.end() && m->magic == kMenuMagic ? m : nullptr;
}

const std::vector<VTMenu*>& barMenus() { return model().bar; }

const ResetRegistration kReset(ResetStage::Dialogs, resetMenus);

void resetMenus() {
  Model& m = model();
  m.bar.clear();
  for (auto& [p, owned] : m.live) owned->magic = 0;
  m.live.clear();
  setOpenMenu(-1, -1);
  setHilitedMenu(0);
  invalidateBar();
}

}  // namespace vt::menus

using namespace vt::menus;

namespace {

// A call on a live menu; a dead one gives the fallback.
constexpr auto withMenu = [](auto&&... args) noexcept {
  return vt::apiOnLive(validMenu, std::forward<decltype(args)>(args)...);
};

}  // namespace

MenuRef NewMenu(MenuID menuID, ConstStr255Param menuTitle) {
  return vt::apiCall<MenuRef>(vt::noErrorState, {}, [&]() -> MenuRef {
    auto m = std::make_unique<VTMenu>();
    m->id = menuID;
    m->title = vt::fromPascal(menuTitle);
    m->magic = 0x4D454E55;
    VTMenu* p = m.get();
    model().live[p] = std::move(m);
    return p;
  });
}

MenuRef GetMenu(short resourceID) {
  return vt::apiCall<MenuRef>(vt::noErrorState, {}, [&]() -> MenuRef {
    auto res = vt::resources::findMenu(resourceID);
    if (!res) return nullptr;
    MenuRef m = NewMenu(res->id, nullptr);
    m->title = res->title;
    m->enabled = res->enabled;
    for (const auto& r : res->items) {
      VTMenu::Item item;
      item.text = r.separator ? "-" : r.text;
      item.enabled = r.enabled && !r.separator;
      item.key = r.key;
      item.modifiers = r.modifiers;
      item.mark = r.checked ? (UInt8)checkMark : 0;
      m->items.push_back(item);
    }
    return m;
  });
}

void DisposeMenu(MenuRef theMenu) {
  withMenu(theMenu, [&](VTMenu& m) {
    auto& bar = model().bar;
    if (std::find(bar.begin(), bar.end(), &m) != bar.end()) {
      bar.erase(std::remove(bar.begin(), bar.end(), &m), bar.end());
      invalidateBar();
    }
    if (hilitedMenu() == m.id) setHilitedMenu(0);
    m.magic = 0;
    model().live.erase(&m);
  });
}

MenuID GetMenuID(MenuRef menu) {
  return withMenu(menu, MenuID{0}, [&](VTMenu& m) -> MenuID { return m.id; });
}

void SetMenuTitle(MenuRef menu, ConstStr255Param title) {
  withMenu(menu, [&](VTMenu& m) {
    m.title = vt::fromPascal(title);
    invalidateBar();
  });
}

void GetMenuTitle(MenuRef menu, Str255 title) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu* m = validMenu(menu);
    if (title) vt::toPascal(m ? m->title : std::string(), title);
  });
}

void AppendMenu(MenuRef menu, ConstStr255Param data) {
  vt::apiCall(vt::noErrorState, [&] { InsertMenuItem(menu, data, 999); });
}

void InsertMenuItem(MenuRef menu, ConstStr255Param itemString, short afterItem) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu* m = validMenu(menu);
    if (!m || !itemString) return;
    auto items = parseItems(itemString);
    size_t at = afterItem < 0 ? 0 : std::min<size_t>((size_t)afterItem, m->items.size());
    if (m->items.size() + items.size() > kMaxItems) return;
    m->items.insert(m->items.begin() + (long)at, items.begin(), items.end());
    invalidateBar();
  });
}

void DeleteMenuItem(MenuRef menu, short item) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu* m = validMenu(menu);
    if (!m || item < 1 || (size_t)item > m->items.size()) return;
    m->items.erase(m->items.begin() + (item - 1));
    invalidateBar();
  });
}

UInt16 CountMenuItems(MenuRef menu) {
  return withMenu(menu, UInt16{0}, [&](VTMenu& m) -> UInt16 { return (UInt16)m.items.size(); });
}

namespace {
void setItemEnabled(MenuRef menu, MenuItemIndex item, bool enabled) {
  withMenu(menu, [&](VTMenu& m) {
    if (item == 0) {
      m.enabled = enabled;
    } else if (VTMenu::Item* it = itemOf(menu, item)) {
      it->enabled = enabled;
    }
    invalidateBar();
  });
}
}  // namespace

void EnableMenuItem(MenuRef menu, MenuItemIndex item) { setItemEnabled(menu, item, true); }
void DisableMenuItem(MenuRef menu, MenuItemIndex item) { setItemEnabled(menu, item, false); }

Boolean IsMenuItemEnabled(MenuRef menu, MenuItemIndex item) {
  return withMenu(menu, Boolean{false}, [&](VTMenu& m) -> Boolean {
    if (item == 0) return m.enabled;
    VTMenu::Item* it = itemOf(menu, item);
    return it && it->enabled && m.enabled;
  });
}

void CheckMenuItem(MenuRef menu, short item, Boolean checked) {
  vt::apiCall(vt::noErrorState, [&] { SetItemMark(menu, item, checked ? checkMark : noMark); });
}

void SetItemMark(MenuRef menu, short item, CharParameter markChar) {
  vt::apiCall(vt::noErrorState, [&] {
    if (VTMenu::Item* it = itemOf(menu, item)) it->mark = (UInt8)markChar;
  });
}

void GetItemMark(MenuRef menu, short item, CharParameter* markChar) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!markChar) return;
    VTMenu::Item* it = itemOf(menu, item);
    *markChar = it ? it->mark : 0;
  });
}

void SetMenuItemText(MenuRef menu, short item, ConstStr255Param itemString) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu::Item* it = itemOf(menu, item);
    if (!it) return;
    it->text = vt::fromPascal(itemString);
    invalidateBar();
  });
}

void GetMenuItemText(MenuRef menu, short item, Str255 itemString) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu::Item* it = itemOf(menu, item);
    if (itemString) vt::toPascal(it ? it->text : std::string(), itemString);
  });
}

void SetItemCmd(MenuRef menu, short item, CharParameter cmdChar) {
  vt::apiCall(vt::noErrorState, [&] {
    if (VTMenu::Item* it = itemOf(menu, item)) it->key = (char)std::toupper(cmdChar & 0xFF);
  });
}

void GetItemCmd(MenuRef menu, short item, CharParameter* cmdChar) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!cmdChar) return;
    VTMenu::Item* it = itemOf(menu, item);
    *cmdChar = it ? (unsigned char)it->key : 0;
  });
}

OSStatus GetMenuItemModifiers(MenuRef menu, MenuItemIndex item, UInt8* outModifiers) {
  return vt::apiStatus([&]() -> OSErr {
    VTMenu::Item* it = itemOf(menu, item);
    if (!it) return paramErr;
    if (outModifiers) *outModifiers = it->modifiers;
    return noErr;
  });
}

OSStatus SetMenuItemModifiers(MenuRef menu, MenuItemIndex item, UInt8 modifiers) {
  return vt::apiStatus([&]() -> OSErr {
    VTMenu::Item* it = itemOf(menu, item);
    if (!it) return paramErr;
    it->modifiers = modifiers & 0x0F;
    return noErr;
  });
}

Handle GetNewMBar(short menuBarID) {
  return vt::apiCall<Handle>(vt::noErrorState, {}, [&]() -> Handle {
    // Without its bar the application runs with no menus at all: each way to get there is said.
    std::string file;
    auto bar = vt::resources::findMenuBar(menuBarID, &file);
    if (!bar) {
      vt::resources::reportProblem(vt::resources::applicationResourcePath(),
                                   "no MBAR " + std::to_string(menuBarID));
      return nullptr;
    }
    std::vector<MenuRef> menus;
    for (SInt16 id : bar->menus) {
      MenuRef m = GetMenu(id);
      if (!m) {
        // A bar with a menu missing is as good as no bar: undo what was made.
        for (MenuRef made : menus) DisposeMenu(made);
        vt::resources::reportProblem(file, "MBAR " + std::to_string(menuBarID) + " names MENU " +
                                               std::to_string(id) + ", which is missing");
        vt::resources::setResError(resNotFound);
        return nullptr;
      }
      menus.push_back(m);
    }
    Handle list = NewHandleClear((Size)(8 + menus.size() * sizeof(MenuRef)));
    if (!list) {
      for (MenuRef made : menus) DisposeMenu(made);
      return nullptr;
    }
    uint32_t magic = kListMagic, count = (uint32_t)menus.size();
    std::memcpy(*list, &magic, 4);
    std::memcpy(*list + 4, &count, 4);
    if (!menus.empty()) std::memcpy(*list + 8, menus.data(), menus.size() * sizeof(MenuRef));
    return list;
  });
}

Handle GetMenuBar() {
  return vt::apiCall<Handle>(vt::noErrorState, {}, [&]() -> Handle {
    const auto& bar = model().bar;
    Handle list = NewHandleClear((Size)(8 + bar.size() * sizeof(MenuRef)));
    if (!list) return nullptr;
    uint32_t magic = kListMagic, count = (uint32_t)bar.size();
    std::memcpy(*list, &magic, 4);
    std::memcpy(*list + 4, &count, 4);
    if (!bar.empty()) std::memcpy(*list + 8, bar.data(), bar.size() * sizeof(MenuRef));
    return list;
  });
}

void SetMenuBar(Handle menuList) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!menuList || !VTIsValidHandle(menuList) || GetHandleSize(menuList) < 8) return;
    uint32_t magic, count;
    std::memcpy(&magic, *menuList, 4);
    std::memcpy(&count, *menuList + 4, 4);
    if (magic != kListMagic || GetHandleSize(menuList) < (Size)(8 + count * sizeof(MenuRef)))
      return;
    std::vector<VTMenu*> bar;
    for (uint32_t i = 0; i < count; ++i) {
      MenuRef m;
      std::memcpy(&m, *menuList + 8 + i * sizeof(MenuRef), sizeof m);
      if (validMenu(m) && std::find(bar.begin(), bar.end(), m) == bar.end()) bar.push_back(m);
    }
    model().bar = std::move(bar);
    setOpenMenu(-1, -1);
    invalidateBar();
  });
}

void ClearMenuBar() {
  vt::apiCall(vt::noErrorState, [&] {
    model().bar.clear();
    setHilitedMenu(0);
    invalidateBar();
  });
}

void InsertMenu(MenuRef theMenu, MenuID beforeID) {
  vt::apiCall(vt::noErrorState, [&] {
    VTMenu* m = validMenu(theMenu);
    if (!m || beforeID == hierMenu) return;
    auto& bar = model().bar;
    for (VTMenu* b : bar)
      if (b->id == m->id) return;  // a menu of that ID is already installed
    auto at = bar.end();
    if (beforeID != 0)
      at = std::find_if(bar.begin(), bar.end(), [&](VTMenu* b) { return b->id == beforeID; });
    bar.insert(at, m);
    invalidateBar();
  });
}

void DeleteMenu(MenuID menuID) {
  vt::apiCall(vt::noErrorState, [&] {
    auto& bar = model().bar;
    auto n = bar.size();
    bar.erase(std::remove_if(bar.begin(), bar.end(), [&](VTMenu* b) { return b->id == menuID; }),
              bar.end());
    if (bar.size() != n) {
      if (hilitedMenu() == menuID) setHilitedMenu(0);
      invalidateBar();
    }
  });
}

MenuRef GetMenuHandle(MenuID menuID) {
  return vt::apiCall<MenuRef>(vt::noErrorState, {}, [&]() -> MenuRef {
    for (VTMenu* m : model().bar)
      if (m->id == menuID) return m;
    return nullptr;
  });
}
