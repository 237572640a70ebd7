// movie-info [--atoms] FILE: prints the structure of a movie file as JSON; --atoms adds the
// file's atom tree (types and sizes, containers opened), which changes whenever the layout does.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/fourcc.h"
#include "model/internal.h"
#include "qtff/reader.h"
#include "common/tool_main.h"

using nlohmann::json;

namespace {

std::string fcc(OSType t) { return vt::fourccString(t); }

json userData(const VTUserData& ud) {
  json a = json::array();
  for (const auto& it : ud.items) a.push_back({{"type", fcc(it.type)}, {"size", it.data.size()}});
  return a;
}

// The input map as a list of inputs: reference index, input type and source name.
json inputMap(const std::vector<uint8_t>& c) {
  json a = json::array();
  if (c.size() < 32) return a;
  uint32_t rootSize = vt::readBE32(&c[12]);
  if (rootSize < 20 || rootSize > c.size() - 12) return a;
  size_t pos = 32, end = 12 + rootSize;
  while (pos + 20 <= end) {
    uint32_t size = vt::readBE32(&c[pos]);
    if (size < 20 || size > end - pos) break;
    json in = {{"type", fcc(vt::readBE32(&c[pos + 4]))}, {"id", vt::readBE32(&c[pos + 8])}};
    size_t k = pos + 20, kend = pos + size;
    while (k + 20 <= kend) {
      uint32_t ks = vt::readBE32(&c[k]);
      if (ks < 20 || ks > kend - k) break;
      OSType kt = vt::readBE32(&c[k + 4]);
      if (ks == 24) {
        OSType v = vt::readBE32(&c[k + 20]);
        if (kt == 0x7479)
          in["inputType"] = fcc(v);
        else if (kt == 'dtst')
          in["sourceName"] = fcc(v);
        else
          in[fcc(kt)] = fcc(v);
      }
      k += ks;
    }
    a.push_back(in);
    pos += size;
  }
  return a;
}

json describe(const VTMovie& m) {
  json j;
  j["timeScale"] = m.timeScale;
  j["duration"] = m.duration();
  j["preferredRate"] = m.preferredRate / 65536.0;
  j["preferredVolume"] = m.preferredVolume / 256.0;
  j["posterTime"] = m.posterTime;
  j["nextTrackID"] = m.nextTrackID;
  j["userData"] = userData(m.userData);
  json tracks = json::array();
  for (const auto& t : m.tracks) {
    json tj;
    tj["id"] = t->id;
    tj["enabled"] = t->enabled();
    tj["duration"] = t->duration();
    tj["width"] = t->width / 65536.0;
    tj["height"] = t->height / 65536.0;
    tj["layer"] = t->layer;
    tj["volume"] = t->volume / 256.0;
    json edits = json::array();
    for (const auto& e : t->edits)
      edits.push_back(
          {{"duration", e.duration}, {"mediaTime", e.mediaTime}, {"rate", e.rate / 65536.0}});
    tj["edits"] = edits;
    json refs = json::array();
    for (const auto& r : t->references)
      refs.push_back({{"type", fcc(r.type)}, {"trackIDs", r.ids}});
    tj["references"] = refs;
    tj["userData"] = userData(t->userData);
    if (t->media) {
      const VTMedia& md = *t->media;
      json mj;
      mj["type"] = fcc(md.mediaType);
      mj["timeScale"] = md.timeScale;
      mj["duration"] = md.duration();
      mj["sampleCount"] = md.sampleCount();
      mj["language"] = md.language;
      mj["handlerName"] = md.handlerName;
      json descs = json::array();
      for (const auto& d : md.descriptions) {
        json dj = {{"format", fcc(d.format())},
                   {"size", d.bytes.size()},
                   {"dataRefIndex", d.dataRefIndex()}};
        if (md.mediaType == 'vide') {
          dj["width"] = d.width();
          dj["height"] = d.height();
          dj["depth"] = d.depth();
        } else if (md.mediaType == 'soun') {
          dj["channels"] = d.channels();
          dj["sampleRate"] = d.sampleRate();
          dj["bitsPerSample"] = d.bitsPerSample();
        }
        json ext = json::array();
        size_t off = d.extensionOffset(md.mediaType);
        while (off + 8 <= d.bytes.size()) {
          uint32_t s = vt::readBE32(&d.bytes[off]);
          if (s < 8 || s > d.bytes.size() - off) break;
          ext.push_back(fcc(vt::readBE32(&d.bytes[off + 4])));
          off += s;
        }
        dj["extensions"] = ext;
        descs.push_back(dj);
      }
      mj["sampleDescriptions"] = descs;
      json drefs = json::array();
      for (const auto& r : md.dataRefs)
        drefs.push_back({{"type", fcc(r.type)},
                         {"self", r.self()},
                         {"path", r.path},
                         {"resolved", r.source != nullptr}});
      mj["dataRefs"] = drefs;
      mj["inputMap"] = inputMap(md.inputMap);
      mj["userData"] = userData(md.userData);
      tj["media"] = mj;
    }
    tracks.push_back(tj);
  }
  j["tracks"] = tracks;
  return j;
}

// The atoms in bytes [pos, end) of `in`: type and size, and the children of container atoms.
// Only headers are read, so a large file costs no memory.
json atomTree(std::istream& in, uint64_t pos, uint64_t end) {
  static const std::string containers[] = {"moov", "trak", "edts", "mdia", "minf",
                                           "dinf", "stbl", "tref", "udta"};
  json a = json::array();
  uint8_t h[16];
  while (pos + 8 <= end && in.seekg((std::streamoff)pos) && in.read((char*)h, 8)) {
    uint64_t size = vt::readBE32(h), header = 8;
    if (size == 1 && pos + 16 <= end && in.read((char*)h + 8, 8))
      size = (uint64_t)vt::readBE32(h + 8) << 32 | vt::readBE32(h + 12), header = 16;
    else if (size == 0)
      size = end - pos;
    const std::string type((const char*)h + 4, 4);
    if (size < header || size > end - pos) {
      a.push_back({{"type", type}, {"size", size}, {"damaged", true}});
      break;
    }
    json atom = {{"type", type}, {"size", size}};
    for (const auto& c : containers)
      if (type == c) atom["children"] = atomTree(in, pos + header, pos + size);
    a.push_back(atom);
    pos += size;
  }
  return a;
}

}  // namespace

static int run(int argc, char** argv) {
  const bool atoms = argc == 3 && std::string(argv[1]) == "--atoms";
  if (atoms) argv[1] = argv[2], argc = 2;
  if (argc != 2) {
    std::fprintf(stderr, "usage: movie-info [--atoms] FILE\n");
    return 2;
  }
  VTMovie* movie = nullptr;
  vt::qtff::MovieAtomLocation where;
  OSErr err = vt::qtff::readMovieFile(argv[1], &movie, &where);
  if (err) {
    std::fprintf(stderr, "movie-info: %s: not a readable movie file (error %d)\n", argv[1], err);
    return 1;
  }
  json j = describe(*movie);
  j["file"] = argv[1];
  j["movieAtom"] = {{"offset", where.offset}, {"size", where.size}};
  if (atoms) {
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    j["atoms"] = atomTree(in, 0, (uint64_t)in.tellg());
  }
  // Names in files are bytes: ones that are not UTF-8 print with replacement characters.
  std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
  vt::movie::destroyMovie(movie);
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-info", [&] { return run(argc, argv); });
}
