// The effects dialog's geometry and palette, shared by its layout, drawing and event handling.
#pragma once
#include <MacTypes.h>

#include <array>
#include <vector>

#include "core/image.h"
#include "effects/catalogue.h"
#include "ui/widgets/controls.h"

namespace vt::paramdialog {

inline constexpr int kWidth = 760;
inline constexpr int kMinHeight = 420;
inline constexpr int kTop = 30;
inline constexpr int kRow = 18;
inline constexpr int kParamLeft = 200;
inline constexpr int kParamWidth = 360;
inline constexpr int kParamPitch = 44;
inline constexpr int kPreviewLeft = 570;
inline constexpr int kPreviewW = 180;
inline constexpr int kPreviewH = 135;
inline constexpr int kCurveSide = 120;
inline constexpr int kFieldWidth = 56;
inline constexpr int kScrollBarWidth = 12;
inline constexpr int kAnimTicks = 120;  // one preview cycle: two seconds
inline constexpr int kTextSize = vt::ui::kControlTextSize;

inline bool inRect(Point p, const Rect& r) { return vt::ui::inRect(r, p.h, p.v); }

// The colour picker's quick picks, offered beside every colour well too.
std::vector<std::array<double, 3>> colourPresets();

Pixel pixelOf(const std::array<double, 3>& c);

bool isNumber(const vt::effects::ParamDesc& d);

}  // namespace vt::paramdialog
