// Seeds for the atom container fuzz driver: an effect description, an input map, an empty
// container.
#include "replay_driver.h"
#include "atoms/atom_tree.h"

std::vector<std::vector<uint8_t>> vtFuzzSeeds() {
  using vt::atoms::Atom;
  std::vector<std::vector<uint8_t>> out;
  Atom fade = vt::atoms::newRoot();
  fade.addOSType('what', 1, 'dslv');
  fade.addOSType('src ', 1, 'srcA');
  fade.addOSType('src ', 2, 'srcB');
  Atom& tween = fade.add('pcnt', 1).add('twen', 1);
  tween.addBE32('twnt', 1, 3);
  tween.addBE32('data', 1, 0).data.resize(8);
  out.push_back(vt::atoms::serialise(fade));
  Atom map = vt::atoms::newRoot();
  for (int k = 1; k <= 2; ++k) {
    Atom& in = map.add(0x0000696E, k);
    in.addOSType(0x00007479, 1, 'vide');
    in.addOSType('dtst', 1, k == 1 ? 'srcA' : 'srcB');
  }
  out.push_back(vt::atoms::serialise(map));
  out.push_back(vt::atoms::serialise(vt::atoms::newRoot()));
  return out;
}
