#include <MacErrors.h>
#include <MacMemory.h>
#include <QuickTimeEffects.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "core/fourcc.h"
#include "atoms/atom_tree.h"
#include "effects/smpte.h"
#include "effects_test_util.h"

using namespace vt::effects;

// The table's own consistency: what the dialog and the renderer rely on.
TEST(Catalogue, EntriesAreConsistentAndRandomPatternsStayInTheirFamily) {
  std::set<std::string> names;
  for (const auto& e : catalogue()) {
    EXPECT_TRUE(names.insert(e.name).second) << "duplicate name " << e.name;
    for (const auto& p : e.params) {
      EXPECT_LE(p.minValue, p.maxValue) << e.name << " " << p.name;
      if (p.type == ParamType::Enum) {
        auto isDefault = [&](const auto& i) { return i.value == (long)p.defaultValue[0]; };
        EXPECT_TRUE(std::any_of(p.enumValues.begin(), p.enumValues.end(), isDefault))
            << e.name << " " << p.name;
      } else if (p.type != ParamType::RGB && p.type != ParamType::Image) {
        EXPECT_TRUE(p.minValue <= p.defaultValue[0] && p.defaultValue[0] <= p.maxValue)
            << e.name << " " << p.name;
      }
    }
    // Every built-in transition is driven by a percentage tweened 0 -> 100 by default (plugin
    // mixers are driven by their own parameters).
    if (e.sources == 2 && !e.isPlugin()) {
      const ParamDesc* p = e.param('pcnt');
      EXPECT_TRUE(p && p->defaultTweened && p->defaultValue[0] == 0 && p->defaultEnd[0] == 100)
          << e.name;
    }
  }
  EXPECT_FALSE(isEffectType('avc1') || isEffectType(0));
  // Pattern ids are inside their family's range; each SMPTE effect's wipe list holds
  // exactly its family plus the random entries.
  std::map<PatternFamily, int> counts;
  for (const auto& p : smptePatterns()) {
    counts[p.family]++;
    const int lo = 100 * (int)p.family + 1;  // wipes from 1, irises from 101, ...
    EXPECT_TRUE(p.id >= lo && p.id < lo + 99) << p.id;
  }
  for (int id : {0, 9, 20, 100, 132, 200, 265, 300, 354, 409, 501})
    EXPECT_EQ(findPattern(id), nullptr) << id;
  for (int fam = 0; fam < 4; ++fam) {
    const ParamDesc* w = findEffect(et::kFamilyCodes[fam])->param('wpID');
    ASSERT_NE(w, nullptr);
    std::set<long> listed;
    for (const auto& i : w->enumValues) {
      listed.insert(i.value);
      const PatternInfo* p = findPattern((int)i.value);
      if (i.value == 409 || i.value == 501 + fam) continue;
      ASSERT_NE(p, nullptr) << i.value;
      EXPECT_TRUE((int)p->family == fam && p->name == i.name) << i.value;
    }
    EXPECT_TRUE(listed.count(409) && listed.count(501 + fam)) << fam;
    EXPECT_EQ(listed.size(), (size_t)counts[(PatternFamily)fam] + 2);
  }
  // Random patterns resolve deterministically, within their family.
  std::set<int> seen;
  for (uint64_t seed = 0; seed < 200; ++seed) {
    int any = resolvePattern(409, seed);
    ASSERT_NE(findPattern(any), nullptr);
    EXPECT_EQ(any, resolvePattern(409, seed));
    seen.insert(any);
    for (int fam = 0; fam < 4; ++fam) {
      const PatternInfo* p = findPattern(resolvePattern(501 + fam, seed));
      ASSERT_NE(p, nullptr);
      EXPECT_EQ((int)p->family, fam);
    }
  }
  EXPECT_GT(seen.size(), 40u);  // really random across descriptions
  EXPECT_EQ(resolvePattern(7, 123), 7);
  EXPECT_EQ(resolvePattern(999, 123), 0);
}

// The effects list as (name, type) pairs, checking its layout on the way: entries 1, 2, ... of
// a length-prefixed name and a 4-byte type.
static std::vector<std::pair<std::string, OSType>> readList(QTAtomContainer list) {
  std::vector<std::pair<std::string, OSType>> out;
  vt::atoms::View t;
  EXPECT_EQ(t.parse(reinterpret_cast<const uint8_t*>(*list), (size_t)GetHandleSize(list)), noErr);
  EXPECT_EQ(t.countOfType(0, 'name'), t.countOfType(0, 'type'));
  for (int i = 1;; ++i) {
    int n = t.findByIndex(0, 'name', i), ty = t.findByIndex(0, 'type', i);
    if (n < 0 || ty < 0) break;
    auto name = t.data(n), type = t.data(ty);
    EXPECT_TRUE(t.node(n).id == i && t.node(ty).id == i) << i;
    EXPECT_EQ(name.size(), (size_t)name[0] + 1) << "name is a length-prefixed string";
    EXPECT_EQ(type.size(), 4u);
    out.push_back({std::string((const char*)name.data() + 1, name[0]), vt::readBE32(type.data())});
  }
  return out;
}

TEST(EffectsList, OffersTheEffectsTakingTheRequestedNumberOfSourcesAndDescribesThem) {
  const struct {
    long min, max, options;
    size_t count;
    std::pair<std::string, OSType> first;
  } lists[] = {{2, 2, 0, 107, {"Cross Fade", 'dslv'}},
               {0, 0, 0, 3, {"Fire", 'fire'}},
               {1, 1, elOptionsIncludeNoneInList, 14, {"None", 0}},
               {0, -1, 0, 123, {"Cross Fade", 'dslv'}},  // no upper bound
               {3, 5, 0, 0, {}}};                        // nothing takes three sources
  // The plugins found on this machine follow the built-in effects.
  auto plugins = [](long lo, long hi) {
    return (size_t)std::count_if(catalogue().begin(), catalogue().end(), [&](const auto& e) {
      return e.isPlugin() && e.sources >= lo && (hi < 0 || e.sources <= hi);
    });
  };
  for (auto l : lists) {
    l.count += plugins(l.min, l.max);
    QTAtomContainer list = nullptr;
    ASSERT_EQ(QTGetEffectsList(&list, l.min, l.max, l.options), noErr);
    auto entries = readList(list);
    DisposeHandle(list);
    ASSERT_EQ(entries.size(), l.count) << l.min << ".." << l.max;
    EXPECT_EQ(entries.empty() ? decltype(l.first){} : entries[0], l.first);
    for (size_t i = l.options ? 1 : 0; i < entries.size(); ++i) {
      const EffectInfo* e = findEffect(entries[i].second, entries[i].first);
      ASSERT_NE(e, nullptr) << entries[i].first;
      EXPECT_EQ(e->name, entries[i].first);
      EXPECT_TRUE(e->sources >= l.min && (l.max < 0 || e->sources <= l.max)) << e->name;
    }
  }
  EXPECT_EQ(QTGetEffectsList(nullptr, 0, 2, 0), paramErr);
  // An image description for an effect, or a refusal for an unknown code.
  long before = VTLiveHandleCount();
  ImageDescriptionHandle d = nullptr;
  ASSERT_EQ(MakeImageDescriptionForEffect('smp2', &d), noErr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ((*d)->idSize, 86);
  EXPECT_EQ((*d)->cType, (CodecType)'smp2');
  DisposeHandle((Handle)d);

  d = reinterpret_cast<ImageDescriptionHandle>(1);
  EXPECT_EQ(MakeImageDescriptionForEffect('xxxx', &d), paramErr);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(MakeImageDescriptionForEffect('dslv', nullptr), paramErr);
  EXPECT_EQ(VTLiveHandleCount(), before);
}
