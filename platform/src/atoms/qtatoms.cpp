// The atom container calls over memory-manager handles. Each call parses (and so checks) the
// container's bytes first; edits then move bytes in the handle and fix the sizes of every
// ancestor and the parent's child count.
#include <MacMemory.h>
#include <QTAtoms.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "core/boundary.h"

using vt::atoms::kAtomHeaderSize;
using vt::atoms::Node;
using vt::atoms::View;

namespace {

// Lock nesting per container (the stored lock count stays 0 so the bytes remain the stored
// form at all times).
std::map<Handle, int>& lockCounts() {
  static std::map<Handle, int> m;
  return m;
}

OSErr parseContainer(QTAtomContainer c, View& view) {
  if (c == nullptr) return nilHandleErr;
  if (!VTIsValidHandle(c)) return invalidAtomContainerErr;
  return view.parse((const uint8_t*)*c, (size_t)GetHandleSize(c));
}

// Parses and finds the node of an atom.
OSErr locate(QTAtomContainer c, QTAtom atom, View& view, int& node) {
  OSErr err = parseContainer(c, view);
  if (err != noErr) return err;
  node = view.nodeOfAtom(atom);
  return node < 0 ? (OSErr)invalidAtomErr : (OSErr)noErr;
}

uint8_t* base(QTAtomContainer c) { return (uint8_t*)*c; }

// Replaces bytes [offset, offset + oldLen) with `bytes`.
OSErr spliceBytes(QTAtomContainer c, uint32_t offset, uint32_t oldLen,
                  const std::vector<uint8_t>& bytes) {
  Size size = GetHandleSize(c);
  Size newSize = size - (Size)oldLen + (Size)bytes.size();
  if (newSize > 0x7FFFFFFF) return memFullErr;
  Size tail = size - (Size)offset - (Size)oldLen;
  if (newSize > size) {
    SetHandleSize(c, newSize);
    if (MemError() != noErr) return MemError();
  }
  std::memmove(base(c) + offset + bytes.size(), base(c) + offset + oldLen, (size_t)tail);
  if (!bytes.empty()) std::memcpy(base(c) + offset, bytes.data(), bytes.size());
  if (newSize < size) {
    SetHandleSize(c, newSize);
    if (MemError() != noErr) return MemError();
  }
  return noErr;
}

// Adds delta to the size of node n and of each of its ancestors (all start before the edit).
void adjustSizes(QTAtomContainer c, const View& view, int n, long delta) {
  for (int i = n; i >= 0; i = view.node(i).parent) {
    uint8_t* p = base(c) + view.node(i).offset;
    vt::writeBE32(p, (uint32_t)((long)vt::readBE32(p) + delta));
  }
}

void setChildCount(QTAtomContainer c, const Node& n, unsigned count) {
  vt::writeBE16(base(c) + n.offset + 14, (uint16_t)count);
}

// The bytes of children (or data) of node n, and its child count.
std::vector<uint8_t> contentsOf(const View& view, int n) {
  const Node& node = view.node(n);
  const uint8_t* p = view.bytes() + node.dataOffset();
  return std::vector<uint8_t>(p, p + node.dataSize());
}

// The one edit every mutator makes: bytes [offset, offset + oldLen) inside node `owner` become
// `bytes`, the sizes of `owner` and its ancestors follow, and `owner`'s child count becomes
// `childCount` when given. memFullErr, with nothing changed, past the 2 GB a handle holds.
OSErr spliceInto(QTAtomContainer c, const View& view, int owner, uint32_t offset, uint32_t oldLen,
                 const std::vector<uint8_t>& bytes, std::optional<unsigned> childCount = {}) {
  const Node node = view.node(owner);
  if (OSErr err = spliceBytes(c, offset, oldLen, bytes)) return err;
  adjustSizes(c, view, owner, (long)bytes.size() - (long)oldLen);
  if (childCount) setChildCount(c, node, *childCount);
  return noErr;
}

// Inserts already-encoded atoms (`count` of them) as children of parent at byte offset `at`.
OSErr insertChildBytes(QTAtomContainer c, const View& view, int parent, uint32_t at,
                       const std::vector<uint8_t>& atoms, unsigned count) {
  const unsigned children = (unsigned)view.node(parent).childCount + count;
  if (children > 0xFFFF) return paramErr;
  return spliceInto(c, view, parent, at, 0, atoms, children);
}

// The per-atom calls behind the boundary: `body` runs on the parsed container and the atom's
// node; a container or atom that is not there gives its code (or `none` for the value calls).
template <class Body>
OSErr onAtom(QTAtomContainer c, QTAtom atom, Body&& body) {
  return vt::apiStatus([&]() -> OSErr {
    View view;
    int n;
    if (OSErr err = locate(c, atom, view, n)) return err;
    return body(view, n);
  });
}

template <class R, class Body>
R atAtom(QTAtomContainer c, QTAtom atom, R none, Body&& body) {
  return vt::apiCall(vt::noErrorState, none, [&]() -> R {
    View view;
    int n;
    if (locate(c, atom, view, n) != noErr) return none;
    return body(view, n);
  });
}

}  // namespace

OSErr QTNewAtomContainer(QTAtomContainer* atomData) {
  return vt::apiStatus([&]() -> OSErr {
    if (atomData == nullptr) return paramErr;
    *atomData = nullptr;
    std::vector<uint8_t> bytes = vt::atoms::serialise(vt::atoms::newRoot());
    Handle h = NewHandle((Size)bytes.size());
    if (h == nullptr) return MemError() != noErr ? MemError() : (OSErr)memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    *atomData = h;
    return noErr;
  });
}

OSErr QTDisposeAtomContainer(QTAtomContainer atomData) {
  return vt::apiStatus([&]() -> OSErr {
    if (atomData == nullptr) return nilHandleErr;
    if (!VTIsValidHandle(atomData)) return invalidAtomContainerErr;
    lockCounts().erase(atomData);
    DisposeHandle(atomData);
    return MemError();
  });
}

OSErr QTInsertChild(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType, QTAtomID id,
                    short index, long dataSize, void* data, QTAtom* newAtom) {
  if (newAtom) *newAtom = 0;
  if (dataSize < 0 || dataSize > 0x7FFFFFFF - (long)kAtomHeaderSize) return paramErr;
  return onAtom(container, parentAtom, [&](const View& view, int parent) -> OSErr {
    const Node& p = view.node(parent);
    if (p.isLeaf() && p.dataSize() > 0) return cannotBeLeafAtomErr;
    OSType type = (OSType)atomType;
    int count = view.countOfType(parent, type);
    if (index < 0 || index > count + 1) return atomIndexInvalidErr;
    int32_t newID = (int32_t)id;
    if (newID == 0) {
      // A new unique ID: one past the largest in use, or the first free one after wrapping.
      int32_t maxID = 0;
      for (int c : view.children(parent))
        if (view.node(c).type == type) maxID = std::max(maxID, view.node(c).id);
      newID = maxID < 0x7FFFFFFF ? maxID + 1 : 1;
      while (view.findByID(parent, type, newID) >= 0) ++newID;
    } else if (view.findByID(parent, type, newID) >= 0) {
      return duplicateAtomTypeAndIDErr;
    }
    uint32_t at = p.end();
    if (index >= 1 && index <= count) {
      at = view.node(view.findByIndex(parent, type, index)).offset;
    } else if (index == count + 1 && count > 0) {
      at = view.node(view.findByIndex(parent, type, count)).end();
    }
    std::vector<uint8_t> bytes(kAtomHeaderSize + (size_t)dataSize, 0);
    vt::writeBE32(&bytes[0], (uint32_t)bytes.size());
    vt::writeBE32(&bytes[4], type);
    vt::writeBE32(&bytes[8], (uint32_t)newID);
    // Copy before resizing: the data may live inside this very container.
    if (data != nullptr && dataSize > 0)
      std::memcpy(&bytes[kAtomHeaderSize], data, (size_t)dataSize);
    OSErr err = insertChildBytes(container, view, parent, at, bytes, 1);
    if (err == noErr && newAtom) *newAtom = (QTAtom)at;
    return err;
  });
}

OSErr QTInsertChildren(QTAtomContainer container, QTAtom parentAtom,
                       QTAtomContainer childrenContainer) {
  return vt::apiStatus([&]() -> OSErr {
    View source;
    OSErr err = parseContainer(childrenContainer, source);
    if (err != noErr) return err;
    View view;
    int parent;
    if ((err = locate(container, parentAtom, view, parent)) != noErr) return err;
    const Node& p = view.node(parent);
    if (p.isLeaf() && p.dataSize() > 0) return cannotBeLeafAtomErr;
    std::vector<int> incoming = source.children(0);
    for (int c : incoming)
      if (view.findByID(parent, source.node(c).type, source.node(c).id) >= 0)
        return duplicateAtomTypeAndIDErr;
    if (incoming.empty()) return noErr;
    std::vector<uint8_t> bytes = contentsOf(source, 0);
    return insertChildBytes(container, view, parent, p.end(), bytes, (unsigned)incoming.size());
  });
}

QTAtom QTFindChildByIndex(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType,
                          short index, QTAtomID* id) {
  return atAtom(container, parentAtom, QTAtom(0), [&](const View& view, int parent) -> QTAtom {
    int n = view.findByIndex(parent, (OSType)atomType, index);
    if (n < 0) return 0;
    if (id) *id = view.node(n).id;
    return view.atomOfNode(n);
  });
}

QTAtom QTFindChildByID(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType,
                       QTAtomID id, short* index) {
  return atAtom(container, parentAtom, QTAtom(0), [&](const View& view, int parent) -> QTAtom {
    int i = 0;
    int n = view.findByID(parent, (OSType)atomType, (int32_t)id, &i);
    if (n < 0) return 0;
    if (index) *index = (short)std::min(i, 0x7FFF);
    return view.atomOfNode(n);
  });
}

short QTCountChildrenOfType(QTAtomContainer container, QTAtom parentAtom, QTAtomType childType) {
  return atAtom(container, parentAtom, short(0), [&](const View& view, int parent) -> short {
    return (short)std::min(view.countOfType(parent, (OSType)childType), 0x7FFF);
  });
}

short QTCountChildren(QTAtomContainer container, QTAtom parentAtom) {
  return atAtom(container, parentAtom, short(0), [&](const View& view, int parent) -> short {
    return (short)std::min((int)view.node(parent).childCount, 0x7FFF);
  });
}

OSErr QTNextChildAnyType(QTAtomContainer container, QTAtom parentAtom, QTAtom currentChild,
                         QTAtom* nextChild) {
  if (nextChild == nullptr) return paramErr;
  *nextChild = 0;
  return onAtom(container, parentAtom, [&](const View& view, int parent) -> OSErr {
    std::vector<int> kids = view.children(parent);
    if (currentChild == 0) {
      if (!kids.empty()) *nextChild = view.atomOfNode(kids.front());
      return noErr;
    }
    for (size_t i = 0; i < kids.size(); ++i) {
      if (view.atomOfNode(kids[i]) != currentChild) continue;
      if (i + 1 < kids.size()) *nextChild = view.atomOfNode(kids[i + 1]);
      return noErr;
    }
    return invalidAtomErr;
  });
}

QTAtomType QTGetNextChildType(QTAtomContainer container, QTAtom parentAtom,
                              QTAtomType currentChildType) {
  return atAtom(container, parentAtom, QTAtomType(0),
                [&](const View& view, int parent) -> QTAtomType {
                  std::vector<OSType> types;
                  for (int c : view.children(parent))
                    if (std::find(types.begin(), types.end(), view.node(c).type) == types.end())
                      types.push_back(view.node(c).type);
                  if (currentChildType == 0) return types.empty() ? 0 : (QTAtomType)types.front();
                  for (size_t i = 0; i + 1 < types.size(); ++i)
                    if (types[i] == (OSType)currentChildType) return (QTAtomType)types[i + 1];
                  return 0;
                });
}

OSErr QTGetAtomTypeAndID(QTAtomContainer container, QTAtom atom, QTAtomType* atomType,
                         QTAtomID* id) {
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    if (atomType) *atomType = (QTAtomType)view.node(n).type;
    if (id) *id = view.node(n).id;
    return noErr;
  });
}

QTAtom QTGetAtomParent(QTAtomContainer container, QTAtom childAtom) {
  return atAtom(container, childAtom, QTAtom(0), [&](const View& view, int n) -> QTAtom {
    if (n == 0) return 0;
    return view.atomOfNode(view.node(n).parent);
  });
}

OSErr QTGetAtomDataPtr(QTAtomContainer container, QTAtom atom, long* dataSize, Ptr* atomData) {
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    const Node& node = view.node(n);
    if (!node.isLeaf()) return notLeafAtomErr;
    if (dataSize) *dataSize = (long)node.dataSize();
    if (atomData) *atomData = *container + node.dataOffset();
    return noErr;
  });
}

OSErr QTCopyAtomDataToPtr(QTAtomContainer container, QTAtom atom, Boolean sizeOrLessOK,
                          long maxSize, void* dataPtr, long* actualSize) {
  if (maxSize < 0 || (dataPtr == nullptr && maxSize > 0)) return paramErr;
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    const Node& node = view.node(n);
    if (!node.isLeaf()) return notLeafAtomErr;
    long size = (long)node.dataSize();
    if (size > maxSize || (!sizeOrLessOK && size != maxSize)) return paramErr;
    if (size > 0) std::memcpy(dataPtr, *container + node.dataOffset(), (size_t)size);
    if (actualSize) *actualSize = size;
    return noErr;
  });
}

OSErr QTSetAtomData(QTAtomContainer container, QTAtom atom, long dataSize, void* atomData) {
  if (dataSize < 0 || (atomData == nullptr && dataSize > 0)) return paramErr;
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    if (n == 0) return invalidAtomErr;
    const Node node = view.node(n);
    if (!node.isLeaf()) return notLeafAtomErr;
    std::vector<uint8_t> bytes((const uint8_t*)atomData, (const uint8_t*)atomData + dataSize);
    return spliceInto(container, view, n, node.dataOffset(), node.dataSize(), bytes);
  });
}

OSErr QTSetAtomID(QTAtomContainer container, QTAtom atom, QTAtomID newID) {
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    if (n == 0) return invalidAtomErr;
    const Node& node = view.node(n);
    if (node.id == (int32_t)newID) return noErr;
    if (view.findByID(node.parent, node.type, (int32_t)newID) >= 0)
      return duplicateAtomTypeAndIDErr;
    vt::writeBE32(base(container) + node.offset + 8, (uint32_t)newID);
    return noErr;
  });
}

OSErr QTCopyAtom(QTAtomContainer container, QTAtom atom, QTAtomContainer* targetContainer) {
  if (targetContainer == nullptr) return paramErr;
  *targetContainer = nullptr;
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    std::vector<uint8_t> bytes;
    if (n == 0) {
      bytes.assign(view.bytes(), view.bytes() + view.size());
    } else {
      const Node& node = view.node(n);
      bytes.assign(vt::atoms::kContainerHeaderSize + kAtomHeaderSize, 0);
      vt::writeBE32(&bytes[12], kAtomHeaderSize + node.size);
      vt::writeBE32(&bytes[16], vt::atoms::kRootType);
      vt::writeBE32(&bytes[20], 1);
      vt::writeBE16(&bytes[26], 1);
      bytes.insert(bytes.end(), view.bytes() + node.offset, view.bytes() + node.end());
    }
    Handle h = NewHandle((Size)bytes.size());
    if (h == nullptr) return MemError() != noErr ? MemError() : (OSErr)memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    *targetContainer = h;
    return noErr;
  });
}

OSErr QTReplaceAtom(QTAtomContainer targetContainer, QTAtom targetAtom,
                    QTAtomContainer replacementContainer, QTAtom replacementAtom) {
  return vt::apiStatus([&]() -> OSErr {
    View source;
    int r;
    OSErr err = locate(replacementContainer, replacementAtom, source, r);
    if (err != noErr) return err;
    std::vector<uint8_t> contents = contentsOf(source, r);
    unsigned childCount = source.node(r).childCount;
    View view;
    int t;
    if ((err = locate(targetContainer, targetAtom, view, t)) != noErr) return err;
    const Node& node = view.node(t);
    return spliceInto(targetContainer, view, t, node.dataOffset(), node.dataSize(), contents,
                      childCount);
  });
}

OSErr QTRemoveAtom(QTAtomContainer container, QTAtom atom) {
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    if (n == 0) return invalidAtomErr;
    const Node& node = view.node(n);
    return spliceInto(container, view, node.parent, node.offset, node.size, {},
                      view.node(node.parent).childCount - 1u);
  });
}

OSErr QTRemoveChildren(QTAtomContainer container, QTAtom atom) {
  return onAtom(container, atom, [&](const View& view, int n) -> OSErr {
    const Node& node = view.node(n);
    if (node.isLeaf()) return noErr;  // nothing to remove; a leaf's data is not children
    return spliceInto(container, view, n, node.dataOffset(), node.dataSize(), {}, 0u);
  });
}

OSErr QTLockContainer(QTAtomContainer container) {
  return vt::apiStatus([&]() -> OSErr {
    if (container == nullptr) return nilHandleErr;
    if (!VTIsValidHandle(container)) return invalidAtomContainerErr;
    if (lockCounts()[container]++ == 0) {
      HLock(container);
      return MemError();
    }
    return noErr;
  });
}

OSErr QTUnlockContainer(QTAtomContainer container) {
  return vt::apiStatus([&]() -> OSErr {
    if (container == nullptr) return nilHandleErr;
    if (!VTIsValidHandle(container)) return invalidAtomContainerErr;
    auto it = lockCounts().find(container);
    if (it == lockCounts().end()) return noErr;  // not locked through us: nothing to undo
    if (--it->second == 0) {
      lockCounts().erase(it);
      HUnlock(container);
      return MemError();
    }
    return noErr;
  });
}
