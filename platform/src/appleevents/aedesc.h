// Inside of Apple event descriptors. A descriptor's dataHandle is a memory-manager handle with
// the descriptor's bytes; lists, records and events keep their items in one encoded block:
//   list/record: count (4), then per item: keyword (4), type (4), size (4), bytes
//   event:       attribute count (4), attribute items, parameter count (4), parameter items
// All fields native-endian: descriptors never leave the process (launch messages carry paths).
#pragma once
#include <AppleEvents.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vt::ae {

struct Item {
  AEKeyword keyword = typeWildCard;
  DescType type = typeNull;
  std::vector<uint8_t> data;
};

struct EventParts {
  std::vector<Item> attributes;
  std::vector<Item> params;
};

std::vector<uint8_t> bytesOf(const AEDesc& desc);
// Makes desc (its own new handle) from bytes. memFullErr when memory runs out.
OSErr makeDesc(DescType type, const void* data, size_t size, AEDesc& desc);

bool decodeItems(const uint8_t*& p, const uint8_t* end, std::vector<Item>& items);
void encodeItems(const std::vector<Item>& items, std::vector<uint8_t>& out);
bool decodeList(const std::vector<uint8_t>& bytes, std::vector<Item>& items);
std::vector<uint8_t> encodeList(const std::vector<Item>& items);
bool decodeEvent(const std::vector<uint8_t>& bytes, EventParts& parts);
std::vector<uint8_t> encodeEvent(const EventParts& parts);

// Converts data of type `from` to type `to` (see AEGetNthPtr). errAECoercionFail when it
// cannot.
OSErr coerce(DescType from, const std::vector<uint8_t>& data, DescType to, DescType& outType,
             std::vector<uint8_t>& out);

// file:// URL of an absolute path, and back (percent-encoding; false for other URLs).
std::string fileURLOfPath(const std::string& path);
bool pathOfFileURL(const std::string& url, std::string& path);

// A new event of the required suite whose direct object lists the paths as file items.
OSErr makeFileListEvent(AEEventID id, const std::vector<std::string>& paths, AppleEvent& event);

}  // namespace vt::ae
