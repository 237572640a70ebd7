// A bounds-checked, read-only view of atom-container bytes (12-byte header, root 'sean',
// 20-byte big-endian atom headers), and a small writer of the same layout.
#pragma once
#include <MacTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vt::effects {

struct AtomNode {
  OSType type = 0;
  uint32_t id = 0;
  size_t dataOffset = 0;  // leaf data, in the container's bytes
  size_t dataSize = 0;
  int firstChild = -1;
  int nextSibling = -1;
  bool leaf = true;
};

class AtomTree {
 public:
  // Parses the container; false (and an empty tree) when any atom's declared size or child
  // count does not fit its parent. Keeps its storage between calls.
  bool parse(const uint8_t* bytes, size_t size);
  // The index-th (1-based) child of `parent` (-1 for the top level) with this type, or -1.
  int child(int parent, OSType type, int index = 1) const;
  const AtomNode& node(int i) const { return nodes_[(size_t)i]; }
  const uint8_t* data(int i) const { return bytes_ + nodes_[(size_t)i].dataOffset; }
  size_t nodeCount() const { return nodes_.size(); }
  int root() const { return nodes_.empty() ? -1 : 0; }

 private:
  bool parseChildren(int parent, size_t begin, size_t end, int count, int depth);
  const uint8_t* bytes_ = nullptr;
  std::vector<AtomNode> nodes_;
};

// Builds containers: atoms are added under a parent (-1 = top level) and serialised at once.
class AtomWriter {
 public:
  int add(int parent, OSType type, uint32_t id, const void* data = nullptr, size_t size = 0);
  int add32(int parent, OSType type, uint32_t id, uint32_t value);
  std::vector<uint8_t> bytes() const;

 private:
  struct Item {
    OSType type;
    uint32_t id;
    std::vector<uint8_t> data;
    std::vector<int> children;
  };
  size_t sizeOf(int i) const;
  void write(int i, std::vector<uint8_t>& out) const;
  std::vector<Item> items_;
  std::vector<int> top_;
};

}  // namespace vt::effects
