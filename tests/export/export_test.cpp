// Export of effect movies to standard files: what ffprobe and ffmpeg find in them, and that a
// cancelled or failed export leaves nothing behind.
#include <MacErrors.h>
#include <Movies.h>
#include <TextUtils.h>
#include <VTAutomation.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "effect_movie.h"
#include "export/export.h"
#include "export/progress.h"
#include "fixtures.h"
#include "movie/progress_display.h"

namespace {

namespace ex = vt::exporter;

const std::string kBin = std::string(VT_BINARY_DIR) + "/tools/";

// The two 2 s sources of the effect movies: a test picture and its negative (in b).
std::string sources(std::string& b) {
  const std::string args = "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 ";
  const std::string codec = "-c:v libx264 -bf 2 -g 10 -pix_fmt yuv420p";
  b = vt_test::fixture("export_b.mp4", args + "-vf negate " + codec);
  return vt_test::fixture("export_a.mov", args + codec);
}

int exportTool(const std::string& args, std::string* log = nullptr) {
  return vt_test::run("'" + kBin + "movie-export/movie-export' " + args + " 2>&1", log);
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

using vt_test::probe;

// Average PSNR of `file` (a movie, or an image sequence pattern) against `ref`: frame for frame
// at the same times, or with `byIndex` frame k against frame k whatever their times.
double psnr(const std::string& file, const std::string& ref, bool byIndex = false) {
  const std::string pts = byIndex ? "settb=AVTB,setpts=N," : "";
  std::string log;
  vt_test::run("ffmpeg -nostdin -v info -i '" + file + "' -i '" + ref + "' -lavfi '[0:v]" + pts +
                   "format=yuv420p[a];[1:v]" + pts + "format=yuv420p[b];[a][b]psnr' -f null - 2>&1",
               &log);
  size_t at = log.find("average:");
  return at == std::string::npos ? 0 : std::atof(log.c_str() + at + 8);
}

// The frames' times in seconds, in display order.
std::vector<double> frameTimes(const std::string& file) {
  std::istringstream lines(probe(file, "frame=best_effort_timestamp_time"));
  std::vector<double> times;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) times.push_back(std::atof(line.c_str()));
  return times;
}

}  // namespace

TEST(Export, MoviesBecomeStandardFilesFrameForFrameWithTheirSoundInSync) {
  std::string b, a = sources(b), dir = vt_test::tempDir("export");
  const std::string copy = dir + "/copy.mov", refer = dir + "/refer.mov";
  ASSERT_EQ(vt_test::makeEffectMovie(copy, a, b, 'dslv', 176, 144, true), noErr);
  ASSERT_EQ(vt_test::makeEffectMovie(refer, a, b, 'dslv', 176, 144, false), noErr);
  // A tone that starts at 1 s: where it starts in the output shows the sound is in sync.
  const std::string tone = vt_test::fixture(
      "export_tone.mov",
      "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
      "-af \"volume=enable='lt(t,1)':volume=0\" -t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac");
  const mode_t mask = umask(0);
  umask(mask);
  const struct {
    std::string in, options, render;  // render: movie-render's options for the same frames
    const char *out, *video, *sound;  // ffprobe's codec,width,height,frames and codec,rate
    double duration, toneAt;
  } cases[] = {
      {copy, "", "", "fx.mp4", "h264,176,144,50", "", 0, 0},
      {copy, "--codec prores", "", "fx.mov", "prores,176,144,50", "", 0, 0},
      {refer, "--codec prores --size 320x240", "--size 320x240", "ünïcødé.mov", "prores,320,240,50",
       "", 0, 0},
      {copy, "--codec png", "", "frames", "png,176,144,50", "", 0, 0},
      {refer, "--codec png --from 1.9", "--from 1.9", "tail", "png,176,144,3", "", 0, 0},
      {tone, "", "", "tone.mp4", "h264,176,144,50", "aac,44100", 2.0, 1.0},
      {tone, "--codec prores", "", "tone.mov", "prores,176,144,50", "pcm_s24le,44100", 2.0, 1.0},
      {tone, "--from 0.5 --to 1.5", "--from 0.5 --to 1.5", "cut.mp4", "h264,176,144,25",
       "aac,44100", 1.0, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    std::string out = dir + "/" + c.out, log;
    ASSERT_EQ(exportTool("'" + c.in + "' '" + out + "' " + c.options, &log), 0) << log;
    const bool png = c.options.find("png") != std::string::npos;
    const std::string media = png ? out + "/frame-%06d.png" : out;
    EXPECT_EQ(probe(media, "stream=codec_name,width,height,nb_read_frames"), c.video);
    if (png) {
      EXPECT_EQ(entries(out).front(), "frame-000001.png");
    }
    // Against movie-render's frames of the same range and size.
    std::string ref = dir + "/ref.y4m";
    ASSERT_EQ(vt_test::run("'" + kBin + "movie-render/movie-render' '" + c.in + "' " + c.render +
                           " -o '" + ref + "' 2>&1"),
              0);
    // The reference is the decoded planes themselves; ProRes and PNG frames come from RGB
    // pictures, whose round trip blurs testsrc2's sharp colour edges.
    const bool converted = png || c.options.find("prores") != std::string::npos;
    EXPECT_GE(psnr(media, ref), converted ? 37.0 : 40.0);
    if (!png) {
      EXPECT_EQ(probe(out, "format=duration"), probe(ref, "format=duration"));
    }
    // Permissions as for any new file, not those of a private temporary.
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, (png ? 0777u : 0666u) & ~mask);
    for (const std::string& name : entries(dir))
      EXPECT_NE(name[0], '.') << "a temporary file is left";
    EXPECT_EQ(probe(media, "stream=codec_name,sample_rate", "a"), c.sound);
    if (!*c.sound) continue;
    for (const char* stream : {"a", "v"})
      EXPECT_NEAR(std::atof(probe(out, "stream=duration", stream).c_str()), c.duration, 1 / 25.0);
    std::string detect;
    vt_test::run(
        "ffmpeg -nostdin -i '" + out +
            "' -af silencedetect=noise=-40dB:d=0.1 -f null - 2>&1 | grep -o 'silence_end: [0-9.]*'",
        &detect);
    EXPECT_NEAR(std::atof(detect.c_str() + 13), c.toneAt, 1 / 25.0) << detect;
  }
}

TEST(Export, CancelOrAFullDiskLeavesNothingAndTheOldFileWhole) {
  std::string b, a = sources(b), dir = vt_test::tempDir("export-fail"), fx = dir + "/fx.mov";
  ASSERT_EQ(vt_test::makeEffectMovie(fx, a, b, 'dslv', 176, 144, true), noErr);
  Movie movie = vt_test::openMovie(fx);
  ASSERT_TRUE(movie);
  std::string out = dir + "/out", message;
  vt_test::writeFile(out + ".mp4", "older file");
  int64_t seen = 0;
  const ex::Progress halfway = [&](int64_t done, int64_t total) {
    seen = done;
    return done < total / 2;
  };
  for (auto format : {ex::Format::h264, ex::Format::png}) {
    const std::string path = out + (format == ex::Format::png ? "" : ".mp4");
    seen = 0;
    EXPECT_EQ(ex::exportMovie(movie, path, {.format = format}, halfway, message), userCanceledErr);
    EXPECT_EQ(seen, 25);
    EXPECT_NE(message.find("cancelled"), std::string::npos) << message;
  }
  EXPECT_EQ(vt_test::readFile(out + ".mp4"), "older file");

  // A full disk: ProRes at 1080p passes its size in a dozen frames.
  std::string small = vt_test::tempDir("export-full");
  {
    vt_test::SmallDisk disk(small);
    const ex::Options o{.format = ex::Format::prores, .width = 1920, .height = 1080};
    EXPECT_EQ(ex::exportMovie(movie, small + "/big.mov", o, nullptr, message), dskFulErr);
    EXPECT_NE(message.find("disk is full"), std::string::npos) << message;
    EXPECT_EQ(entries(small), std::vector<std::string>{});
  }
  // Ranges and settings the export cannot honour are refused before anything is written.
  for (const auto& bad :
       {ex::Options{.crf = 52}, ex::Options{.preset = "warp"}, ex::Options{.from = 5}})
    EXPECT_EQ(ex::exportMovie(movie, out + ".mov", bad, nullptr, message), paramErr);
  DisposeMovie(movie);
  // Bad arguments to the tool are refused with one line, and write nothing.
  const std::string in = "'" + fx + "'", x = " '" + dir + "/x.mp4'";
  for (const auto& [args, status] : std::vector<std::pair<std::string, int>>{
           {in + x + " --codec vp9", 2},
           {in + x + " --crf 60", 2},
           {in + x + " --size 0x10", 2},
           {in, 2},
           {in + x + " --from 9", 2},
           {"'" + dir + "/missing.mov'" + x, 1},
           {in + " /nonexistent-dir/x.mp4", 1},
       }) {
    std::string log;
    EXPECT_EQ(exportTool(args, &log), status) << args;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  }
  EXPECT_EQ(entries(dir), (std::vector<std::string>{"fx.mov", "out.mp4"}));
}

TEST(Export, AFileAnOpenMovieReadsIsNeverTheOutput) {
  std::string b, a = sources(b), dir = vt_test::tempDir("export-busy");
  const std::string src = dir + "/keep.mov";
  std::filesystem::copy_file(a, src);
  std::filesystem::create_symlink("keep.mov", dir + "/link.mov");
  std::filesystem::create_hard_link(src, dir + "/hard.mov");
  const std::string before = vt_test::readFile(src);
  Movie movie = vt_test::openMovie(src);
  ASSERT_TRUE(movie);
  // Other spellings of the name are the host-file layer's; here: the file, and another name of it.
  const std::pair<std::string, OSErr> names[] = {{src, fBsyErr}, {dir + "/hard.mov", noErr}};
  for (auto format : {ex::Format::prores, ex::Format::png})
    for (const auto& [name, expected] : names) {
      std::string said;
      EXPECT_EQ(ex::exportMovie(movie, name, {.format = format}, nullptr, said), expected) << name;
      EXPECT_EQ(vt_test::readFile(src), before) << name;
      std::filesystem::remove_all(dir + "/hard.mov");
      std::filesystem::create_hard_link(src, dir + "/hard.mov");
    }
  DisposeMovie(movie);
  // The tools, with names relative to the source's folder; the raw stream is written in place,
  // so not even another hard link may take it.
  const std::string exporter = "'" + kBin + "movie-export/movie-export' keep.mov ";
  const std::string render = "'" + kBin + "movie-render/movie-render' keep.mov -o ";
  for (const std::string& command :
       {exporter + "./keep.mov --codec prores", render + "hard.mov", render + "link.mov"}) {
    std::string log;
    EXPECT_EQ(vt_test::run("cd '" + dir + "' && " + command + " 2>&1", &log), 1) << command;
    EXPECT_NE(log.find("reads"), std::string::npos) << log;
    EXPECT_EQ(vt_test::readFile(src), before) << command;
  }
}

TEST(Export, OfTwoRacingExportsToOneNameExactlyOneSucceeds) {
  std::string b, a = sources(b), dir = vt_test::tempDir("export-race");
  const std::string tool = "'" + kBin + "movie-export/movie-export' '" + a + "' ";
  // Each is made long enough (a large size) that the two overlap however late the second starts.
  for (bool existed : {false, true}) {
    std::string out = dir + "/race.mp4", log, slow = " --size 1920x1080";
    std::filesystem::remove(out);
    if (existed) vt_test::writeFile(out, "older file");
    int ok =
        vt_test::run("(" + tool + "'" + out + "'" + slow + " & p=$!; " + tool + "'" + out + "'" +
                         slow + " & q=$!; wait $p; a=$?; wait $q; echo $a $?) 2>/dev/null",
                     &log);
    ASSERT_EQ(ok, 0);
    EXPECT_TRUE(log == "0 1\n" || log == "1 0\n") << existed << ": " << log;
    EXPECT_EQ(probe(out, "stream=nb_read_frames"), "50");
  }
}

// Every output (movie-render, H.264, ProRes, PNG) holds exactly the source's frames: as many,
// at its exact rate (or at their own times when it has none), frame k showing frame k.
TEST(Export, WritesExactlyTheSourcesFramesAtTheirRate) {
  const std::string dir = vt_test::tempDir("export-rates");
  auto source = [](const std::string& name, const char* rate, int scale) {
    return vt_test::fixture(name, "-f lavfi -i testsrc=size=160x120:rate=" + std::string(rate) +
                                      " -t 1 -c:v libx264 -pix_fmt yuv420p " +
                                      "-video_track_timescale " + std::to_string(scale));
  };
  std::string a = source("rate_a.mov", "30", 15360), b = source("rate_b.mov", "30", 15360);
  const std::string fx = dir + "/fx.mov";
  ASSERT_EQ(vt_test::makeEffectMovie(fx, a, b, 'dslv', 160, 120, true), noErr);
  const struct {
    std::string in;
    const char* rate;  // "" for variable
    int frames;
  } cases[] = {
      {source("rate_30.mov", "30", 1000), "30/1", 30},
      {source("rate_2997.mp4", "30000/1001", 90000), "30000/1001", 30},
      {source("rate_25.mov", "25", 15360), "25/1", 25},
      {source("rate_2398.mov", "24000/1001", 600), "24000/1001", 24},
      {source("rate_60.mov", "60", 1000), "60/1", 60},
      // 30 frames a second for half a second, then 15.
      {vt_test::fixture("rate_vfr.mov",
                        "-filter_complex 'testsrc=size=160x120:rate=30:d=0.5[a];"
                        "testsrc=size=160x120:rate=15:d=0.5[b];"
                        "[a][b]concat=n=2:v=1:a=0' -fps_mode passthrough -c:v libx264 -bf 0 "
                        "-pix_fmt yuv420p -video_track_timescale 1000"),
       "", 22},
      {fx, "30/1", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    // The source's own frames, or for the effect movie the renderer's (checked for count and
    // rate like the others).
    std::string ref = c.in;
    const std::string render = dir + "/render.y4m";
    ASSERT_EQ(vt_test::run("'" + kBin + "movie-render/movie-render' '" + c.in + "' -o '" + render +
                           "' 2>&1"),
              0);
    if (c.in == fx) ref = render;
    const std::vector<double> times = frameTimes(ref);
    ASSERT_EQ((int)times.size(), c.frames);
    for (const std::string codec : {"", "h264", "prores", "png"}) {  // "": the rendered stream
      SCOPED_TRACE(codec);
      const std::string path = codec.empty()    ? render
                               : codec == "png" ? dir + "/out"
                                                : dir + (codec == "h264" ? "/out.mp4" : "/out.mov");
      if (!codec.empty()) {
        std::string log;
        std::filesystem::remove_all(path);
        ASSERT_EQ(exportTool("'" + c.in + "' '" + path + "' --codec " + codec, &log), 0) << log;
      }
      const std::string media = codec == "png" ? path + "/frame-%06d.png" : path;
      EXPECT_EQ(probe(media, "stream=nb_read_frames"), std::to_string(c.frames));
      if (*c.rate && media == path) {
        EXPECT_EQ(probe(path, "stream=r_frame_rate"), c.rate);
      }
      if (!*c.rate && media == path && !codec.empty()) {
        std::vector<double> got = frameTimes(path);
        ASSERT_EQ(got.size(), times.size());
        for (size_t k = 0; k < got.size(); k++) EXPECT_NEAR(got[k], times[k] - times[0], 0.0015);
      }
      EXPECT_GE(psnr(media, ref, true), 35.0);
    }
  }
}

// A movie shown smaller (a window shrunk with the grow box scales its box) exports at its own
// size; sides are rounded only where the codec needs even ones.
TEST(Export, WritesTheMoviesOwnSizeWhateverItsBoxShows) {
  const std::string in = vt_test::fixture(
                        "size_odd.mov", "-f lavfi -i testsrc=size=321x241:rate=25 -t 0.2 -c:v png"),
                    dir = vt_test::tempDir("export-size");
  Movie movie = vt_test::openMovie(in);
  ASSERT_TRUE(movie);
  Rect small = {10, 20, 10 + 61, 20 + 81};
  SetMovieBox(movie, &small);
  const struct {
    ex::Format format;
    const char *out, *size;
  } cases[] = {{ex::Format::h264, "a.mp4", "320,240"},
               {ex::Format::prores, "a.mov", "320,241"},
               {ex::Format::png, "a", "321,241"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    std::string message, path = dir + "/" + c.out;
    ASSERT_EQ(ex::exportMovie(movie, path, {.format = c.format}, nullptr, message), noErr)
        << message;
    const std::string media = c.format == ex::Format::png ? path + "/frame-%06d.png" : path;
    EXPECT_EQ(probe(media, "stream=width,height"), c.size);
  }
  DisposeMovie(movie);
}

// Twenty frames copied into a new movie last twenty frames there, not a unit of its time scale
// more, and export as twenty frames at the source's rate.
TEST(Export, PastedFramesExportAsThemselves) {
  const std::string dir = vt_test::tempDir("export-paste");
  const struct {
    const char* rate;
    int movieScale, mediaScale;
    TimeValue duration;  // of the new movie (600 units a second)
  } cases[] = {{"30", 1000, 15360, 400},
               {"30", 600, 600, 400},
               {"30", 90000, 90000, 400},
               {"30000/1001", 1000, 30000, 401}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + std::to_string(c.movieScale));
    const std::string in = vt_test::fixture(
        "paste_" + std::to_string(c.movieScale) + "_" + std::to_string(c.mediaScale) + ".mov",
        std::string("-f lavfi -i testsrc=size=160x120:rate=") + c.rate +
            " -t 1 -c:v libx264 -pix_fmt yuv420p -movie_timescale " + std::to_string(c.movieScale) +
            " -video_track_timescale " + std::to_string(c.mediaScale));
    Movie source = vt_test::openMovie(in);
    ASSERT_TRUE(source);
    const OSType video = VideoMediaType;
    TimeValue end = 0;
    for (int i = 0; i < 20; i++)
      GetMovieNextInterestingTime(source, nextTimeStep, 1, &video, end, fixed1, &end, nullptr);
    SetMovieSelection(source, 0, end);
    Movie clip = CopyMovieSelection(source);
    ASSERT_TRUE(clip);
    Movie fresh = NewMovie(newMovieActive);
    PasteMovieSelection(fresh, clip);
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMovieDuration(fresh), c.duration);
    std::string message, out = dir + "/twenty.mp4";
    ASSERT_EQ(ex::exportMovie(fresh, out, {}, nullptr, message), noErr) << message;
    EXPECT_EQ(probe(out, "stream=nb_read_frames"), "20");
    EXPECT_EQ(probe(out, "stream=r_frame_rate"), std::string(c.rate) + (c.rate[2] ? "" : "/1"));
    for (Movie m : {fresh, clip, source}) DisposeMovie(m);
  }
}

// The flatten progress window is there because the movie toolbox's start installs it, not
// because of which objects a program happens to link.
TEST(ExportProgress, FlattenShowsTheWindowOnceEnterMoviesInstalledIt) {
  VTAutomationUseHeadless(800, 600);
  std::string b, a = sources(b);
  const std::string dir = vt_test::tempDir("export-flatten");
  bool shown = false;
  VTAutomationSetModalHook([&] { shown = shown || ex::ProgressWindow::current() != nullptr; });
  auto flattenShowsWindow = [&](const std::string& name) {
    shown = false;
    Movie m = vt_test::openMovie(a);
    EXPECT_TRUE(m);
    SetMovieProgressProc(m, (MovieProgressUPP)-1, 0);
    FSSpec spec{};
    EXPECT_EQ(VTMakeFSSpecFromPath((dir + "/" + name).c_str(), &spec),
              fnfErr);  // made by the flatten
    Movie flat = FlattenMovieData(m, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                  createMovieFileDeleteCurFile | createMovieFileDontCreateResFile);
    EXPECT_TRUE(flat) << GetMoviesError();
    for (Movie k : {flat, m})
      if (k) DisposeMovie(k);
    return shown;
  };
  vt::movie::setProgressDisplayMaker(nullptr);
  EXPECT_FALSE(flattenShowsWindow("silent.mov"));
  ASSERT_EQ(EnterMovies(), noErr);
  EXPECT_TRUE(flattenShowsWindow("shown.mov"));
  VTAutomationSetModalHook(nullptr);
}

// Each sound track is mixed at its own volume: three tones told apart by pitch, at full volume, a
// quarter and silenced, heard in the export at those levels against the source's own tone.
TEST(Export, EachSoundTrackIsMixedAtItsOwnVolume) {
  const int hz[] = {300, 700, 1100};
  const short volume[] = {256, 64, 0};
  std::string args = "-f lavfi -i testsrc=size=64x48:rate=25 ";
  for (int f : hz)
    args += "-f lavfi -i sine=frequency=" + std::to_string(f) + ":sample_rate=48000 ";
  const std::string in = vt_test::fixture(
      "three_tones.mov", args + "-t 1 -map 0 -map 1 -map 2 -map 3 -c:v mjpeg -c:a pcm_s16le");
  Movie movie = vt_test::openMovie(in);
  ASSERT_TRUE(movie);
  ASSERT_EQ(GetMovieTrackCount(movie), 4);
  for (long i = 0; i < 3; ++i) {
    Track t = GetMovieIndTrackType(movie, i + 1, SoundMediaType, movieTrackMediaType);
    ASSERT_TRUE(t);
    SetTrackEnabled(t, true);  // ffmpeg enables only the first track of a kind
    SetTrackVolume(t, volume[i]);
  }
  std::string message, out = vt_test::tempDir("export-mix") + "/mix.mov";
  ASSERT_EQ(ex::exportMovie(movie, out, {.format = ex::Format::prores}, nullptr, message), noErr)
      << message;
  DisposeMovie(movie);
  // The first sound stream as ffmpeg decodes it, mono at 48 kHz.
  auto sound = [](const std::string& path) {
    std::string pcm;
    vt_test::run("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -f f32le -ac 1 -ar 48000 -",
                 &pcm);
    std::vector<float> s(pcm.size() / sizeof(float));
    std::memcpy(s.data(), pcm.data(), s.size() * sizeof(float));
    return s;
  };
  // A tone's amplitude, from its correlation over half a second (whole periods of each tone).
  auto level = [](const std::vector<float>& s, int f) {
    const size_t n = 48000 / 2;
    double re = 0, im = 0, w = 2 * M_PI * f / 48000;
    for (size_t i = 0; i < n; ++i) re += s[i] * std::cos(w * i), im += s[i] * std::sin(w * i);
    return 2 * std::hypot(re, im) / n;
  };
  const std::vector<float> heard = sound(out), source = sound(in);
  ASSERT_GE(std::min(heard.size(), source.size()), 48000u / 2);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(level(heard, hz[i]) / level(source, hz[0]), volume[i] / 256.0, 0.01) << hz[i];
}
