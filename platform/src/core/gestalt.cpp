#include <Gestalt.h>
#include <MacErrors.h>

#include <map>

#include "core/boundary.h"
#include "core/reset.h"

namespace {
struct Answer {
  OSErr err;
  SInt32 value;
};

std::map<OSType, Answer>& overrides() {
  static std::map<OSType, Answer> m;
  return m;
}

const vt::ResetRegistration kReset(vt::ResetStage::Managers, [] { overrides().clear(); });

// What this platform reports: a 10.x system (quit goes through the quit Apple event), a movie
// layer of version 7 (video effects need 3.0 or later), and Apple events.
const std::map<OSType, SInt32>& defaults() {
  static const std::map<OSType, SInt32> m = {
      {gestaltSystemVersion, 0x1049}, {gestaltQuickTime, 0x07008000},
      {gestaltQuickTimeFeatures, 0},  {gestaltAppleEventsAttr, 1 << gestaltAppleEventsPresent},
      {gestaltAppearanceAttr, 1},
  };
  return m;
}
}  // namespace

OSErr Gestalt(OSType selector, SInt32* response) {
  return vt::apiStatus([&]() -> OSErr {
    if (!response) return paramErr;
    auto o = overrides().find(selector);
    if (o != overrides().end()) {
      if (o->second.err == noErr) *response = o->second.value;
      return o->second.err;
    }
    auto d = defaults().find(selector);
    if (d == defaults().end()) return gestaltUndefSelectorErr;
    *response = d->second;
    return noErr;
  });
}

void VTSetGestaltAnswer(OSType selector, OSErr err, SInt32 response) {
  vt::apiCall(vt::noErrorState, [&] { overrides()[selector] = {err, response}; });
}

void VTResetGestaltAnswers() {
  vt::apiCall(vt::noErrorState, [&] { overrides().clear(); });
}
