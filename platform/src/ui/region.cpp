#include "ui/region.h"

#include <MacMemory.h>

#include <algorithm>

namespace vt::ui {
namespace {

using Span = std::pair<int, int>;  // [left, right)

enum Op { kUnion, kSect, kDiff, kXor };

// The spans of a region's rectangles that cover the band [y0, y1) (rects never straddle a band
// boundary partially because bands are cut at every rectangle edge).
std::vector<Span> spansIn(const std::vector<Rect>& rects, int y0, int y1) {
  std::vector<Span> out;
  for (const Rect& r : rects) {
    if (r.top > y0) break;  // sorted by top: no later rectangle reaches this band
    if (r.bottom >= y1) out.push_back({r.left, r.right});
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool inSpans(const std::vector<Span>& s, int x) {
  for (const Span& p : s)
    if (x >= p.first && x < p.second) return true;
  return false;
}

std::vector<Span> combineSpans(const std::vector<Span>& a, const std::vector<Span>& b, int op) {
  std::vector<int> xs;
  for (const Span& s : a) xs.insert(xs.end(), {s.first, s.second});
  for (const Span& s : b) xs.insert(xs.end(), {s.first, s.second});
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::vector<Span> out;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    bool ia = inSpans(a, xs[i]), ib = inSpans(b, xs[i]);
    bool in = op == kUnion  ? (ia || ib)
              : op == kSect ? (ia && ib)
              : op == kDiff ? (ia && !ib)
                            : (ia != ib);
    if (!in) continue;
    if (!out.empty() && out.back().second == xs[i])
      out.back().second = xs[i + 1];
    else
      out.push_back({xs[i], xs[i + 1]});
  }
  return out;
}

}  // namespace

bool rectEmpty(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }

Rect rectIntersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
         std::min(a.right, b.right)};
  if (rectEmpty(r)) return Rect{0, 0, 0, 0};
  return r;
}

Rect rectUnion(const Rect& a, const Rect& b) {
  if (rectEmpty(a)) return b;
  if (rectEmpty(b)) return a;
  return Rect{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
              std::max(a.right, b.right)};
}

Region combine(const Region& a, const Region& b, int op) {
  std::vector<int> ys;
  for (const Rect& r : a.rects_) ys.insert(ys.end(), {r.top, r.bottom});
  for (const Rect& r : b.rects_) ys.insert(ys.end(), {r.top, r.bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Region out;
  std::vector<Span> prev;
  size_t prevStart = 0;  // index in out.rects_ of the previous band's first rectangle
  int prevBottom = -100000;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    int y0 = ys[i], y1 = ys[i + 1];
    std::vector<Span> s = combineSpans(spansIn(a.rects_, y0, y1), spansIn(b.rects_, y0, y1), op);
    if (s.empty()) {
      prev.clear();
      continue;
    }
    if (s == prev && prevBottom == y0) {
      // Same shape as the band above: stretch it down.
      for (size_t k = prevStart; k < out.rects_.size(); ++k) out.rects_[k].bottom = (short)y1;
    } else {
      prevStart = out.rects_.size();
      for (const Span& sp : s)
        out.rects_.push_back(Rect{(short)y0, (short)sp.first, (short)y1, (short)sp.second});
      prev = s;
    }
    prevBottom = y1;
  }
  return out;
}

void Region::set(const Rect& r) {
  rects_.clear();
  if (!rectEmpty(r)) rects_.push_back(r);
}

Rect Region::bounds() const {
  Rect b{0, 0, 0, 0};
  for (const Rect& r : rects_) b = rectUnion(b, r);
  return b;
}

bool Region::contains(int h, int v) const {
  for (const Rect& r : rects_)
    if (v >= r.top && v < r.bottom && h >= r.left && h < r.right) return true;
  return false;
}

bool Region::intersects(const Rect& r) const {
  for (const Rect& q : rects_)
    if (!rectEmpty(rectIntersect(q, r))) return true;
  return false;
}

void Region::offset(int dh, int dv) {
  for (Rect& r : rects_) {
    r.top = (short)(r.top + dv);
    r.bottom = (short)(r.bottom + dv);
    r.left = (short)(r.left + dh);
    r.right = (short)(r.right + dh);
  }
}

void Region::inset(int dh, int dv) {
  // Exact for a rectangle; for a region of several rectangles each is inset on its own, which
  // can differ from insetting the outline where rectangles touch.
  Region out;
  for (const Rect& r : rects_) {
    Rect q{(short)(r.top + dv), (short)(r.left + dh), (short)(r.bottom - dv),
           (short)(r.right - dh)};
    if (!rectEmpty(q)) out = unite(out, Region(q));
  }
  *this = out;
}

Region Region::unite(const Region& a, const Region& b) { return combine(a, b, kUnion); }
Region Region::intersect(const Region& a, const Region& b) { return combine(a, b, kSect); }
Region Region::subtract(const Region& a, const Region& b) { return combine(a, b, kDiff); }
Region Region::exclusiveOr(const Region& a, const Region& b) { return combine(a, b, kXor); }

bool Region::operator==(const Region& o) const {
  if (rects_.size() != o.rects_.size()) return false;
  for (size_t i = 0; i < rects_.size(); ++i) {
    const Rect &x = rects_[i], &y = o.rects_[i];
    if (x.top != y.top || x.left != y.left || x.bottom != y.bottom || x.right != y.right)
      return false;
  }
  return true;
}

Region* regionOf(RgnHandle h) {
  if (!h || !VTIsValidHandle((Handle)h) || !*h) return nullptr;
  if (GetHandleSize((Handle)h) != (Size)sizeof(VTRegion)) return nullptr;
  return &(*h)->rgn;
}

}  // namespace vt::ui
