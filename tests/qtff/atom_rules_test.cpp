// Atoms the movie format allows once per parent: a second copy makes the file malformed rather
// than silently replacing the first.
#include <MacErrors.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fourcc.h"
#include "model/internal.h"
#include "qtff/reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes words(std::initializer_list<uint32_t> values, size_t zerosAfter = 0) {
  Bytes b(values.size() * 4 + zerosAfter, 0);
  size_t at = 0;
  for (uint32_t v : values) vt::writeBE32(&b[(at += 4) - 4], v);
  return b;
}

// Builds a one-track movie atom; every child atom of type `twice` is written two times.
struct MovieBuilder {
  OSType twice = 0;

  Bytes leaf(OSType type, const Bytes& payload) const {
    Bytes a(8);
    vt::writeBE32(&a[4], type);
    a.insert(a.end(), payload.begin(), payload.end());
    vt::writeBE32(&a[0], (uint32_t)a.size());
    return a;
  }
  Bytes box(OSType type, std::initializer_list<Bytes> kids) const {
    Bytes payload;
    for (const Bytes& k : kids)
      for (int copies = vt::readBE32(&k[4]) == twice ? 2 : 1; copies > 0; --copies)
        payload.insert(payload.end(), k.begin(), k.end());
    return leaf(type, payload);
  }
  Bytes movie() const {
    Bytes stbl = box('stbl', {leaf('stsd', words({0, 1, 16, 'raw ', 0, 1})),
                              leaf('stts', words({0, 1, 2, 1})), leaf('ctts', words({0, 0})),
                              leaf('stss', words({0, 1, 1})), leaf('stsc', words({0, 1, 1, 2, 1})),
                              leaf('stsz', words({0, 10, 2})), leaf('stco', words({0, 1, 0}))});
    Bytes minf = box('minf', {leaf('vmhd', words({1}, 8)),
                              box('dinf', {leaf('dref', words({0, 1, 12, 'alis', 1}))}), stbl});
    Bytes mdia =
        box('mdia', {leaf('mdhd', words({0, 0, 0, 600, 2, 0})),
                     leaf('hdlr', words({0, 'mhlr', 'vide', 0, 0, 0}, 1)), minf, leaf('udta', {})});
    Bytes trak = box('trak', {leaf('tkhd', words({0x0F, 0, 0, 1}, 68)),
                              box('edts', {leaf('elst', words({0, 1, 2, 0, 0x10000}))}), mdia,
                              leaf('udta', {})});
    return box('moov', {leaf('mvhd', words({0, 0, 0, 600, 0, 0x10000}, 76)), trak});
  }
};

OSErr parse(const Bytes& moov) {
  VTMovie* m = vt::movie::newMovieObject();
  OSErr err = vt::qtff::parseMovieAtom(moov.data(), moov.size(), *m, "");
  vt::movie::destroyMovie(m);
  return err;
}

TEST(AtomRules, TheBuiltMovieIsReadable) { EXPECT_EQ(parse(MovieBuilder{}.movie()), noErr); }

TEST(AtomRules, SecondCopyOfAOnceOnlyAtomIsMalformed) {
  for (OSType type : {'mvhd', 'tkhd', 'edts', 'elst', 'mdia', 'mdhd', 'hdlr', 'minf', 'dinf',
                      'dref', 'stbl', 'stsd', 'stts', 'ctts', 'stss', 'stsc', 'stsz', 'stco'}) {
    EXPECT_EQ(parse(MovieBuilder{type}.movie()), badFileFormat) << vt::fourccString(type);
  }
}

TEST(AtomRules, RepeatableAtomsMayRepeat) {
  for (OSType type : {'udta', 'vmhd'})
    EXPECT_EQ(parse(MovieBuilder{type}.movie()), noErr) << vt::fourccString(type);
}

// A 32-bit and a 64-bit table of the same thing are one table given twice.
TEST(AtomRules, BothFormsOfATableAreMalformed) {
  for (auto [type, alt] :
       {std::pair<OSType, OSType>{'stco', 'co64'}, std::pair<OSType, OSType>{'stsz', 'stz2'}}) {
    Bytes twice = MovieBuilder{type}.movie();
    // Rename the second copy to the other form.
    size_t first = 0;
    for (size_t i = 4; i + 4 <= twice.size(); ++i)
      if (vt::readBE32(&twice[i]) == type) {
        if (first) {
          vt::writeBE32(&twice[i], alt);
          break;
        }
        first = i;
      }
    ASSERT_NE(first, 0u);
    EXPECT_EQ(parse(twice), badFileFormat) << vt::fourccString(alt);
  }
}

}  // namespace
