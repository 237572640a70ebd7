// Movies built in memory for the composition tests: solid-colour tracks and cross fades.
#pragma once
#include <MacMemory.h>

#include <vector>

#include "../codec/helpers.h"
#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "effects/description.h"
#include "model/model.h"

namespace compose_test {

// A testsrc2 movie of `size` at `rate` for `seconds`, then `args`.
inline std::string testsrc(const std::string& name, const std::string& size, int rate, int seconds,
                           const std::string& args) {
  return vt_test::fixture(name, "-f lavfi -i testsrc2=size=" + size +
                                    ":rate=" + std::to_string(rate) + " -t " +
                                    std::to_string(seconds) + " " + args);
}

// A track of one sample of `bytes` lasting `duration` at scale 600, described as `codec` at
// `depth` with `frames` in the description's frame count.
inline VTTrack* oneSampleTrack(VTMovie* m, int w, int h, OSType codec, int depth, int frames,
                               std::vector<uint8_t> bytes, uint32_t duration, short layer = 0) {
  VTTrack* t = vt::movie::addTrack(m, VideoMediaType, 600);
  t->width = IntToFixed(w);
  t->height = IntToFixed(h);
  t->layer = layer;
  VTMedia* md = t->media.get();
  auto mem = std::make_shared<vt::movie::MemorySource>();
  mem->bytes = std::move(bytes);
  int ref = md->addDataSource(mem);
  std::vector<uint8_t> e(86, 0);
  vt::writeBE32(&e[0], 86);
  vt::writeBE32(&e[4], codec);
  // Data reference, width, height, frame count, depth and colour table (-1: none).
  for (auto [at, v] : {std::pair{14, ref}, {32, w}, {34, h}, {48, frames}, {82, depth}, {84, -1}})
    vt::writeBE16(&e[at], (uint16_t)v);
  int d = md->addDescription(e);
  md->appendSample(0, (uint32_t)mem->bytes.size(), duration, (uint32_t)d, true);
  vt::movie::finishTrack(t);
  return t;
}

// A track showing one solid colour ('raw ' at depth 32).
inline VTTrack* solidTrack(VTMovie* m, int w, int h, vt::Pixel color, short layer = 0) {
  std::vector<uint8_t> bytes((size_t)w * h * 4);
  for (size_t i = 0; i < (size_t)w * h; i++) vt::writeBE32(&bytes[i * 4], color);
  return oneSampleTrack(m, w, h, 'raw ', 32, 1, std::move(bytes), 600, layer);
}

inline void translate(VTTrack* t, int dx, int dy) {
  t->matrix[6] = IntToFixed(dx);
  t->matrix[7] = IntToFixed(dy);
}

inline vt::Image picture(PicHandle pic) {
  EXPECT_NE(pic, nullptr) << "error " << GetMoviesError();
  vt::Image img = codec_test::pictImage(pic);
  if (pic) KillPicture(pic);
  return img;
}
inline vt::Image moviePicture(Movie m, TimeValue t) { return picture(GetMoviePict(m, t)); }
inline vt::Image trackPicture(Track t, TimeValue at) { return picture(GetTrackPict(t, at)); }

// A cross-fade track (or another transition's) over sources referenced in `refs` order, whose
// input map names them `names` (one per reference).
inline VTTrack* crossFade(VTMovie* m, int w, int h, std::vector<VTTrack*> refs,
                          std::vector<OSType> names, OSType effect = 'dslv') {
  auto desc = vt::effects::buildDescription(effect, 2, {{'pcnt', {0, 0, 0}, true, {100, 0, 0}}});
  VTTrack* t = oneSampleTrack(m, w, h, effect, 24, 0, desc, 600);
  VTTrack::Reference r{'ssrc', {}};
  vt::atoms::Atom map = vt::atoms::newRoot();
  for (size_t i = 0; i < refs.size(); i++) {
    r.ids.push_back(refs[i]->id);
    vt::atoms::Atom& in = map.add(0x0000696E, (int32_t)i + 1);
    in.addOSType(0x00007479, 1, 'vide');
    in.addOSType('dtst', 1, names[i]);
  }
  t->references.push_back(r);
  t->media->inputMap = vt::atoms::serialise(map);
  return t;
}

}  // namespace compose_test
