#include "atoms/atom_tree.h"

#include <MacErrors.h>

#include <algorithm>

#include "core/fourcc.h"

namespace vt::atoms {

OSErr View::parse(const uint8_t* bytes, size_t size) {
  bytes_ = bytes;
  size_ = size;
  nodes_.clear();
  if (bytes == nullptr || size < kContainerHeaderSize + kAtomHeaderSize || size > 0x7FFFFFFF)
    return invalidAtomContainerErr;
  // Bytes after the root atom (padding from other writers) are kept but not read.
  OSErr err = parseAtom(kRootOffset, (uint32_t)size, -1, 0);
  if (err != noErr) nodes_.clear();
  return err;
}

OSErr View::parseAtom(uint32_t offset, uint32_t limit, int parent, int depth) {
  if (depth > kMaxDepth) return invalidAtomContainerErr;
  if (limit < offset || limit - offset < kAtomHeaderSize) return invalidAtomContainerErr;
  const uint8_t* p = bytes_ + offset;
  Node n;
  n.offset = offset;
  n.size = readBE32(p);
  n.type = readBE32(p + 4);
  n.id = (int32_t)readBE32(p + 8);
  n.childCount = readBE16(p + 14);
  n.parent = parent;
  n.depth = depth;
  if (n.size < kAtomHeaderSize || n.size > limit - offset) return invalidAtomContainerErr;
  // Each child needs at least a header: this bounds the work before reading any child.
  if (n.childCount > (n.size - kAtomHeaderSize) / kAtomHeaderSize) return invalidAtomContainerErr;
  int self = (int)nodes_.size();
  nodes_.push_back(n);
  uint32_t cursor = n.dataOffset();
  std::vector<std::pair<OSType, int32_t>> keys;
  keys.reserve(n.childCount);
  for (unsigned i = 0; i < n.childCount; ++i) {
    size_t child = nodes_.size();
    OSErr err = parseAtom(cursor, n.end(), self, depth + 1);
    if (err != noErr) return err;
    cursor = nodes_[child].end();
    keys.emplace_back(nodes_[child].type, nodes_[child].id);
  }
  // A parent's children fill it exactly: an atom holds children or data, never both.
  if (n.childCount > 0 && cursor != n.end()) return invalidAtomContainerErr;
  // Siblings of one type have distinct IDs, or finding one by its ID would be ambiguous.
  std::sort(keys.begin(), keys.end());
  if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return invalidAtomContainerErr;
  return noErr;
}

int View::nodeOfAtom(long atom) const {
  if (nodes_.empty()) return -1;
  if (atom == 0) return 0;
  if (atom < 0 || (unsigned long)atom > 0xFFFFFFFFul) return -1;
  auto it = std::lower_bound(nodes_.begin(), nodes_.end(), (uint32_t)atom,
                             [](const Node& a, uint32_t off) { return a.offset < off; });
  if (it == nodes_.end() || it->offset != (uint32_t)atom) return -1;
  return (int)(it - nodes_.begin());
}

std::vector<int> View::children(int parent) const {
  std::vector<int> out;
  if (parent < 0 || (size_t)parent >= nodes_.size()) return out;
  const Node& p = nodes_[(size_t)parent];
  out.reserve(p.childCount);
  // Children are the following nodes one level deeper, up to the parent's end.
  for (size_t i = (size_t)parent + 1; i < nodes_.size() && nodes_[i].offset < p.end(); ++i)
    if (nodes_[i].parent == parent) out.push_back((int)i);
  return out;
}

int View::countOfType(int parent, OSType type) const {
  int count = 0;
  for (int c : children(parent))
    if (nodes_[(size_t)c].type == type) ++count;
  return count;
}

int View::findByIndex(int parent, OSType type, int index) const {
  if (index < 1) return -1;
  for (int c : children(parent))
    if (nodes_[(size_t)c].type == type && --index == 0) return c;
  return -1;
}

int View::findByID(int parent, OSType type, int32_t id, int* index) const {
  int i = 0;
  for (int c : children(parent)) {
    if (nodes_[(size_t)c].type != type) continue;
    ++i;
    if (nodes_[(size_t)c].id == id) {
      if (index) *index = i;
      return c;
    }
  }
  return -1;
}

std::span<const uint8_t> View::data(int n) const {
  const Node& node = nodes_[(size_t)n];
  if (!node.isLeaf()) return {};
  return {bytes_ + node.dataOffset(), node.dataSize()};
}

std::string dumpJSON(const View& view, int n, size_t maxDataBytes) {
  const Node& node = view.node(n);
  std::string type = fourccString(node.type);
  std::string escaped;
  for (char c : type) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  std::string out = "{\"type\":\"" + escaped + "\",\"id\":" + std::to_string(node.id);
  if (node.isLeaf()) {
    static const char* hex = "0123456789abcdef";
    std::span<const uint8_t> d = view.data(n);
    out += ",\"data\":\"";
    for (size_t i = 0; i < d.size() && i < maxDataBytes; ++i) {
      if (i > 0 && i % 2 == 0) out += ' ';
      out += hex[d[i] >> 4];
      out += hex[d[i] & 15];
    }
    if (d.size() > maxDataBytes) out += "...";
    return out + "\"}";
  }
  out += ",\"children\":[";
  bool first = true;
  for (int c : view.children(n)) {
    if (!first) out += ',';
    first = false;
    out += dumpJSON(view, c, maxDataBytes);
  }
  return out + "]}";
}

Atom& Atom::add(OSType childType, int32_t childID, std::span<const uint8_t> childData) {
  Atom a;
  a.type = childType;
  a.id = childID;
  a.data.assign(childData.begin(), childData.end());
  children.push_back(std::move(a));
  return children.back();
}

Atom& Atom::addBE32(OSType childType, int32_t childID, uint32_t value) {
  uint8_t b[4];
  writeBE32(b, value);
  return add(childType, childID, b);
}

Atom& Atom::addOSType(OSType childType, int32_t childID, OSType value) {
  return addBE32(childType, childID, value);
}

namespace {
uint32_t atomSize(const Atom& a) {
  if (!a.verbatim.empty()) return (uint32_t)a.verbatim.size();
  if (a.children.empty()) return kAtomHeaderSize + (uint32_t)a.data.size();
  uint32_t size = kAtomHeaderSize;
  for (const Atom& c : a.children) size += atomSize(c);
  return size;
}
}  // namespace

void appendAtom(std::vector<uint8_t>& out, const Atom& a) {
  if (!a.verbatim.empty()) {
    out.insert(out.end(), a.verbatim.begin(), a.verbatim.end());
    return;
  }
  size_t at = out.size();
  out.resize(at + kAtomHeaderSize, 0);
  writeBE32(&out[at], atomSize(a));
  writeBE32(&out[at + 4], a.type);
  writeBE32(&out[at + 8], (uint32_t)a.id);
  writeBE16(&out[at + 14], (uint16_t)a.children.size());
  if (a.children.empty()) {
    out.insert(out.end(), a.data.begin(), a.data.end());
  } else {
    for (const Atom& c : a.children) appendAtom(out, c);
  }
}

std::vector<uint8_t> serialise(const Atom& root) {
  std::vector<uint8_t> out(kContainerHeaderSize, 0);
  out.reserve(kContainerHeaderSize + atomSize(root));
  appendAtom(out, root);
  return out;
}

Atom newRoot() {
  Atom r;
  r.type = kRootType;
  r.id = 1;
  return r;
}

Atom verbatimAtom(std::span<const uint8_t> bytes) {
  Atom a;
  a.verbatim.assign(bytes.begin(), bytes.end());
  if (bytes.size() >= kAtomHeaderSize) {
    a.type = readBE32(bytes.data() + 4);
    a.id = (int32_t)readBE32(bytes.data() + 8);
  }
  return a;
}

}  // namespace vt::atoms
