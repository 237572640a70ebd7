// The effects calls of the public API.
#include <MacMemory.h>
#include <QuickTimeEffects.h>

#include <cstring>
#include <span>

#include "core/fourcc.h"
#include "atoms/atom_tree.h"
#include "core/boundary.h"
#include "core/pstring.h"
#include "effects/catalogue.h"
#include "effects/render_api.h"

using namespace vt::effects;

OSErr QTGetEffectsList(QTAtomContainer* returnedList, long minSources, long maxSources,
                       long getOptions) {
  return vt::apiStatus([&]() -> OSErr {
    if (!returnedList) return paramErr;
    *returnedList = nullptr;
    vt::atoms::Atom root = vt::atoms::newRoot();
    int32_t n = 0;
    auto addEntry = [&](const std::string& name, OSType code) {
      ++n;
      Str255 pstr;
      vt::toPascal(name, pstr);
      root.add('name', n, std::span<const uint8_t>(pstr, pstr[0] + 1));
      root.addOSType('type', n, code);
    };
    if (getOptions & elOptionsIncludeNoneInList) addEntry("None", 0);
    for (const auto& e : catalogue()) {
      if (e.sources < minSources) continue;
      if (maxSources >= 0 && e.sources > maxSources) continue;
      addEntry(e.name, e.code);
    }
    std::vector<uint8_t> bytes = vt::atoms::serialise(root);
    Handle h = nullptr;
    OSErr err = PtrToHand(bytes.data(), &h, (long)bytes.size());
    if (err != noErr) return err;
    if (!h) return (OSErr)memFullErr;
    *returnedList = h;
    return noErr;
  });
}

OSErr MakeImageDescriptionForEffect(OSType effectType, ImageDescriptionHandle* idh) {
  return vt::apiStatus([&]() -> OSErr {
    if (!idh) return paramErr;
    *idh = nullptr;
    if (!isEffectType(effectType)) return paramErr;
    Handle h = NewHandleClear(sizeof(ImageDescription));
    if (!h) return MemError() != noErr ? MemError() : (OSErr)memFullErr;
    ImageDescription* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = effectType;
    d->vendor = 'appl';
    d->temporalQuality = codecNormalQuality;
    d->spatialQuality = codecNormalQuality;
    d->width = 0;  // the caller sets the output size
    d->height = 0;
    d->hRes = 72 << 16;
    d->vRes = 72 << 16;
    d->frameCount = 1;
    d->depth = 24;
    d->clutID = -1;
    *idh = reinterpret_cast<ImageDescriptionHandle>(h);
    return noErr;
  });
}
