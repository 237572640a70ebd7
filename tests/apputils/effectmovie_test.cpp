// Building effect movies from the confirmed effect choice, read back by the movie layer and ffmpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "ComFramework.h"
#include "QTUtilities.h"
#include "VTAutomationNav.h"
#include "Vantrel.h"
#include "fixtures.h"
#include "movies.h"

namespace fs = std::filesystem;

namespace {

using vt_test::openMovie;
const std::string kMJPEG = "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p";

// Puts the atoms the effects dialog writes on OK: the effect code and a tweened percentage.
void writeDialogChoice(QTAtomContainer sample, OSType code, long codeBytes = 4) {
  OSType be = EndianU32_NtoB(code);
  unsigned char buf[8] = {0};
  std::memcpy(buf, &be, 4);
  ASSERT_EQ(QTInsertChild(sample, kParentAtomIsContainer, 'what', 1, 0, codeBytes, buf, nullptr),
            noErr);
}

class EffectMovie : public ::testing::Test {
 protected:
  std::string dir;
  long handlesBefore = 0;

  void SetUp() override {
    ASSERT_EQ(EnterMovies(), noErr);
    dir = vt_test::tempDir("effectmovie");
    VTAutomationNavClearAnswers();
    VTAutomationNavSetTurnLimit(200);
    gCopyMovieMedia = false;
    handlesBefore = VTLiveHandleCount();
  }
  void TearDown() override {
    VTAutomationNavClearAnswers();
    gCopyMovieMedia = false;
  }

  // Opens the sources as the effects dialog's job does, then confirms `code`.
  void startJob(const std::vector<std::string>& sources) {
    gSpecCount = (UInt16)sources.size();
    for (size_t k = 0; k < sources.size(); ++k) {
      gSrcMovies[k] = openMovie(sources[k]);
      ASSERT_NE(gSrcMovies[k], nullptr) << sources[k];
      ASSERT_EQ(QTEffects_GetFirstVideoTrackInMovie(gSrcMovies[k], &gSrcTracks[k]), noErr);
    }
    ASSERT_EQ(QTNewAtomContainer(&gEffectSample), noErr);
    ASSERT_EQ(QTGetEffectsList(&gEffectList, sources.size(), sources.size(), 0), noErr);
  }
  // The whole job: `code` confirmed on `sources`, saved as `name` in the test's folder.
  void make(const std::vector<std::string>& sources, OSType code, const std::string& name,
            bool replace = false) {
    startJob(sources);
    writeDialogChoice(gEffectSample, code);
    VTAutomationNavSaveAs(dir, name, replace);
    QTEffects_RespondToDialogSelection(codecParameterDialogConfirm);
  }

  // The frame checksums ffmpeg decodes from the first video stream of `file`.
  std::string frameHashes(const std::string& file, const std::string& options = "") {
    std::string out;
    vt_test::run("ffmpeg -v error " + options + " -i '" + file +
                     "' -map 0:v:0 -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}'",
                 &out);
    return out;
  }
};

std::string dims(Track t) {
  Fixed w, h;
  GetTrackDimensions(t, &w, &h);
  return std::to_string(w >> 16) + "x" + std::to_string(h >> 16);
}

// The effect track's input map, one "source type" entry per input by ID (asserting a map).
std::vector<std::string> inputs(Track fx) {
  QTAtomContainer map = nullptr;
  EXPECT_EQ(GetMediaInputMap(GetTrackMedia(fx), &map), noErr);
  std::vector<std::string> found{"no input map"};
  if (!map) return found;
  found.clear();
  QTLockContainer(map);
  long n = QTCountChildrenOfType(map, kParentAtomIsContainer, kTrackModifierInput);
  for (long ref = 1; ref <= n; ++ref) {
    QTAtom input = QTFindChildByID(map, kParentAtomIsContainer, kTrackModifierInput, ref, nullptr);
    std::string text;
    for (OSType kind : {(OSType)kEffectDataSourceType, (OSType)kTrackModifierType}) {
      long size = 0;
      Ptr data = nullptr;
      QTGetAtomDataPtr(map, QTFindChildByID(map, input, kind, 1, nullptr), &size, &data);
      text += (text.empty() ? "" : " ") + (data ? std::string(data, size) : "?");
    }
    found.push_back(text);
  }
  QTUnlockContainer(map);
  QTDisposeAtomContainer(map);
  return found;
}

// The pixel in the middle of the movie's picture at `t`, 0xAARRGGBB after a 20-byte header.
uint32_t centre(Movie m, TimeValue t) {
  PicHandle pic = GetMoviePict(m, t);
  if (!pic) {
    ADD_FAILURE() << "no picture at " << t;
    return 0;
  }
  const Rect f = (**pic).picFrame;
  const int w = f.right - f.left, h = f.bottom - f.top;
  uint32_t px;
  std::memcpy(&px, (char*)*pic + 20 + 4 * ((h / 2) * w + w / 2), 4);
  KillPicture(pic);
  return px;
}

// A red A and a blue B of other sizes, rates and lengths.
std::string sourceA() {
  return vt_test::fixture("fx_a_320x240.mov",
                          "-f lavfi -i color=c=red:s=320x240:r=30:d=2 " + kMJPEG);
}
std::string sourceB() {
  return vt_test::fixture("fx_b_400x200.mov",
                          "-f lavfi -i color=c=blue:s=400x200:r=25:d=3 " + kMJPEG);
}

}  // namespace

TEST_F(EffectMovie, TwoCopiedSourcesMakeAWiredCrossFade) {
  gCopyMovieMedia = true;
  make({sourceA(), sourceB()}, 'dslv', "fade.mov");

  EXPECT_EQ(VTAutomationNavLastShown().message, "Save Effect Movie File As:");
  EXPECT_EQ(VTAutomationNavLastShown().proposedName, "untitled.mov");
  EXPECT_EQ(gEffectSample, nullptr);
  EXPECT_EQ(gEffectList, nullptr);
  EXPECT_EQ(gSrcMovies[0], nullptr);
  EXPECT_EQ(gSrcMovies[1], nullptr);

  std::string out = dir + "/fade.mov";
  Movie m = openMovie(out);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(GetMovieTrackCount(m), 3);
  Track copyA = GetMovieIndTrack(m, 1), copyB = GetMovieIndTrack(m, 2), fx = GetMovieIndTrack(m, 3);

  // One time scale, at least 600; the effect lasts as long as the shorter source (2 s).
  TimeScale scale = GetMovieTimeScale(m);
  EXPECT_GE(scale, 600);
  EXPECT_EQ(GetMediaTimeScale(GetTrackMedia(fx)), GetMediaTimeScale(GetTrackMedia(copyA)));
  EXPECT_NEAR((double)GetTrackDuration(fx) / scale, 2.0, 0.05);
  EXPECT_EQ(GetTrackDuration(copyA), GetTrackDuration(fx));
  EXPECT_EQ(GetTrackDuration(copyB), GetTrackDuration(fx));

  // Copies keep their sizes; the effect takes the largest width and the largest height.
  EXPECT_EQ(dims(copyA), "320x240");
  EXPECT_EQ(dims(copyB), "400x200");
  EXPECT_EQ(dims(fx), "400x240");

  // Track references and the input map name A and B.
  ASSERT_EQ(GetTrackReferenceCount(fx, 'ssrc'), 2);
  EXPECT_EQ(GetTrackReference(fx, 'ssrc', 1), copyA);
  EXPECT_EQ(GetTrackReference(fx, 'ssrc', 2), copyB);
  EXPECT_EQ(inputs(fx), (std::vector<std::string>{"srcA vide", "srcB vide"}));

  // The effect sample: the dialog's atoms and the source names; described at the effect's size.
  Handle sample = NewHandle(0);
  long sampleSize = 0;
  ImageDescriptionHandle desc = (ImageDescriptionHandle)NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(fx), sample, 0, &sampleSize, 0, nullptr, nullptr,
                           (SampleDescriptionHandle)desc, nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ((**desc).cType, (CodecType)'dslv');
  EXPECT_EQ((**desc).vendor, (SInt32)'appl');
  EXPECT_EQ((**desc).width, 400);
  EXPECT_EQ((**desc).height, 240);
  EXPECT_EQ((**desc).temporalQuality, 0x200u);
  EXPECT_EQ(QTCountChildrenOfType(sample, kParentAtomIsContainer, 'src '), 2);
  EXPECT_EQ(QTCountChildrenOfType(sample, kParentAtomIsContainer, 'what'), 1);
  DisposeHandle(sample);
  DisposeHandle((Handle)desc);

  // Halfway through, the picture is the even blend of red A and blue B; a quarter of the way
  // in, A still dominates: the order is kept.
  const uint32_t half = centre(m, GetMovieDuration(m) / 2);
  EXPECT_NEAR((int)(half >> 16) & 0xFF, 0x7F, 16) << std::hex << half;
  EXPECT_NEAR((int)half & 0xFF, 0x7F, 16) << std::hex << half;
  EXPECT_LT((int)(half >> 8) & 0xFF, 16) << std::hex << half;
  const uint32_t quarter = centre(m, GetMovieDuration(m) / 4);
  EXPECT_GT((int)(quarter >> 16) & 0xFF, (int)(quarter & 0xFF) + 0x30) << std::hex << quarter;
  DisposeMovie(m);

  // Other programs read it: three video streams, the copies' frames equal to the sources'.
  std::string streams;
  vt_test::run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + out + "'",
               &streams);
  EXPECT_EQ(streams, "video\nvideo\nvideo\n");
  std::string copyHash = frameHashes(out);
  EXPECT_FALSE(copyHash.empty());
  EXPECT_EQ(copyHash, frameHashes(sourceA(), "-t 2"));
}

// A cancelled effects dialog, an effect code not exactly four bytes and no effect at all ask
// for no file; a cancelled save dialog writes none. Each job is released. Then generators,
// time scales and referenced sources.
TEST_F(EffectMovie, JobsThatWriteNothingThenGeneratorsTimeScalesAndReferences) {
  const struct {
    std::vector<std::string> sources;
    long codeBytes;  // 0: no effect chosen
    OSErr answer;
    long saveDialogs;
  } jobs[] = {{{sourceA(), sourceB()}, 4, userCanceledErr, 0},
              {{sourceA()}, 5, codecParameterDialogConfirm, 0},
              {{}, 0, codecParameterDialogConfirm, 0},
              {{sourceA()}, 4, codecParameterDialogConfirm, 1}};
  for (const auto& job : jobs) {
    SCOPED_TRACE(job.codeBytes);
    long dialogs = VTAutomationNavDialogCount();
    startJob(job.sources);
    if (job.codeBytes) writeDialogChoice(gEffectSample, 'dslv', job.codeBytes);
    VTAutomationNavCancelSave();
    QTEffects_RespondToDialogSelection(job.answer);
    EXPECT_EQ(VTAutomationNavDialogCount(), dialogs + job.saveDialogs);
    EXPECT_EQ(gEffectSample, nullptr);
    EXPECT_EQ(gSrcMovies[0], nullptr);
    VTAutomationNavClearAnswers();
  }
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_EQ(VTLiveHandleCount(), handlesBefore);

  // No sources make a ten-second generator at the least time scale; a source's finer time scale
  // becomes the common one, and an existing file is replaced; referenced sources stay outside.
  make({}, 'clou', "cloud.mov");
  Movie m = openMovie(dir + "/cloud.mov");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(GetMovieTrackCount(m), 1);
  Track fx = GetMovieIndTrack(m, 1);
  EXPECT_EQ(dims(fx), "160x120");
  EXPECT_EQ(GetMediaTimeScale(GetTrackMedia(fx)), 600);
  EXPECT_EQ(GetMediaDuration(GetTrackMedia(fx)), 6000);
  EXPECT_EQ(GetTrackReferenceCount(fx, 'ssrc'), 0);
  EXPECT_TRUE(inputs(fx).empty());
  Handle sample = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(fx), sample, 0, nullptr, 0, nullptr, nullptr, nullptr,
                           nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(QTCountChildrenOfType(sample, kParentAtomIsContainer, 'src '), 0);
  DisposeHandle(sample);
  DisposeMovie(m);

  // A source scale above 600 raises the common one, in memory only: sources are never written.
  std::string fine = vt_test::fixture(
      "fx_fine_scale.mov",
      "-f lavfi -i color=c=green:s=160x120:r=30:d=1 -video_track_timescale 90000 " + kMJPEG);
  auto before = fs::last_write_time(fine);
  m = openMovie(fine);
  ASSERT_NE(m, nullptr);
  const TimeScale fineScale = GetMovieTimeScale(m);
  DisposeMovie(m);
  ASSERT_GT(fineScale, 600) << "the source this job needs";
  vt_test::writeFile(dir + "/fx.mov", "old");
  make({fine, sourceA()}, 'dslv', "fx.mov", true);
  EXPECT_EQ(fs::last_write_time(fine), before);
  m = openMovie(dir + "/fx.mov");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(GetMovieTrackCount(m), 3);
  fx = GetMovieIndTrack(m, 3);
  TimeScale ms = GetMediaTimeScale(GetTrackMedia(fx));
  EXPECT_EQ(ms, fineScale);
  EXPECT_EQ(GetMediaTimeScale(GetTrackMedia(GetMovieIndTrack(m, 1))), ms);
  EXPECT_NEAR((double)GetMediaDuration(GetTrackMedia(fx)) / ms, 1.0, 0.05);
  DisposeMovie(m);

  // The same job copying and referring: the referring file is far smaller and still plays.
  make({sourceA()}, 'blur', "ref.mov");
  gCopyMovieMedia = true;
  make({sourceA()}, 'blur', "copy.mov");

  EXPECT_LT(fs::file_size(dir + "/ref.mov") * 4, fs::file_size(dir + "/copy.mov"));

  m = openMovie(dir + "/ref.mov");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(GetMovieTrackCount(m), 2);
  fx = GetMovieIndTrack(m, 2);
  EXPECT_EQ(GetTrackReferenceCount(fx, 'ssrc'), 1);
  EXPECT_EQ(inputs(fx), std::vector<std::string>{"srcA vide"});
  // The referenced copy decodes from the source file.
  PicHandle pic = GetTrackPict(GetMovieIndTrack(m, 1), 0);
  ASSERT_NE(pic, nullptr);
  KillPicture(pic);
  DisposeMovie(m);

  // Other readers (ffmpeg, when allowed to) follow the reference to the source's frames.
  std::string refHash = frameHashes(dir + "/ref.mov", "-enable_drefs 1");
  EXPECT_FALSE(refHash.empty());
  EXPECT_EQ(refHash, frameHashes(sourceA()));
}
