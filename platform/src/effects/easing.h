// Progress curves: how a transition's percentage moves over the effect's time. Every effect
// with a percentage offers them; linear (the default) writes nothing into the description, so
// files made without easing are unchanged, and readers that do not know the curve skip its atom.
#pragma once
#include <MacTypes.h>

#include <array>
#include <cstdint>
#include <vector>

namespace vt::effects {

// The atom holding the curve: 4-byte kind, then for kEaseBezier four 16.16 numbers x1 y1 x2 y2.
constexpr OSType kEasingAtom = 'ease';
// The dialog's controls for it: the kind, and the Bézier control points.
constexpr OSType kEaseKindParam = 'ease';
constexpr std::array<OSType, 4> kBezierParams = {'bzx1', 'bzy1', 'bzx2', 'bzy2'};

enum EaseKind : int { kEaseLinear = 0, kEaseIn = 1, kEaseOut = 2, kEaseInOut = 3, kEaseBezier = 4 };

struct Easing {
  int kind = kEaseLinear;
  std::array<double, 4> bezier{0.25, 0.1, 0.25, 1.0};  // used by kEaseBezier
  bool operator==(const Easing&) const = default;
};

// The control points a kind stands for (the curves CSS names ease-in, ease-out, ease-in-out).
std::array<double, 4> easingPoints(const Easing& e);

// Eased progress for t in 0..1. x1 and x2 are held within 0..1, so the curve is a function of
// t; y may overshoot (the percentage is clamped later).
double ease(const Easing& e, double t);

// Whether a parameter code is one of the easing controls.
bool isEasingParam(OSType code);

// The 'ease' atom's data for a curve; empty for linear. Reading gives false for bad data.
std::vector<uint8_t> encodeEasing(const Easing& e);
bool decodeEasing(const uint8_t* p, size_t n, Easing& out);

}  // namespace vt::effects
