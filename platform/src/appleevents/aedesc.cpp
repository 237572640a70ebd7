// Descriptors, lists, records and event parameters, with the coercions the platform offers.
#include "appleevents/aedesc.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <filesystem>

#include "files/fsspec.h"

namespace vt::ae {
namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t* p = (const uint8_t*)&v;
  out.insert(out.end(), p, p + 4);
}

bool get32(const uint8_t*& p, const uint8_t* end, uint32_t& v) {
  if (end - p < 4) return false;
  std::memcpy(&v, p, 4);
  p += 4;
  return true;
}

bool isTextType(DescType t) { return t == typeChar || t == typeUTF8Text; }

}  // namespace

std::vector<uint8_t> bytesOf(const AEDesc& desc) {
  Handle h = (Handle)desc.dataHandle;
  if (h == nullptr || !VTIsValidHandle(h)) return {};
  return std::vector<uint8_t>((uint8_t*)*h, (uint8_t*)*h + GetHandleSize(h));
}

OSErr makeDesc(DescType type, const void* data, size_t size, AEDesc& desc) {
  desc.descriptorType = typeNull;
  desc.dataHandle = nullptr;
  if (size > 0x7FFFFFFF) return memFullErr;
  if (type == typeNull && size == 0) return noErr;
  Handle h = NewHandle((Size)size);
  if (h == nullptr) return memFullErr;
  if (size > 0) std::memcpy(*h, data, size);
  desc.descriptorType = type;
  desc.dataHandle = (AEDataStorage)h;
  return noErr;
}

bool decodeItems(const uint8_t*& p, const uint8_t* end, std::vector<Item>& items) {
  uint32_t count;
  if (!get32(p, end, count)) return false;
  // Each item needs 12 bytes: bounds the count before reserving anything.
  if (count > (uint32_t)(end - p) / 12) return false;
  items.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    Item it;
    uint32_t size;
    if (!get32(p, end, it.keyword) || !get32(p, end, it.type) || !get32(p, end, size)) return false;
    if (size > (uint32_t)(end - p)) return false;
    it.data.assign(p, p + size);
    p += size;
    items.push_back(std::move(it));
  }
  return true;
}

void encodeItems(const std::vector<Item>& items, std::vector<uint8_t>& out) {
  put32(out, (uint32_t)items.size());
  for (const Item& it : items) {
    put32(out, it.keyword);
    put32(out, it.type);
    put32(out, (uint32_t)it.data.size());
    out.insert(out.end(), it.data.begin(), it.data.end());
  }
}

bool decodeList(const std::vector<uint8_t>& bytes, std::vector<Item>& items) {
  if (bytes.empty()) return true;  // an empty list made without any item block
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  return decodeItems(p, end, items) && p == end;
}

std::vector<uint8_t> encodeList(const std::vector<Item>& items) {
  std::vector<uint8_t> out;
  encodeItems(items, out);
  return out;
}

bool decodeEvent(const std::vector<uint8_t>& bytes, EventParts& parts) {
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  return decodeItems(p, end, parts.attributes) && decodeItems(p, end, parts.params) && p == end;
}

std::vector<uint8_t> encodeEvent(const EventParts& parts) {
  std::vector<uint8_t> out;
  encodeItems(parts.attributes, out);
  encodeItems(parts.params, out);
  return out;
}

std::string fileURLOfPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) {
      url += (char)c;
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

bool pathOfFileURL(const std::string& url, std::string& path) {
  std::string rest;
  if (url.rfind("file://localhost/", 0) == 0)
    rest = url.substr(16);
  else if (url.rfind("file:///", 0) == 0)
    rest = url.substr(7);
  else
    return false;
  path.clear();
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    if (i + 2 >= rest.size() || !std::isxdigit((unsigned char)rest[i + 1]) ||
        !std::isxdigit((unsigned char)rest[i + 2]))
      return false;
    path += (char)std::stoi(rest.substr(i + 1, 2), nullptr, 16);
    i += 2;
  }
  return !path.empty() && path.find('\0') == std::string::npos;
}

OSErr coerce(DescType from, const std::vector<uint8_t>& data, DescType to, DescType& outType,
             std::vector<uint8_t>& out) {
  outType = from;
  if (to == typeWildCard || to == from) {
    out = data;
    return noErr;
  }
  outType = to;
  // File items: a path in text, a file URL, or an FSSpec.
  std::string path;
  bool isFile = false;
  if (isTextType(from)) {
    path.assign(data.begin(), data.end());
    while (!path.empty() && path.back() == '\0') path.pop_back();  // C strings as text
    isFile = !path.empty() && path.find('\0') == std::string::npos;
  } else if (from == typeFileURL) {
    isFile = pathOfFileURL(std::string(data.begin(), data.end()), path);
  } else if (from == typeFSS && data.size() >= 70 && data.size() <= sizeof(FSSpec)) {
    // Also specs stored by the classic 70-byte size.
    FSSpec spec;
    std::memset(&spec, 0, sizeof spec);
    std::memcpy(&spec, data.data(), data.size());
    isFile = offsetof(FSSpec, name) + 1u + spec.name[0] <= data.size() &&
             vt::files::specToPath(spec, path) == noErr;
  }
  if (to == typeFSS) {
    if (!isFile) return errAECoercionFail;
    FSSpec spec;
    OSErr err = vt::files::pathToSpec(path, spec);
    if (err != noErr && err != fnfErr) return errAECoercionFail;
    out.assign((uint8_t*)&spec, (uint8_t*)&spec + sizeof spec);
    return noErr;
  }
  if (to == typeFileURL && isFile) {
    std::string abs = std::filesystem::absolute(path).lexically_normal().string();
    std::string url = fileURLOfPath(abs);
    out.assign(url.begin(), url.end());
    return noErr;
  }
  if (isTextType(to) && isFile && !isTextType(from)) {
    out.assign(path.begin(), path.end());
    return noErr;
  }
  if (isTextType(to) && isTextType(from)) {
    out = data;
    return noErr;
  }
  // Integers and four-character codes.
  if (to == typeSInt32 && from == typeSInt16 && data.size() == 2) {
    int16_t v;
    std::memcpy(&v, data.data(), 2);
    int32_t w = v;
    out.assign((uint8_t*)&w, (uint8_t*)&w + 4);
    return noErr;
  }
  if (to == typeSInt16 && from == typeSInt32 && data.size() == 4) {
    int32_t v;
    std::memcpy(&v, data.data(), 4);
    if (v < -32768 || v > 32767) return errAECoercionFail;
    int16_t w = (int16_t)v;
    out.assign((uint8_t*)&w, (uint8_t*)&w + 2);
    return noErr;
  }
  const DescType codes[] = {typeType, typeEnumerated, typeKeyword};
  if (std::find(std::begin(codes), std::end(codes), to) != std::end(codes) &&
      std::find(std::begin(codes), std::end(codes), from) != std::end(codes) && data.size() == 4) {
    out = data;
    return noErr;
  }
  if (to == typeBoolean && (from == typeTrue || from == typeFalse)) {
    out.assign(1, from == typeTrue ? 1 : 0);
    return noErr;
  }
  return errAECoercionFail;
}

OSErr makeFileListEvent(AEEventID id, const std::vector<std::string>& paths, AppleEvent& event) {
  OSErr err = AECreateAppleEvent(kCoreEventClass, id, nullptr, kAutoGenerateReturnID,
                                 kAnyTransactionID, &event);
  if (err != noErr) return err;
  std::vector<Item> items;
  for (const std::string& p : paths) {
    std::string abs = std::filesystem::absolute(p).lexically_normal().string();
    std::string url = fileURLOfPath(abs);
    items.push_back({typeWildCard, typeFileURL, std::vector<uint8_t>(url.begin(), url.end())});
  }
  std::vector<uint8_t> list = encodeList(items);
  err = AEPutParamPtr(&event, keyDirectObject, typeAEList, list.data(), (Size)list.size());
  if (err != noErr) AEDisposeDesc(&event);
  return err;
}

}  // namespace vt::ae
