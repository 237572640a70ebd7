#include "effects/atom_tree.h"

#include "core/fourcc.h"

namespace vt::effects {
namespace {
constexpr size_t kHeader = 20;
constexpr int kMaxDepth = 32;
}  // namespace

bool AtomTree::parse(const uint8_t* bytes, size_t size) {
  nodes_.clear();
  bytes_ = bytes;
  if (!bytes) return false;
  // Accept the container with its 12-byte header and also a bare root atom.
  size_t start = 0;
  if (size >= 12 + kHeader && readBE32(bytes + 16) == 'sean') start = 12;
  else if (!(size >= kHeader && readBE32(bytes + 4) == 'sean')) return false;
  const uint8_t* h = bytes + start;
  size_t rootSize = readBE32(h);
  if (rootSize < kHeader || rootSize > size - start) return false;
  AtomNode root;
  root.type = 'sean';
  root.id = readBE32(h + 8);
  root.leaf = false;
  nodes_.push_back(root);
  int count = readBE16(h + 14);
  if (!parseChildren(0, start + kHeader, start + rootSize, count, 0)) {
    nodes_.clear();
    return false;
  }
  return true;
}

bool AtomTree::parseChildren(int parent, size_t begin, size_t end, int count, int depth) {
  if (depth > kMaxDepth) return false;
  size_t pos = begin;
  int prev = -1;
  for (int k = 0; k < count; ++k) {
    if (end - pos < kHeader) return false;
    const uint8_t* h = bytes_ + pos;
    size_t atomSize = readBE32(h);
    if (atomSize < kHeader || atomSize > end - pos) return false;
    AtomNode n;
    n.type = readBE32(h + 4);
    n.id = readBE32(h + 8);
    int children = readBE16(h + 14);
    n.leaf = children == 0;
    n.dataOffset = pos + kHeader;
    n.dataSize = n.leaf ? atomSize - kHeader : 0;
    int index = (int)nodes_.size();
    nodes_.push_back(n);
    if (prev < 0) nodes_[(size_t)parent].firstChild = index;
    else nodes_[(size_t)prev].nextSibling = index;
    prev = index;
    if (!n.leaf && !parseChildren(index, pos + kHeader, pos + atomSize, children, depth + 1))
      return false;
    pos += atomSize;
  }
  return true;
}

int AtomTree::child(int parent, OSType type, int index) const {
  if (nodes_.empty()) return -1;
  if (parent < 0) parent = 0;
  int seen = 0;
  for (int c = nodes_[(size_t)parent].firstChild; c >= 0; c = nodes_[(size_t)c].nextSibling)
    if (nodes_[(size_t)c].type == type && ++seen == index) return c;
  return -1;
}

int AtomWriter::add(int parent, OSType type, uint32_t id, const void* data, size_t size) {
  Item it{type, id, {}, {}};
  if (data && size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    it.data.assign(p, p + size);
  }
  items_.push_back(std::move(it));
  int index = (int)items_.size() - 1;
  if (parent < 0) top_.push_back(index);
  else items_[(size_t)parent].children.push_back(index);
  return index;
}

int AtomWriter::add32(int parent, OSType type, uint32_t id, uint32_t value) {
  uint8_t b[4];
  writeBE32(b, value);
  return add(parent, type, id, b, 4);
}

size_t AtomWriter::sizeOf(int i) const {
  const Item& it = items_[(size_t)i];
  size_t s = kHeader + it.data.size();
  for (int c : it.children) s += sizeOf(c);
  return s;
}

void AtomWriter::write(int i, std::vector<uint8_t>& out) const {
  const Item& it = items_[(size_t)i];
  uint8_t h[kHeader] = {};
  writeBE32(h, (uint32_t)sizeOf(i));
  writeBE32(h + 4, it.type);
  writeBE32(h + 8, it.id);
  writeBE16(h + 14, (uint16_t)it.children.size());
  out.insert(out.end(), h, h + kHeader);
  if (it.children.empty()) out.insert(out.end(), it.data.begin(), it.data.end());
  for (int c : it.children) write(c, out);
}

std::vector<uint8_t> AtomWriter::bytes() const {
  std::vector<uint8_t> out(12, 0);
  size_t rootSize = kHeader;
  for (int t : top_) rootSize += sizeOf(t);
  uint8_t h[kHeader] = {};
  writeBE32(h, (uint32_t)rootSize);
  writeBE32(h + 4, 'sean');
  writeBE32(h + 8, 1);
  writeBE16(h + 14, (uint16_t)top_.size());
  out.insert(out.end(), h, h + kHeader);
  for (int t : top_) write(t, out);
  return out;
}

}  // namespace vt::effects
