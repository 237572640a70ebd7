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

// Hand-written big-endian helpers for expected layouts.
void be32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
}
// An atom header: size, type, ID, two reserved bytes, the child count and four reserved bytes.
void header(Bytes& b, uint32_t size, uint32_t type, uint32_t id, uint16_t children) {
  for (uint32_t v : {size, type, id, (uint32_t)children, 0u}) be32(b, v);
}

struct Container {
  QTAtomContainer h = nullptr;
  Container() { EXPECT_EQ(QTNewAtomContainer(&h), noErr); }
  explicit Container(const Bytes& b) { PtrToHand(b.data(), &h, (long)b.size()); }
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

TEST(AtomLayout, EmptyAndCrossFadeContainersMatchThePublishedBytes) {
  Container c;
  Bytes e(12, 0);
  header(e, 20, 'sean', 1, 0);
  EXPECT_EQ(bytesOf(c), e);
  ASSERT_EQ(insertOSType(c, 0, 'what', 1, 'dslv'), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 1, 'srcA'), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 2, 'srcB'), noErr);
  QTAtom pcnt, twen;
  ASSERT_EQ(QTInsertChild(c, 0, 'pcnt', 1, 0, 0, nullptr, &pcnt), noErr);
  ASSERT_EQ(QTInsertChild(c, pcnt, 'twen', 1, 0, 0, nullptr, &twen), noErr);
  ASSERT_EQ(insertOSType(c, twen, 'twnt', 1, 3), noErr);
  uint8_t values[8] = {0, 0, 0, 0, 0x00, 0x64, 0x00, 0x00};
  ASSERT_EQ(QTInsertChild(c, twen, 'data', 1, 0, 8, values, nullptr), noErr);

  e.resize(12);
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
  EXPECT_EQ(vt::atoms::dumpJSON(view, view.findByID(0, 'pcnt', 1)),
            "{\"type\":\"pcnt\",\"id\":1,\"children\":[{\"type\":\"twen\",\"id\":1,"
            "\"children\":[{\"type\":\"twnt\",\"id\":1,\"data\":\"0000 0003\"},"
            "{\"type\":\"data\",\"id\":1,\"data\":\"0000 0000 0064 0000\"}]}]}");
}

TEST(AtomEditing, InsertIDsIndexesDuplicatesAndLocks) {
  Container c;
  QTAtom a2;
  ASSERT_EQ(insertOSType(c, 0, 'src ', 5, 'srcA'), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'src ', 0, 'srcB', &a2), noErr);  // new unique ID
  QTAtomID id = 0;
  QTGetAtomTypeAndID(c, a2, nullptr, &id);
  EXPECT_EQ(id, 6);
  EXPECT_EQ(insertOSType(c, 0, 'src ', 5, 'dupe'), duplicateAtomTypeAndIDErr);
  // Same ID under another type is fine.
  EXPECT_EQ(insertOSType(c, 0, 'what', 5, 'dslv'), noErr);

  // Index 1 puts the new atom first among its type; index count + 2 is rejected.
  uint32_t v = 0;
  ASSERT_EQ(QTInsertChild(c, 0, 'src ', 9, 1, 4, &v, nullptr), noErr);
  QTAtomID first = 0;
  QTFindChildByIndex(c, 0, 'src ', 1, &first);
  EXPECT_EQ(first, 9);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, 5, 4, &v, nullptr), atomIndexInvalidErr);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, -1, 4, &v, nullptr), atomIndexInvalidErr);
  EXPECT_EQ(QTInsertChild(c, 0, 'src ', 10, 0, -4, &v, nullptr), paramErr);
  EXPECT_EQ(QTCountChildrenOfType(c, 0, 'src '), 3);

  short index = 0;
  EXPECT_NE(QTFindChildByID(c, 0, 'src ', 6, &index), 0);
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
  ASSERT_EQ(
      QTCopyAtomDataToPtr(c, QTFindChildByID(c, 0, 'copy', 1, nullptr), false, 4, &out, &actual),
      noErr);
  EXPECT_EQ(__builtin_bswap32(out), (uint32_t)'dslv');

  // Locks nest: a data pointer stays valid until the last unlock.
  ASSERT_EQ(QTLockContainer(c), noErr);
  ASSERT_EQ(QTLockContainer(c), noErr);
  ASSERT_EQ(QTGetAtomDataPtr(c, QTFindChildByIndex(c, 0, 'what', 1, nullptr), &size, &p), noErr);
  ASSERT_EQ(QTUnlockContainer(c), noErr);
  EXPECT_TRUE(HGetState(c) & kHandleLockedMask);
  EXPECT_EQ(std::memcmp(p, "dslv", 4), 0);
  ASSERT_EQ(QTUnlockContainer(c), noErr);
  EXPECT_FALSE(HGetState(c) & kHandleLockedMask);
  EXPECT_EQ(QTLockContainer(nullptr), nilHandleErr);
}

TEST(AtomEditing, WalkRemoveCopyReplaceAndSetData) {
  Container c;
  // Offsets move with every edit: atoms are found again each time.
  auto prnt = [&] { return QTFindChildByID(c, 0, 'prnt', 1, nullptr); };
  auto inPrnt = [&](OSType type, QTAtomID id) {
    return QTFindChildByID(c, prnt(), type, id, nullptr);
  };
  ASSERT_EQ(QTInsertChild(c, 0, 'prnt', 1, 0, 0, nullptr, nullptr), noErr);
  ASSERT_EQ(insertOSType(c, prnt(), 'aaaa', 1, 1), noErr);
  ASSERT_EQ(insertOSType(c, prnt(), 'bbbb', 1, 2), noErr);
  ASSERT_EQ(insertOSType(c, prnt(), 'aaaa', 2, 3), noErr);
  ASSERT_EQ(insertOSType(c, 0, 'tail', 1, 4), noErr);

  // Walking children and types.
  std::vector<OSType> seen;
  for (QTAtom child = 0; QTNextChildAnyType(c, prnt(), child, &child) == noErr && child != 0;) {
    QTAtomType t;
    QTGetAtomTypeAndID(c, child, &t, nullptr);
    seen.push_back((OSType)t);
  }
  EXPECT_EQ(seen, (std::vector<OSType>{'aaaa', 'bbbb', 'aaaa'}));
  EXPECT_EQ(QTGetNextChildType(c, prnt(), 0), (QTAtomType)'aaaa');
  EXPECT_EQ(QTGetNextChildType(c, prnt(), 'aaaa'), (QTAtomType)'bbbb');
  EXPECT_EQ(QTGetNextChildType(c, prnt(), 'bbbb'), 0);
  EXPECT_EQ(QTGetAtomParent(c, inPrnt('bbbb', 1)), prnt());
  long size;
  Ptr p;
  EXPECT_EQ(QTGetAtomDataPtr(c, prnt(), &size, &p), notLeafAtomErr);

  // Copy an atom into a container of its own.
  QTAtomContainer copy = nullptr;
  ASSERT_EQ(QTCopyAtom(c, prnt(), &copy), noErr);
  EXPECT_EQ(QTCountChildren(copy, 0), 1);
  QTAtom copied = QTFindChildByID(copy, 0, 'prnt', 1, nullptr);

  // Set data grows and shrinks a leaf; every enclosing size follows.
  char text[] = "a longer value";
  ASSERT_EQ(QTSetAtomData(c, inPrnt('bbbb', 1), sizeof text, text), noErr);
  ASSERT_EQ(QTGetAtomDataPtr(c, inPrnt('bbbb', 1), &size, &p), noErr);
  EXPECT_EQ(size, (long)sizeof text);
  EXPECT_EQ(std::memcmp(p, text, sizeof text), 0);
  // Shrunk again: every call below parses the container, so its sizes must still add up.
  EXPECT_EQ(QTSetAtomData(c, inPrnt('bbbb', 1), 0, nullptr), noErr);

  // IDs: renumbering refuses a duplicate.
  EXPECT_EQ(QTSetAtomID(c, inPrnt('aaaa', 2), 1), duplicateAtomTypeAndIDErr);
  EXPECT_EQ(QTSetAtomID(c, inPrnt('aaaa', 2), 7), noErr);
  EXPECT_NE(inPrnt('aaaa', 7), 0);

  // Replace the tail leaf by the copied parent (children come along, type and ID stay).
  ASSERT_EQ(QTReplaceAtom(c, QTFindChildByID(c, 0, 'tail', 1, nullptr), copy, copied), noErr);
  EXPECT_EQ(QTCountChildren(c, QTFindChildByID(c, 0, 'tail', 1, nullptr)), 3);
  QTDisposeAtomContainer(copy);

  // Remove one atom, then all children; the root cannot be removed.
  ASSERT_EQ(QTRemoveAtom(c, inPrnt('bbbb', 1)), noErr);
  EXPECT_EQ(QTCountChildren(c, prnt()), 2);
  EXPECT_EQ(QTRemoveAtom(c, kParentAtomIsContainer), invalidAtomErr);
  ASSERT_EQ(QTRemoveChildren(c, kParentAtomIsContainer), noErr);
  EXPECT_EQ(bytesOf(c), bytesOf(Container()));

  // Inserting the children of another container.
  Container other;
  insertOSType(other, 0, 'one ', 1, 1);
  insertOSType(other, 0, 'two ', 1, 2);
  ASSERT_EQ(QTInsertChildren(c, 0, other), noErr);
  EXPECT_EQ(QTCountChildren(c, 0), 2);
  EXPECT_EQ(QTInsertChildren(c, 0, other), duplicateAtomTypeAndIDErr);
  EXPECT_EQ(QTCountChildren(c, 0), 2);
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
  Bytes padded = good;
  padded.resize(padded.size() + 4, 0);
  EXPECT_NE(QTFindChildByIndex(Container(padded), 0, 'what', 1, nullptr), 0);

  EXPECT_EQ(QTCountChildren(nullptr, 0), 0);
  EXPECT_EQ(QTDisposeAtomContainer(nullptr), nilHandleErr);
}
