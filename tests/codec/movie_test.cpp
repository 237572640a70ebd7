// Movies through the toolbox: movie files of many codecs, foreign containers and still images
// opened with NewMovieFromFile, their pictures checked against ffmpeg's decode; the movie-frame
// tool: the picture of a movie at a time, or one line saying why not.
#include <QuickTimeComponents.h>

#include "helpers.h"

using namespace codec_test;

namespace {

// A movie file made by ffmpeg, and the frames (in display order) to compare.
struct MovFixture {
  const char* name;
  std::string args;
  std::vector<int> frames;
};

void checkTrackFrames(const MovFixture& f) {
  std::string path = vt_test::fixture(f.name, kSrc + f.args);
  OSErr err;
  Movie m = openMovie(path, &err);
  ASSERT_NE(m, nullptr) << f.name << " error " << err;
  Track t = GetMovieIndTrackType(m, 1, VideoMediaType, movieTrackMediaType);
  ASSERT_NE(t, nullptr) << f.name;
  // At the middle of each frame (all last as long), so rounding cannot pick a neighbour.
  const double frame = (double)GetTrackDuration(t) / GetMediaSampleCount(GetTrackMedia(t));
  for (int n : f.frames) {
    vt::Image img = takePict(GetTrackPict(t, (TimeValue)std::llround((n + 0.5) * frame)));
    ASSERT_FALSE(img.empty()) << f.name << " frame " << n << " error " << GetMoviesError();
    vt::Image ref = referenceFrame(path, n, img.width, img.height);
    EXPECT_GE(psnr(img, ref), 40.0) << f.name << " frame " << n;
  }
  DisposeMovie(m);
}

}  // namespace

TEST(MovieFileDecode, CodecsAndPalettesMatchFfmpeg) {
  const MovFixture fixtures[] = {
      {"avc_bframes.mov",
       "320x240:rate=25 -t 2 -c:v libx264 -bf 3 -g 15 -pix_fmt yuv420p",
       {0, 1, 2, 16, 30, 49, 3}},
      {"hevc.mp4",
       "256x144:rate=25 -t 1 -c:v libx265 -x265-params log-level=error -tag:v hvc1 -pix_fmt "
       "yuv420p",
       {0, 12, 24}},
      {"mp4v.mov", "176x144:rate=15 -t 1 -c:v mpeg4 -q:v 2", {0, 7, 14}},
      {"mjpeg_odd.mov", "162x98:rate=10 -t 1 -vf scale=161:97 -c:v mjpeg -q:v 2", {0, 5, 9}},
      {"png_odd.mov", "100x52:rate=5 -t 1 -vf scale=99:51 -c:v png", {0, 4}},
      {"raw24_odd.mov", "66x34:rate=5 -t 1 -vf scale=65:33 -c:v rawvideo -pix_fmt rgb24", {0, 3}},
      {"uyvy.mov", "64x32:rate=5 -t 1 -c:v rawvideo -pix_fmt uyvy422", {1, 4}},
      {"qtrle_odd.mov", "76x42:rate=5 -t 1 -vf scale=75:41 -c:v qtrle", {0, 2, 4}},
      {"prores.mov", "128x72:rate=5 -t 1 -c:v prores_ks -profile:v 2", {0, 3}},
      {"cinepak.mov", "96x64:rate=5 -t 1 -c:v cinepak", {0, 4}},
      {"svq1.mov", "160x120:rate=10 -t 1 -c:v svq1", {0, 6, 9}},
      // Its samples all claim to be sync samples though later ones only patch the previous frame:
      // stepping forward must carry on with the decoder rather than start afresh.
      {"rpza.mov", "64x48:rate=10 -t 1 -c:v rpza", {0, 1, 2, 3, 4, 5}},
      {"smc.mov", "64x48:rate=10 -t 1 -vf format=pal8 -c:v smc", {0, 7}},
      {"raw8.mov", "64x48:rate=10 -t 1 -vf format=pal8 -c:v rawvideo", {2}},
      {"dv.mov", "720x480:rate=30000/1001 -t 0.3 -pix_fmt yuv411p -c:v dvvideo", {0, 5}},
      {"yuv2.mov", "64x48:rate=10 -t 1 -c:v rawvideo -pix_fmt yuyv422 -tag:v yuv2", {3}},
      {"mjpa.mov", "64x48:rate=10 -t 1 -c:v mjpeg -tag:v mjpa", {0, 8}},
  };
  for (const auto& f : fixtures) checkTrackFrames(f);
}

TEST(ForeignMovies, OpenWithTheirDurationAndFrameCount) {
  const struct {
    const char* name;
    double seconds;
    long frames;
  } cases[] = {
      {"imp.mkv", 2.0, 50}, {"imp.webm", 3.0, 30}, {"imp.avi", 2.0, 30},
      {"imp.ts", 2.0, 50},  {"imp.gif", 2.0, 20},
  };
  for (const auto& c : cases) {
    std::string path = foreign(c.name);
    OSErr err;
    Movie m = openMovie(path, &err);
    ASSERT_NE(m, nullptr) << c.name << " error " << err;
    EXPECT_NEAR((double)GetMovieDuration(m) / GetMovieTimeScale(m), c.seconds, 0.05) << c.name;
    Track t = GetMovieIndTrackType(m, 1, VideoMediaType, movieTrackMediaType);
    ASSERT_NE(t, nullptr) << c.name;
    EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(t)), c.frames) << c.name;
    // What a window would show at the middle of frame 7, at the size ffmpeg decodes.
    vt::Image img = takePict(GetMoviePict(
        m, (TimeValue)std::llround(7.5 * GetMovieTimeScale(m) * c.seconds / c.frames)));
    EXPECT_GE(psnr(img, referenceFrame(path, 7, img.width, img.height)), 40.0) << c.name;
    DisposeMovie(m);
  }
}

TEST(ForeignMovies, ImportedFileIsBusyWhileTheMovieLives) {
  std::string path = vt_test::writeFile(vt_test::tempDir("busy") + "/copy.avi",
                                        vt_test::readFile(foreign("imp.avi")));
  Movie m = openMovie(path);
  ASSERT_NE(m, nullptr);
  FSSpec spec;
  ASSERT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), noErr);
  EXPECT_EQ(FSpDelete(&spec), fBsyErr);
  DisposeMovie(m);
  EXPECT_EQ(FSpDelete(&spec), noErr);
}

TEST(Toolbox, ExitMoviesStopsImportingAndEnterMoviesCanBeMadeToFail) {
  std::string path = foreign("imp.avi");
  ExitMovies();
  EXPECT_EQ(openMovie(path), nullptr);
  VTSetEnterMoviesResult(memFullErr);
  EXPECT_EQ(EnterMovies(), memFullErr);
  VTSetEnterMoviesResult(noErr);
  ASSERT_EQ(EnterMovies(), noErr);
  Movie m = openMovie(path);
  EXPECT_NE(m, nullptr);
  DisposeMovie(m);
}

namespace {

const std::string kTool = std::string(VT_BINARY_DIR) + "/tools/movie-frame/movie-frame";

int runTool(const std::string& args, std::string* output) {
  return vt_test::run("'" + kTool + "' " + args + " 2>&1", output);
}

}  // namespace

// A movie file and an imported one, both at 25 fps.
TEST(MovieFrameTool, WritesWhatFfmpegDecodes) {
  std::string dir = vt_test::tempDir("movieframe");
  for (auto [src, frame] : {std::pair{avcBFrames(), 17}, {foreign("imp.ts"), 7}}) {
    std::string png = dir + "/" + std::to_string(frame) + ".png", out;
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", (frame + 0.5) / 25);  // mid-frame
    ASSERT_EQ(runTool("'" + src + "' --time " + t + " -o '" + png + "'", &out), 0) << out;
    vt::Image img;
    ASSERT_TRUE(vt::readPNG(png.c_str(), img));
    EXPECT_GE(psnr(img, referenceFrame(src, frame, img.width, img.height)), 40.0) << src;
  }
}

TEST(MovieFrameTool, BadInputGivesStatusAndOneLine) {
  std::string dir = vt_test::tempDir("movieframe-bad");
  std::string text = vt_test::writeFile(dir + "/text.mov", "no movie here\n");
  std::string mov = codec_test::avcBFrames();
  for (const std::string& args : {"'" + text + "' --time 0 -o '" + dir + "/a.png'",
                                  "'" + dir + "/missing.mov' --time 0 -o '" + dir + "/b.png'",
                                  "'" + mov + "' --time 50 -o '" + dir + "/c.png'",
                                  "'" + mov + "' --time 0 -o '/nonexistent-dir/x.png'"}) {
    std::string out;
    EXPECT_NE(runTool(args, &out), 0) << args;
    ASSERT_FALSE(out.empty()) << args;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line: " << out;
  }
  std::string out;
  EXPECT_NE(runTool("--time 1", &out), 0);  // usage
}
