// The public descriptor, list and event calls.
#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>
#include <cstring>

#include "appleevents/aedesc.h"
#include "core/boundary.h"

using vt::ae::Item;

namespace {

bool isList(const AEDesc* d) {
  return d && (d->descriptorType == typeAEList || d->descriptorType == typeAERecord);
}

// Copies (at most maximumSize bytes of) data out, as the Ptr calls do.
void copyOut(const std::vector<uint8_t>& data, void* dataPtr, Size maximumSize, Size* actualSize) {
  if (dataPtr && maximumSize > 0 && !data.empty())
    std::memcpy(dataPtr, data.data(), std::min((size_t)maximumSize, data.size()));
  if (actualSize) *actualSize = (Size)data.size();
}

OSErr readList(const AEDescList* list, std::vector<Item>& items) {
  if (list == nullptr) return paramErr;
  if (!isList(list)) return errAEWrongDataType;
  return vt::ae::decodeList(vt::ae::bytesOf(*list), items) ? (OSErr)noErr : (OSErr)errAECorruptData;
}

OSErr writeList(AEDescList* list, const std::vector<Item>& items) {
  std::vector<uint8_t> bytes = vt::ae::encodeList(items);
  Handle h = (Handle)list->dataHandle;
  if (h == nullptr) {
    h = NewHandle((Size)bytes.size());
    if (h == nullptr) return memFullErr;
    list->dataHandle = (AEDataStorage)h;
  } else {
    SetHandleSize(h, (Size)bytes.size());
    if (MemError() != noErr) return MemError();
  }
  std::memcpy(*h, bytes.data(), bytes.size());
  return noErr;
}

OSErr readEvent(const AppleEvent* event, vt::ae::EventParts& parts) {
  if (event == nullptr) return paramErr;
  if (event->descriptorType != typeAppleEvent) return errAENotAppleEvent;
  return vt::ae::decodeEvent(vt::ae::bytesOf(*event), parts) ? (OSErr)noErr
                                                             : (OSErr)errAECorruptData;
}

OSErr writeEvent(AppleEvent* event, const vt::ae::EventParts& parts) {
  std::vector<uint8_t> bytes = vt::ae::encodeEvent(parts);
  Handle h = (Handle)event->dataHandle;
  if (h == nullptr) return errAECorruptData;
  SetHandleSize(h, (Size)bytes.size());
  if (MemError() != noErr) return MemError();
  std::memcpy(*h, bytes.data(), bytes.size());
  return noErr;
}

Item* findKey(std::vector<Item>& items, AEKeyword key) {
  for (Item& it : items)
    if (it.keyword == key) return &it;
  return nullptr;
}

OSErr putItem(AEDescList* list, long index, AEKeyword key, DescType type, const void* data,
              Size size) {
  if (list == nullptr || size < 0 || (data == nullptr && size > 0)) return paramErr;
  std::vector<Item> items;
  OSErr err = readList(list, items);
  if (err != noErr) return err;
  Item item{key, type, std::vector<uint8_t>((const uint8_t*)data, (const uint8_t*)data + size)};
  if (index == 0 || index == (long)items.size() + 1)
    items.push_back(std::move(item));
  else if (index >= 1 && index <= (long)items.size())
    items[(size_t)index - 1] = std::move(item);
  else
    return errAEIllegalIndex;
  return writeList(list, items);
}

// The item desired as `desiredType`: lists wrap a lone item; everything else coerces.
OSErr coerceItem(const Item& item, DescType desiredType, DescType& outType,
                 std::vector<uint8_t>& out) {
  if (desiredType == typeAEList && item.type != typeAEList) {
    if (item.type == typeAERecord) return errAECoercionFail;
    outType = typeAEList;
    out = vt::ae::encodeList({Item{typeWildCard, item.type, item.data}});
    return noErr;
  }
  return vt::ae::coerce(item.type, item.data, desiredType, outType, out);
}

// Item `index` (1-based) of the list: its keyword, and its data as `desiredType`.
OSErr nthItem(const AEDescList* list, long index, DescType desiredType, AEKeyword& key,
              DescType& outType, std::vector<uint8_t>& out) {
  std::vector<Item> items;
  if (OSErr err = readList(list, items)) return err;
  if (index < 1 || index > (long)items.size()) return errAEIllegalIndex;
  const Item& item = items[(size_t)index - 1];
  key = item.keyword;
  return coerceItem(item, desiredType, outType, out);
}

}  // namespace

void AEInitializeDesc(AEDesc* desc) {
  vt::apiCall(vt::noErrorState, [&] {
    if (desc == nullptr) return;
    desc->descriptorType = typeNull;
    desc->dataHandle = nullptr;
  });
}

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (result == nullptr || dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) return paramErr;
    return vt::ae::makeDesc(typeCode, dataPtr, (size_t)dataSize, *result);
  });
}

OSErr AEDisposeDesc(AEDesc* theAEDesc) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr) return paramErr;
    Handle h = (Handle)theAEDesc->dataHandle;
    if (h != nullptr && VTIsValidHandle(h)) DisposeHandle(h);
    AEInitializeDesc(theAEDesc);
    return noErr;
  });
}

OSErr AEDuplicateDesc(const AEDesc* theAEDesc, AEDesc* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr || result == nullptr) return paramErr;
    std::vector<uint8_t> bytes = vt::ae::bytesOf(*theAEDesc);
    OSErr err = vt::ae::makeDesc(theAEDesc->descriptorType, bytes.data(), bytes.size(), *result);
    // An empty list or event still needs its own (empty) handle.
    if (err == noErr && result->dataHandle == nullptr && theAEDesc->dataHandle != nullptr) {
      Handle h = NewHandle(0);
      if (h == nullptr) return memFullErr;
      result->descriptorType = theAEDesc->descriptorType;
      result->dataHandle = (AEDataStorage)h;
    }
    return err;
  });
}

Size AEGetDescDataSize(const AEDesc* theAEDesc) {
  return vt::apiCall(vt::noErrorState, Size(0), [&]() -> Size {
    return theAEDesc ? (Size)vt::ae::bytesOf(*theAEDesc).size() : 0;
  });
}

OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr || maximumSize < 0) return paramErr;
    copyOut(vt::ae::bytesOf(*theAEDesc), dataPtr, maximumSize, nullptr);
    return noErr;
  });
}

OSErr AECoerceDesc(const AEDesc* theAEDesc, DescType toType, AEDesc* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr || result == nullptr) return paramErr;
    AEInitializeDesc(result);
    Item item{typeWildCard, theAEDesc->descriptorType, vt::ae::bytesOf(*theAEDesc)};
    if (toType == typeAEList && isList(theAEDesc) && theAEDesc->descriptorType == typeAEList)
      return AEDuplicateDesc(theAEDesc, result);
    DescType outType;
    std::vector<uint8_t> out;
    OSErr err = coerceItem(item, toType, outType, out);
    if (err != noErr) return err;
    return vt::ae::makeDesc(outType, out.data(), out.size(), *result);
  });
}

OSErr AECreateList(const void* /*factoringPtr*/, Size /*factoredSize*/, Boolean isRecord,
                   AEDescList* resultList) {
  return vt::apiStatus([&]() -> OSErr {
    if (resultList == nullptr) return paramErr;
    std::vector<uint8_t> bytes = vt::ae::encodeList({});
    return vt::ae::makeDesc(isRecord ? typeAERecord : typeAEList, bytes.data(), bytes.size(),
                            *resultList);
  });
}

OSErr AECountItems(const AEDescList* theAEDescList, long* theCount) {
  return vt::apiStatus([&]() -> OSErr {
    if (theCount == nullptr) return paramErr;
    *theCount = 0;
    std::vector<Item> items;
    OSErr err = readList(theAEDescList, items);
    if (err == noErr) *theCount = (long)items.size();
    return err;
  });
}

OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr,
               Size dataSize) {
  return vt::apiStatus([&]() -> OSErr {
    return putItem(theAEDescList, index, typeWildCard, typeCode, dataPtr, dataSize);
  });
}

OSErr AEPutDesc(AEDescList* theAEDescList, long index, const AEDesc* theAEDesc) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr) return paramErr;
    std::vector<uint8_t> bytes = vt::ae::bytesOf(*theAEDesc);
    return putItem(theAEDescList, index, typeWildCard, theAEDesc->descriptorType, bytes.data(),
                   (Size)bytes.size());
  });
}

OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType,
                  AEKeyword* theAEKeyword, DescType* typeCode, void* dataPtr, Size maximumSize,
                  Size* actualSize) {
  return vt::apiStatus([&]() -> OSErr {
    if (maximumSize < 0) return paramErr;
    AEKeyword key;
    DescType outType;
    std::vector<uint8_t> out;
    if (OSErr err = nthItem(theAEDescList, index, desiredType, key, outType, out)) return err;
    if (theAEKeyword) *theAEKeyword = key;
    if (typeCode) *typeCode = outType;
    copyOut(out, dataPtr, maximumSize, actualSize);
    return noErr;
  });
}

OSErr AEGetNthDesc(const AEDescList* theAEDescList, long index, DescType desiredType,
                   AEKeyword* theAEKeyword, AEDesc* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (result == nullptr) return paramErr;
    AEInitializeDesc(result);
    AEKeyword key;
    DescType outType;
    std::vector<uint8_t> out;
    if (OSErr err = nthItem(theAEDescList, index, desiredType, key, outType, out)) return err;
    if (theAEKeyword) *theAEKeyword = key;
    return vt::ae::makeDesc(outType, out.data(), out.size(), *result);
  });
}

OSErr AEDeleteItem(AEDescList* theAEDescList, long index) {
  return vt::apiStatus([&]() -> OSErr {
    std::vector<Item> items;
    OSErr err = readList(theAEDescList, items);
    if (err != noErr) return err;
    if (index < 1 || index > (long)items.size()) return errAEIllegalIndex;
    items.erase(items.begin() + (index - 1));
    return writeList(theAEDescList, items);
  });
}

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (result == nullptr) return paramErr;
    AEInitializeDesc(result);
    static AEReturnID nextReturnID = 1;
    if (returnID == kAutoGenerateReturnID) {
      returnID = nextReturnID;
      nextReturnID = (AEReturnID)(nextReturnID == 0x7FFF ? 1 : nextReturnID + 1);
    }
    auto bytesOfValue = [](const void* p, size_t n) {
      return std::vector<uint8_t>((const uint8_t*)p, (const uint8_t*)p + n);
    };
    vt::ae::EventParts parts;
    parts.attributes.push_back({keyEventClassAttr, typeType, bytesOfValue(&theAEEventClass, 4)});
    parts.attributes.push_back({keyEventIDAttr, typeType, bytesOfValue(&theAEEventID, 4)});
    parts.attributes.push_back({keyReturnIDAttr, typeSInt16, bytesOfValue(&returnID, 2)});
    parts.attributes.push_back({keyTransactionIDAttr, typeSInt32, bytesOfValue(&transactionID, 4)});
    if (target != nullptr && target->descriptorType != typeNull)
      parts.attributes.push_back(
          {keyAddressAttr, target->descriptorType, vt::ae::bytesOf(*target)});
    std::vector<uint8_t> bytes = vt::ae::encodeEvent(parts);
    return vt::ae::makeDesc(typeAppleEvent, bytes.data(), bytes.size(), *result);
  });
}

OSErr AEGetParamDesc(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc* result) {
  return vt::apiStatus([&]() -> OSErr {
    if (result == nullptr) return paramErr;
    AEInitializeDesc(result);
    vt::ae::EventParts parts;
    OSErr err = readEvent(theAppleEvent, parts);
    if (err != noErr) return err;
    Item* item = findKey(parts.params, theAEKeyword);
    if (item == nullptr) return errAEDescNotFound;
    DescType outType;
    std::vector<uint8_t> out;
    if ((err = coerceItem(*item, desiredType, outType, out)) != noErr) return err;
    err = vt::ae::makeDesc(outType, out.data(), out.size(), *result);
    if (err == noErr && result->dataHandle == nullptr && outType != typeNull) {
      Handle h = NewHandle(0);  // an empty value still gets its own handle
      if (h == nullptr) return memFullErr;
      result->descriptorType = outType;
      result->dataHandle = (AEDataStorage)h;
    }
    return err;
  });
}

// A parameter's or an attribute's value, coerced to the desired type.
static OSErr getKeyedPtr(const AppleEvent* theAppleEvent, bool attribute, AEKeyword theAEKeyword,
                         DescType desiredType, DescType* typeCode, void* dataPtr, Size maximumSize,
                         Size* actualSize) {
  if (maximumSize < 0) return paramErr;
  vt::ae::EventParts parts;
  OSErr err = readEvent(theAppleEvent, parts);
  if (err != noErr) return err;
  Item* item = findKey(attribute ? parts.attributes : parts.params, theAEKeyword);
  if (item == nullptr) return errAEDescNotFound;
  DescType outType;
  std::vector<uint8_t> out;
  if ((err = coerceItem(*item, desiredType, outType, out)) != noErr) return err;
  if (typeCode) *typeCode = outType;
  copyOut(out, dataPtr, maximumSize, actualSize);
  return noErr;
}

OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize) {
  return vt::apiStatus([&]() -> OSErr {
    return getKeyedPtr(theAppleEvent, false, theAEKeyword, desiredType, typeCode, dataPtr,
                       maximumSize, actualSize);
  });
}

OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void* dataPtr, Size dataSize) {
  return vt::apiStatus([&]() -> OSErr {
    if (dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) return paramErr;
    vt::ae::EventParts parts;
    OSErr err = readEvent(theAppleEvent, parts);
    if (err != noErr) return err;
    std::vector<uint8_t> data((const uint8_t*)dataPtr, (const uint8_t*)dataPtr + dataSize);
    if (Item* existing = findKey(parts.params, theAEKeyword)) {
      existing->type = typeCode;
      existing->data = std::move(data);
    } else {
      parts.params.push_back({theAEKeyword, typeCode, std::move(data)});
    }
    return writeEvent(theAppleEvent, parts);
  });
}

OSErr AEPutParamDesc(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, const AEDesc* theAEDesc) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAEDesc == nullptr) return paramErr;
    std::vector<uint8_t> bytes = vt::ae::bytesOf(*theAEDesc);
    return AEPutParamPtr(theAppleEvent, theAEKeyword, theAEDesc->descriptorType, bytes.data(),
                         (Size)bytes.size());
  });
}

OSErr AEDeleteParam(AppleEvent* theAppleEvent, AEKeyword theAEKeyword) {
  return vt::apiStatus([&]() -> OSErr {
    vt::ae::EventParts parts;
    OSErr err = readEvent(theAppleEvent, parts);
    if (err != noErr) return err;
    auto it = std::find_if(parts.params.begin(), parts.params.end(),
                           [&](const Item& i) { return i.keyword == theAEKeyword; });
    if (it == parts.params.end()) return errAEDescNotFound;
    parts.params.erase(it);
    return writeEvent(theAppleEvent, parts);
  });
}

OSErr AEGetAttributePtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword,
                        DescType desiredType, DescType* typeCode, void* dataPtr, Size maximumSize,
                        Size* actualSize) {
  return vt::apiStatus([&]() -> OSErr {
    return getKeyedPtr(theAppleEvent, true, theAEKeyword, desiredType, typeCode, dataPtr,
                       maximumSize, actualSize);
  });
}
