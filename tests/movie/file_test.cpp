// Movie files: create, write, reopen, update in place, flatten, busy files.
#include <MovieUserData.h>
#include <QTAtoms.h>
#include <unistd.h>

#include <filesystem>

#include "core/fourcc.h"
#include "helpers.h"
#include "model/model.h"

namespace {

std::vector<std::pair<OSType, uint64_t>> topAtoms(const std::string& path) {
  std::vector<uint8_t> b = mt::readFile(path);
  std::vector<std::pair<OSType, uint64_t>> out;
  size_t pos = 0;
  while (pos + 8 <= b.size()) {
    uint64_t size = vt::readBE32(&b[pos]);
    if (size == 1) size = vt::readBE64(&b[pos + 8]);
    if (size == 0) size = b.size() - pos;
    out.push_back({vt::readBE32(&b[pos + 4]), size});
    if (size < 8) break;
    pos += size;
  }
  return out;
}

// Builds the effect-movie layout in a new file: a copy track with samples, an effect track
// whose one sample is an atom container, an 'ssrc' reference and an input map.
struct Built {
  std::string path;
  long trackCount = 0;
};

Built buildEffectStyleMovie(const std::string& dir, bool withName = true) {
  Built out;
  out.path = dir + "/built.mov";
  FSSpec s = mt::spec(out.path);
  short ref = 0;
  Movie m = nullptr;
  EXPECT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript,
                            (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile),
                            &ref, &m),
            noErr);
  if (!m) return out;
  Track src = NewMovieTrack(m, 4 << 16, 4 << 16, kNoVolume);
  Media sm = NewTrackMedia(src, VideoMediaType, 600, nullptr, 0);
  BeginMediaEdits(sm);
  mt::addSamples(sm, 6, 48, 100, 'raw ');
  EndMediaEdits(sm);
  InsertMediaIntoTrack(src, 0, 0, 600, fixed1);
  const char* name = "Copy of A";
  UserData tud = GetTrackUserData(src);
  SetUserDataItem(tud, (void*)name, (long)std::strlen(name), 'name', 0);

  Track fx = NewMovieTrack(m, 4 << 16, 4 << 16, kNoVolume);
  Media fm = NewTrackMedia(fx, VideoMediaType, 600, nullptr, 0);
  QTAtomContainer sample = nullptr;
  QTNewAtomContainer(&sample);
  // Four-character codes are stored first character first.
  OSType what = __builtin_bswap32('dslv'), srcA = __builtin_bswap32('srcA');
  QTInsertChild(sample, kParentAtomIsContainer, 'what', 1, 0, 4, &what, nullptr);
  QTInsertChild(sample, kParentAtomIsContainer, 'src ', 1, 0, 4, &srcA, nullptr);
  ImageDescriptionHandle d = mt::imageDescription('dslv', 4, 4);
  (*d)->vendor = 'appl';
  BeginMediaEdits(fm);
  TimeValue st = -1;
  EXPECT_EQ(AddMediaSample(fm, sample, 0, (unsigned long)GetHandleSize(sample), 600,
                           (SampleDescriptionHandle)d, 1, 0, &st),
            noErr);
  EndMediaEdits(fm);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(InsertMediaIntoTrack(fx, 0, st, 600, fixed1), noErr);
  long idx = 0;
  AddTrackReference(fx, src, kTrackReferenceModifier, &idx);
  QTAtomContainer map = nullptr;
  QTNewAtomContainer(&map);
  QTAtom input = 0;
  QTInsertChild(map, kParentAtomIsContainer, kTrackModifierInput, idx, 0, 0, nullptr, &input);
  OSType vide = __builtin_bswap32('vide');
  QTInsertChild(map, input, kTrackModifierType, 1, 0, 4, &vide, nullptr);
  QTInsertChild(map, input, 'dtst', 1, 0, 4, &srcA, nullptr);
  EXPECT_EQ(SetMediaInputMap(fm, map), noErr);
  QTDisposeAtomContainer(map);
  QTDisposeAtomContainer(sample);
  DisposeHandle((Handle)d);

  int32_t loopBE = (int32_t)__builtin_bswap32(1);
  SetUserDataItem(GetMovieUserData(m), &loopBE, 4, 'LOOP', 0);
  unsigned char wloc[4] = {0x00, 0x64, 0x00, 0xC8};
  SetUserDataItem(GetMovieUserData(m), wloc, 4, 'WLOC', 0);
  Handle text = NewHandle(5);
  std::memcpy(*text, "(c) X", 5);
  AddUserDataText(GetMovieUserData(m), text, kUserDataTextCopyright, 1, -1);
  DisposeHandle(text);

  short resId = 0;
  static const unsigned char kName[] = "\x07Movie 1";
  EXPECT_EQ(AddMovieResource(m, ref, &resId, withName ? kName : nullptr), noErr);
  EXPECT_EQ(resId, movieInDataForkResID);
  out.trackCount = GetMovieTrackCount(m);
  EXPECT_EQ(CloseMovieFile(ref), noErr);
  DisposeMovie(m);
  return out;
}

TEST(MovieFiles, WrittenMovieReadsBackWhole) {
  std::string dir = vt_test::tempDir("movie-rt");
  Built b = buildEffectStyleMovie(dir);
  ASSERT_EQ(b.trackCount, 2);
  short ref = 0;
  Movie m = mt::open(b.path, &ref);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieTrackCount(m), 2);
  EXPECT_EQ(GetMovieDuration(m), 600);
  Track src = GetMovieIndTrack(m, 1), fx = GetMovieIndTrack(m, 2);
  EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(src)), 6);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 1), src);
  // User data items come back in order with their bytes.
  UserData ud = GetMovieUserData(m);
  int32_t loop = 0;
  ASSERT_EQ(GetUserDataItem(ud, &loop, 4, 'LOOP', 0), noErr);
  EXPECT_EQ(__builtin_bswap32((uint32_t)loop), 1u);
  unsigned char wloc[4] = {};
  ASSERT_EQ(GetUserDataItem(ud, wloc, 4, 'WLOC', 0), noErr);
  EXPECT_EQ(wloc[1], 0x64);
  EXPECT_EQ(wloc[3], 0xC8);
  Handle h = NewHandle(0);
  auto text = [&](OSErr err) { return err ? "error" : std::string(*h, (size_t)GetHandleSize(h)); };
  EXPECT_EQ(text(GetUserDataText(ud, h, kUserDataTextCopyright, 1, -1)), "(c) X");
  EXPECT_EQ(text(GetUserData(ud, h, 'name', 1)), "Movie 1");
  EXPECT_EQ(text(GetUserData(GetTrackUserData(src), h, 'name', 1)), "Copy of A");
  // The effect sample is the container's bytes unchanged, with its description.
  Handle desc = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(fx), h, 0, nullptr, 0, nullptr, nullptr, desc, nullptr, 1,
                           nullptr, nullptr),
            noErr);
  EXPECT_EQ(QTCountChildrenOfType(h, kParentAtomIsContainer, 'what'), 1);
  EXPECT_EQ((*(ImageDescriptionHandle)desc)->cType, (CodecType)'dslv');
  EXPECT_EQ((*(ImageDescriptionHandle)desc)->vendor, (OSType)'appl');
  // The input map survives as a container with one input naming 'srcA'.
  QTAtomContainer map = nullptr;
  ASSERT_EQ(GetMediaInputMap(GetTrackMedia(fx), &map), noErr);
  QTAtom input = QTFindChildByIndex(map, kParentAtomIsContainer, kTrackModifierInput, 1, nullptr);
  ASSERT_NE(input, 0);
  QTAtom name = QTFindChildByID(map, input, 'dtst', 1, nullptr);
  long size = 0;
  Ptr p = nullptr;
  ASSERT_EQ(QTGetAtomDataPtr(map, name, &size, &p), noErr);
  ASSERT_EQ(size, 4);
  EXPECT_EQ(vt::readBE32((const unsigned char*)p), (uint32_t)'srcA');
  QTDisposeAtomContainer(map);
  DisposeHandle(desc);
  DisposeHandle(h);
  DisposeMovie(m);
  CloseMovieFile(ref);
  // Other readers.
  std::string probe =
      mt::ffprobe("-show_entries stream=codec_tag_string,nb_frames -of compact '" + b.path + "'");
  EXPECT_NE(probe.find("codec_tag_string=raw |nb_frames=6"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=dslv|nb_frames=1"), std::string::npos) << probe;
}

TEST(MovieFiles, UpdateInPlaceAndWhenGrowing) {
  std::string dir = vt_test::tempDir("movie-upd");
  Built b = buildEffectStyleMovie(dir);
  size_t before = mt::readFile(b.path).size();
  FSSpec s = mt::spec(b.path);
  short ref = 0;
  ASSERT_EQ(OpenMovieFile(&s, &ref, fsRdWrPerm), noErr);
  Movie m = nullptr;
  short resId = 0;
  ASSERT_EQ(NewMovieFromFile(&m, ref, &resId, nullptr, 0, nullptr), noErr);
  EXPECT_EQ(resId, movieInDataForkResID);
  // Smaller: remove an item; the movie atom is rewritten where it was.
  EXPECT_EQ(RemoveUserData(GetMovieUserData(m), 'WLOC', 1), noErr);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), noErr);
  EXPECT_EQ(mt::readFile(b.path).size(), before);
  auto atoms = topAtoms(b.path);
  EXPECT_EQ(atoms.back().first, (OSType)'free');
  // Larger: the movie atom moves to the end and the old one becomes free space.
  std::vector<char> big(4000, 'x');
  Handle h = NewHandle((Size)big.size());
  std::memcpy(*h, big.data(), big.size());
  ASSERT_EQ(AddUserData(GetMovieUserData(m), h, 'XTRA'), noErr);
  DisposeHandle(h);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), noErr);
  atoms = topAtoms(b.path);
  int moovs = 0;
  for (auto& a : atoms) moovs += a.first == 'moov';
  EXPECT_EQ(moovs, 1);
  EXPECT_EQ(atoms.back().first, (OSType)'moov');
  DisposeMovie(m);
  CloseMovieFile(ref);
  Movie again = mt::open(b.path);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(CountUserDataType(GetMovieUserData(again), 'XTRA'), 1);
  EXPECT_EQ(CountUserDataType(GetMovieUserData(again), 'WLOC'), 0);
  EXPECT_EQ(GetMovieTrackCount(again), 2);
  DisposeMovie(again);
  std::string probe = mt::ffprobe("-show_entries stream=nb_frames -of compact '" + b.path + "'");
  EXPECT_NE(probe.find("nb_frames=6"), std::string::npos) << probe;
  // A file opened read-only cannot be written.
  ASSERT_EQ(OpenMovieFile(&s, &ref, fsRdPerm), noErr);
  ASSERT_EQ(NewMovieFromFile(&m, ref, &resId, nullptr, 0, nullptr), noErr);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), wrPermErr);
  DisposeMovie(m);
  CloseMovieFile(ref);
}

TEST(MovieFiles, UnknownAtomsSurviveRewrite) {
  std::string dir = vt_test::tempDir("movie-unknown");
  Built b = buildEffectStyleMovie(dir);
  // Append an unknown child to the movie atom (the last atom of the file).
  std::vector<uint8_t> bytes = mt::readFile(b.path);
  auto atoms = topAtoms(b.path);
  uint64_t moovAt = bytes.size() - atoms.back().second;
  const uint8_t extra[12] = {0, 0, 0, 12, 'Z', 'z', 'Z', 'z', 1, 2, 3, 4};
  bytes.insert(bytes.end(), extra, extra + 12);
  vt::writeBE32(&bytes[moovAt], (uint32_t)(atoms.back().second + 12));
  mt::writeFile(b.path, bytes);
  std::string copy = dir + "/copy.mov";
  Movie m = mt::open(b.path);
  ASSERT_NE(m, nullptr);
  FSSpec out = mt::spec(copy);
  Movie flat = FlattenMovieData(m, flattenAddMovieToDataFork, &out, 'TVOD', smSystemScript,
                                (long)createMovieFileDeleteCurFile);
  ASSERT_NE(flat, nullptr);
  DisposeMovie(flat);
  DisposeMovie(m);
  std::vector<uint8_t> written = mt::readFile(copy);
  auto it = std::search(written.begin(), written.end(), extra, extra + 12);
  EXPECT_NE(it, written.end());
}

TEST(MovieFiles, FlattenPutsMovieFirstAndReportsProgress) {
  std::string dir = vt_test::tempDir("movie-flat");
  Built b = buildEffectStyleMovie(dir);
  Movie m = mt::open(b.path);
  ASSERT_NE(m, nullptr);
  static std::vector<short> messages;
  messages.clear();
  auto proc = [](Movie, short message, short op, Fixed, long refcon) -> OSErr {
    EXPECT_EQ(op, progressOpFlatten);
    EXPECT_EQ(refcon, 77);
    messages.push_back(message);
    return noErr;
  };
  SetMovieProgressProc(m, NewMovieProgressUPP(proc), 77);
  std::string out = dir + "/flat.mov";
  FSSpec s = mt::spec(out);
  Movie flat = FlattenMovieData(
      m, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, &s, 'TVOD',
      smSystemScript, (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile));
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(GetMoviesError(), noErr);
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front(), movieProgressOpen);
  EXPECT_EQ(messages.back(), movieProgressClose);
  auto atoms = topAtoms(out);
  ASSERT_GE(atoms.size(), 3u);
  EXPECT_EQ(atoms[0].first, (OSType)'ftyp');
  EXPECT_EQ(atoms[1].first, (OSType)'moov');
  EXPECT_EQ(atoms[2].first, (OSType)'mdat');
  EXPECT_EQ(GetMovieTrackCount(flat), 2);
  EXPECT_EQ(GetMovieDuration(flat), 600);
  // The flattened movie is self-contained: it plays without the original.
  DisposeMovie(flat);
  DisposeMovie(m);
  ASSERT_EQ(::unlink(b.path.c_str()), 0);
  EXPECT_EQ(mt::framemd5(out).size() > 0, true);
  Movie alone = mt::open(out);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(mt::firstByte(GetTrackMedia(GetMovieIndTrack(alone, 1)), 500), 5);
  DisposeMovie(alone);

  // A progress procedure that cancels leaves no file behind.
  Movie m2 = mt::open(out);
  SetMovieProgressProc(
      m2,
      [](Movie, short message, short, Fixed, long) -> OSErr {
        return message == movieProgressUpdatePercent ? (OSErr)userCanceledErr : (OSErr)noErr;
      },
      0);
  std::string out2 = dir + "/cancelled.mov";
  FSSpec s2 = mt::spec(out2);
  EXPECT_EQ(FlattenMovieData(m2, flattenAddMovieToDataFork, &s2, 'TVOD', smSystemScript, 0),
            nullptr);
  EXPECT_EQ(GetMoviesError(), progressProcAborted);
  EXPECT_FALSE(std::filesystem::exists(out2));
  DisposeMovie(m2);
}

TEST(MovieFiles, BusyFilesAreNotDestroyed) {
  std::string dir = vt_test::tempDir("movie-busy");
  Built b = buildEffectStyleMovie(dir);
  FSSpec s = mt::spec(b.path);
  Movie m = mt::open(b.path);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(DeleteMovieFile(&s), fBsyErr);
  short ref = 0;
  Movie created = nullptr;
  EXPECT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, (long)createMovieFileDeleteCurFile, &ref,
                            &created),
            fBsyErr);
  EXPECT_EQ(created, nullptr);
  // Flattening a movie onto its own file is refused too.
  EXPECT_EQ(FlattenMovieData(m, flattenAddMovieToDataFork, &s, 'TVOD', smSystemScript,
                             (long)createMovieFileDeleteCurFile),
            nullptr);
  EXPECT_EQ(GetMoviesError(), fBsyErr);
  EXPECT_TRUE(std::filesystem::exists(b.path));
  DisposeMovie(m);
  // Without a live movie the file can go; a missing file is reported.
  EXPECT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, 0, &ref, &created), dupFNErr);
  EXPECT_EQ(DeleteMovieFile(&s), noErr);
  EXPECT_EQ(DeleteMovieFile(&s), fnfErr);
}

TEST(MovieFiles, OpenAndCreateErrors) {
  std::string dir = vt_test::tempDir("movie-errs");
  FSSpec missing = mt::spec(dir + "/missing.mov");
  short ref = 0;
  EXPECT_EQ(OpenMovieFile(&missing, &ref, fsRdPerm), fnfErr);
  EXPECT_EQ(OpenMovieFile(nullptr, &ref, fsRdPerm), paramErr);
  EXPECT_EQ(CloseMovieFile(12345), rfNumErr);
  Movie m = nullptr;
  EXPECT_EQ(NewMovieFromFile(&m, 12345, nullptr, nullptr, 0, nullptr), rfNumErr);
  // A file created and closed before a movie went into it is not left behind; one created
  // without being opened is there at once, holding no movie.
  Movie created = nullptr;
  FSSpec s = mt::spec(dir + "/empty.mov");
  ASSERT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, 0, &ref, &created), noErr);
  CloseMovieFile(ref);
  DisposeMovie(created);
  EXPECT_FALSE(std::filesystem::exists(dir + "/empty.mov"));
  ASSERT_EQ(
      CreateMovieFile(&s, 'TVOD', smSystemScript, (long)createMovieFileDontOpenFile, &ref, nullptr),
      noErr);
  OSErr err = noErr;
  EXPECT_EQ(mt::open(dir + "/empty.mov", nullptr, &err), nullptr);
  EXPECT_EQ(err, invalidMovie);
  // Resource IDs other than the data fork's movie do not exist.
  ASSERT_EQ(OpenMovieFile(&s, &ref, fsRdPerm), noErr);
  short resId = 3;
  EXPECT_EQ(NewMovieFromFile(&m, ref, &resId, nullptr, 0, nullptr), resNotFound);
  CloseMovieFile(ref);
  // Aliases name the file and resolve back to it.
  AliasHandle alias = nullptr;
  ASSERT_EQ(QTNewAlias(&s, &alias, true), noErr);
  std::string path;
  ASSERT_TRUE(vt::movie::resolveAlias(alias, path));
  EXPECT_EQ(std::filesystem::path(path).filename(), "empty.mov");
  DisposeHandle(alias);
  EXPECT_EQ(QTNewAlias(&missing, &alias, true), fnfErr);
}

TEST(MovieFiles, MemoryMovieSavedToFileKeepsItsData) {
  std::string dir = vt_test::tempDir("movie-mem");
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, 4 << 16, 4 << 16, 0);
  Media md = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
  mt::addSamples(md, 3, 32, 200);
  InsertMediaIntoTrack(t, 0, 0, 600, fixed1);
  FSSpec s = mt::spec(dir + "/mem.mov");
  short ref = 0;
  Movie unused = nullptr;
  ASSERT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, (long)createMovieFileDontCreateMovie, &ref,
                            &unused),
            noErr);
  EXPECT_EQ(unused, nullptr);
  short resId = 0;
  ASSERT_EQ(AddMovieResource(m, ref, &resId, nullptr), noErr);
  CloseMovieFile(ref);
  DisposeMovie(m);
  Movie back = mt::open(dir + "/mem.mov");
  ASSERT_NE(back, nullptr);
  Handle data = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(GetMovieIndTrack(back, 1)), data, 0, nullptr, 450, nullptr,
                           nullptr, nullptr, nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(GetHandleSize(data), 32);
  EXPECT_EQ(((unsigned char*)*data)[31], 2);
  DisposeHandle(data);
  DisposeMovie(back);
}

TEST(MovieFiles, SixtyFourBitTimesAndOffsets) {
  std::string dir = vt_test::tempDir("movie-wide");
  // Durations past 32 bits make the headers and the edit list version 1.
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, 4 << 16, 4 << 16, 0);
  Media md = NewTrackMedia(t, VideoMediaType, 1000000000, nullptr, 0);
  mt::addSamples(md, 5, 40, 1000000000);
  SetMovieTimeScale(m, 1000);
  ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, 2000000000, fixed1), noErr);
  ASSERT_EQ(InsertMediaIntoTrack(t, -1, 2000000000, 2000000000, fixed1), noErr);
  SetMovieTimeScale(m, 1000000000);
  std::string path = dir + "/wide.mov";
  FSSpec s = mt::spec(path);
  Movie flat = FlattenMovieData(m, flattenAddMovieToDataFork, &s, 'TVOD', smSystemScript, 0);
  ASSERT_NE(flat, nullptr);
  VTTrack* ft = GetMovieIndTrack(flat, 1);
  EXPECT_EQ(ft->duration(), 4000000000LL);
  EXPECT_EQ(ft->media->duration(), 5000000000LL);
  EXPECT_EQ(ft->edits[1].mediaTime, 2000000000LL);
  DisposeMovie(flat);
  DisposeMovie(m);
  std::string probe =
      mt::ffprobe("-show_entries stream=duration,nb_frames -of compact '" + path + "'");
  EXPECT_NE(probe.find("duration=4.000000"), std::string::npos) << probe;

  // 64-bit chunk offsets ('co64') read like 32-bit ones.
  std::vector<uint8_t> b = mt::readFile(path);
  auto findType = [&](const char* type, size_t from, size_t to) {
    size_t last = std::string::npos;
    for (size_t i = from + 4; i + 4 <= to; ++i)
      if (std::memcmp(&b[i], type, 4) == 0) last = i - 4;
    return last;
  };
  size_t stco = findType("stco", 0, b.size());
  ASSERT_NE(stco, std::string::npos);
  uint32_t count = vt::readBE32(&b[stco + 12]);
  std::vector<uint8_t> co64(16 + 8 * (size_t)count);
  vt::writeBE32(&co64[0], (uint32_t)co64.size());
  std::memcpy(&co64[4], "co64", 4);
  vt::writeBE32(&co64[12], count);
  for (uint32_t i = 0; i < count; ++i)
    vt::writeBE64(&co64[16 + 8 * i], vt::readBE32(&b[stco + 16 + 4 * i]));
  uint32_t oldSize = vt::readBE32(&b[stco]);
  int64_t delta = (int64_t)co64.size() - oldSize;
  std::vector<size_t> parents;
  for (const char* p : {"moov", "trak", "mdia", "minf", "stbl"})
    parents.push_back(findType(p, 0, stco));
  std::vector<uint8_t> c(b.begin(), b.begin() + (long)stco);
  c.insert(c.end(), co64.begin(), co64.end());
  c.insert(c.end(), b.begin() + (long)(stco + oldSize), b.end());
  for (size_t p : parents) vt::writeBE32(&c[p], (uint32_t)(vt::readBE32(&c[p]) + delta));
  // The movie atom comes after the data here, so no offset moves.
  ASSERT_GT(parents[0], vt::readBE32(&b[stco + 16]));
  mt::writeFile(dir + "/co64.mov", c);
  Movie a = mt::open(path), w = mt::open(dir + "/co64.mov");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(w, nullptr);
  VTMedia* ma = GetTrackMedia(GetMovieIndTrack(a, 1));
  VTMedia* mw = GetTrackMedia(GetMovieIndTrack(w, 1));
  ASSERT_EQ(ma->sampleCount(), mw->sampleCount());
  for (uint32_t i = 0; i < ma->sampleCount(); ++i)
    EXPECT_EQ(ma->samples.offset(i), mw->samples.offset(i));
  std::vector<uint8_t> x, y;
  ASSERT_EQ(mw->loadSample(4, y), noErr);
  ASSERT_EQ(ma->loadSample(4, x), noErr);
  EXPECT_EQ(x, y);
  EXPECT_EQ(y[0], 4);
  DisposeMovie(a);
  DisposeMovie(w);
}

}  // namespace
