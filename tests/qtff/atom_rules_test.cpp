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

// Builds a one-track movie atom; every child atom of type `twice` is written two times, those
// of type `drop` not at all, and `extra` ends the sample table.
struct MovieBuilder {
  OSType twice = 0;
  OSType drop = 0;
  Bytes extra{};

  Bytes leaf(OSType type, const Bytes& payload) const {
    Bytes a(8);
    vt::writeBE32(&a[4], type);
    a.insert(a.end(), payload.begin(), payload.end());
    vt::writeBE32(&a[0], (uint32_t)a.size());
    return a;
  }
  Bytes box(OSType type, std::initializer_list<Bytes> kids) const {
    Bytes payload;
    for (const Bytes& k : kids) {
      OSType kind = k.empty() ? 0 : vt::readBE32(&k[4]);
      for (int copies = kind == twice ? 2 : kind == drop ? 0 : 1; copies > 0; --copies)
        payload.insert(payload.end(), k.begin(), k.end());
    }
    return leaf(type, payload);
  }
  Bytes movie() const {
    Bytes stbl =
        box('stbl', {leaf('stsd', words({0, 1, 16, 'raw ', 0, 1})),
                     leaf('stts', words({0, 1, 2, 1})), leaf('ctts', words({0, 0})),
                     leaf('stss', words({0, 1, 1})), leaf('stsc', words({0, 1, 1, 2, 1})),
                     leaf('stsz', words({0, 10, 2})), leaf('stco', words({0, 1, 0})), extra});
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

// A 64-bit chunk table or a compact size table is read in place of the usual one, but
// alongside it the same table is given twice.
TEST(AtomRules, BothFormsOfATableAreMalformed) {
  MovieBuilder leaves;
  for (auto [usual, other] :
       {std::pair<OSType, Bytes>{'stco', leaves.leaf('co64', words({0, 1, 0, 0}))},
        std::pair<OSType, Bytes>{'stsz', leaves.leaf('stz2', words({0, 16, 2, 0x000A000A}))}}) {
    ASSERT_EQ(parse(MovieBuilder{0, usual, other}.movie()), noErr) << vt::fourccString(usual);
    EXPECT_EQ(parse(MovieBuilder{0, 0, other}.movie()), badFileFormat) << vt::fourccString(usual);
  }
}

}  // namespace
