#include "effects/smpte.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace vt::effects {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<PatternInfo> buildPatterns() {
  std::vector<PatternInfo> v;
  auto add = [&](PatternFamily fam, int id, const char* name) { v.push_back({id, name, fam}); };
  using F = PatternFamily;
  // Wipes: SMPTE 258M numbering. Edges, corners, barn doors, centre boxes, diagonals, V shapes
  // and bow ties, zig-zags.
  add(F::Wipe, 1, "Horizontal");
  add(F::Wipe, 2, "Vertical");
  add(F::Wipe, 3, "Top Left");
  add(F::Wipe, 4, "Top Right");
  add(F::Wipe, 5, "Bottom Right");
  add(F::Wipe, 6, "Bottom Left");
  add(F::Wipe, 7, "Four Corner");
  add(F::Wipe, 8, "Four Box");
  add(F::Wipe, 21, "Barn Vertical");
  add(F::Wipe, 22, "Barn Horizontal");
  add(F::Wipe, 23, "Top Center");
  add(F::Wipe, 24, "Right Center");
  add(F::Wipe, 25, "Bottom Center");
  add(F::Wipe, 26, "Left Center");
  add(F::Wipe, 41, "Diagonal Top Left");
  add(F::Wipe, 42, "Diagonal Top Right");
  add(F::Wipe, 43, "Diagonal Bottom Right");
  add(F::Wipe, 44, "Diagonal Bottom Left");
  add(F::Wipe, 45, "Barn Diagonal Top Left Out");
  add(F::Wipe, 46, "Barn Diagonal Top Right Out");
  add(F::Wipe, 47, "Barn Diagonal Top Left In");
  add(F::Wipe, 48, "Barn Diagonal Top Right In");
  add(F::Wipe, 61, "V Top");
  add(F::Wipe, 62, "V Right");
  add(F::Wipe, 63, "V Bottom");
  add(F::Wipe, 64, "V Left");
  add(F::Wipe, 65, "Bow Tie Vertical");
  add(F::Wipe, 66, "Bow Tie Horizontal");
  add(F::Wipe, 67, "Diagonal Cross Out");
  add(F::Wipe, 68, "Diagonal Cross In");
  add(F::Wipe, 71, "Zig Zag Top");
  add(F::Wipe, 72, "Zig Zag Left");
  add(F::Wipe, 73, "Barn Zig Zag Vertical");
  add(F::Wipe, 74, "Barn Zig Zag Horizontal");
  // Irises.
  add(F::Iris, 101, "Rectangle");
  add(F::Iris, 102, "Diamond");
  add(F::Iris, 103, "Triangle");
  add(F::Iris, 104, "Triangle Right");
  add(F::Iris, 105, "Triangle Upside Down");
  add(F::Iris, 106, "Triangle Left");
  add(F::Iris, 107, "Arrowhead");
  add(F::Iris, 108, "Arrowhead Right");
  add(F::Iris, 109, "Arrowhead Upside Down");
  add(F::Iris, 110, "Arrowhead Left");
  add(F::Iris, 111, "Pentagon");
  add(F::Iris, 112, "Pentagon Upside Down");
  add(F::Iris, 113, "Hexagon");
  add(F::Iris, 114, "Hexagon Vertical");
  add(F::Iris, 119, "Circle");
  add(F::Iris, 120, "Oval Horizontal");
  add(F::Iris, 121, "Oval Vertical");
  add(F::Iris, 122, "Cat Eye Horizontal");
  add(F::Iris, 123, "Cat Eye Vertical");
  add(F::Iris, 124, "Round Rectangle Horizontal");
  add(F::Iris, 125, "Round Rectangle Vertical");
  add(F::Iris, 127, "Four Point Star");
  add(F::Iris, 128, "Five Point Star");
  add(F::Iris, 129, "Six Point Star");
  add(F::Iris, 130, "Heart");
  add(F::Iris, 131, "Keyhole");
  // Radial (clock) wipes.
  add(F::Radial, 201, "Clock Top");
  add(F::Radial, 202, "Clock Right");
  add(F::Radial, 203, "Clock Bottom");
  add(F::Radial, 204, "Clock Left");
  add(F::Radial, 205, "Counter Clock Top");
  add(F::Radial, 206, "Counter Clock Right");
  add(F::Radial, 207, "Counter Clock Bottom");
  add(F::Radial, 208, "Counter Clock Left");
  add(F::Radial, 211, "Fan Top");
  add(F::Radial, 212, "Fan Right");
  add(F::Radial, 213, "Fan Bottom");
  add(F::Radial, 214, "Fan Left");
  add(F::Radial, 220, "Quad Rotating Center");
  add(F::Radial, 221, "Double Fan Vertical");
  add(F::Radial, 222, "Double Fan Horizontal");
  add(F::Radial, 225, "Counter Rotating Top Bottom");
  add(F::Radial, 226, "Counter Rotating Left Right");
  add(F::Radial, 227, "Double Rotating Top Bottom");
  add(F::Radial, 228, "Double Rotating Left Right");
  add(F::Radial, 231, "Fan Edge Top");
  add(F::Radial, 232, "Fan Edge Right");
  add(F::Radial, 233, "Fan Edge Bottom");
  add(F::Radial, 234, "Fan Edge Left");
  add(F::Radial, 235, "Double Fan Edge Top Bottom");
  add(F::Radial, 236, "Double Fan Edge Left Right");
  add(F::Radial, 241, "Rotating Top Left");
  add(F::Radial, 242, "Rotating Top Right");
  add(F::Radial, 243, "Rotating Bottom Right");
  add(F::Radial, 244, "Rotating Bottom Left");
  add(F::Radial, 245, "Rotating Top Left Bottom Right");
  add(F::Radial, 246, "Rotating Bottom Left Top Right");
  add(F::Radial, 251, "Rotating Top Left Bottom");
  add(F::Radial, 252, "Rotating Top Right Left");
  add(F::Radial, 253, "Rotating Bottom Left Right");
  add(F::Radial, 254, "Rotating Bottom Right Top");
  add(F::Radial, 261, "Rotating Double Center Right");
  add(F::Radial, 262, "Rotating Double Center Top");
  add(F::Radial, 263, "Rotating Double Center Top Bottom");
  add(F::Radial, 264, "Rotating Double Center Left Right");
  // Matrix wipes.
  add(F::Matrix, 301, "Horizontal Matrix");
  add(F::Matrix, 302, "Vertical Matrix");
  add(F::Matrix, 303, "Top Left Diagonal Matrix");
  add(F::Matrix, 304, "Top Right Diagonal Matrix");
  add(F::Matrix, 305, "Bottom Right Diagonal Matrix");
  add(F::Matrix, 306, "Bottom Left Diagonal Matrix");
  add(F::Matrix, 310, "Clockwise Top Left Matrix");
  add(F::Matrix, 311, "Clockwise Top Right Matrix");
  add(F::Matrix, 312, "Clockwise Bottom Right Matrix");
  add(F::Matrix, 313, "Clockwise Bottom Left Matrix");
  add(F::Matrix, 314, "Counter Clockwise Top Left Matrix");
  add(F::Matrix, 315, "Counter Clockwise Top Right Matrix");
  add(F::Matrix, 316, "Counter Clockwise Bottom Right Matrix");
  add(F::Matrix, 317, "Counter Clockwise Bottom Left Matrix");
  add(F::Matrix, 320, "Vertical Start Top Matrix");
  add(F::Matrix, 321, "Vertical Start Bottom Matrix");
  add(F::Matrix, 322, "Vertical Start Top Opposite Matrix");
  add(F::Matrix, 323, "Vertical Start Bottom Opposite Matrix");
  add(F::Matrix, 324, "Horizontal Start Left Matrix");
  add(F::Matrix, 325, "Horizontal Start Right Matrix");
  add(F::Matrix, 326, "Horizontal Start Left Opposite Matrix");
  add(F::Matrix, 327, "Horizontal Start Right Opposite Matrix");
  add(F::Matrix, 328, "Double Diagonal Top Right Matrix");
  add(F::Matrix, 329, "Double Diagonal Bottom Right Matrix");
  add(F::Matrix, 340, "Double Spiral Top Matrix");
  add(F::Matrix, 341, "Double Spiral Bottom Matrix");
  add(F::Matrix, 342, "Double Spiral Left Matrix");
  add(F::Matrix, 343, "Double Spiral Right Matrix");
  add(F::Matrix, 344, "Quad Spiral Vertical Matrix");
  add(F::Matrix, 345, "Quad Spiral Horizontal Matrix");
  add(F::Matrix, 350, "Vertical Waterfall Left Matrix");
  add(F::Matrix, 351, "Vertical Waterfall Right Matrix");
  add(F::Matrix, 352, "Horizontal Waterfall Left Matrix");
  add(F::Matrix, 353, "Horizontal Waterfall Right Matrix");
  return v;
}

// ---- irises: star-shaped outlines as a radius per direction -------------------------------

constexpr int kAngles = 1024;
using RadiusTable = std::array<float, kAngles>;
struct Pt {
  double x, y;
};

// Distance from the origin to the outline along each direction (first crossing).
RadiusTable radiusOfPolygon(const std::vector<Pt>& poly) {
  RadiusTable t{};
  for (int i = 0; i < kAngles; ++i) {
    double a = 2 * kPi * i / kAngles;
    double dx = std::cos(a), dy = std::sin(a);
    double best = 0;
    bool found = false;
    for (size_t k = 0; k < poly.size(); ++k) {
      Pt p = poly[k], q = poly[(k + 1) % poly.size()];
      double ex = q.x - p.x, ey = q.y - p.y;
      double den = dx * ey - dy * ex;
      if (std::fabs(den) < 1e-12) continue;
      double r = (p.x * ey - p.y * ex) / den;  // along the ray
      double s = (p.x * dy - p.y * dx) / den;  // along the edge
      if (r > 1e-9 && s >= -1e-9 && s <= 1 + 1e-9 && (!found || r < best)) {
        best = r;
        found = true;
      }
    }
    t[i] = (float)(found ? best : 1.0);
  }
  return t;
}

std::vector<Pt> regular(int n, double startDeg, double r = 1, double sx = 1, double sy = 1) {
  std::vector<Pt> v;
  for (int i = 0; i < n; ++i) {
    double a = (startDeg + 360.0 * i / n) * kPi / 180;
    v.push_back({r * sx * std::cos(a), r * sy * std::sin(a)});
  }
  return v;
}
std::vector<Pt> star(int points, double inner) {
  std::vector<Pt> v;
  for (int i = 0; i < points * 2; ++i) {
    double a = -kPi / 2 + kPi * i / points;
    double r = (i % 2) ? inner : 1.0;
    v.push_back({r * std::cos(a), r * std::sin(a)});
  }
  return v;
}
std::vector<Pt> rotate(std::vector<Pt> v, int quarterTurns) {
  for (auto& p : v)
    for (int i = 0; i < quarterTurns; ++i) p = {-p.y, p.x};
  return v;
}
std::vector<Pt> roundRect(double w, double h, double rad) {
  std::vector<Pt> v;
  const Pt centres[4] = {
      {w - rad, h - rad}, {-w + rad, h - rad}, {-w + rad, -h + rad}, {w - rad, -h + rad}};
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i <= 8; ++i) {
      double a = kPi / 2 * c + kPi / 2 * i / 8;
      v.push_back({centres[c].x + rad * std::cos(a), centres[c].y + rad * std::sin(a)});
    }
  return v;
}
std::vector<Pt> catEye(bool vertical) {
  const double w = 1.4, h = 0.7;
  double k = (w * w - h * h) / (2 * h), R = h + k, t0 = std::asin(w / R);
  std::vector<Pt> v;
  for (int i = 0; i <= 32; ++i) {  // lower arc, left to right (circle centred above)
    double t = -t0 + 2 * t0 * i / 32;
    v.push_back({R * std::sin(t), -k + R * std::cos(t)});
  }
  for (int i = 1; i < 32; ++i) {  // upper arc back
    double t = t0 - 2 * t0 * i / 32;
    v.push_back({R * std::sin(t), k - R * std::cos(t)});
  }
  return vertical ? rotate(v, 1) : v;
}
std::vector<Pt> heart() {
  std::vector<Pt> v;
  for (int i = 0; i < 96; ++i) {
    double t = 2 * kPi * i / 96;
    double x = 16 * std::pow(std::sin(t), 3);
    double y = -(13 * std::cos(t) - 5 * std::cos(2 * t) - 2 * std::cos(3 * t) - std::cos(4 * t));
    v.push_back({x / 16, (y + 2) / 16});
  }
  return v;
}

RadiusTable irisTable(int id) {
  std::vector<Pt> arrow = {{0, -1}, {0.9, 0.8}, {0, 0.3}, {-0.9, 0.8}};
  switch (id) {
    case 103: return radiusOfPolygon(regular(3, -90));
    case 104: return radiusOfPolygon(regular(3, 0));
    case 105: return radiusOfPolygon(regular(3, 90));
    case 106: return radiusOfPolygon(regular(3, 180));
    case 107: return radiusOfPolygon(arrow);
    case 108: return radiusOfPolygon(rotate(arrow, 1));
    case 109: return radiusOfPolygon(rotate(arrow, 2));
    case 110: return radiusOfPolygon(rotate(arrow, 3));
    case 111: return radiusOfPolygon(regular(5, -90));
    case 112: return radiusOfPolygon(regular(5, 90));
    case 113: return radiusOfPolygon(regular(6, 0));
    case 114: return radiusOfPolygon(regular(6, 90));
    case 119: return radiusOfPolygon(regular(128, 0));
    case 120: return radiusOfPolygon(regular(128, 0, 1, 1.6, 1));
    case 121: return radiusOfPolygon(regular(128, 0, 1, 1, 1.6));
    case 122: return radiusOfPolygon(catEye(false));
    case 123: return radiusOfPolygon(catEye(true));
    case 124: return radiusOfPolygon(roundRect(1.5, 1, 0.4));
    case 125: return radiusOfPolygon(roundRect(1, 1.5, 0.4));
    case 127: return radiusOfPolygon(star(4, 0.4));
    case 128: return radiusOfPolygon(star(5, 0.45));
    case 129: return radiusOfPolygon(star(6, 0.5));
    case 130: return radiusOfPolygon(heart());
    case 131: {  // circle over a trapezoid: the union's outline is the larger radius
      std::vector<Pt> circle;
      for (auto p : regular(96, 0, 0.45)) circle.push_back({p.x, p.y - 0.35});
      RadiusTable a = radiusOfPolygon(circle);
      RadiusTable b = radiusOfPolygon({{-0.2, -0.1}, {0.2, -0.1}, {0.4, 0.8}, {-0.4, 0.8}});
      for (int i = 0; i < kAngles; ++i) a[i] = std::max(a[i], b[i]);
      return a;
    }
    default: return radiusOfPolygon(regular(128, 0));
  }
}

// ---- matrix wipes: per-cell start and length of its fill, and the fill direction ----------

constexpr int kCols = 8, kRows = 8;
struct Cell {
  float start = 0, len = 1;
  int dir = 0;  // 0 left->right, 1 right->left, 2 top->bottom, 3 bottom->top, 4 diagonal
};
using Grid = std::array<Cell, kCols * kRows>;

// Ranks of a spiral walk in a w x h sub-grid starting at a corner (0 TL, 1 TR, 2 BR, 3 BL).
std::vector<int> spiral(int w, int h, int corner, bool clockwise) {
  std::vector<int> rank((size_t)w * h, -1);
  static const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};  // right, down, left, up
  int x = (corner == 1 || corner == 2) ? w - 1 : 0;
  int y = (corner >= 2) ? h - 1 : 0;
  int d = clockwise ? corner : (corner + 1) % 4;  // cw from TL goes right, ccw goes down
  for (int k = 0; k < w * h; ++k) {
    rank[(size_t)y * w + x] = k;
    if (k + 1 == w * h) break;
    for (int tries = 0; tries < 4; ++tries) {
      int nx = x + dx[d], ny = y + dy[d];
      if (nx >= 0 && ny >= 0 && nx < w && ny < h && rank[(size_t)ny * w + nx] < 0) {
        x = nx;
        y = ny;
        break;
      }
      d = clockwise ? (d + 1) % 4 : (d + 3) % 4;
    }
  }
  return rank;
}

Grid matrixGrid(int id) {
  Grid g;
  const int N = kCols * kRows;
  auto seq = [&](int c, int r, double rank, double count, int dir) {
    Cell& cell = g[(size_t)r * kCols + c];
    cell.start = (float)(rank / count);
    cell.len = (float)(1.0 / count);
    cell.dir = dir;
  };
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      int rc = kRows - 1 - r, cc = kCols - 1 - c;
      switch (id) {
        case 301: seq(c, r, r * kCols + c, N, 0); break;
        case 302: seq(c, r, c * kRows + r, N, 2); break;
        case 303: seq(c, r, r + c, kRows + kCols - 1, 4); break;
        case 304: seq(c, r, r + cc, kRows + kCols - 1, 4); break;
        case 305: seq(c, r, rc + cc, kRows + kCols - 1, 4); break;
        case 306: seq(c, r, rc + c, kRows + kCols - 1, 4); break;
        case 320:
        case 321:
        case 322:
        case 323: {  // column snakes
          bool fromTop = id == 320 || id == 322;
          bool down = ((c % 2) == 0) == fromTop;
          int k = c * kRows + (down ? r : rc);
          if (id >= 322)
            seq(c, r, std::min(k, N - 1 - k), N / 2.0, down ? 2 : 3);
          else
            seq(c, r, k, N, down ? 2 : 3);
          break;
        }
        case 324:
        case 325:
        case 326:
        case 327: {  // row snakes
          bool fromLeft = id == 324 || id == 326;
          bool right = ((r % 2) == 0) == fromLeft;
          int k = r * kCols + (right ? c : cc);
          if (id >= 326)
            seq(c, r, std::min(k, N - 1 - k), N / 2.0, right ? 0 : 1);
          else
            seq(c, r, k, N, right ? 0 : 1);
          break;
        }
        case 328: seq(c, r, std::min(r + cc, rc + c), kRows + kCols - 1, 4); break;
        case 329: seq(c, r, std::min(rc + cc, r + c), kRows + kCols - 1, 4); break;
        case 350: seq(c, r, r + c * 0.5, kRows + (kCols - 1) * 0.5, 2); break;
        case 351: seq(c, r, r + cc * 0.5, kRows + (kCols - 1) * 0.5, 2); break;
        case 352: seq(c, r, c + r * 0.5, kCols + (kRows - 1) * 0.5, 0); break;
        case 353: seq(c, r, cc + r * 0.5, kCols + (kRows - 1) * 0.5, 1); break;
        default: break;
      }
    }
  if (id >= 310 && id <= 317) {
    auto rank = spiral(kCols, kRows, (id - 310) % 4, id <= 313);
    for (int i = 0; i < N; ++i) g[i] = {(float)rank[i] / N, 1.0f / N, 4};
  } else if (id >= 340 && id <= 345) {
    // Several spirals at once, one per part of the grid, mirrored so they start at the outer
    // corners named by the pattern.
    bool quad = id >= 344;
    bool splitCols = id == 340 || id == 341 || quad;
    bool splitRows = id == 342 || id == 343 || quad;
    int pw = splitCols ? kCols / 2 : kCols, ph = splitRows ? kRows / 2 : kRows;
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kCols; ++c) {
        int px = c % pw, py = r % ph;
        bool rightPart = splitCols && c >= pw, lowerPart = splitRows && r >= ph;
        int corner;
        bool cw;
        if (quad) {
          corner = rightPart ? (lowerPart ? 2 : 1) : (lowerPart ? 3 : 0);
          cw = (id == 344) == (corner == 0 || corner == 2);
        } else if (id == 340 || id == 341) {
          bool top = id == 340;
          corner = rightPart ? (top ? 1 : 2) : (top ? 0 : 3);
          cw = rightPart != top;
          cw = !cw;
        } else {
          bool left = id == 342;
          corner = lowerPart ? (left ? 3 : 2) : (left ? 0 : 1);
          cw = lowerPart == left;
          cw = !cw;
        }
        auto rank = spiral(pw, ph, corner, cw);
        g[(size_t)r * kCols + c] = {(float)rank[(size_t)py * pw + px] / (pw * ph), 1.0f / (pw * ph),
                                    4};
      }
  }
  return g;
}

double angleFrom(double x, double y, double cx, double cy, double startRad, bool cw) {
  double t = std::atan2(y - cy, x - cx);
  double a = cw ? t - startRad : startRad - t;
  a = std::fmod(a, 2 * kPi);
  if (a < 0) a += 2 * kPi;
  return a / (2 * kPi);
}
double zig(double u) { return 0.1 * std::fabs(u * 8 - std::floor(u * 8) - 0.5) * 2; }

constexpr double kUp = -kPi / 2, kDown = kPi / 2, kRight = 0, kLeft = kPi;

// Raw (unnormalised) field at a point of one tile: (u, v) in [0, 1), (x, y) the same point in
// pixel-true units with the tile's shorter half-side as 1.
double rawField(int id, double u, double v, double x, double y, double ax, double ay,
                const RadiusTable* iris, const Grid* grid) {
  double cu = std::fabs(u - 0.5), cv = std::fabs(v - 0.5);
  switch (id) {
    case 1: return u;
    case 2: return v;
    case 3: return std::max(u, v);
    case 4: return std::max(1 - u, v);
    case 5: return std::max(1 - u, 1 - v);
    case 6: return std::max(u, 1 - v);
    case 7: return std::max(std::min(u, 1 - u), std::min(v, 1 - v));
    case 8: {
      double qu = 2 * u - std::floor(2 * u), qv = 2 * v - std::floor(2 * v);
      return std::max(std::fabs(qu - 0.5), std::fabs(qv - 0.5));
    }
    case 21: return cu;
    case 22: return cv;
    case 23: return std::max(cu * 2, v);
    case 24: return std::max(cv * 2, 1 - u);
    case 25: return std::max(cu * 2, 1 - v);
    case 26: return std::max(cv * 2, u);
    case 41: return u + v;
    case 42: return 1 - u + v;
    case 43: return 2 - u - v;
    case 44: return u + 1 - v;
    case 45: return std::fabs(u - v);
    case 46: return std::fabs(u + v - 1);
    case 47: return -std::fabs(u - v);
    case 48: return -std::fabs(u + v - 1);
    case 61: return v + cu;
    case 62: return 1 - u + cv;
    case 63: return 1 - v + cu;
    case 64: return u + cv;
    case 65: return cu + std::min(v, 1 - v);
    case 66: return cv + std::min(u, 1 - u);
    case 67: return std::min(std::fabs(u - v), std::fabs(u + v - 1));
    case 68: return -std::min(std::fabs(u - v), std::fabs(u + v - 1));
    case 71: return v + zig(u);
    case 72: return u + zig(v);
    case 73: return cu + zig(v) * 0.5;
    case 74: return cv + zig(u) * 0.5;
    case 101: return std::max(cu, cv);
    case 102: return cu + cv;
    case 201: return angleFrom(x, y, 0, 0, kUp, true);
    case 202: return angleFrom(x, y, 0, 0, kRight, true);
    case 203: return angleFrom(x, y, 0, 0, kDown, true);
    case 204: return angleFrom(x, y, 0, 0, kLeft, true);
    case 205: return angleFrom(x, y, 0, 0, kUp, false);
    case 206: return angleFrom(x, y, 0, 0, kRight, false);
    case 207: return angleFrom(x, y, 0, 0, kDown, false);
    case 208: return angleFrom(x, y, 0, 0, kLeft, false);
    case 211:
    case 212:
    case 213:
    case 214: {  // both ways from one direction
      static const double s[4] = {kUp, kRight, kDown, kLeft};
      double a = angleFrom(x, y, 0, 0, s[id - 211], true);
      return std::min(a, 1 - a);
    }
    case 220: {
      double a = angleFrom(x, y, 0, 0, kUp, true) * 4;
      return a - std::floor(a);
    }
    case 221:
    case 222: {
      double a = angleFrom(x, y, 0, 0, id == 221 ? kUp : kRight, true) * 2;
      a -= std::floor(a);
      return std::min(a, 1 - a);
    }
    case 225: {
      double t = angleFrom(x, y, 0, -ay, kLeft, false), b = angleFrom(x, y, 0, ay, kRight, false);
      return std::min(t, b);
    }
    case 226: {
      double l = angleFrom(x, y, -ax, 0, kUp, true), r = angleFrom(x, y, ax, 0, kDown, true);
      return std::min(l, r);
    }
    case 227:
      return std::min(angleFrom(x, y, 0, -ay / 2, kUp, true),
                      angleFrom(x, y, 0, ay / 2, kUp, true));
    case 228:
      return std::min(angleFrom(x, y, -ax / 2, 0, kUp, true),
                      angleFrom(x, y, ax / 2, 0, kUp, true));
    case 231:
    case 232:
    case 233:
    case 234: {  // from the middle of an edge, into the frame
      static const double cx[4] = {0, 1, 0, -1}, cy[4] = {-1, 0, 1, 0};
      static const double in[4] = {kDown, kLeft, kUp, kRight};
      int k = id - 231;
      double a = angleFrom(x, y, cx[k] * ax, cy[k] * ay, in[k], true);
      return std::min(a, 1 - a);
    }
    case 235:
    case 236: {
      double a, b;
      if (id == 235) {
        a = angleFrom(x, y, 0, -ay, kDown, true);
        b = angleFrom(x, y, 0, ay, kUp, true);
      } else {
        a = angleFrom(x, y, -ax, 0, kRight, true);
        b = angleFrom(x, y, ax, 0, kLeft, true);
      }
      return std::min(std::min(a, 1 - a), std::min(b, 1 - b));
    }
    case 241: return angleFrom(x, y, -ax, -ay, kRight, true);
    case 242: return angleFrom(x, y, ax, -ay, kDown, true);
    case 243: return angleFrom(x, y, ax, ay, kLeft, true);
    case 244: return angleFrom(x, y, -ax, ay, kUp, true);
    case 245:
      return std::min(angleFrom(x, y, -ax, -ay, kRight, true),
                      angleFrom(x, y, ax, ay, kLeft, true));
    case 246:
      return std::min(angleFrom(x, y, -ax, ay, kUp, true), angleFrom(x, y, ax, -ay, kDown, true));
    case 251: return angleFrom(x, y, -ax, -ay, kDown, false);
    case 252: return angleFrom(x, y, ax, -ay, kLeft, false);
    case 253: return angleFrom(x, y, -ax, ay, kRight, false);
    case 254: return angleFrom(x, y, ax, ay, kUp, false);
    case 261:
    case 262: {
      double a = angleFrom(x, y, 0, 0, id == 261 ? kRight : kUp, true) * 2;
      return a - std::floor(a);
    }
    case 263:
      return std::min(angleFrom(x, y, 0, 0, kUp, true), angleFrom(x, y, 0, 0, kDown, false));
    case 264:
      return std::min(angleFrom(x, y, 0, 0, kLeft, true), angleFrom(x, y, 0, 0, kRight, false));
    default: break;
  }
  if (iris) {
    double r = std::sqrt(x * x + y * y);
    double a = std::atan2(y, x);
    if (a < 0) a += 2 * kPi;
    int i = (int)(a / (2 * kPi) * kAngles) % kAngles;
    return r / std::max(1e-6f, (*iris)[i]);
  }
  if (grid) {
    int c = std::min(kCols - 1, (int)(u * kCols)), r = std::min(kRows - 1, (int)(v * kRows));
    double fu = u * kCols - c, fv = v * kRows - r;
    const Cell& cell = (*grid)[(size_t)r * kCols + c];
    double w;
    switch (cell.dir) {
      case 0: w = fu; break;
      case 1: w = 1 - fu; break;
      case 2: w = fv; break;
      case 3: w = 1 - fv; break;
      default: w = (fu + fv) / 2; break;
    }
    return cell.start + cell.len * w;
  }
  return u;
}

std::shared_ptr<PatternField> buildField(int id, int w, int h, int hori, int vert) {
  auto pf = std::make_shared<PatternField>();
  pf->width = w;
  pf->height = h;
  pf->f.resize((size_t)w * h);
  pf->invGrad.resize((size_t)w * h);
  const PatternInfo* info = findPattern(id);
  RadiusTable iris;
  Grid grid;
  bool useIris = info && info->family == PatternFamily::Iris && id != 101 && id != 102;
  bool useGrid = info && info->family == PatternFamily::Matrix;
  if (useIris) iris = irisTable(id);
  if (useGrid) grid = matrixGrid(id);
  // One tile's geometry: the shorter half-side is 1 in pixel-true units.
  double tw = (double)w / hori, th = (double)h / vert;
  double half = std::min(tw, th) / 2;
  double ax = tw / 2 / half, ay = th / 2 / half;
  double lo = 1e300, hi = -1e300;
  std::vector<double> raw((size_t)w * h);
  for (int y = 0; y < h; ++y) {
    double vv = (y + 0.5) * vert / h;
    vv -= std::floor(vv);
    for (int x = 0; x < w; ++x) {
      double uu = (x + 0.5) * hori / w;
      uu -= std::floor(uu);
      double px = (uu - 0.5) * 2 * ax, py = (vv - 0.5) * 2 * ay;
      double r = rawField(id, uu, vv, px, py, ax, ay, useIris ? &iris : nullptr,
                          useGrid ? &grid : nullptr);
      raw[(size_t)y * w + x] = r;
      lo = std::min(lo, r);
      hi = std::max(hi, r);
    }
  }
  // Normalise into [0, 1): nothing shows B at the start, everything by the end.
  double scale = hi > lo ? (1.0 - 1e-6) / (hi - lo) : 0;
  pf->f16.resize(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    pf->f[i] = (float)((raw[i] - lo) * scale);
    pf->f16[i] = (uint16_t)std::min(65535.0, std::floor(pf->f[i] * 65536.0));
  }
  // Gradient from the smoother one-sided difference on each axis.
  std::vector<float> samples;
  samples.reserve((size_t)w * h / 7 + 1);
  auto minAbs = [](float a, float b) { return std::fabs(a) < std::fabs(b) ? a : b; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t i = (size_t)y * w + x;
      float c = pf->f[i];
      float gx = 0, gy = 0;
      if (w > 1) {
        float l = x > 0 ? c - pf->f[i - 1] : 1e9f, r = x + 1 < w ? pf->f[i + 1] - c : 1e9f;
        gx = minAbs(l, r);
      }
      if (h > 1) {
        float u = y > 0 ? c - pf->f[i - w] : 1e9f, d = y + 1 < h ? pf->f[i + w] - c : 1e9f;
        gy = minAbs(u, d);
      }
      float g = std::sqrt(gx * gx + gy * gy);
      pf->invGrad[i] = g > 1e-7f ? 1.0f / g : 1e7f;
      if (i % 7 == 0) samples.push_back(g);
    }
  if (!samples.empty()) {
    size_t k = samples.size() * 99 / 100;
    std::nth_element(samples.begin(), samples.begin() + k, samples.end());
    pf->gradMax = samples[k];
  }
  if (!(pf->gradMax > 0)) pf->gradMax = 1.0f / std::max(1, std::max(w, h));
  return pf;
}

}  // namespace

const std::vector<PatternInfo>& smptePatterns() {
  static const std::vector<PatternInfo> v = buildPatterns();
  return v;
}

const PatternInfo* findPattern(int id) {
  for (const auto& p : smptePatterns())
    if (p.id == id) return &p;
  return nullptr;
}

bool isRandomPattern(int id) { return id == kRandomAnyPattern || (id >= 501 && id <= 504); }

int resolvePattern(int id, uint64_t seed) {
  if (findPattern(id)) return id;
  if (!isRandomPattern(id)) return 0;
  const auto& all = smptePatterns();
  std::vector<int> pool;
  for (const auto& p : all)
    if (id == kRandomAnyPattern || (int)p.family == id - 501) pool.push_back(p.id);
  seed ^= seed >> 33;
  seed *= 0xff51afd7ed558ccdULL;
  seed ^= seed >> 33;
  return pool[seed % pool.size()];
}

std::shared_ptr<const PatternField> patternField(int id, int width, int height, int hori,
                                                 int vert) {
  struct Entry {
    int id, w, h, hori, vert;
    std::shared_ptr<const PatternField> field;
  };
  static std::mutex mutex;
  static std::vector<Entry> cache;  // most recent last
  if (width <= 0 || height <= 0) return nullptr;
  hori = std::clamp(hori, 1, std::max(1, width));
  vert = std::clamp(vert, 1, std::max(1, height));
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < cache.size(); ++i) {
      const Entry& e = cache[i];
      if (e.id == id && e.w == width && e.h == height && e.hori == hori && e.vert == vert) {
        Entry hit = e;
        cache.erase(cache.begin() + (long)i);
        cache.push_back(hit);
        return hit.field;
      }
    }
  }
  std::shared_ptr<const PatternField> field = buildField(id, width, height, hori, vert);
  std::lock_guard<std::mutex> lock(mutex);
  cache.push_back({id, width, height, hori, vert, field});
  if (cache.size() > 3) cache.erase(cache.begin());
  return field;
}

}  // namespace vt::effects
