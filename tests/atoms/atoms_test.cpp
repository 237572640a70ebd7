#include <MacMemory.h>
#include <QTAtoms.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "atoms/atom_tree.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(QTAtomContainer c) { return Bytes((uint8_t*)*c, (uint8_t*)*c + GetHandleSize(c)); }

Handle handleOf(const Bytes& b) {
  Handle h = NewHandle((Size)b.size());
  std::memcpy(*h, b.data(), b.size());
  return h;
}

// Hand-written big-endian helpers for expected layouts.
void be32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
}
void header(Bytes& b, uint32_t size, uint32_t type, uint32_t id, uint16_t children) {
  be32(b, size);
  be32(b, type);
  be32(b, id);
  b.push_back(0), b.push_back(0);
  b.push_back((uint8_t)(children >> 8)), b.push_back((uint8_t)children);
  be32(b, 0);
}

struct Container {
  QTAtomContainer h = nullptr;
  Container() { EXPECT_EQ(QTNewAtomContainer(&h), noErr); }
  explicit Container(const Bytes& b) : h(handleOf(b)) {}
  ~Container() {
    if (h) QTDisposeAtomContainer(h);
  }
  operator QTAtomContainer() const { return h; }
};

OSErr insertOSType(QTAtomContainer c, QTAtom parent, OSType type, QTAtomID id, OSType value,
                   QTAtom* out = nullptr) {
  uint32_t be = __builtin_bswap32(value);
  return QTInsertChild(c, parent, (QTAtomType)type, id, 0, 4, &be, out);
}

}  // namespace

TEST(AtomLayout, EmptyContainerIsHeaderAndRoot) {
  Container c;
  Bytes expected(12, 0);
  header(expected, 20, 'sean', 1, 0);
  EXPECT_EQ(bytesOf(c), expected);
  EXPECT_EQ(QTCountChildren(c, kParentAtomIsContainer), 0);
}

TEST(AtomLayout, CrossFadeDescriptionMatchesThePublishedBytes) {
  Container c;
  ASSERT_EQ(insertOSType(c, 0, 'what', 1, 'dslv'), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 1, 'srcA'), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 2, 'srcB'), noErr);
  QTAtom pcnt, twen;
  ASSERT_EQ(QTInsertChild(c, 0, 'pcnt', 1, 0, 0, nullptr, &pcnt), noErr);
  ASSERT_EQ(QTInsertChild(c, pcnt, 'twen', 1, 0, 0, nullptr, &twen), noErr);
  uint32_t tweenType = __builtin_bswap32(3);
  ASSERT_EQ(QTInsertChild(c, twen, 'twnt', 1, 0, 4, &tweenType, nullptr), noErr);
  uint8_t values[8] = {0, 0, 0, 0, 0x00, 0x64, 0x00, 0x00};
  ASSERT_EQ(QTInsertChild(c, twen, 'data', 1, 0, 8, values, nullptr), noErr);

  Bytes e(12, 0);
  uint32_t twenSize = 20 + 24 + 28, pcntSize = 20 + twenSize;
  header(e, 20 + 3 * 24 + pcntSize, 'sean', 1, 4);
  header(e, 24, 'what', 1, 0), be32(e, 'dslv');
  header(e, 24, 'src ', 1, 0), be32(e, 'srcA');
  header(e, 24, 'src ', 2, 0), be32(e, 'srcB');
  header(e, pcntSize, 'pcnt', 1, 1);
  header(e, twenSize, 'twen', 1, 2);
  header(e, 24, 'twnt', 1, 0), be32(e, 3);
  header(e, 28, 'data', 1, 0), be32(e, 0), be32(e, 0x00640000);
  EXPECT_EQ(bytesOf(c), e);

  // The internal builder writes the same bytes, and the view reads them back.
  vt::atoms::Atom root = vt::atoms::newRoot();
  root.addOSType('what', 1, 'dslv');
  root.addOSType('src ', 1, 'srcA');
  root.addOSType('src ', 2, 'srcB');
  auto& tw = root.add('pcnt', 1).add('twen', 1);
  tw.addBE32('twnt', 1, 3);
  tw.add('data', 1, values);
  EXPECT_EQ(vt::atoms::serialise(root), e);
  vt::atoms::View view;
  ASSERT_EQ(view.parse(e.data(), e.size()), noErr);
  int pc = view.findByID(0, 'pcnt', 1);
  ASSERT_GE(pc, 0);
  int data = view.findByIndex(view.findByIndex(pc, 'twen', 1), 'data', 1);
  ASSERT_GE(data, 0);
  EXPECT_EQ(view.data(data).size(), 8u);
  EXPECT_EQ(view.countOfType(0, 'src '), 2);
  EXPECT_EQ(vt::atoms::dumpJSON(view, pc),
            "{\"type\":\"pcnt\",\"id\":1,\"children\":[{\"type\":\"twen\",\"id\":1,"
            "\"children\":[{\"type\":\"twnt\",\"id\":1,\"data\":\"0000 0003\"},"
            "{\"type\":\"data\",\"id\":1,\"data\":\"0000 0000 0064 0000\"}]}]}");
}

TEST(AtomEditing, InsertIDsIndexesAndDuplicates) {
  Container c;
  QTAtom a1, a2, a3;
  ASSERT_EQ(insertOSType(c, 0, 'src ', 5, 'srcA', &a1), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 0, 'srcB', &a2), noErr);  // new unique ID
  QTAtomID id = 0;
  QTGetAtomTypeAndID(c, a2, nullptr, &id);
  EXPECT_EQ(id, 6);
  EXPECT_EQ(insertOSType(c, 0, 'src ', 5, 'dupe'), duplicateAtomTypeAndIDErr);
  // Same ID under another type is fine.
  EXPECT_EQ(insertOSType(c, 0, 'what', 5, 'dslv'), noErr);

  // Index 1 puts the new atom first among its type; index count + 2 is rejected.
  uint32_t v = 0;
  ASSERT_EQ(QTInsertChild(c, 0, 'src ', 9, 1, 4, &v, &a3), noErr);
  QTAtomID first = 0;
  QTFindChildByIndex(c, 0, 'src ', 1, &first);
  EXPECT_EQ(first, 9);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, 5, 4, &v, nullptr), atomIndexInvalidErr);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, -1, 4, &v, nullptr), atomIndexInvalidErr);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, 0, -4, &v, nullptr), paramErr);
  EXPECT_EQ(QTCountChildrenOfType(c, 0, 'src '), 3);
  EXPECT_EQ(QTCountChildren(c, 0), 4);

  short index = 0;
  QTAtom found = QTFindChildByID(c, 0, 'src ', 6, &index);
  EXPECT_NE(found, 0);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(QTFindChildByID(c, 0, 'src ', 77, nullptr), 0);
  EXPECT_EQ(QTFindChildByIndex(c, 0, 'src ', 4, nullptr), 0);
  EXPECT_EQ(QTFindChildByIndex(c, 0, 'src ', 0, nullptr), 0);

  // A leaf with data cannot take children; a QTAtom that is not an atom is refused.
  QTAtom what = QTFindChildByIndex(c, 0, 'what', 1, nullptr);
  EXPECT_EQ(QTInsertChild(c, what, 'x   ', 1, 0, 0, nullptr, nullptr), cannotBeLeafAtomErr);
  EXPECT_EQ(QTInsertChild(c, what + 2, 'x   ', 1, 0, 0, nullptr, nullptr), invalidAtomErr);

  // The data may come from the container itself (the handle moves while growing).
  long size;
  Ptr p;
  ASSERT_EQ(QTGetAtomDataPtr(c, what, &size, &p), noErr);
  ASSERT_EQ(QTInsertChild(c, 0, 'copy', 1, 0, size, p, nullptr), noErr);
  uint32_t out = 0;
  long actual = 0;
  QTAtom copy = QTFindChildByID(c, 0, 'copy', 1, nullptr);
  ASSERT_EQ(QTCopyAtomDataToPtr(c, copy, false, 4, &out, &actual), noErr);
  EXPECT_EQ(__builtin_bswap32(out), (uint32_t)'dslv');
}

TEST(AtomEditing, WalkRemoveCopyReplaceAndSetData) {
  Container c;
  QTAtom parent;
  ASSERT_EQ(QTInsertChild(c, 0, 'prnt', 1, 0, 0, nullptr, &parent), noErr);
  ASSERT_EQ(insertOSType(c, parent, 'aaaa', 1, 1), noErr);
  ASSERT_EQ(insertOSType(c, parent, 'bbbb', 1, 2), noErr);
  ASSERT_EQ(insertOSType(c, QTFindChildByID(c, 0, 'prnt', 1, nullptr), 'aaaa', 2, 3), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'tail', 1, 4), noErr);
  parent = QTFindChildByID(c, 0, 'prnt', 1, nullptr);

  // Walking children and types.
  std::vector<OSType> seen;
  QTAtom child = 0;
  while (QTNextChildAnyType(c, parent, child, &child) == noErr && child != 0) {
    QTAtomType t;
    QTGetAtomTypeAndID(c, child, &t, nullptr);
    seen.push_back((OSType)t);
  }
  EXPECT_EQ(seen, (std::vector<OSType>{'aaaa', 'bbbb', 'aaaa'}));
  EXPECT_EQ(QTGetNextChildType(c, parent, 0), (QTAtomType)'aaaa');
  EXPECT_EQ(QTGetNextChildType(c, parent, 'aaaa'), (QTAtomType)'bbbb');
  EXPECT_EQ(QTGetNextChildType(c, parent, 'bbbb'), 0);
  EXPECT_EQ(QTGetAtomParent(c, QTFindChildByID(c, parent, 'bbbb', 1, nullptr)), parent);
  long size;
  Ptr p;
  EXPECT_EQ(QTGetAtomDataPtr(c, parent, &size, &p), notLeafAtomErr);

  // Copy an atom into a container of its own.
  QTAtomContainer copy = nullptr;
  ASSERT_EQ(QTCopyAtom(c, parent, &copy), noErr);
  EXPECT_EQ(QTCountChildren(copy, 0), 1);
  QTAtom copied = QTFindChildByID(copy, 0, 'prnt', 1, nullptr);
  EXPECT_EQ(QTCountChildrenOfType(copy, copied, 'aaaa'), 2);

  // Set data grows and shrinks a leaf; every enclosing size follows.
  QTAtom b = QTFindChildByID(c, parent, 'bbbb', 1, nullptr);
  char text[] = "a longer value";
  ASSERT_EQ(QTSetAtomData(c, b, sizeof text, text), noErr);
  b = QTFindChildByID(c, QTFindChildByID(c, 0, 'prnt', 1, nullptr), 'bbbb', 1, nullptr);
  ASSERT_EQ(QTGetAtomDataPtr(c, b, &size, &p), noErr);
  EXPECT_EQ(size, (long)sizeof text);
  EXPECT_EQ(std::memcmp(p, text, sizeof text), 0);
  EXPECT_EQ(QTSetAtomData(c, b, 0, nullptr), noErr);
  vt::atoms::View view;
  Bytes now = bytesOf(c);
  EXPECT_EQ(view.parse(now.data(), now.size()), noErr);

  // IDs: renumbering refuses a duplicate.
  parent = QTFindChildByID(c, 0, 'prnt', 1, nullptr);
  QTAtom a2 = QTFindChildByID(c, parent, 'aaaa', 2, nullptr);
  EXPECT_EQ(QTSetAtomID(c, a2, 1), duplicateAtomTypeAndIDErr);
  EXPECT_EQ(QTSetAtomID(c, a2, 7), noErr);
  EXPECT_NE(QTFindChildByID(c, parent, 'aaaa', 7, nullptr), 0);

  // Replace the tail leaf by the copied parent (children come along, type and ID stay).
  QTAtom tail = QTFindChildByID(c, 0, 'tail', 1, nullptr);
  ASSERT_EQ(QTReplaceAtom(c, tail, copy, copied), noErr);
  tail = QTFindChildByID(c, 0, 'tail', 1, nullptr);
  EXPECT_EQ(QTCountChildren(c, tail), 3);
  QTDisposeAtomContainer(copy);

  // Remove one atom, then all children; the root cannot be removed.
  parent = QTFindChildByID(c, 0, 'prnt', 1, nullptr);
  ASSERT_EQ(QTRemoveAtom(c, QTFindChildByID(c, parent, 'bbbb', 1, nullptr)), noErr);
  parent = QTFindChildByID(c, 0, 'prnt', 1, nullptr);
  EXPECT_EQ(QTCountChildren(c, parent), 2);
  EXPECT_EQ(QTRemoveAtom(c, kParentAtomIsContainer), invalidAtomErr);
  ASSERT_EQ(QTRemoveChildren(c, kParentAtomIsContainer), noErr);
  Container empty;
  EXPECT_EQ(bytesOf(c), bytesOf(empty));

  // Inserting the children of another container.
  Container other;
  insertOSType(other, 0, 'one ', 1, 1);
  insertOSType(other, 0, 'two ', 1, 2);
  ASSERT_EQ(QTInsertChildren(c, 0, other), noErr);
  EXPECT_EQ(QTCountChildren(c, 0), 2);
  EXPECT_EQ(QTInsertChildren(c, 0, other), duplicateAtomTypeAndIDErr);
  EXPECT_EQ(QTCountChildren(c, 0), 2);
}

TEST(AtomEditing, LockedContainerKeepsDataPointers) {
  Container c;
  ASSERT_EQ(insertOSType(c, 0, 'what', 1, 'dslv'), noErr);
  ASSERT_EQ(QTLockContainer(c), noErr);
  ASSERT_EQ(QTLockContainer(c), noErr);  // nests
  long size;
  Ptr p;
  ASSERT_EQ(QTGetAtomDataPtr(c, QTFindChildByIndex(c, 0, 'what', 1, nullptr), &size, &p), noErr);
  ASSERT_EQ(QTUnlockContainer(c), noErr);
  EXPECT_TRUE(HGetState(c) & kHandleLockedMask);
  EXPECT_EQ(std::memcmp(p, "dslv", 4), 0);
  ASSERT_EQ(QTUnlockContainer(c), noErr);
  EXPECT_FALSE(HGetState(c) & kHandleLockedMask);
  EXPECT_EQ(QTLockContainer(nullptr), nilHandleErr);
}

TEST(AtomMalformed, DamagedContainersAreRejected) {
  Bytes good(12, 0);
  header(good, 20 + 24, 'sean', 1, 1);
  header(good, 24, 'what', 1, 0), be32(good, 'dslv');

  auto check = [](const Bytes& b, const char* what) {
    Container c(b);
    SCOPED_TRACE(what);
    EXPECT_EQ(QTFindChildByIndex(c, 0, 'what', 1, nullptr), 0);
    EXPECT_EQ(QTCountChildren(c, 0), 0);
    EXPECT_EQ(QTInsertChild(c, 0, 'x   ', 1, 0, 0, nullptr, nullptr), invalidAtomContainerErr);
    QTAtomContainer copy = nullptr;
    EXPECT_EQ(QTCopyAtom(c, 0, &copy), invalidAtomContainerErr);
    EXPECT_EQ(copy, nullptr);
  };
  check(Bytes(good.begin(), good.begin() + 40), "truncated");
  // One byte of a size or a child count changed.
  const std::tuple<size_t, uint8_t, const char*> damage[] = {
      {12 + 3, 200, "root larger than the container"},
      {32 + 3, 40, "child larger than its parent"},
      {12 + 15, 2, "two children claimed, one present"},
      {32 + 3, 19, "child smaller than a header"},
      {32 + 15, 1, "a leaf claiming a child its 4 data bytes cannot hold"}};
  for (auto [at, value, what] : damage) {
    Bytes b = good;
    b[at] = value;
    check(b, what);
  }
  check(Bytes(5, 0), "shorter than a header");
  // Siblings with one type and one ID: finding one by its ID could not say which.
  vt::atoms::Atom twins = vt::atoms::newRoot();
  twins.addOSType('src ', 1, 'srcA');
  twins.addOSType('src ', 1, 'srcB');
  check(vt::atoms::serialise(twins), "same type and ID twice");

  // Nesting deeper than any real description is refused without deep recursion trouble.
  vt::atoms::Atom root = vt::atoms::newRoot();
  vt::atoms::Atom* cur = &root;
  for (int i = 0; i < 200; ++i) cur = &cur->add('nest', 1);
  check(vt::atoms::serialise(root), "deep nesting");

  // A well-formed container with trailing padding still reads.
  Bytes b = good;
  b.resize(b.size() + 4, 0);
  Container padded(b);
  EXPECT_NE(QTFindChildByIndex(padded, 0, 'what', 1, nullptr), 0);

  EXPECT_EQ(QTCountChildren(nullptr, 0), 0);
  EXPECT_EQ(QTDisposeAtomContainer(nullptr), nilHandleErr);
}
