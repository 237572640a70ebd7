// Files written by ffmpeg: reading them, copying their tracks, referring to them; movie-info and
// movie-flatten against what ffprobe sees of the same files.
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "helpers.h"
#include "model/model.h"

namespace {

using mt::kVideo;

struct Case {
  const char* name;
  std::string args;
  OSType format;
};
constexpr int kFrames = 50;  // 2 s at 25 fps

std::vector<Case> cases() {
  return {
      {"mv_h264_aac.mov", mt::kH264Aac, 'avc1'},
      {"mv_mpeg4.mp4", kVideo + "-c:v mpeg4", 'mp4v'},
      {"mv_mjpeg.mov", kVideo + "-c:v mjpeg", 'jpeg'},
      {"mv_png.mov", kVideo + "-c:v png", 'png '},
      {"mv_raw.mov", kVideo + "-c:v rawvideo -pix_fmt rgb24", 'raw '},
      {"mv_h264.m4v", kVideo + "-c:v libx264 -pix_fmt yuv420p -f mp4", 'avc1'},
      {"mv_pcm.mov", kVideo + mt::kSound + "-c:v mjpeg -c:a pcm_s16le", 'jpeg'},
  };
}

Track firstVideo(Movie m) {
  return GetMovieIndTrackType(m, 1, kCharacteristicCanSendVideo,
                              movieTrackCharacteristic | movieTrackEnabledOnly);
}

TEST(MovieFixtures, ReadsWhatFfmpegWrites) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    Movie m = mt::openMovie(vt_test::fixture(c.name, c.args));
    ASSERT_NE(m, nullptr);
    Track v = firstVideo(m);
    ASSERT_NE(v, nullptr);
    Media md = GetTrackMedia(v);
    EXPECT_EQ(GetMediaSampleCount(md), kFrames);
    Fixed w, h;
    GetTrackDimensions(v, &w, &h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(160 << 16, 120 << 16));
    // Two seconds, whatever the time scale.
    EXPECT_NEAR((double)GetTrackDuration(v) / GetMovieTimeScale(m), 2.0, 0.05);
    Handle scratch = NewHandle(0);  // the description, then the samples
    GetMediaSampleDescription(md, 1, scratch);
    EXPECT_EQ((*(ImageDescriptionHandle)scratch)->cType, c.format);
    EXPECT_EQ((*(ImageDescriptionHandle)scratch)->width, 160);
    Track s = GetMovieIndTrackType(m, 1, AudioMediaCharacteristic, movieTrackCharacteristic);
    EXPECT_EQ(s != nullptr, c.args.find("sine") != std::string::npos);
    if (s) {
      Handle sd = NewHandle(0);
      GetMediaSampleDescription(GetTrackMedia(s), 1, sd);
      EXPECT_GE(GetHandleSize(sd), 36);
      EXPECT_EQ((*(SoundDescriptionHandle)sd)->numChannels, 1);
      DisposeHandle(sd);
    }
    // Every sample of the video track reads by time. Only intra-only formats make each a key
    // frame; B-frames bring composition offsets and one edit that skips the decoder delay.
    TimeValue t = 0;
    int syncs = 0;
    for (int i = 0; i < kFrames; ++i) {
      TimeValue st = 0, dur = 0;
      short flags = 0;
      ASSERT_EQ(GetMediaSample(md, scratch, 0, nullptr, t, &st, &dur, nullptr, nullptr, 1, nullptr,
                               &flags),
                noErr);
      syncs += !(flags & mediaSampleNotSync);
      t = st + dur;
    }
    VTTrack* tr = v;
    EXPECT_TRUE(tr->media->sampleInfo(0).sync);
    EXPECT_EQ(syncs < kFrames, c.format == 'avc1' || c.format == 'mp4v');
    EXPECT_EQ(tr->media->samples.hasCompositionOffsets(), c.format == 'avc1');
    EXPECT_EQ(tr->edits.size() == 1 && tr->edits[0].mediaTime > 0, c.format == 'avc1');
    DisposeHandle(scratch);
    DisposeMovie(m);
  }
}

// A stream that starts late: its first frame shows at that time, not before.
TEST(MovieFixtures, ALateStreamShowsNothingBeforeItStarts) {
  Movie m =
      mt::openMovie(vt_test::fixture("mv_late.mp4", kVideo + "-c:v mjpeg -output_ts_offset 0.5"));
  ASSERT_NE(m, nullptr);
  Track tr = firstVideo(m);
  TimeValue first = 0;
  GetTrackNextInterestingTime(tr, nextTimeMediaSample | nextTimeEdgeOK, 0, fixed1, &first, nullptr);
  EXPECT_NEAR((double)first / GetMovieTimeScale(m), 0.5, 0.02);
  DisposeMovie(m);
}

// Copies the first video track of `src` into a new movie file, copying or referring.
std::string copyTrack(const std::string& src, const std::string& out, bool copyData,
                      TimeValue durationSeconds10ths) {
  Movie sm = mt::openMovie(src);
  EXPECT_NE(sm, nullptr);
  if (!sm) return "";
  Track st = firstVideo(sm);
  if (GetMovieTimeScale(sm) < 600) SetMovieTimeScale(sm, 600);
  TimeScale scale = GetMovieTimeScale(sm);
  FSSpec s = mt::spec(out);
  short ref = 0;
  Movie dm = nullptr;
  EXPECT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript,
                            (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile),
                            &ref, &dm),
            noErr);
  CopyMovieSettings(sm, dm);
  Fixed w, h;
  GetTrackDimensions(st, &w, &h);
  Track dt = NewMovieTrack(dm, w, h, kNoVolume);
  Media dmd = NewTrackMedia(dt, VideoMediaType, scale, nullptr, 0);
  if (copyData) BeginMediaEdits(dmd);
  EXPECT_EQ(CopyTrackSettings(st, dt), noErr);
  EXPECT_EQ(InsertTrackSegment(st, dt, 0, scale * durationSeconds10ths / 10, 0), noErr);
  if (copyData) EndMediaEdits(dmd);
  short resId = movieInDataForkResID;
  EXPECT_EQ(AddMovieResource(dm, ref, &resId, nullptr), noErr);
  CloseMovieFile(ref);
  DisposeMovie(sm);
  DisposeMovie(dm);
  return out;
}

TEST(MovieFixtures, CopiedTracksDecodeLikeTheirSource) {
  std::string dir = vt_test::tempDir("movie-copy");
  for (int k : {0, 2, 3}) {
    const Case c = cases()[k];
    SCOPED_TRACE(c.name);
    std::string src = vt_test::fixture(c.name, c.args), a = mt::framemd5(src);
    ASSERT_EQ(std::count(a.begin(), a.end(), '\n'), 50);
    // All of it, and half of it (a segment starting on a key frame): other readers see one video
    // track (no sound) with the source's first frames, its data in the new file.
    for (int tenths : {20, 10}) {
      std::string out = copyTrack(src, dir + "/" + std::to_string(tenths) + c.name, true, tenths);
      EXPECT_EQ(mt::ffprobe("-show_entries stream=codec_type -of csv=p=0 '" + out + "'"),
                "video\n");
      std::string probe = mt::ffprobe("-show_entries format=duration -of compact '" + out + "'");
      EXPECT_NEAR(std::atof(probe.substr(probe.find('=') + 1).c_str()), tenths / 10.0, 0.05);
      std::string b = mt::framemd5(out);
      EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), tenths * 5 / 2);
      EXPECT_EQ(a.substr(0, b.size()), b);
      EXPECT_GT(std::filesystem::file_size(out), std::filesystem::file_size(src) * tenths / 60);
    }
  }
}

TEST(MovieFixtures, ReferencedTracksReadTheSourceFile) {
  std::string dir = vt_test::tempDir("movie-ref");
  std::string fixture = vt_test::fixture(cases()[2].name, cases()[2].args);
  std::string src = dir + "/source.mov";
  std::filesystem::copy_file(fixture, src);
  std::string out = copyTrack(src, dir + "/refers.mov", false, 20);
  // Only the movie atom is in the new file.
  EXPECT_LT(std::filesystem::file_size(out), 8000u);
  auto samplesOf = [](const std::string& path, std::vector<std::vector<uint8_t>>& samples) {
    Movie m = mt::openMovie(path);
    ASSERT_NE(m, nullptr);
    VTTrack* t = firstVideo(m);
    ASSERT_NE(t, nullptr);
    for (uint32_t i = 0; i < t->media->sampleCount(); ++i) {
      std::vector<uint8_t> b;
      ASSERT_EQ(t->media->loadSample(i, b), noErr);
      samples.push_back(b);
    }
    DisposeMovie(m);
  };
  std::vector<std::vector<uint8_t>> a, b;
  samplesOf(src, a);
  samplesOf(out, b);
  ASSERT_EQ(a.size(), 50u);
  EXPECT_EQ(a, b);
  // While the referring movie is open, its source is busy.
  Movie m = mt::openMovie(out);
  ASSERT_NE(m, nullptr);
  FSSpec srcSpec = mt::spec(src);
  EXPECT_EQ(DeleteMovieFile(&srcSpec), fBsyErr);
  DisposeMovie(m);
  // Moved together to another folder, the movie still finds its source next to it.
  std::string moved = vt_test::tempDir("movie-ref-moved");
  std::filesystem::rename(src, moved + "/source.mov");
  std::filesystem::rename(out, moved + "/refers.mov");
  std::vector<std::vector<uint8_t>> c;
  samplesOf(moved + "/refers.mov", c);
  EXPECT_EQ(a, c);
  // Without its source the movie opens but its samples cannot be read; flattening says so.
  std::filesystem::remove(moved + "/source.mov");
  m = mt::openMovie(moved + "/refers.mov");
  ASSERT_NE(m, nullptr);
  Handle data = NewHandle(0);
  EXPECT_EQ(mt::sample(GetTrackMedia(firstVideo(m)), 0, data), couldNotResolveDataRef);
  EXPECT_EQ(mt::flatten(m, moved + "/flat.mov"), nullptr);
  EXPECT_EQ(GetMoviesError(), couldNotResolveDataRef);
  EXPECT_FALSE(std::filesystem::exists(moved + "/flat.mov"));
  DisposeHandle(data);
  DisposeMovie(m);
}

using nlohmann::json;

// Runs `tool` on the quoted `files`: its exit status, and its standard output in *out (with
// its standard error when `withErrors`).
int tool(const char* tool, const std::vector<std::string>& files, std::string* out,
         bool withErrors = true) {
  std::string command = std::string("'") + tool + "'";
  for (const std::string& f : files) command += " '" + f + "'";
  out->clear();
  return vt_test::run(command + (withErrors ? " 2>&1" : " 2>/dev/null"), out);
}

json info(const std::string& file, int* status) {
  std::string out;
  *status = tool(MOVIE_INFO, {file}, &out, false);
  return json::parse(out, nullptr, false);
}

TEST(MovieTools, InfoAgreesWithFfprobe) {
  std::string dir = vt_test::tempDir("movie-tools");
  std::string src = vt_test::fixture("mv_h264_aac.mov", mt::kH264Aac);
  std::string ours = dir + "/flat.mov", out;
  ASSERT_EQ(tool(MOVIE_FLATTEN, {src, ours}, &out), 0) << out;
  int rc = -1;
  for (const std::string& file : {src, ours}) {
    SCOPED_TRACE(file);
    json i = info(file, &rc);
    ASSERT_EQ(rc, 0);
    std::string probed = mt::ffprobe("-print_format json -show_streams '" + file + "'");
    json probe = json::parse(probed, nullptr, false);
    ASSERT_EQ(i["tracks"].size(), probe["streams"].size());
    for (size_t k = 0; k < probe["streams"].size(); ++k) {
      const json& s = probe["streams"][k];
      const json& t = i["tracks"][k];
      EXPECT_EQ(t["media"]["sampleDescriptions"][0]["format"], s["codec_tag_string"]);
      EXPECT_EQ(std::to_string(t["media"]["sampleCount"].get<long>()),
                s["nb_frames"].get<std::string>());
      EXPECT_EQ(t["media"]["timeScale"].get<long>(),
                std::stol(s["time_base"].get<std::string>().substr(2)));
      double seconds = t["duration"].get<double>() / i["timeScale"].get<double>();
      EXPECT_NEAR(seconds, std::stod(s["duration"].get<std::string>()), 0.05);
    }
  }
  // The flattened copy holds its data itself: movie atom first, one self reference.
  json flat = info(ours, &rc);
  EXPECT_EQ(flat["movieAtom"]["offset"], 20);
  EXPECT_TRUE(flat["tracks"][0]["media"]["dataRefs"][0]["self"].get<bool>());
  // A handler name that is not UTF-8 prints with a replacement character.
  std::vector<uint8_t> b = mt::readFile(src);
  size_t name = (size_t)(std::search(b.begin(), b.end(), "hdlr", "hdlr" + 4) - b.begin()) + 28;
  ASSERT_LT(name, b.size());
  b[name + 1] = 0xFF;
  mt::writeFile(dir + "/names.mov", b);
  EXPECT_NE(info(dir + "/names.mov", &rc).dump().find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(rc, 0);
}

TEST(MovieTools, BadInputGivesOneLineAndStatus) {
  std::string dir = vt_test::tempDir("movie-tools-bad");
  std::string junk = vt_test::writeFile(dir + "/junk.mov", std::string(100, 'j'));
  std::string out;
  EXPECT_NE(tool(MOVIE_INFO, {}, &out), 0);  // usage
  const std::pair<const char*, std::vector<std::string>> runs[] = {
      {MOVIE_INFO, {junk}},
      {MOVIE_FLATTEN, {dir + "/missing.mov", dir + "/o.mov"}},
      {MOVIE_FLATTEN, {junk, dir + "/o.mov"}}};
  for (const auto& [which, files] : runs) {
    EXPECT_NE(tool(which, files, &out), 0) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/o.mov"));
  // A FIFO is refused at once rather than waited on (the timeout would answer 124).
  ASSERT_EQ(mkfifo((dir + "/fifo.mov").c_str(), 0600), 0);
  EXPECT_EQ(vt_test::run("timeout 20 '" + std::string(MOVIE_INFO) + "' '" + dir + "/fifo.mov' 2>&1",
                         &out),
            1)
      << out;
}

}  // namespace
