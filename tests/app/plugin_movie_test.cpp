// Effect movies made with a frei0r plugin: what is saved, reopened and exported is what the
// effects dialog previews, and the movie still opens where the plugin is missing.
#include "app_fixture.h"
#include "effects/description.h"
#include "effects/render_api.h"
#include "fixtures.h"
#include "movies.h"

namespace {

int largestDifference(const vt::Image& x, const vt::Image& y) {
  if (x.width != y.width || x.height != y.height) return 256;
  int most = 0;
  for (size_t i = 0; i < x.pixels.size(); ++i)
    for (int s = 0; s < 24; s += 8)
      most = std::max(most,
                      std::abs((int)((x.pixels[i] >> s) & 255) - (int)((y.pixels[i] >> s) & 255)));
  return most;
}

}  // namespace

TEST_F(AppTest, PluginMoviesExportAsPreviewedAndOpenWithoutThePlugin) {
  const auto* mixer = vt::effects::findPlugin("xfade0r");
  ASSERT_NE(mixer, nullptr) << "frei0r-plugins is installed by scripts/install-deps.sh";
  const std::string a =
      vt_test::fixture("plugin_a.mov", "-f lavfi -i testsrc2=size=160x120:rate=10 -t 1 -c:v mpeg4");
  const std::string b = vt_test::fixture(
      "plugin_b160.mov", "-f lavfi -i smptebars=size=160x120:rate=10 -t 1 -c:v mpeg4");
  const std::string movie = tempDir_ + "/mix.mov", frames = tempDir_ + "/frames";
  std::string log;
  ASSERT_EQ(vt_test::run(Tool("vantrel-make") + " --effect xfade0r --param fader=0.3 --copy '" + a +
                             "' '" + b + "' -o '" + movie + "' --export '" + frames + "' 2>&1",
                         &log),
            0)
      << log;

  // The preview draws the dialog's description on the sources' first frames.
  const vt::Image srcA = FrameOf(a, tempDir_ + "/a0.png"), srcB = FrameOf(b, tempDir_ + "/b0.png");
  const auto sample =
      vt::effects::buildDescription(*mixer, true, {{mixer->params[0].code, {0.3, 0, 0}}});
  vt::Image preview(srcA.width, srcA.height);
  ASSERT_TRUE(vt::effects::renderEffectSample(sample.data(), sample.size(), 0, 600, {&srcA, &srcB},
                                              preview));

  vt::Image exported;
  ASSERT_TRUE(vt::readPNG((frames + "/frame-000001.png").c_str(), exported));
  EXPECT_LE(largestDifference(exported, preview), 2);
  EXPECT_LE(largestDifference(FrameOf(movie, tempDir_ + "/reopened.png"), preview), 2);
  EXPECT_GT(largestDifference(preview, srcA), 20) << "the plugin changed the picture";

  // Without the plugin the movie opens and draws source A; a copy made there keeps the effect.
  EXPECT_LE(
      largestDifference(FrameOf(movie, tempDir_ + "/missing.png", "0", "FREI0R_PATH= "), srcA), 2);
  const std::string flat = tempDir_ + "/flat.mov";
  ASSERT_EQ(
      vt_test::run("FREI0R_PATH= " + Tool("movie-flatten") + " '" + movie + "' '" + flat + "'"), 0);
  EXPECT_LE(largestDifference(FrameOf(flat, tempDir_ + "/flat.png"), preview), 2)
      << "the description survived the copy made without the plugin";
}

namespace {

// The bytes of the movie's plugin effect sample, empty when it has none.
std::string pluginSample(const std::string& path) {
  Movie m = vt_test::openMovie(path);
  std::string bytes;
  for (long i = 1; m && i <= GetMovieTrackCount(m) && bytes.empty(); ++i) {
    Handle sample = NewHandle(0);
    ImageDescriptionHandle desc = (ImageDescriptionHandle)NewHandle(0);
    long size = 0;
    if (GetMediaSample(GetTrackMedia(GetMovieIndTrack(m, i)), sample, 0, &size, 0, nullptr, nullptr,
                       (SampleDescriptionHandle)desc, nullptr, 1, nullptr, nullptr) == noErr &&
        (**desc).cType == (CodecType)vt::effects::kPluginEffectType)
      bytes.assign(*sample, (size_t)size);
    DisposeHandle(sample);
    DisposeHandle((Handle)desc);
  }
  if (m) DisposeMovie(m);
  return bytes;
}

}  // namespace

// A movie whose plugin no machine has (its name changed in the file): edited and saved in
// place, it keeps the effect exactly as it was, and still draws source A.
TEST_F(AppTest, AMovieWithAMissingPluginSavedInPlaceKeepsItsEffect) {
  const std::string a =
      vt_test::fixture("plugin_a.mov", "-f lavfi -i testsrc2=size=160x120:rate=10 -t 1 -c:v mpeg4");
  const std::string b = vt_test::fixture(
      "plugin_b160.mov", "-f lavfi -i smptebars=size=160x120:rate=10 -t 1 -c:v mpeg4");
  const std::string movie = tempDir_ + "/unknown.mov";
  ASSERT_EQ(vt_test::run(Tool("vantrel-make") + " --effect xfade0r --param fader=0.3 --copy '" + a +
                         "' '" + b + "' -o '" + movie + "'"),
            0);
  std::string bytes = vt_test::readFile(movie);
  size_t renamed = 0;
  for (size_t at = 0; (at = bytes.find("xfade0r", at)) != std::string::npos; ++renamed)
    bytes.replace(at, 7, "xfade9r");
  ASSERT_GT(renamed, 0u);
  vt_test::writeFile(movie, bytes);
  const std::string before = pluginSample(movie);
  ASSERT_NE(before.find("xfade9r"), std::string::npos);

  WindowReference w = OpenMovieFile(movie);
  ASSERT_NE(w, nullptr);
  Movie m = Record(w).fMovie;
  SetMovieSelection(m, 0, GetMovieDuration(m) / 2);
  ClearMovieSelection(m);
  Record(w).fIsDirty = true;
  ASSERT_TRUE(QTFrame_UpdateMovieFile(w));

  ASSERT_NE(vt_test::readFile(movie), bytes) << "the edit was saved";
  EXPECT_EQ(pluginSample(movie), before);
  EXPECT_LE(largestDifference(FrameOf(movie, tempDir_ + "/saved.png"),
                              FrameOf(a, tempDir_ + "/a5.png", "0.5")),
            2)
      << "the saved movie opens and draws source A where the effect was";
}
