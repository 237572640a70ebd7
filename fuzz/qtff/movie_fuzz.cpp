// Fuzz target: the movie atom parser. Input is a movie atom (or any bytes, wrapped in one).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/fourcc.h"
#include "model/internal.h"
#include "qtff/reader.h"
#include "qtff/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> buf;
  if (size >= 8 && vt::readBE32(data + 4) == 'moov') {
    buf.assign(data, data + size);
  } else {
    buf.resize(8);
    vt::writeBE32(&buf[0], (uint32_t)(size + 8));
    vt::writeBE32(&buf[4], 'moov');
    buf.insert(buf.end(), data, data + size);
  }
  VTMovie* m = vt::movie::newMovieObject();
  OSErr err = vt::qtff::parseMovieAtom(buf.data(), buf.size(), *m, "");
  if (!err) {
    // What was accepted must also be writable and read back.
    std::vector<uint8_t> again = vt::qtff::buildMovieAtom(*m, "");
    VTMovie* m2 = vt::movie::newMovieObject();
    vt::qtff::parseMovieAtom(again.data(), again.size(), *m2, "");
    vt::movie::destroyMovie(m2);
    for (auto& t : m->tracks) {
      if (!t->media || t->media->sampleCount() == 0) continue;
      int64_t mt;
      Fixed rate;
      vt::movie::trackTimeToMediaTime(*t, t->duration() / 2, mt, rate);
      t->media->sampleAtTime(mt);
    }
  }
  vt::movie::destroyMovie(m);
  return 0;
}
