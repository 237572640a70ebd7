// Atom containers as bytes: a checked read-only view and a builder, for every area that reads
// or writes effect descriptions, input maps, effects lists and preferences.
//
// Layout: 12-byte header (10 reserved bytes, 16-bit lock count), then one root atom ('sean',
// ID 1). Each atom: size (4, with descendants), type (4), ID (4), reserved (2), child count
// (2), reserved (4), then either child atoms or data. Big-endian throughout.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vt::atoms {

constexpr uint32_t kContainerHeaderSize = 12;
constexpr uint32_t kAtomHeaderSize = 20;
constexpr uint32_t kRootOffset = kContainerHeaderSize;
constexpr OSType kRootType = 0x7365616E;  // 'sean'
constexpr int kMaxDepth = 64;

struct Node {
  uint32_t offset = 0;  // of the atom header within the container
  uint32_t size = 0;    // whole atom, with descendants
  OSType type = 0;
  int32_t id = 0;
  uint16_t childCount = 0;
  int parent = -1;  // node index; -1 for the root
  int depth = 0;
  uint32_t end() const { return offset + size; }
  uint32_t dataOffset() const { return offset + kAtomHeaderSize; }
  uint32_t dataSize() const { return size - kAtomHeaderSize; }
  bool isLeaf() const { return childCount == 0; }
};

// A parsed container. Every size and count was checked: each atom lies inside its parent, a
// parent's children fill it exactly, siblings of one type have distinct IDs, nesting is at
// most kMaxDepth. Nodes are in byte order
// (the root is node 0). The view points into the bytes it parsed; it does not own them.
class View {
 public:
  // noErr, or invalidAtomContainerErr for bytes that are not a well-formed container.
  OSErr parse(const uint8_t* bytes, size_t size);

  const std::vector<Node>& nodes() const { return nodes_; }
  const Node& node(int n) const { return nodes_[(size_t)n]; }
  // Node of a QTAtom value (0 = the root); -1 when no atom starts there.
  int nodeOfAtom(long atom) const;
  long atomOfNode(int n) const { return n == 0 ? 0 : (long)nodes_[(size_t)n].offset; }

  std::vector<int> children(int parent) const;
  int countOfType(int parent, OSType type) const;
  // 1-based index among the children of that type; -1 when missing.
  int findByIndex(int parent, OSType type, int index) const;
  int findByID(int parent, OSType type, int32_t id, int* index = nullptr) const;
  std::span<const uint8_t> data(int n) const;
  const uint8_t* bytes() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  OSErr parseAtom(uint32_t offset, uint32_t limit, int parent, int depth);
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  std::vector<Node> nodes_;
};

// The tree below node n as JSON: {"type":"what","id":1,"data":"6473 6c76"} for leaves (data
// in hex, at most maxDataBytes shown, then "..."), {"type":..,"id":..,"children":[...]}
// for parents. For inspection tools and golden tests.
std::string dumpJSON(const View& view, int n = 0, size_t maxDataBytes = 64);

// A tree to be written as a container.
struct Atom {
  OSType type = 0;
  int32_t id = 1;
  std::vector<uint8_t> data;
  std::vector<Atom> children;
  std::vector<uint8_t> verbatim;  // when set: the whole atom, header included, written as is

  Atom& add(OSType childType, int32_t childID, std::span<const uint8_t> childData = {});
  Atom& addOSType(OSType childType, int32_t childID, OSType value);
  Atom& addBE32(OSType childType, int32_t childID, uint32_t value);
};

// The container bytes of a root (its type and ID are written as given; use kRootType, 1).
std::vector<uint8_t> serialise(const Atom& root);
// A new root atom ('sean', ID 1).
Atom newRoot();
// An atom (header, data or descendants) already in container form, kept byte for byte. The
// caller has checked that its size field is the span's size.
Atom verbatimAtom(std::span<const uint8_t> bytes);
// The atom header and data of one atom (with descendants), without the container header.
void appendAtom(std::vector<uint8_t>& out, const Atom& atom);

}  // namespace vt::atoms
