// User data lists: typed items in order, each kept as the exact bytes given.
#include <MacMemory.h>
#include <MovieUserData.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "atoms/userdata_impl.h"
#include "core/fourcc.h"
#include "core/boundary.h"

namespace {

using Item = VTUserData::Item;

// Position in the list of item `index` (1-based; 0 counts as 1) of the type, or -1.
long findItem(const VTUserData* ud, OSType type, long index) {
  if (index < 0) return -1;
  if (index == 0) index = 1;
  for (size_t i = 0; i < ud->items.size(); ++i)
    if (ud->items[i].type == type && --index == 0) return (long)i;
  return -1;
}

OSErr copyToHandle(const std::vector<uint8_t>& bytes, Handle h) {
  SetHandleSize(h, (Size)bytes.size());
  if (MemError() != noErr) return MemError();
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return noErr;
}

// One language's text inside an international text item.
struct TextRecord {
  uint16_t language;
  std::vector<uint8_t> text;
};

// False when the records do not exactly fill the item.
bool parseText(const std::vector<uint8_t>& data, std::vector<TextRecord>& out) {
  size_t at = 0;
  while (at < data.size()) {
    if (data.size() - at < 4) return false;
    uint16_t len = vt::readBE16(&data[at]);
    uint16_t lang = vt::readBE16(&data[at + 2]);
    if (data.size() - at - 4 < len) return false;
    out.push_back({lang, std::vector<uint8_t>(data.begin() + (long)at + 4,
                                              data.begin() + (long)at + 4 + len)});
    at += 4 + (size_t)len;
  }
  return true;
}

std::vector<uint8_t> encodeText(const std::vector<TextRecord>& records) {
  std::vector<uint8_t> out;
  for (const TextRecord& r : records) {
    uint8_t head[4];
    vt::writeBE16(head, (uint16_t)r.text.size());
    vt::writeBE16(head + 2, r.language);
    out.insert(out.end(), head, head + 4);
    out.insert(out.end(), r.text.begin(), r.text.end());
  }
  return out;
}

// Language code of a region code (the common regions; others count as English). -1 is the
// system's region.
uint16_t languageOfRegion(short region) {
  static const uint16_t table[] = {0, 1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0};
  if (region < 0 || (size_t)region >= sizeof table / sizeof table[0]) return 0;
  return table[region];
}

}  // namespace

OSErr NewUserData(UserData* theUserData) {
  return vt::apiStatus([&]() -> OSErr {
    if (theUserData == nullptr) return paramErr;
    *theUserData = new (std::nothrow) VTUserData;
    return *theUserData ? (OSErr)noErr : (OSErr)memFullErr;
  });
}

OSErr DisposeUserData(UserData theUserData) {
  return vt::apiStatus([&]() -> OSErr {
    if (theUserData == nullptr) return paramErr;
    delete theUserData;
    return noErr;
  });
}

OSErr GetUserData(UserData ud, Handle data, OSType udType, long index) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr) return paramErr;
    long i = findItem(ud, udType, index);
    if (i < 0) return userDataItemNotFound;
    if (data == nullptr) return noErr;  // asks only whether the item exists
    return copyToHandle(ud->items[(size_t)i].data, data);
  });
}

OSErr GetUserDataItem(UserData ud, void* data, long size, OSType udType, long index) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr || size < 0 || (data == nullptr && size > 0)) return paramErr;
    long i = findItem(ud, udType, index);
    if (i < 0) return userDataItemNotFound;
    const auto& bytes = ud->items[(size_t)i].data;
    // An item of another size than the caller reads is not the item the caller knows: part of
    // the buffer would keep whatever it held. It counts as absent and the buffer stays untouched.
    if (bytes.size() != (size_t)size) return userDataItemNotFound;
    if (size > 0) std::memcpy(data, bytes.data(), bytes.size());
    return noErr;
  });
}

OSErr SetUserDataItem(UserData ud, void* data, long size, OSType udType, long index) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr || size < 0 || (data == nullptr && size > 0) || index < 0) return paramErr;
    std::vector<uint8_t> bytes((const uint8_t*)data, (const uint8_t*)data + size);
    long i = findItem(ud, udType, index);
    if (i >= 0) {
      ud->items[(size_t)i].data = std::move(bytes);
      return noErr;
    }
    // Creating is allowed only as the next item of the type.
    long count = CountUserDataType(ud, udType);
    if (std::max(index, 1L) != count + 1) return userDataItemNotFound;
    ud->items.push_back({udType, std::move(bytes)});
    return noErr;
  });
}

OSErr AddUserData(UserData ud, Handle data, OSType udType) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr || data == nullptr) return paramErr;
    Size n = GetHandleSize(data);
    if (MemError() != noErr) return MemError();
    const uint8_t* p = (const uint8_t*)*data;
    ud->items.push_back({udType, std::vector<uint8_t>(p, p + n)});
    return noErr;
  });
}

OSErr RemoveUserData(UserData ud, OSType udType, long index) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr) return paramErr;
    long i = findItem(ud, udType, index);
    if (i < 0) return userDataItemNotFound;
    ud->items.erase(ud->items.begin() + i);
    return noErr;
  });
}

short CountUserDataType(UserData ud, OSType udType) {
  return vt::apiCall(vt::noErrorState, short(0), [&]() -> short {
    if (ud == nullptr) return 0;
    long n = std::count_if(ud->items.begin(), ud->items.end(),
                           [udType](const Item& it) { return it.type == udType; });
    return (short)std::min(n, 0x7FFFL);
  });
}

long GetNextUserDataType(UserData ud, OSType udType) {
  return vt::apiCall(vt::noErrorState, long(0), [&]() -> long {
    if (ud == nullptr) return 0;
    std::vector<OSType> types;
    for (const Item& it : ud->items)
      if (std::find(types.begin(), types.end(), it.type) == types.end()) types.push_back(it.type);
    if (udType == 0) return types.empty() ? 0 : (long)types.front();
    for (size_t i = 0; i + 1 < types.size(); ++i)
      if (types[i] == udType) return (long)types[i + 1];
    return 0;
  });
}

OSErr AddUserDataText(UserData ud, Handle data, OSType udType, long index, short itlRegionTag) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr || data == nullptr || index < 0) return paramErr;
    Size n = GetHandleSize(data);
    if (MemError() != noErr) return MemError();
    if (n > 0xFFFF) return paramErr;  // a record's length is 16 bits
    TextRecord record{languageOfRegion(itlRegionTag),
                      std::vector<uint8_t>((const uint8_t*)*data, (const uint8_t*)*data + n)};
    long i = findItem(ud, udType, index);
    if (i < 0) {
      if (std::max(index, 1L) != CountUserDataType(ud, udType) + 1) return userDataItemNotFound;
      ud->items.push_back({udType, encodeText({record})});
      return noErr;
    }
    std::vector<TextRecord> records;
    // A damaged item is left as it is rather than rewritten from a guess.
    if (!parseText(ud->items[(size_t)i].data, records)) return badFileFormat;
    auto same = std::find_if(records.begin(), records.end(),
                             [&](const TextRecord& r) { return r.language == record.language; });
    if (same != records.end())
      same->text = std::move(record.text);
    else
      records.push_back(std::move(record));
    ud->items[(size_t)i].data = encodeText(records);
    return noErr;
  });
}

OSErr GetUserDataText(UserData ud, Handle data, OSType udType, long index, short itlRegionTag) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr || data == nullptr) return paramErr;
    long i = findItem(ud, udType, index);
    if (i < 0) return userDataItemNotFound;
    std::vector<TextRecord> records;
    if (!parseText(ud->items[(size_t)i].data, records)) return badFileFormat;
    if (records.empty()) return userDataItemNotFound;
    uint16_t lang = languageOfRegion(itlRegionTag);
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const TextRecord& r) { return r.language == lang; });
    return copyToHandle(it != records.end() ? it->text : records.front().text, data);
  });
}

OSErr RemoveUserDataText(UserData ud, OSType udType, long index, short itlRegionTag) {
  return vt::apiStatus([&]() -> OSErr {
    if (ud == nullptr) return paramErr;
    long i = findItem(ud, udType, index);
    if (i < 0) return userDataItemNotFound;
    std::vector<TextRecord> records;
    if (!parseText(ud->items[(size_t)i].data, records)) return badFileFormat;
    uint16_t lang = languageOfRegion(itlRegionTag);
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const TextRecord& r) { return r.language == lang; });
    if (it == records.end()) return userDataItemNotFound;
    records.erase(it);
    if (records.empty())
      ud->items.erase(ud->items.begin() + i);
    else
      ud->items[(size_t)i].data = encodeText(records);
    return noErr;
  });
}
