// Regions as sorted lists of disjoint rectangles (bands of equal top and bottom, merged
// horizontally). Small and exact, which is what window shapes and update areas need.
#pragma once
#include <MacTypes.h>
#include <Quickdraw.h>

#include <vector>

namespace vt::ui {

class Region {
 public:
  Region() = default;
  explicit Region(const Rect& r) { set(r); }

  void set(const Rect& r);
  void clear() { rects_.clear(); }
  bool empty() const { return rects_.empty(); }
  Rect bounds() const;
  bool contains(int h, int v) const;
  bool intersects(const Rect& r) const;
  bool isRect() const { return rects_.size() <= 1; }
  const std::vector<Rect>& rects() const { return rects_; }
  void offset(int dh, int dv);
  void inset(int dh, int dv);

  static Region unite(const Region& a, const Region& b);
  static Region intersect(const Region& a, const Region& b);
  static Region subtract(const Region& a, const Region& b);
  static Region exclusiveOr(const Region& a, const Region& b);
  Region& operator+=(const Region& o) { return *this = unite(*this, o); }
  Region& operator-=(const Region& o) { return *this = subtract(*this, o); }
  Region& operator&=(const Region& o) { return *this = intersect(*this, o); }
  bool operator==(const Region& o) const;

 private:
  std::vector<Rect> rects_;  // disjoint, non-empty, sorted by top then left
  friend Region combine(const Region&, const Region&, int op);
};

bool rectEmpty(const Rect& r);
Rect rectIntersect(const Rect& a, const Rect& b);  // empty (0,0,0,0) when disjoint
Rect rectUnion(const Rect& a, const Rect& b);

}  // namespace vt::ui

// The block a RgnHandle points to (a memory manager handle holding this object).
struct VTRegion {
  vt::ui::Region rgn;
};

namespace vt::ui {
// The region behind a handle; null for a null or disposed handle.
Region* regionOf(RgnHandle h);
}  // namespace vt::ui
