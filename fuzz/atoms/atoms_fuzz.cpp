// Fuzz target: arbitrary bytes as an atom container, through the checked view and every
// container call that reads or edits it. Nothing may crash, read out of bounds or leak.
#include <MacMemory.h>
#include <QTAtoms.h>

#include <cstdint>
#include <cstring>

#include "atoms/atom_tree.h"

namespace {

void walk(QTAtomContainer c, QTAtom parent, int depth) {
  if (depth > 8) return;
  QTAtom child = 0;
  int guard = 0;
  while (QTNextChildAnyType(c, parent, child, &child) == noErr && child != 0 && guard++ < 64) {
    QTAtomType type = 0;
    QTAtomID id = 0;
    QTGetAtomTypeAndID(c, child, &type, &id);
    short index = 0;
    if (QTFindChildByID(c, parent, type, id, &index) != child) __builtin_trap();
    long size = 0;
    Ptr p = nullptr;
    if (QTGetAtomDataPtr(c, child, &size, &p) == noErr) {
      uint8_t sum = 0;
      for (long i = 0; i < size; ++i) sum = (uint8_t)(sum + (uint8_t)p[i]);
      volatile uint8_t sink = sum;
      (void)sink;
    } else {
      walk(c, child, depth + 1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  vt::atoms::View view;
  if (view.parse(data, size) == noErr) {
    // Every node lies inside the bytes and inside its parent.
    for (const auto& n : view.nodes()) {
      if (n.end() > size) __builtin_trap();
      if (n.parent >= 0 && n.end() > view.node(n.parent).end()) __builtin_trap();
    }
  }
  Handle h = NewHandle((Size)size);
  if (h == nullptr) return 0;
  if (size > 0) std::memcpy(*h, data, size);
  walk(h, kParentAtomIsContainer, 0);
  QTGetNextChildType(h, 0, 0);
  QTAtom first = 0;
  QTNextChildAnyType(h, 0, 0, &first);
  uint32_t value = 0x64736C76;
  QTInsertChild(h, first, 'twen', 0, 1, 4, &value, nullptr);
  QTInsertChild(h, 0, 'what', 0, 0, 4, &value, nullptr);
  QTSetAtomData(h, first, 2, &value);
  QTAtomContainer copy = nullptr;
  if (QTCopyAtom(h, first, &copy) == noErr) {
    QTInsertChildren(h, 0, copy);
    QTReplaceAtom(h, QTFindChildByIndex(h, 0, 'what', 1, nullptr), copy, 0);
    QTDisposeAtomContainer(copy);
  }
  QTRemoveAtom(h, QTFindChildByIndex(h, 0, 'what', 1, nullptr));
  QTRemoveChildren(h, first);
  // Whatever the edits did, a container that parsed before still parses after.
  vt::atoms::View after;
  if (view.parse(data, size) == noErr &&
      after.parse((const uint8_t*)*h, (size_t)GetHandleSize(h)) != noErr)
    __builtin_trap();
  DisposeHandle(h);
  return 0;
}
