#include "resources/resource_file.h"

#include "core/fourcc.h"
#include "core/macroman.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace vt::resources {
namespace {

using json = nlohmann::json;

constexpr int kMaxDepth = 32;
constexpr size_t kMaxItems = 512;

// Thrown inside the parser only; parseResourceFile turns it into an error text.
struct SchemaError {
  std::string what;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw SchemaError{where + ": " + what};
}

// Nesting depth of the document, found before parsing so that hostile input cannot exhaust
// the stack of anything that walks the tree recursively.
bool depthWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// An integer value, with huge unsigned values clamped so range checks reject them.
long long intValue(const json& v) {
  if (v.is_number_unsigned()) {
    unsigned long long u = v.get<unsigned long long>();
    return u > (1ull << 40) ? (1ll << 40) : (long long)u;
  }
  return v.get<long long>();
}

SInt16 getShort(const json& o, const char* key, const std::string& where,
                std::optional<SInt16> dflt) {
  auto it = o.find(key);
  if (it == o.end()) {
    if (dflt) return *dflt;
    fail(where, std::string("missing \"") + key + "\"");
  }
  if (!it->is_number_integer()) fail(where, std::string("\"") + key + "\" is not an integer");
  long long v = intValue(*it);
  if (v < -32768 || v > 32767) fail(where, std::string("\"") + key + "\" out of range");
  return (SInt16)v;
}

bool getBool(const json& o, const char* key, const std::string& where, bool dflt) {
  auto it = o.find(key);
  if (it == o.end()) return dflt;
  if (!it->is_boolean()) fail(where, std::string("\"") + key + "\" is not true or false");
  return it->get<bool>();
}

std::string toText(const json& v, const std::string& where) {
  if (!v.is_string()) fail(where, "not a string");
  const std::string& s = v.get_ref<const std::string&>();
  if (!isValidUtf8(s)) fail(where, "not UTF-8");
  if (s.size() > 255) fail(where, "longer than 255 bytes");
  return s;
}

std::string getText(const json& o, const char* key, const std::string& where, bool required) {
  auto it = o.find(key);
  if (it == o.end()) {
    if (required) fail(where, std::string("missing \"") + key + "\"");
    return {};
  }
  return toText(*it, where + "." + key);
}

Rect getRect(const json& o, const char* key, const std::string& where) {
  auto it = o.find(key);
  if (it == o.end()) fail(where, std::string("missing \"") + key + "\"");
  if (!it->is_array() || it->size() != 4)
    fail(where, std::string("\"") + key + "\" is not [top, left, bottom, right]");
  short v[4];
  for (int i = 0; i < 4; ++i) {
    const json& n = (*it)[i];
    if (!n.is_number_integer()) fail(where, std::string("\"") + key + "\" holds a non-integer");
    long long x = intValue(n);
    if (x < -16384 || x > 16384) fail(where, std::string("\"") + key + "\" out of range");
    v[i] = (short)x;
  }
  Rect r{v[0], v[1], v[2], v[3]};
  if (r.bottom < r.top || r.right < r.left)
    fail(where, std::string("\"") + key + "\" is upside down");
  return r;
}

const json& getArray(const json& o, const char* key, const std::string& where) {
  auto it = o.find(key);
  if (it == o.end()) fail(where, std::string("missing \"") + key + "\"");
  if (!it->is_array()) fail(where, std::string("\"") + key + "\" is not an array");
  if (it->size() > kMaxItems) fail(where, std::string("\"") + key + "\" is too long");
  return *it;
}

UInt8 getModifiers(const json& o, const std::string& where) {
  auto it = o.find("modifiers");
  if (it == o.end()) return 0;
  if (it->is_number_integer()) {
    long long v = intValue(*it);
    if (v < 0 || v > 15) fail(where, "\"modifiers\" out of range");
    return (UInt8)v;
  }
  if (!it->is_array()) fail(where, "\"modifiers\" is neither a number nor a list");
  UInt8 m = 0;
  for (const json& name : *it) {
    if (!name.is_string()) fail(where, "\"modifiers\" holds a non-string");
    const std::string& s = name.get_ref<const std::string&>();
    if (s == "shift")
      m |= 1;
    else if (s == "option")
      m |= 2;
    else if (s == "control")
      m |= 4;
    else if (s == "noCommand")
      m |= 8;
    else
      fail(where, "unknown modifier \"" + s + "\"");
  }
  return m;
}

MenuRes parseMenu(const json& o, const std::string& where) {
  MenuRes m;
  m.id = getShort(o, "id", where, std::nullopt);
  m.title = getText(o, "title", where, true);
  m.enabled = getBool(o, "enabled", where, true);
  const json& items = getArray(o, "items", where);
  for (size_t i = 0; i < items.size(); ++i) {
    std::string w = where + ".items[" + std::to_string(i) + "]";
    const json& it = items[i];
    if (!it.is_object()) fail(w, "not an object");
    MenuItemRes item;
    if (getBool(it, "separator", w, false)) {
      item.separator = true;
      item.enabled = false;
      item.text = "-";
    } else {
      item.text = getText(it, "text", w, true);
      item.enabled = getBool(it, "enabled", w, true);
      item.checked = getBool(it, "checked", w, false);
      std::string key = getText(it, "key", w, false);
      if (key.size() > 1) fail(w, "\"key\" is more than one character");
      if (!key.empty()) {
        unsigned char k = (unsigned char)key[0];
        if (k < 0x20 || k == 0x7F) fail(w, "\"key\" is a control character");
        item.key = (char)std::toupper(k);
      }
      item.modifiers = getModifiers(it, w);
    }
    m.items.push_back(std::move(item));
  }
  return m;
}

SInt16 itemKind(const std::string& s, bool& enabledByDefault, const std::string& where) {
  enabledByDefault = true;
  if (s == "button") return 4 + 0;
  if (s == "checkBox") return 4 + 1;
  if (s == "radioButton") return 4 + 2;
  if (s == "editText") return 16;
  enabledByDefault = false;
  if (s == "statText") return 8;
  if (s == "userItem") return 0;
  if (s == "icon") return 32;
  if (s == "picture") return 64;
  fail(where, "unknown item kind \"" + s + "\"");
}

DialogRes parseDialog(const json& o, const std::string& where, bool alert) {
  DialogRes d;
  d.id = getShort(o, "id", where, std::nullopt);
  d.title = getText(o, "title", where, false);
  d.bounds = getRect(o, "bounds", where);
  d.procID = getShort(o, "procID", where, SInt16(5));
  d.visible = getBool(o, "visible", where, true);
  d.goAway = getBool(o, "goAway", where, false);
  d.defaultItem = getShort(o, "defaultItem", where, SInt16(alert ? 1 : 0));
  d.cancelItem = getShort(o, "cancelItem", where, SInt16(0));
  if (alert) {
    std::string type = getText(o, "alertType", where, false);
    if (type.empty() || type == "plain")
      d.alertType = 3;
    else if (type == "stop")
      d.alertType = 0;
    else if (type == "note")
      d.alertType = 1;
    else if (type == "caution")
      d.alertType = 2;
    else
      fail(where, "unknown alert type \"" + type + "\"");
  }
  const json& items = getArray(o, "items", where);
  for (size_t i = 0; i < items.size(); ++i) {
    std::string w = where + ".items[" + std::to_string(i) + "]";
    const json& it = items[i];
    if (!it.is_object()) fail(w, "not an object");
    DialogItemRes item;
    bool enabledByDefault;
    item.kind = itemKind(getText(it, "kind", w, true), enabledByDefault, w);
    item.enabled = getBool(it, "enabled", w, enabledByDefault);
    item.rect = getRect(it, "rect", w);
    item.text = getText(it, "text", w, false);
    item.resID = getShort(it, "resID", w, SInt16(0));
    d.items.push_back(std::move(item));
  }
  short n = (short)d.items.size();
  if (d.defaultItem < 0 || d.defaultItem > n) fail(where, "\"defaultItem\" names no item");
  if (d.cancelItem < 0 || d.cancelItem > n) fail(where, "\"cancelItem\" names no item");
  return d;
}

ResType typeFromKey(const std::string& key, bool& isType) {
  std::string mac = utf8ToMacRoman(key);
  isType = mac.size() == 4;
  if (!isType) return 0;
  return ((ResType)(unsigned char)mac[0] << 24) | ((ResType)(unsigned char)mac[1] << 16) |
         ((ResType)(unsigned char)mac[2] << 8) | (ResType)(unsigned char)mac[3];
}

}  // namespace

std::vector<SInt16> ResourceFile::idsOf(ResType type) const {
  std::vector<SInt16> ids;
  for (const auto& [key, text] : raw)
    if (key.first == type) ids.push_back(key.second);
  return ids;
}

ParseResult parseResourceFile(std::string_view text) {
  ParseResult result;
  if (text.size() > kMaxResourceFileBytes) {
    result.error = "file too large";
    return result;
  }
  if (!depthWithin(text, kMaxDepth)) {
    result.error = "nested too deeply";
    return result;
  }
  json doc = json::parse(text.begin(), text.end(), nullptr, false);
  if (doc.is_discarded()) {
    result.error = "not valid JSON";
    return result;
  }
  if (!doc.is_object()) {
    result.error = "top level is not an object";
    return result;
  }
  auto file = std::make_shared<ResourceFile>();
  try {
    for (const auto& [key, list] : doc.items()) {
      bool isType;
      ResType type = typeFromKey(key, isType);
      if (!isType) continue;  // comments and other metadata
      if (!list.is_array()) fail(key, "not an array of resources");
      if (list.size() > kMaxItems * 8) fail(key, "too many resources");
      for (size_t i = 0; i < list.size(); ++i) {
        const json& res = list[i];
        std::string where = key + "[" + std::to_string(i) + "]";
        if (!res.is_object()) fail(where, "not an object");
        SInt16 id = getShort(res, "id", where, std::nullopt);
        where = key + " " + std::to_string(id);
        if (!file->raw.emplace(std::make_pair(type, id), res.dump()).second)
          fail(where, "defined twice");
        if (type == 'MBAR') {
          MenuBarRes bar;
          bar.id = id;
          for (const json& m : getArray(res, "menus", where)) {
            if (!m.is_number_integer()) fail(where, "\"menus\" holds a non-integer");
            long long v = intValue(m);
            if (v < -32768 || v > 32767) fail(where, "menu ID out of range");
            bar.menus.push_back((SInt16)v);
          }
          file->menuBars[id] = std::move(bar);
        } else if (type == 'MENU') {
          file->menus[id] = parseMenu(res, where);
        } else if (type == 'STR#') {
          std::vector<std::string> strings;
          const json& arr = getArray(res, "strings", where);
          for (size_t k = 0; k < arr.size(); ++k)
            strings.push_back(toText(arr[k], where + ".strings[" + std::to_string(k) + "]"));
          file->stringLists[id] = std::move(strings);
        } else if (type == 'STR ') {
          file->strings[id] = getText(res, "text", where, true);
        } else if (type == 'DLOG') {
          file->dialogs[id] = parseDialog(res, where, false);
        } else if (type == 'ALRT') {
          file->alerts[id] = parseDialog(res, where, true);
        }
      }
    }
  } catch (const SchemaError& e) {
    result.error = e.what;
    return result;
  } catch (const std::exception& e) {  // the JSON library's own type errors
    result.error = e.what();
    return result;
  }
  result.file = std::move(file);
  return result;
}

}  // namespace vt::resources
