// Movie files: create, write, reopen, update in place, flatten, busy files; writing over an old
// one never loses it: a full disk or a second writer leave it whole.
#include <MovieUserData.h>
#include <QTAtoms.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "helpers.h"
#include "model/internal.h"
#include "model/model.h"
#include "qtff/reader.h"
#include "qtff/writer.h"

namespace {

// Where the first movie atom of the file at `path` lies.
vt::qtff::MovieAtomLocation movieAtom(const std::string& path) {
  VTMovie* m = nullptr;
  vt::qtff::MovieAtomLocation where;
  EXPECT_EQ(vt::qtff::readMovieFile(path, &m, &where), noErr) << path;
  vt::movie::destroyMovie(m);
  return where;
}

// The effect sample and the input map of the effect track (its first reference).
std::vector<uint8_t> effectSample() {
  vt::atoms::Atom effect = vt::atoms::newRoot();
  effect.addOSType('what', 1, 'dslv');
  effect.addOSType('src ', 1, 'srcA');
  return vt::atoms::serialise(effect);
}
std::vector<uint8_t> inputMap() {
  vt::atoms::Atom map = vt::atoms::newRoot();
  vt::atoms::Atom& input = map.add(kTrackModifierInput, 1);
  input.addOSType(kTrackModifierType, 1, 'vide');
  input.addOSType('dtst', 1, 'srcA');
  return vt::atoms::serialise(map);
}

Handle handleOf(const std::vector<uint8_t>& bytes) {
  Handle h = nullptr;
  EXPECT_EQ(PtrToHand(bytes.data(), &h, (long)bytes.size()), noErr);
  return h;
}
std::vector<uint8_t> bytesOf(Handle h) {
  return std::vector<uint8_t>((uint8_t*)*h, (uint8_t*)*h + GetHandleSize(h));
}

// The effect-movie layout saved from memory into a new file: a copy track of six samples, an
// effect track whose one sample is an atom container, an 'ssrc' reference, an input map and
// user data.
std::string buildEffectStyleMovie(const std::string& dir) {
  Movie m = mt::videoMovie(6, 48, 100);
  Track src = GetMovieIndTrack(m, 1);
  SetUserDataItem(GetTrackUserData(src), (void*)"Copy of A", 9, 'name', 0);
  Track fx = mt::videoTrack(m);
  Media fm = GetTrackMedia(fx);
  Handle sample = handleOf(effectSample());
  ImageDescriptionHandle d = mt::imageDescription('dslv', 4, 4);
  (*d)->vendor = 'appl';
  TimeValue st = -1;
  EXPECT_EQ(AddMediaSample(fm, sample, 0, (unsigned long)GetHandleSize(sample), 600,
                           (SampleDescriptionHandle)d, 1, 0, &st),
            noErr);
  EXPECT_EQ(InsertMediaIntoTrack(fx, 0, st, 600, fixed1), noErr);
  long idx = 0;
  AddTrackReference(fx, src, kTrackReferenceModifier, &idx);
  Handle map = handleOf(inputMap());
  EXPECT_EQ(SetMediaInputMap(fm, map), noErr);
  int32_t loopBE = (int32_t)__builtin_bswap32(1);
  SetUserDataItem(GetMovieUserData(m), &loopBE, 4, 'LOOP', 0);
  Handle text = NewHandle(5);
  std::memcpy(*text, "(c) X", 5);
  AddUserDataText(GetMovieUserData(m), text, kUserDataTextCopyright, 1, -1);
  std::string path = dir + "/built.mov";
  EXPECT_EQ(mt::saveAs(m, path, 0, (const unsigned char*)"\x07Movie 1"), noErr);
  for (Handle h : {text, sample, map, (Handle)d}) DisposeHandle(h);
  DisposeMovie(m);
  return path;
}

TEST(MovieFiles, WrittenMovieReadsBackWholeAndUpdatesInPlace) {
  std::string path = buildEffectStyleMovie(vt_test::tempDir("movie-rt"));
  Movie m = mt::openMovie(path);
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
  Handle h = NewHandle(0);
  auto text = [&](OSErr err) { return err ? "error" : std::string(*h, (size_t)GetHandleSize(h)); };
  EXPECT_EQ(text(GetUserDataText(ud, h, kUserDataTextCopyright, 1, -1)), "(c) X");
  EXPECT_EQ(text(GetUserData(ud, h, 'name', 1)), "Movie 1");
  EXPECT_EQ(text(GetUserData(GetTrackUserData(src), h, 'name', 1)), "Copy of A");
  // The effect sample and the input map come back byte for byte, the sample with its description.
  Handle desc = NewHandle(0);
  ASSERT_EQ(mt::sample(GetTrackMedia(fx), 0, h, desc), noErr);
  EXPECT_EQ(bytesOf(h), effectSample());
  EXPECT_EQ((*(ImageDescriptionHandle)desc)->cType, (CodecType)'dslv');
  EXPECT_EQ((*(ImageDescriptionHandle)desc)->vendor, (OSType)'appl');
  QTAtomContainer map = nullptr;
  ASSERT_EQ(GetMediaInputMap(GetTrackMedia(fx), &map), noErr);
  EXPECT_EQ(bytesOf(map), inputMap());
  for (Handle k : {map, desc, h}) DisposeHandle(k);
  DisposeMovie(m);

  // Updated in place when smaller, and at the end of the file when larger.
  const uint64_t fileSize = std::filesystem::file_size(path);
  const vt::qtff::MovieAtomLocation was = movieAtom(path);
  short ref = 0, resId = 0;
  m = mt::openWith(path, fsRdWrPerm, &ref, &resId);
  EXPECT_EQ(resId, movieInDataForkResID);
  // Smaller: remove an item; the movie atom is rewritten where it was, free space after it.
  EXPECT_EQ(RemoveUserData(GetMovieUserData(m), 'LOOP', 1), noErr);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), noErr);
  EXPECT_EQ(std::filesystem::file_size(path), fileSize);
  vt::qtff::MovieAtomLocation now = movieAtom(path);
  EXPECT_EQ(now.offset, was.offset);
  EXPECT_EQ(vt_test::readFile(path).substr(now.offset + now.size + 4, 4), "free");
  // Larger: the movie atom moves to the end and the old one becomes free space (else it would
  // still be the first one found).
  Handle big = NewHandleClear(4000);
  ASSERT_EQ(AddUserData(GetMovieUserData(m), big, 'XTRA'), noErr);
  DisposeHandle(big);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), noErr);
  now = movieAtom(path);
  EXPECT_EQ(now.offset + now.size, std::filesystem::file_size(path));
  DisposeMovie(m);
  CloseMovieFile(ref);
  Movie again = mt::openMovie(path);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(CountUserDataType(GetMovieUserData(again), 'XTRA'), 1);
  EXPECT_EQ(CountUserDataType(GetMovieUserData(again), 'LOOP'), 0);
  EXPECT_EQ(GetMovieTrackCount(again), 2);
  DisposeMovie(again);
  // Other readers read the updated file.
  std::string probe =
      mt::ffprobe("-show_entries stream=codec_tag_string,nb_frames -of compact '" + path + "'");
  EXPECT_NE(probe.find("codec_tag_string=raw |nb_frames=6"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=dslv|nb_frames=1"), std::string::npos) << probe;
  // A file opened read-only cannot be written.
  m = mt::openWith(path, fsRdPerm, &ref, &resId);
  EXPECT_EQ(UpdateMovieResource(m, ref, resId, nullptr), wrPermErr);
  DisposeMovie(m);
  CloseMovieFile(ref);
}

TEST(MovieFiles, FlattenPutsMovieFirstKeepsUnknownAtomsAndReportsProgress) {
  std::string dir = vt_test::tempDir("movie-flat");
  std::string path = buildEffectStyleMovie(dir);
  // An unknown child appended to the movie atom (the last atom of the file).
  std::vector<uint8_t> bytes = mt::readFile(path);
  uint64_t moovSize = movieAtom(path).size;  // the last atom
  const uint8_t extra[12] = {0, 0, 0, 12, 'Z', 'z', 'Z', 'z', 1, 2, 3, 4};
  bytes.insert(bytes.end(), extra, extra + 12);
  vt::writeBE32(&bytes[bytes.size() - 12 - moovSize], (uint32_t)(moovSize + 12));
  mt::writeFile(path, bytes);
  Movie m = mt::openMovie(path);
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
  Movie flat =
      mt::flatten(m, out, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData,
                  (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile));
  ASSERT_NE(flat, nullptr);
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front(), movieProgressOpen);
  EXPECT_EQ(messages.back(), movieProgressClose);
  EXPECT_EQ(movieAtom(out).offset, 20u);  // right after the file type atom
  EXPECT_EQ(GetMovieTrackCount(flat), 2);
  EXPECT_EQ(GetMovieDuration(flat), 600);
  std::vector<uint8_t> written = mt::readFile(out);
  EXPECT_NE(std::search(written.begin(), written.end(), extra, extra + 12), written.end());
  // The flattened movie is self-contained: it plays without the original.
  for (Movie k : {flat, m}) DisposeMovie(k);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_FALSE(mt::framemd5(out).empty());
  Movie alone = mt::openMovie(out);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(mt::firstByte(GetTrackMedia(GetMovieIndTrack(alone, 1)), 500), 5);
  // A progress procedure that cancels leaves no file behind.
  SetMovieProgressProc(
      alone,
      [](Movie, short message, short, Fixed, long) -> OSErr {
        return message == movieProgressUpdatePercent ? (OSErr)userCanceledErr : (OSErr)noErr;
      },
      0);
  EXPECT_EQ(mt::flatten(alone, dir + "/cancelled.mov"), nullptr);
  EXPECT_EQ(GetMoviesError(), progressProcAborted);
  EXPECT_FALSE(std::filesystem::exists(dir + "/cancelled.mov"));
  DisposeMovie(alone);
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
  EXPECT_EQ(mt::openMovie(dir + "/empty.mov", &err), nullptr);
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

TEST(MovieFiles, SixtyFourBitTimesAndOffsets) {
  // Durations past 32 bits make the headers and the edit list version 1.
  Movie m = NewMovie(0);
  Track t = mt::videoTrack(m, 1000000000);
  mt::addSamples(GetTrackMedia(t), 5, 40, 1000000000);
  SetMovieTimeScale(m, 1000);
  ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, 2000000000, fixed1), noErr);
  ASSERT_EQ(InsertMediaIntoTrack(t, -1, 2000000000, 2000000000, fixed1), noErr);
  SetMovieTimeScale(m, 1000000000);
  std::string path = vt_test::tempDir("movie-wide") + "/wide.mov";
  Movie flat = mt::flatten(m, path);
  ASSERT_NE(flat, nullptr);
  VTTrack* ft = GetMovieIndTrack(flat, 1);
  EXPECT_EQ(ft->duration(), 4000000000LL);
  EXPECT_EQ(ft->media->duration(), 5000000000LL);
  EXPECT_EQ(ft->edits[1].mediaTime, 2000000000LL);
  for (Movie k : {flat, m}) DisposeMovie(k);
  std::string probe =
      mt::ffprobe("-show_entries stream=duration,nb_frames -of compact '" + path + "'");
  EXPECT_NE(probe.find("duration=4.000000"), std::string::npos) << probe;

  // Chunk offsets past 4 GB are written with 64-bit entries ('co64') and read back.
  VTMovie* wide = vt::movie::newMovieObject();
  VTTrack* wt = vt::movie::addTrack(wide, 'vide', 600);
  std::vector<uint8_t> desc(86, 0);
  vt::writeBE32(&desc[0], 86);
  vt::writeBE32(&desc[4], 'raw ');
  int d = wt->media->addDescription(desc);
  const uint64_t far = 5ull << 32;
  for (uint32_t i = 0; i < 3; ++i)
    wt->media->appendSample(far + 1000 * i, 40, 10, (uint32_t)d, true);
  vt::movie::finishTrack(wt);
  std::vector<uint8_t> atom = vt::qtff::buildMovieAtom(*wide, "");
  size_t co64 = (size_t)(std::search(atom.begin(), atom.end(), "co64", "co64" + 4) - atom.begin());
  ASSERT_LT(co64 + 20, atom.size());
  EXPECT_EQ(vt::readBE64(&atom[co64 + 12]), far);  // the first entry, after version and count
  VTMovie* back = vt::movie::newMovieObject();
  ASSERT_EQ(vt::qtff::parseMovieAtom(atom.data(), atom.size(), *back, ""), noErr);
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(back->tracks[0]->media->samples.offset(i), far + 1000 * i);
  for (VTMovie* k : {wide, back}) vt::movie::destroyMovie(k);
}

// A movie in memory with `frames` samples of 100 KB.
Movie movieOf(int frames) { return mt::videoMovie(frames, 100 << 10, 60); }

size_t entriesIn(const std::string& dir) {
  return (size_t)std::distance(std::filesystem::directory_iterator(dir), {});
}

// The two ways a movie file replaces another: flattened (Save As) and created, then given its
// movie (the effect movie).
constexpr long kReplace = createMovieFileDeleteCurFile | createMovieFileDontCreateResFile;

OSErr flattenOver(Movie m, const std::string& path) {
  Movie out = mt::flatten(
      m, path, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, kReplace);
  OSErr err = GetMoviesError();
  if (out) DisposeMovie(out);
  return err;
}

OSErr createOver(Movie m, const std::string& path) { return mt::saveAs(m, path, kReplace); }

TEST(SafeSaving, AFullDiskLeavesTheOldFileWhole) {
  Movie old = movieOf(23), large = movieOf(70);  // 2.3 MB and 7 MB
  for (auto write : {flattenOver, createOver}) {
    std::string dir = vt_test::tempDir("full-disk");
    vt_test::SmallDisk disk(dir);
    ASSERT_EQ(flattenOver(old, dir + "/movie.mov"), noErr);
    std::vector<uint8_t> before = mt::readFile(dir + "/movie.mov");
    EXPECT_EQ(write(large, dir + "/movie.mov"), dskFulErr);
    EXPECT_EQ(mt::readFile(dir + "/movie.mov"), before);
    EXPECT_EQ(entriesIn(dir), 1u);  // the file itself, nothing beside it
  }
  for (Movie k : {old, large}) DisposeMovie(k);
}

TEST(SafeSaving, ASecondWriterNeverSilentlyUndoesTheFirst) {
  Movie first = movieOf(3), second = movieOf(5);
  for (bool existing : {false, true}) {
    std::string dir = vt_test::tempDir("two-writers"), path = dir + "/movie.mov";
    if (existing) {
      ASSERT_EQ(flattenOver(first, path), noErr);
    }
    // The first writer is still building its file when the second saves a whole one.
    FSSpec s = mt::spec(path);
    short ref = 0, resId = 0;
    ASSERT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, kReplace | createMovieFileDontCreateMovie,
                              &ref, nullptr),
              noErr);
    ASSERT_EQ(flattenOver(second, path), noErr);
    std::vector<uint8_t> saved = mt::readFile(path);
    EXPECT_EQ(AddMovieResource(first, ref, &resId, nullptr), existing ? fBsyErr : dupFNErr);
    CloseMovieFile(ref);
    EXPECT_EQ(mt::readFile(path), saved) << existing;
    EXPECT_EQ(entriesIn(dir), 1u);  // the file itself, nothing beside it
  }
  for (Movie k : {first, second}) DisposeMovie(k);
}

TEST(MovieFiles, AFileAnOpenMovieReadsIsNotReplaced) {
  const std::string dir = vt_test::tempDir("movie-busy");
  std::string path = buildEffectStyleMovie(dir);
  std::filesystem::create_symlink(path, dir + "/link.mov");
  std::filesystem::create_hard_link(path, dir + "/hard.mov");
  const std::vector<uint8_t> before = mt::readFile(path);
  Movie m = mt::openMovie(path);
  ASSERT_NE(m, nullptr);
  Movie other = movieOf(2);
  // The effect save and Save As (a new movie file given the movie), and a flatten.
  const std::vector<std::pair<const char*, std::function<OSErr(const std::string&)>>> writers = {
      {"save", [&](const std::string& to) { return mt::saveAs(other, to, kReplace); }},
      {"flatten", [&](const std::string& to) { return flattenOver(m, to); }}};
  const std::pair<std::string, OSErr> names[] = {
      {path, fBsyErr},               // other spellings of the name are the host-file layer's
      {dir + "/link.mov", fBsyErr},  // a symlink is followed to the open file
      {dir + "/hard.mov", noErr},    // another name of it: that name is replaced
  };
  for (const auto& [what, write] : writers)
    for (const auto& [name, expected] : names) {
      EXPECT_EQ(write(name), expected) << what << " " << name;
      EXPECT_EQ(mt::readFile(path), before) << what << " " << name;
      std::filesystem::remove(dir + "/hard.mov");
      std::filesystem::create_hard_link(path, dir + "/hard.mov");
    }
  FSSpec s = mt::spec(path), link = mt::spec(dir + "/link.mov");
  EXPECT_EQ(DeleteMovieFile(&s), fBsyErr);
  EXPECT_EQ(DeleteMovieFile(&link), noErr);  // the link goes, not the file
  for (Movie k : {other, m}) DisposeMovie(k);
  // Without a live movie the file can go; a missing file is reported.
  short ref = 0;
  Movie created = nullptr;
  EXPECT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, 0, &ref, &created), dupFNErr);
  EXPECT_EQ(DeleteMovieFile(&s), noErr);
  EXPECT_EQ(DeleteMovieFile(&s), fnfErr);
}

TEST(MovieFiles, TheMovieIsReadFromTheFileOpenedEvenWhenItsNameIsReplaced) {
  const std::string dir = vt_test::tempDir("movie-swap"), path = dir + "/a.mov";
  Movie three = movieOf(3), five = movieOf(5);
  ASSERT_EQ(mt::saveAs(three, path), noErr);
  ASSERT_EQ(mt::saveAs(five, dir + "/b.mov"), noErr);
  FSSpec s = mt::spec(path);
  short ref = 0;
  ASSERT_EQ(OpenMovieFile(&s, &ref, fsRdPerm), noErr);
  ASSERT_EQ(std::rename((dir + "/b.mov").c_str(), path.c_str()), 0);
  Movie m = nullptr;
  ASSERT_EQ(NewMovieFromFile(&m, ref, nullptr, nullptr, 0, nullptr), noErr);
  CloseMovieFile(ref);
  EXPECT_EQ(GetMovieDuration(m), GetMovieDuration(three));
  EXPECT_EQ(mt::firstByte(GetTrackMedia(GetMovieIndTrack(m, 1)), 120), 2);  // its third frame
  for (Movie k : {m, three, five}) DisposeMovie(k);
}

}  // namespace
