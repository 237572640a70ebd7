// The resource file: a JSON document holding the application's menus, dialogs, alerts and
// strings by type and ID. Parsing is strict: a file with any malformed resource is rejected as
// a whole, so a half-read menu bar never reaches the screen.
//
// Layout: an object whose four-character keys are resource types, each an array of resources
// with an "id" (-32768..32767, unique within the type). Other keys (e.g. "comment") are ignored.
//   "MBAR": {"id", "menus": [menu IDs]}
//   "MENU": {"id", "title", "enabled"?, "items": [{"text", "key"?, "modifiers"?, "enabled"?,
//            "checked"?} or {"separator": true}]}
//   "STR#": {"id", "strings": [texts]}          "STR ": {"id", "text"}
//   "DLOG": {"id", "title"?, "bounds": [top, left, bottom, right], "procID"?, "visible"?,
//            "goAway"?, "defaultItem"?, "cancelItem"?, "items": [dialog items]}
//   "ALRT": {"id", "alertType"?: "stop"|"note"|"caution"|"plain", "title"?, "bounds",
//            "defaultItem"?, "cancelItem"?, "items": [dialog items]}
//   dialog item: {"kind": "button"|"checkBox"|"radioButton"|"statText"|"editText"|"userItem"|
//            "icon"|"picture", "rect": [top, left, bottom, right], "text"?, "enabled"?, "resID"?}
// Texts are UTF-8, in the file as in memory (toolbox strings), at most 255 bytes each.
#pragma once
#include <MacTypes.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vt::resources {

struct MenuItemRes {
  std::string text;  // UTF-8
  bool separator = false;
  bool enabled = true;
  bool checked = false;
  char key = 0;  // command key, upper case; 0 for none
  UInt8 modifiers = 0;
};

struct MenuRes {
  SInt16 id = 0;
  std::string title;
  bool enabled = true;
  std::vector<MenuItemRes> items;
};

struct MenuBarRes {
  SInt16 id = 0;
  std::vector<SInt16> menus;
};

struct DialogItemRes {
  SInt16 kind = 0;  // the toolbox's item kind, without itemDisable
  bool enabled = false;
  Rect rect{};
  std::string text;
  SInt16 resID = 0;
};

struct DialogRes {
  SInt16 id = 0;
  std::string title;
  Rect bounds{};
  SInt16 procID = 5;  // movable modal
  bool visible = true;
  bool goAway = false;
  SInt16 defaultItem = 0;
  SInt16 cancelItem = 0;
  SInt16 alertType = -1;  // ALRT only: stop 0, note 1, caution 2, plain 3
  std::vector<DialogItemRes> items;
};

struct ResourceFile {
  std::map<SInt16, MenuBarRes> menuBars;
  std::map<SInt16, MenuRes> menus;
  std::map<SInt16, std::vector<std::string>> stringLists;
  std::map<SInt16, std::string> strings;
  std::map<SInt16, DialogRes> dialogs;
  std::map<SInt16, DialogRes> alerts;
  // Every resource's own JSON text, by type and ID (what GetResource hands out for types
  // without a binary layout of their own).
  std::map<std::pair<ResType, SInt16>, std::string> raw;

  std::vector<SInt16> idsOf(ResType type) const;
};

struct ParseResult {
  std::shared_ptr<const ResourceFile> file;  // null on failure
  std::string error;                         // why, for diagnostics
};

// Largest resource file accepted.
constexpr size_t kMaxResourceFileBytes = 4 * 1024 * 1024;

ParseResult parseResourceFile(std::string_view text);

}  // namespace vt::resources
