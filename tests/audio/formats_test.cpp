// The sound of every format we read plays as ffmpeg decodes it.
#include <MacErrors.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include "audio/movie_sound.h"
#include "helpers.h"
#include "model/model.h"

namespace {

class MoviesEnv : public ::testing::Environment {
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
};
::testing::Environment* const gMovies = ::testing::AddGlobalTestEnvironment(new MoviesEnv);

std::vector<float> render(Movie m, double from, double seconds) {
  vt::audio::MovieSound sound(m, st::kRate, st::kChannels);
  std::vector<float> out((size_t)(seconds * st::kRate) * st::kChannels);
  // In blocks, as the player asks.
  int64_t pos = (int64_t)(from * st::kRate);
  for (size_t done = 0; done < out.size() / st::kChannels;) {
    int n = (int)std::min<size_t>(1024, out.size() / st::kChannels - done);
    sound.render(pos, n, out.data() + done * st::kChannels);
    pos += n;
    done += (size_t)n;
  }
  return out;
}

// Frames by which ffmpeg says the file's sound starts before its picture.
long leadOfPicture(const std::string& path) {
  std::string out;
  vt_test::run("ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 '" +
                   path + "'",
               &out);
  size_t v = out.find("video,"), a = out.find("audio,");
  if (v == std::string::npos || a == std::string::npos) return 0;
  double lead = std::atof(out.c_str() + v + 6) - std::atof(out.c_str() + a + 6);
  return std::max(0L, std::lround(lead * st::kRate));
}

struct Case {
  const char* name;
  const char* args;
  bool video;
};

TEST(SoundFormats, PlayAsFfmpegDecodesThem) {
  const Case cases[] = {
      {"snd_sowt.mov", "-c:a pcm_s16le", false},
      {"snd_twos.mov", "-c:a pcm_s16be", false},
      {"snd_in24.mov", "-c:a pcm_s24le", false},
      {"snd_fl32.mov", "-c:a pcm_f32le", false},
      {"snd_ulaw.mov", "-c:a pcm_mulaw", false},
      {"snd_ima4.mov", "-c:a adpcm_ima_qt", false},
      {"snd_aac.mp4", "-c:a aac", false},
      {"snd_aac.mov", "-c:a aac", true},
      {"snd_alac.mov", "-c:a alac", false},
      {"snd_ac3.mp4", "-c:a ac3", false},
      {"snd_eac3.mp4", "-c:a eac3", false},
      {"snd_opus.mp4", "-c:a libopus", false},
      {"snd_mp3.mp4", "-c:a libmp3lame", false},
      {"snd_flac.mp4", "-strict -2 -c:a flac", false},
      {"snd_tone.m4a", "-c:a aac", false},
      {"snd_tone.wav", "", false},
      {"snd_tone.aiff", "", false},
      {"snd_tone.mp3", "-c:a libmp3lame", false},
      {"snd_tone.flac", "", false},
      {"snd_vorbis.ogg", "-c:a libvorbis", false},
      {"snd_opus.ogg", "-c:a libopus", false},
      {"snd_flac.ogg", "-c:a flac", false},
      {"snd_aac.mkv", "-c:v libx264 -pix_fmt yuv420p -c:a aac", true},
      {"snd_vorbis.webm", "-c:v libvpx -c:a libvorbis", true},
      {"snd_mp3.avi", "-c:v mpeg4 -c:a libmp3lame", true},
      {"snd_mp2.ts", "-c:v mpeg2video -c:a mp2", true},
      {"snd_adts.ts", "-c:v mpeg2video -c:a aac", true},
      {"snd_mp2.mpg", "-c:v mpeg2video -c:a mp2 -f vob", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = st::tone(c.name, c.args, c.video);
    ASSERT_FALSE(path.empty());
    Movie m = st::open(path);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(GetMovieIndTrackType(m, 1, AudioMediaCharacteristic,
                                   movieTrackCharacteristic | movieTrackEnabledOnly),
              nullptr);
    EXPECT_EQ(GetMovieIndTrackType(m, 1, VisualMediaCharacteristic, movieTrackCharacteristic) != nullptr,
              c.video);
    double seconds = (double)GetMovieDuration(m) / GetMovieTimeScale(m);
    EXPECT_NEAR(seconds, 2.0, 0.08);
    std::vector<float> ours = render(m, 0, 2.0);
    std::vector<float> mid(ours.begin() + st::kRate, ours.begin() + 3 * st::kRate / 2 * 2);
    EXPECT_NEAR(st::dominantFrequency(mid), 440.0, 1.0);
    // The movie starts with its picture: sound from before it is left out.
    std::vector<float> ref = st::ffmpegSound(path);
    ref.erase(ref.begin(), ref.begin() + st::kChannels * leadOfPicture(path));
    ASSERT_GE(ref.size(), ours.size());
    auto worst = [&](const std::vector<float>& a, const std::vector<float>& b, size_t bFrom) {
      double w = 0;
      for (size_t i = 0; i < a.size() && bFrom + i < b.size(); ++i)
        w = std::max(w, (double)std::fabs(a[i] - b[bFrom + i]));
      return w;
    };
    EXPECT_LE(worst(ours, ref, 0), 1e-6);
    // Vorbis decoders stamp their first frames after a new start a few milliseconds late (ours
    // after a seek, ffmpeg's after an edit that starts inside a packet).
    bool vorbis = std::string(c.name).find("vorbis") != std::string::npos;
    auto matches = [&](const std::vector<float>& a, size_t from, double tolerance) {
      if (!vorbis) return worst(a, ref, from) <= tolerance;
      std::vector<float> head(a.begin(), a.begin() + 8192);
      for (int lag = -160; lag <= 160; ++lag)
        if (worst(head, ref, from + st::kChannels * lag) <= tolerance) return true;
      return false;
    };
    // From the middle: the decoders start again a little before it; lossy ones settle there.
    std::vector<float> later = render(m, 1.25, 0.5);
    EXPECT_TRUE(matches(later, (size_t)(1.25 * st::kRate) * st::kChannels, 0.005));
    // Copied into a movie file of its own, the sound is untouched.
    std::string flat = vt_test::tempDir("snd-flat") + "/flat.mov";
    ASSERT_TRUE(st::flatten(m, flat));
    std::vector<float> again = st::ffmpegSound(flat);
    EXPECT_GE(again.size(), ref.size());
    EXPECT_TRUE(matches(again, 0, 0.0));
    DisposeMovie(m);
  }
}


std::vector<uint8_t> slurp(const std::string& path) {
  std::string out;
  vt_test::run("cat '" + path + "'", &out);
  return std::vector<uint8_t>(out.begin(), out.end());
}

void spill(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(SoundFormats, DamagedPacketsAndUnknownCodecsAreSilenceAndThePictureGoesOn) {
  std::string source = st::tone("snd_aac.mov", "-c:a aac", true);
  std::vector<uint8_t> bytes = slurp(source);
  Movie m = st::open(source);
  ASSERT_NE(m, nullptr);
  VTTrack* sound = GetMovieIndTrackType(m, 1, SoundMediaType, movieTrackMediaType);
  ASSERT_NE(sound, nullptr);
  vt::movie::SampleInfo hit = sound->media->sampleInfo(40);
  int64_t played = hit.decodeTime - sound->edits.at(0).mediaTime;  // where packet 40 is heard
  DisposeMovie(m);
  std::string dir = vt_test::tempDir("snd-bad");

  // Packet 40 overwritten: its stretch is silence, what comes before it plays on.
  std::vector<uint8_t> damaged = bytes;
  for (uint32_t i = 0; i < hit.size; ++i) damaged[hit.offset + i] = (uint8_t)(0xA5 ^ (i * 37));
  spill(dir + "/damaged.mov", damaged);
  m = st::open(dir + "/damaged.mov");
  ASSERT_NE(m, nullptr);
  std::vector<float> s = render(m, 0, 2.0);
  EXPECT_EQ(st::rms(&s[(size_t)played * 2], (size_t)hit.duration * 2), 0.0);
  EXPECT_GT(st::rms(&s[(size_t)(played - 4096) * 2], 4096 * 2), 0.05);
  EXPECT_GT(st::rms(&s[(size_t)(played + 2 * hit.duration) * 2], 4096 * 2), 0.05);
  DisposeMovie(m);

  // A sound format nobody decodes: silent sound, pictures as before.
  std::vector<uint8_t> unknown = bytes;
  for (size_t i = 0; i + 4 <= unknown.size(); ++i)
    if (std::memcmp(&unknown[i], "mp4a", 4) == 0) std::memcpy(&unknown[i], "zzzz", 4);
  spill(dir + "/unknown.mov", unknown);
  m = st::open(dir + "/unknown.mov");
  ASSERT_NE(m, nullptr);
  s = render(m, 0.5, 1.0);
  EXPECT_EQ(st::rms(s.data(), s.size()), 0.0);
  PicHandle pic = GetMoviePict(m, GetMovieTimeScale(m));
  EXPECT_NE(pic, nullptr);
  if (pic) KillPicture(pic);
  DisposeMovie(m);
}


// Sound added a second at a time (frames counted one by one, as the toolbox does) is kept in
// packets and plays back as it went in.
TEST(SoundFormats, AddedFramesAreKeptAsPacketsAndPlay) {
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, 0, 0, kFullVolume);
  Media md = NewTrackMedia(t, SoundMediaType, st::kRate, nullptr, 0);
  SoundDescriptionHandle desc = (SoundDescriptionHandle)NewHandleClear(sizeof(SoundDescription));
  (**desc).descSize = sizeof(SoundDescription);
  (**desc).dataFormat = 'twos';
  (**desc).numChannels = 2;
  (**desc).sampleSize = 16;
  (**desc).sampleRate = (UnsignedFixed)st::kRate << 16;
  Handle data = NewHandle(st::kRate * 4);
  for (int i = 0; i < st::kRate * 2; ++i) {
    int16_t v = (int16_t)(8000 * std::sin(2 * M_PI * 440 * (i / 2) / st::kRate));
    (*data)[2 * i] = (char)(v >> 8);
    (*data)[2 * i + 1] = (char)v;
  }
  BeginMediaEdits(md);
  ASSERT_EQ(AddMediaSample(md, data, 0, st::kRate * 4, 1, (SampleDescriptionHandle)desc, st::kRate, 0, nullptr), noErr);
  EndMediaEdits(md);
  InsertMediaIntoTrack(t, 0, 0, st::kRate, fixed1);
  EXPECT_LT(GetMediaSampleCount(md), 20);
  long frames = 0;
  EXPECT_EQ(GetMediaSample(md, nullptr, 0, nullptr, 5000, nullptr, nullptr, nullptr, nullptr, 0, &frames, nullptr), noErr);
  EXPECT_EQ(frames, (long)vt::movie::kSoundPacketFrames);
  std::vector<float> s = render(m, 0, 1.0);
  EXPECT_NEAR(s[2 * 1000], 8000 / 32768.0 * std::sin(2 * M_PI * 440 * 1000 / st::kRate), 1e-4);
  EXPECT_NEAR(st::dominantFrequency(s), 440.0, 1.0);
  DisposeHandle(data);
  DisposeHandle((Handle)desc);
  DisposeMovie(m);
}

}  // namespace
