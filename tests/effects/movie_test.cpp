// Effect tracks drawn by the movie layer: a two-source cross fade movie built like the effect
// movie maker builds it, written to a file, opened again and drawn with GetMoviePict.
#include <Endian.h>
#include <MacMemory.h>
#include <Movies.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>
#include <TextUtils.h>
#include <gtest/gtest.h>

#include <string>

#include "core/picture.h"
#include "effects/description.h"
#include "fixtures.h"

namespace {

FSSpec specFor(const std::string& path) {
  FSSpec spec{};
  OSErr err = VTMakeFSSpecFromPath(path.c_str(), &spec);
  EXPECT_TRUE(err == noErr || err == fnfErr) << path << " " << err;
  return spec;
}

Movie openMovie(const std::string& path) {
  FSSpec spec = specFor(path);
  short ref = -1;
  if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) return nullptr;
  Movie m = nullptr;
  short resID = 0;
  OSErr err = NewMovieFromFile(&m, ref, &resID, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  return err == noErr ? m : nullptr;
}

vt::Image pictAt(Movie m, TimeValue t) {
  vt::Image img;
  PicHandle p = GetMoviePict(m, t);
  EXPECT_NE(p, nullptr);
  if (p) {
    EXPECT_TRUE(vt::pictureToImage(p, img));
    DisposeHandle((Handle)p);
  }
  return img;
}

// The mean colour of an image.
std::array<double, 3> mean(const vt::Image& img) {
  std::array<double, 3> m{};
  for (vt::Pixel p : img.pixels) {
    m[0] += vt::pixelR(p);
    m[1] += vt::pixelG(p);
    m[2] += vt::pixelB(p);
  }
  for (double& v : m) v /= std::max<size_t>(1, img.pixels.size());
  return m;
}

// Builds source copies and a cross fade effect track into a new movie file; returns its path.
std::string buildCrossFade(const std::string& dir, const std::string& a, const std::string& b,
                           bool copyMedia) {
  std::string out = dir + (copyMedia ? "/copied.mov" : "/referenced.mov");
  Movie src[2] = {openMovie(a), openMovie(b)};
  EXPECT_TRUE(src[0] && src[1]);
  FSSpec spec = specFor(out);
  short ref = -1;
  Movie dest = nullptr;
  EXPECT_EQ(CreateMovieFile(&spec, 'TVOD', smSystemScript,
                            createMovieFileDeleteCurFile | createMovieFileDontCreateResFile, &ref, &dest),
            noErr);
  TimeScale scale = 600;
  for (Movie m : src) SetMovieTimeScale(m, scale);
  Track srcTrack[2], copy[2];
  TimeValue duration = 0;
  for (int k = 0; k < 2; ++k) {
    srcTrack[k] = GetMovieIndTrackType(src[k], 1, kCharacteristicCanSendVideo,
                                       movieTrackCharacteristic | movieTrackEnabledOnly);
    EXPECT_NE(srcTrack[k], nullptr);
    TimeValue d = GetTrackDuration(srcTrack[k]);
    duration = k == 0 ? d : std::min(duration, d);
  }
  for (int k = 0; k < 2; ++k) {
    Fixed w, h;
    GetTrackDimensions(srcTrack[k], &w, &h);
    copy[k] = NewMovieTrack(dest, w, h, kNoVolume);
    Media media = NewTrackMedia(copy[k], VideoMediaType, scale, nullptr, 0);
    if (copyMedia) {
      EXPECT_EQ(BeginMediaEdits(media), noErr);
    }
    EXPECT_EQ(InsertTrackSegment(srcTrack[k], copy[k], 0, duration, 0), noErr);
    if (copyMedia) {
      EXPECT_EQ(EndMediaEdits(media), noErr);
    }
  }
  Track fx = NewMovieTrack(dest, 64 << 16, 48 << 16, kNoVolume);
  Media fxMedia = NewTrackMedia(fx, VideoMediaType, scale, nullptr, 0);
  ImageDescriptionHandle desc = nullptr;
  EXPECT_EQ(MakeImageDescriptionForEffect('dslv', &desc), noErr);
  (*desc)->width = 64;
  (*desc)->height = 48;
  auto bytes = vt::effects::buildDescription('dslv', 2, {{'pcnt', {0, 0, 0}, true, {100, 0, 0}}});
  Handle sample = nullptr;
  PtrToHand(bytes.data(), &sample, (long)bytes.size());
  TimeValue sampleTime = 0;
  EXPECT_EQ(BeginMediaEdits(fxMedia), noErr);
  EXPECT_EQ(AddMediaSample(fxMedia, sample, 0, bytes.size(), duration, (SampleDescriptionHandle)desc,
                           1, 0, &sampleTime),
            noErr);
  EXPECT_EQ(EndMediaEdits(fxMedia), noErr);
  EXPECT_EQ(InsertMediaIntoTrack(fx, 0, sampleTime, duration, fixed1), noErr);
  DisposeHandle(sample);
  DisposeHandle((Handle)desc);
  QTAtomContainer map = nullptr;
  QTNewAtomContainer(&map);
  for (int k = 0; k < 2; ++k) {
    long index = 0;
    EXPECT_EQ(AddTrackReference(fx, copy[k], kTrackReferenceModifier, &index), noErr);
    QTAtom input = 0;
    QTInsertChild(map, kParentAtomIsContainer, kTrackModifierInput, index, 0, 0, nullptr, &input);
    OSType vide = EndianU32_NtoB(VideoMediaType), name = EndianU32_NtoB(k == 0 ? 'srcA' : 'srcB');
    QTInsertChild(map, input, kTrackModifierType, 1, 0, 4, &vide, nullptr);
    QTInsertChild(map, input, kEffectDataSourceType, 1, 0, 4, &name, nullptr);
  }
  EXPECT_EQ(SetMediaInputMap(fxMedia, map), noErr);
  QTDisposeAtomContainer(map);
  short resID = movieInDataForkResID;
  Str255 movieName;
  CopyCStringToPascal("Movie 1", movieName);
  EXPECT_EQ(AddMovieResource(dest, ref, &resID, movieName), noErr);
  CloseMovieFile(ref);
  DisposeMovie(dest);
  for (Movie m : src) DisposeMovie(m);
  return out;
}

}  // namespace

TEST(EffectMovie, CrossFadeTrackDrawsTheMeanOfItsSourcesHalfway) {
  ASSERT_EQ(EnterMovies(), noErr);
  std::string a = vt_test::fixture("fx_red_64x48.mov",
                                   "-f lavfi -i color=c=0xC83C14:size=64x48:rate=10:duration=2 "
                                   "-c:v libx264 -pix_fmt yuv420p");
  std::string b = vt_test::fixture("fx_blue_32x24.mov",
                                   "-f lavfi -i color=c=0x1450C8:size=32x24:rate=10:duration=2 "
                                   "-c:v libx264 -pix_fmt yuv420p");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  Movie ma = openMovie(a), mb = openMovie(b);
  ASSERT_TRUE(ma && mb);
  auto ca = mean(pictAt(ma, GetMovieDuration(ma) / 2));
  auto cb = mean(pictAt(mb, GetMovieDuration(mb) / 2));
  DisposeMovie(ma);
  DisposeMovie(mb);
  std::string dir = vt_test::tempDir("effects_movie");
  for (bool copyMedia : {true, false}) {
    std::string path = buildCrossFade(dir, a, b, copyMedia);
    Movie m = openMovie(path);
    ASSERT_NE(m, nullptr) << path;
    TimeValue d = GetMovieDuration(m);
    ASSERT_GT(d, 0);
    vt::Image mid = pictAt(m, d / 2);
    // The effect track's size, and the mean of A and B (B scaled up) everywhere: neither
    // source track is drawn on its own over the effect.
    ASSERT_EQ(mid.width, 64) << path;
    ASSERT_EQ(mid.height, 48);
    auto cm = mean(mid);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(cm[c], (ca[c] + cb[c]) / 2, 3) << path << " channel " << c;
    for (vt::Pixel p : mid.pixels) ASSERT_NEAR(vt::pixelR(p), (ca[0] + cb[0]) / 2, 6);
    // Near the ends it shows mostly A, then mostly B.
    auto early = mean(pictAt(m, d / 20)), late = mean(pictAt(m, d - d / 20));
    EXPECT_NEAR(early[0], ca[0], 20);
    EXPECT_NEAR(late[0], cb[0], 20);
    DisposeMovie(m);
  }
}

// Frames pasted into an effect movie are drawn where they land, not hidden behind the effect
// (which gets an empty stretch there); the effect goes on after them.
TEST(EffectMovie, PastedFramesShowWhereTheyLand) {
  ASSERT_EQ(EnterMovies(), noErr);
  std::string a = vt_test::fixture("fx_red_64x48.mov", "-f lavfi -i color=c=0xC83C14:size=64x48:rate=10:duration=2 -c:v libx264 -pix_fmt yuv420p");
  std::string b = vt_test::fixture("fx_blue_32x24.mov", "-f lavfi -i color=c=0x1450C8:size=32x24:rate=10:duration=2 -c:v libx264 -pix_fmt yuv420p");
  // Red again, in the time scale of the effect movie's own tracks.
  Movie clip = openMovie(vt_test::fixture("fx_red_600.mov", "-f lavfi -i color=c=0xC83C14:size=64x48:rate=10:duration=2 -c:v libx264 -pix_fmt yuv420p -video_track_timescale 600"));
  Movie m = openMovie(buildCrossFade(vt_test::tempDir("effects_paste"), a, b, true));
  ASSERT_TRUE(m && clip);
  auto red = mean(pictAt(clip, 0));
  TimeValue d = GetMovieDuration(m), at = d / 4;
  SetMovieSelection(clip, 0, GetMovieDuration(clip) / 2);
  SetMovieSelection(m, at, 0);
  Movie part = CopyMovieSelection(clip);
  PasteMovieSelection(m, part);
  TimeValue pasted = GetMovieDuration(m) - d;
  ASSERT_GT(pasted, 0);
  for (TimeValue t : {at, at + pasted - 1})
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(mean(pictAt(m, t))[k], red[k], 6) << t;
  EXPECT_LT(mean(pictAt(m, at + pasted + d / 4))[0], red[0] - 40);  // the fade, halfway
  for (Movie each : {part, clip, m}) DisposeMovie(each);
}
