// The effect-movie construction as the application performs it, call by call, against real
// source files: the result must be a movie file other programs read.
#include <QTAtoms.h>

#include <filesystem>

#include "helpers.h"
#include "model/model.h"

namespace {

uint32_t be(OSType t) { return __builtin_bswap32(t); }

struct Result {
  std::string path;
  TimeValue effectDuration = 0;
  Fixed fxWidth = 0, fxHeight = 0;
};

Result construct(const std::vector<std::string>& sources, bool copyMedia, const std::string& out) {
  Result r;
  r.path = out;
  std::vector<Movie> movies;
  std::vector<Track> tracks;
  for (const auto& s : sources) {
    Movie m = mt::open(s);
    EXPECT_NE(m, nullptr);
    movies.push_back(m);
    tracks.push_back(GetMovieIndTrackType(m, 1, kCharacteristicCanSendVideo,
                                          movieTrackCharacteristic | movieTrackEnabledOnly));
  }
  FSSpec spec = mt::spec(out);
  short ref = 0;
  Movie dest = nullptr;
  EXPECT_EQ(CreateMovieFile(&spec, 'TVOD', smSystemScript,
                            (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile), &ref, &dest),
            noErr);
  if (!movies.empty()) CopyMovieSettings(movies[0], dest);
  TimeScale scale = 600;
  for (Movie m : movies) scale = std::max(scale, GetMovieTimeScale(m));
  for (Movie m : movies)
    if (GetMovieTimeScale(m) != scale) SetMovieTimeScale(m, scale);
  r.effectDuration = movies.empty() ? 10 * scale : GetTrackDuration(tracks[0]);
  for (size_t k = 1; k < tracks.size(); ++k) r.effectDuration = std::min(r.effectDuration, GetTrackDuration(tracks[k]));
  r.fxWidth = 160 << 16;
  r.fxHeight = 120 << 16;
  std::vector<Track> copies;
  for (size_t k = 0; k < tracks.size(); ++k) {
    Fixed w, h;
    GetTrackDimensions(tracks[k], &w, &h);
    if (k == 0) {
      r.fxWidth = w;
      r.fxHeight = h;
    } else {
      r.fxWidth = std::max(r.fxWidth, w);
      r.fxHeight = std::max(r.fxHeight, h);
    }
    OSType type = 0;
    GetMediaHandlerDescription(GetTrackMedia(tracks[k]), &type, nullptr, nullptr);
    Track c = NewMovieTrack(dest, w, h, kNoVolume);
    Media cm = NewTrackMedia(c, type, scale, nullptr, 0);
    EXPECT_NE(cm, nullptr);
    if (copyMedia) {
      EXPECT_EQ(BeginMediaEdits(cm), noErr);
    }
    EXPECT_EQ(CopyTrackSettings(tracks[k], c), noErr);
    EXPECT_EQ(InsertTrackSegment(tracks[k], c, 0, r.effectDuration, 0), noErr);
    if (copyMedia) {
      EXPECT_EQ(EndMediaEdits(cm), noErr);
    }
    copies.push_back(c);
  }
  Track fx = NewMovieTrack(dest, r.fxWidth, r.fxHeight, kNoVolume);
  Media fxm = NewTrackMedia(fx, VideoMediaType, scale, nullptr, 0);
  QTAtomContainer sample = nullptr;
  QTNewAtomContainer(&sample);
  uint32_t v = be('dslv');
  QTInsertChild(sample, kParentAtomIsContainer, 'what', 1, 0, 4, &v, nullptr);
  ImageDescriptionHandle desc = mt::imageDescription('dslv', (short)(r.fxWidth >> 16), (short)(r.fxHeight >> 16));
  EXPECT_EQ(BeginMediaEdits(fxm), noErr);
  TimeValue sampleTime = -1;
  EXPECT_EQ(AddMediaSample(fxm, sample, 0, (unsigned long)GetHandleSize(sample), r.effectDuration,
                           (SampleDescriptionHandle)desc, 1, 0, &sampleTime),
            noErr);
  EXPECT_EQ(EndMediaEdits(fxm), noErr);
  QTDisposeAtomContainer(sample);
  DisposeHandle((Handle)desc);
  EXPECT_EQ(InsertMediaIntoTrack(fx, 0, sampleTime, r.effectDuration, fixed1), noErr);
  QTAtomContainer map = nullptr;
  QTNewAtomContainer(&map);
  for (size_t k = 0; k < copies.size(); ++k) {
    long index = 0;
    AddTrackReference(fx, copies[k], kTrackReferenceModifier, &index);
    QTAtom input = 0;
    QTInsertChild(map, kParentAtomIsContainer, kTrackModifierInput, index, 0, 0, nullptr, &input);
    uint32_t vide = be('vide'), name = be(k == 0 ? 'srcA' : 'srcB');
    QTInsertChild(map, input, kTrackModifierType, 1, 0, 4, &vide, nullptr);
    QTInsertChild(map, input, 'dtst', 1, 0, 4, &name, nullptr);
  }
  if (!copies.empty()) SetMediaInputMap(fxm, map);
  QTDisposeAtomContainer(map);
  short resId = movieInDataForkResID;
  static const unsigned char kName[] = "\x07Movie 1";
  EXPECT_EQ(AddMovieResource(dest, ref, &resId, kName), noErr);
  EXPECT_EQ(CloseMovieFile(ref), noErr);
  for (Movie m : movies) DisposeMovie(m);
  DisposeMovie(dest);
  return r;
}

const std::string kA = "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mjpeg";
const std::string kB = "-f lavfi -i testsrc2=size=200x90:rate=30 -t 1.5 -c:v libx264 -pix_fmt yuv420p -video_track_timescale 90000";

TEST(EffectMovie, TwoSourcesCopied) {
  std::string dir = vt_test::tempDir("fx-copy");
  std::string a = vt_test::fixture("fx_a.mov", kA);
  // Source B: a movie of time scale 600 (A's is 1000).
  std::string b = dir + "/b600.mov";
  {
    Movie m = mt::open(vt_test::fixture("fx_b.mov", kB));
    ASSERT_NE(m, nullptr);
    SetMovieTimeScale(m, 600);
    FSSpec s = mt::spec(b);
    Movie f = FlattenMovieData(m, flattenAddMovieToDataFork, &s, 'TVOD', smSystemScript, 0);
    ASSERT_NE(f, nullptr);
    DisposeMovie(f);
    DisposeMovie(m);
  }
  Result r = construct({a, b}, true, dir + "/fx.mov");
  EXPECT_EQ(r.fxWidth, 200 << 16);
  EXPECT_EQ(r.fxHeight, 120 << 16);
  // A's larger scale wins; the effect lasts as long as the shorter source.
  EXPECT_EQ(r.effectDuration, 1500);
  Movie m = mt::open(r.path);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieTrackCount(m), 3);
  Track fx = GetMovieIndTrack(m, 3);
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 1), GetMovieIndTrack(m, 1));
  EXPECT_EQ(GetTrackReference(fx, kTrackReferenceModifier, 2), GetMovieIndTrack(m, 2));
  for (long i = 1; i <= 3; ++i)
    EXPECT_NEAR((double)GetTrackDuration(GetMovieIndTrack(m, i)) / GetMovieTimeScale(m), 1.5, 0.01) << i;
  Fixed w, h;
  GetTrackDimensions(GetMovieIndTrack(m, 2), &w, &h);
  EXPECT_EQ(w, 200 << 16);
  EXPECT_EQ(h, 90 << 16);
  DisposeMovie(m);
  std::string probe = mt::ffprobe("-show_entries stream=codec_tag_string,width,height -of compact '" + r.path + "'");
  EXPECT_NE(probe.find("codec_tag_string=jpeg|width=160|height=120"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=avc1|width=200|height=90"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=dslv|width=200|height=120"), std::string::npos) << probe;
  // The copies hold the sources' first frames, in the new file.
  std::string fa = mt::framemd5(a), fc = mt::framemd5(r.path, "0:v:0");
  EXPECT_EQ(std::count(fc.begin(), fc.end(), '\n'), 38);  // 1.5 s of 25 fps, rounded up
  EXPECT_EQ(fa.substr(0, fc.size()), fc);
  std::string fb = mt::framemd5(b), fd = mt::framemd5(r.path, "0:v:1");
  EXPECT_EQ(fb, fd);
  // The sources were not written (their time scale change lived in memory only).
  Movie again = mt::open(b);
  EXPECT_EQ(GetMovieTimeScale(again), 600);
  DisposeMovie(again);
}

TEST(EffectMovie, OneSourceReferenced) {
  std::string dir = vt_test::tempDir("fx-ref");
  std::string a = dir + "/a.mov";
  std::filesystem::copy_file(vt_test::fixture("fx_a.mov", kA), a);
  Result r = construct({a}, false, dir + "/fx.mov");
  EXPECT_EQ(r.effectDuration, 2000);  // 2 s at the source's scale of 1000
  EXPECT_LT(std::filesystem::file_size(r.path), 10000u);
  Movie m = mt::open(r.path);
  ASSERT_NE(m, nullptr);
  VTTrack* copy = GetMovieIndTrack(m, 1);
  ASSERT_EQ(copy->media->dataRefs.size(), 1u);
  EXPECT_FALSE(copy->media->dataRefs[0].self());
  EXPECT_EQ(std::filesystem::path(copy->media->dataRefs[0].path).filename(), "a.mov");
  // While the effect movie is open, the source cannot be replaced through the movie layer.
  FSSpec as = mt::spec(a);
  short ref = 0;
  Movie replaced = nullptr;
  EXPECT_EQ(CreateMovieFile(&as, 'TVOD', smSystemScript, (long)createMovieFileDeleteCurFile, &ref, &replaced), fBsyErr);
  DisposeMovie(m);
}

TEST(EffectMovie, NoSource) {
  std::string dir = vt_test::tempDir("fx-none");
  Result r = construct({}, true, dir + "/fx.mov");
  EXPECT_EQ(r.effectDuration, 6000);
  Movie m = mt::open(r.path);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieTrackCount(m), 1);
  EXPECT_EQ(GetMovieDuration(m), 6000);
  Track fx = GetMovieIndTrack(m, 1);
  EXPECT_EQ(GetNextTrackReferenceType(fx, 0), 0u);
  QTAtomContainer map = nullptr;
  ASSERT_EQ(GetMediaInputMap(GetTrackMedia(fx), &map), noErr);
  EXPECT_EQ(QTCountChildren(map, kParentAtomIsContainer), 0);
  QTDisposeAtomContainer(map);
  DisposeMovie(m);
  std::string probe = mt::ffprobe("-show_entries stream=codec_tag_string,duration -of compact '" + r.path + "'");
  EXPECT_NE(probe.find("codec_tag_string=dslv|duration=10.000000"), std::string::npos) << probe;
}

}  // namespace
