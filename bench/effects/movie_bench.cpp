// A two-source effect movie frame at 1080p: decoding both H.264 sources and the cross fade,
// through GetMoviePict, against one effect render alone (both in the same run). Target:
// 30 frames per second or more.
//
//   effects_movie_bench [WORK_DIR]   (the sources are made there with the ffmpeg command)
#include <Endian.h>
#include <MacMemory.h>
#include <Movies.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "effect_movie.h"
#include "effects/description.h"

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp/vantrel-effects-bench";
  std::system(("mkdir -p '" + dir + "'").c_str());
  const char* colours[2] = {"testsrc2", "mandelbrot"};
  std::string paths[2];
  for (int k = 0; k < 2; ++k) {
    paths[k] = dir + "/src" + std::to_string(k) + ".mov";
    std::string cmd = "test -s '" + paths[k] +
                      "' || ffmpeg -nostdin -y -loglevel error -f lavfi -i " + colours[k] +
                      "=size=1920x1080:rate=30 -t 3 -c:v libx264 -preset ultrafast " +
                      "-pix_fmt yuv420p '" + paths[k] + "'";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "effects_movie_bench: ffmpeg could not make %s\n", paths[k].c_str());
      return 1;
    }
  }
  if (EnterMovies() != noErr) return 1;
  Movie src[2] = {vt_test::openMovie(paths[0]), vt_test::openMovie(paths[1])};
  if (!src[0] || !src[1]) {
    std::fprintf(stderr, "effects_movie_bench: cannot open the sources\n");
    return 1;
  }
  Movie movie = NewMovie(0);
  SetMovieTimeScale(movie, 600);
  Track copies[2];
  TimeValue duration = 0;
  for (int k = 0; k < 2; ++k) {
    SetMovieTimeScale(src[k], 600);
    Track t = GetMovieIndTrackType(src[k], 1, kCharacteristicCanSendVideo,
                                   movieTrackCharacteristic | movieTrackEnabledOnly);
    duration = k == 0 ? GetTrackDuration(t) : std::min(duration, GetTrackDuration(t));
    Fixed w, h;
    GetTrackDimensions(t, &w, &h);
    copies[k] = NewMovieTrack(movie, w, h, kNoVolume);
    NewTrackMedia(copies[k], VideoMediaType, 600, nullptr, 0);
    InsertTrackSegment(t, copies[k], 0, GetTrackDuration(t), 0);  // refers to the source data
  }
  Track fx = NewMovieTrack(movie, 1920 << 16, 1080 << 16, kNoVolume);
  Media media = NewTrackMedia(fx, VideoMediaType, 600, nullptr, 0);
  ImageDescriptionHandle desc = nullptr;
  MakeImageDescriptionForEffect('dslv', &desc);
  (*desc)->width = 1920;
  (*desc)->height = 1080;
  auto bytes = vt::effects::buildDescription('dslv', 2, {{'pcnt', {0, 0, 0}, true, {100, 0, 0}}});
  Handle sample = nullptr;
  PtrToHand(bytes.data(), &sample, (long)bytes.size());
  TimeValue sampleTime = 0;
  BeginMediaEdits(media);
  AddMediaSample(media, sample, 0, bytes.size(), duration, (SampleDescriptionHandle)desc, 1, 0,
                 &sampleTime);
  EndMediaEdits(media);
  InsertMediaIntoTrack(fx, 0, sampleTime, duration, fixed1);
  QTAtomContainer map = nullptr;
  QTNewAtomContainer(&map);
  for (int k = 0; k < 2; ++k) {
    long index = 0;
    AddTrackReference(fx, copies[k], kTrackReferenceModifier, &index);
    QTAtom input = 0;
    QTInsertChild(map, kParentAtomIsContainer, kTrackModifierInput, index, 0, 0, nullptr, &input);
    OSType vide = EndianU32_NtoB(VideoMediaType), name = EndianU32_NtoB(k == 0 ? 'srcA' : 'srcB');
    QTInsertChild(map, input, kTrackModifierType, 1, 0, 4, &vide, nullptr);
    QTInsertChild(map, input, kEffectDataSourceType, 1, 0, 4, &name, nullptr);
  }
  SetMediaInputMap(media, map);
  // Frames in playback order, one per 1/30 s, wall time (decoding runs on its own threads).
  const int frames = 20;
  const TimeValue step = 20;  // 600 / 30
  auto perFrame = [&](Movie m) {
    auto t0 = std::chrono::steady_clock::now();
    int drawn = 0;
    for (int i = 0; i < frames && i * step < duration; ++i) {
      PicHandle p = GetMoviePict(m, i * step);
      if (p) {
        ++drawn;
        DisposeHandle((Handle)p);
      }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return seconds / std::max(1, drawn);
  };
  double one = perFrame(src[0]);
  double both = perFrame(movie);
  std::printf("one 1080p H.264 source through GetMoviePict:           %8.1f ms/frame %6.1f fps\n",
              one * 1e3, 1 / one);
  std::printf(
      "two-source cross fade movie through GetMoviePict:      %8.1f ms/frame %6.1f fps"
      "  (target >= 30 fps: %s)\n",
      both * 1e3, 1 / both, 1 / both >= 30 ? "ok" : "MISSED");
  QTDisposeAtomContainer(map);
  DisposeHandle(sample);
  DisposeHandle((Handle)desc);
  DisposeMovie(movie);
  DisposeMovie(src[0]);
  DisposeMovie(src[1]);
  return 0;
}
