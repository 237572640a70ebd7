#include "qtff/flat_layout.h"

#include <MacErrors.h>

#include "qtff/bytes.h"
#include "qtff/writer.h"

namespace vt::qtff {

namespace {

using vt::movie::DataSource;
using vt::movie::SampleSpan;

// Runs are joined while contiguous, up to this size, so a copy reads in large pieces.
constexpr uint64_t kRunLimit = 4u << 20;

// The source holding a span's data, or nullptr when its data reference has none.
DataSource* sourceOf(const VTMedia& md, const SampleSpan& sp, bool& noted) {
  if (sp.descIndex < 1 || sp.descIndex > md.descriptions.size()) return nullptr;
  uint16_t r = md.descriptions[sp.descIndex - 1].dataRefIndex();
  if (r < 1 || r > md.dataRefs.size()) return nullptr;
  DataSource* s = md.dataRefs[r - 1].source.get();
  if (!s && !noted) {
    vt::movie::noteMissingData(vt::movie::dataRefFile(md.dataRefs[r - 1]));
    noted = true;
  }
  return s;
}

// Collects the media's data as runs and moves its samples to follow `dataSize` (counted from
// the start of the data); the media's one data reference becomes the file at `path`.
bool gatherMedia(VTMedia& md, const std::string& path, std::vector<DataRun>& runs,
                 uint64_t& dataSize) {
  bool unresolved = false, noted = false;
  md.samples.forEachSpan([&](const SampleSpan& sp) {
    if (unresolved) return;
    DataSource* s = sourceOf(md, sp, noted);
    if (!s) {
      unresolved = true;
      return;
    }
    DataRun* last = runs.empty() ? nullptr : &runs.back();
    if (last && last->source == s && last->from + last->size == sp.offset && last->size < kRunLimit)
      last->size += sp.bytes();
    else
      runs.push_back(DataRun{s, sp.offset, sp.bytes()});
  });
  if (unresolved) return false;
  md.samples.relocate([&](const SampleSpan& sp) {
    uint64_t at = dataSize;
    dataSize += sp.bytes();
    return at;
  });
  vt::movie::DataRef self;
  self.flags = 1;
  self.path = path;
  md.dataRefs.assign(1, self);
  // Identical descriptions may now coincide; they are kept, so indexes stay valid.
  for (auto& d : md.descriptions) d.setDataRefIndex(1);
  return true;
}

void shiftSamples(VTMovie& movie, int64_t delta) {
  for (auto& t : movie.tracks)
    if (t->media)
      t->media->samples.relocate(
          [&](const SampleSpan& sp) { return (uint64_t)((int64_t)sp.offset + delta); });
}

void appendAtomHeader(std::vector<uint8_t>& out, uint64_t size, uint32_t type, bool big) {
  uint8_t h[16];
  if (big) {
    writeBE32(h, 1);
    writeBE32(h + 4, type);
    writeBE64(h + 8, size);
  } else {
    writeBE32(h, (uint32_t)size);
    writeBE32(h + 4, type);
  }
  out.insert(out.end(), h, h + (big ? 16 : 8));
}

}  // namespace

vt::Result<FlatLayout> planFlatFile(VTMovie& movie, const std::string& path, bool movieFirst) {
  FlatLayout out;
  for (auto& t : movie.tracks)
    if (t->media && !gatherMedia(*t->media, path, out.runs, out.dataSize))
      return vt::Failure{couldNotResolveDataRef, "media data without a source"};
  std::vector<uint8_t> ftyp = fileTypeAtom();
  bool big = out.dataSize > 0xFFFFFFF0ull;
  uint64_t mdatHeader = big ? 16 : 8;
  std::vector<uint8_t> moov;
  if (movieFirst) {
    // Offsets depend on where the data starts, which depends on the movie atom's size, which
    // depends on the offsets' width; a few passes settle it.
    uint64_t shifted = 0;
    for (int pass = 0; pass < 3; ++pass) {
      moov = buildMovieAtom(movie, path);
      uint64_t want = ftyp.size() + moov.size() + mdatHeader;
      if (want == shifted) break;
      shiftSamples(movie, (int64_t)want - (int64_t)shifted);
      shifted = want;
    }
    moov = buildMovieAtom(movie, path);
  } else {
    shiftSamples(movie, (int64_t)(ftyp.size() + 8 + mdatHeader));  // 'wide' before the data
    moov = buildMovieAtom(movie, path);
  }
  out.head = std::move(ftyp);
  if (movieFirst)
    out.head.insert(out.head.end(), moov.begin(), moov.end());
  else
    appendAtomHeader(out.head, 8, 'wide', false);
  appendAtomHeader(out.head, out.dataSize + mdatHeader, 'mdat', big);
  if (!movieFirst) out.tail = std::move(moov);
  return out;
}

}  // namespace vt::qtff
