// The sound of every format we read plays as ffmpeg decodes it.
#include <tuple>

#include "audio/movie_sound.h"
#include "helpers.h"
#include "model/model.h"

namespace {

std::vector<float> render(Movie m, double from, double seconds) {
  vt::audio::MovieSound sound(m, st::kRate, st::kChannels);
  int64_t pos = (int64_t)(from * st::kRate), frames = (int64_t)(seconds * st::kRate), n;
  std::vector<float> out((size_t)frames * st::kChannels);
  // In blocks, as the player asks.
  for (int64_t done = 0; done < frames; done += n) {
    n = std::min<int64_t>(1024, frames - done);
    sound.render(pos + done, (int)n, out.data() + done * st::kChannels);
  }
  return out;
}

// Frames by which ffmpeg says the file's sound starts before its picture.
long leadOfPicture(const std::string& path) {
  std::string out;
  vt_test::run(
      "ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 '" + path + "'",
      &out);
  size_t v = out.find("video,"), a = out.find("audio,");
  if (v == std::string::npos || a == std::string::npos) return 0;
  double lead = std::atof(out.c_str() + v + 6) - std::atof(out.c_str() + a + 6);
  return std::max(0L, std::lround(lead * st::kRate));
}

TEST(SoundFormats, PlayAsFfmpegDecodesThem) {
  for (auto [name, args, video] : {std::tuple{"snd_sowt.mov", "-c:a pcm_s16le", false},
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
                                   {"snd_mp2.mpg", "-c:v mpeg2video -c:a mp2 -f vob", true}}) {
    SCOPED_TRACE(name);
    std::string path = st::tone(name, args, video);
    Movie m = vt_test::openMovie(path);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(
        GetMovieIndTrackType(m, 1, VisualMediaCharacteristic, movieTrackCharacteristic) != nullptr,
        video);
    EXPECT_NEAR((double)GetMovieDuration(m) / GetMovieTimeScale(m), 2.0, 0.08);
    std::vector<float> ours = render(m, 0, 2.0);
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
    bool vorbis = std::string(name).find("vorbis") != std::string::npos;
    auto matches = [&](const std::vector<float>& a, size_t from, double tolerance) {
      if (!vorbis) return worst(a, ref, from) <= tolerance;
      std::vector<float> head(a.begin(), a.begin() + 8192);
      for (int lag = -160; lag <= 160; ++lag)
        if (worst(head, ref, from + st::kChannels * lag) <= tolerance) return true;
      return false;
    };
    // From the middle: the decoders start again a little before it; lossy ones settle there.
    EXPECT_TRUE(matches(render(m, 1.25, 0.5), (size_t)(1.25 * st::kRate) * st::kChannels, 0.005));
    // Copied into a movie file of its own, the sound is untouched.
    std::string flat = vt_test::tempDir("snd-flat") + "/flat.mov";
    FSSpec spec{};
    VTMakeFSSpecFromPath(flat.c_str(), &spec);
    Movie copy = FlattenMovieData(m, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                  createMovieFileDeleteCurFile);
    ASSERT_NE(copy, nullptr);
    DisposeMovie(copy);
    std::vector<float> again = st::ffmpegSound(flat);
    EXPECT_GE(again.size(), ref.size());
    EXPECT_TRUE(matches(again, 0, 0.0));
    DisposeMovie(m);
  }
}

TEST(SoundFormats, DamagedPacketsAndUnknownCodecsAreSilenceAndThePictureGoesOn) {
  std::string source = st::tone("snd_aac.mov", "-c:a aac", true), bytes = vt_test::readFile(source);
  Movie m = vt_test::openMovie(source);
  ASSERT_NE(m, nullptr);
  VTTrack* sound = GetMovieIndTrackType(m, 1, SoundMediaType, movieTrackMediaType);
  ASSERT_NE(sound, nullptr);
  vt::movie::SampleInfo hit = sound->media->sampleInfo(40);
  int64_t played = hit.decodeTime - sound->edits.at(0).mediaTime;  // where packet 40 is heard
  DisposeMovie(m);
  // The file again, changed by `damage`.
  auto damaged = [&, dir = vt_test::tempDir("snd-bad")](const char* name, auto damage) {
    std::string b = bytes;
    damage(b);
    return vt_test::openMovie(vt_test::writeFile(dir + name, b));
  };

  // Packet 40 overwritten: its stretch is silence, what comes before it plays on.
  m = damaged("/packet.mov", [&](std::string& b) {
    for (uint32_t i = 0; i < hit.size; ++i) b[hit.offset + i] = (char)(0xA5 ^ (i * 37));
  });
  ASSERT_NE(m, nullptr);
  std::vector<float> s = render(m, 0, 2.0);
  EXPECT_EQ(st::rms(&s[(size_t)played * 2], (size_t)hit.duration * 2), 0.0);
  EXPECT_GT(st::rms(&s[(size_t)(played - 4096) * 2], 4096 * 2), 0.05);
  EXPECT_GT(st::rms(&s[(size_t)(played + 2 * hit.duration) * 2], 4096 * 2), 0.05);
  DisposeMovie(m);

  // A sound format nobody decodes: silent sound, pictures as before.
  m = damaged("/unknown.mov", [](std::string& b) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
      if (b.compare(i, 4, "mp4a") == 0) b.replace(i, 4, "zzzz");
  });
  ASSERT_NE(m, nullptr);
  s = render(m, 0.5, 1.0);
  EXPECT_EQ(st::rms(s.data(), s.size()), 0.0);
  PicHandle pic = GetMoviePict(m, GetMovieTimeScale(m));
  EXPECT_NE(pic, nullptr);
  if (pic) KillPicture(pic);
  DisposeMovie(m);
}

// A packet that lasts 2^31 - 1 units leaves a gap of days before the next: it plays as silence,
// counted rather than stored (a buffer that long took 17 GB), from wherever playing starts.
TEST(SoundFormats, AGapOfDaysInTheTimesIsSilenceWithoutABufferForIt) {
  Movie m = vt_test::openMovie(st::tone("snd_aac.mov", "-c:a aac", true));
  ASSERT_NE(m, nullptr);
  VTTrack* sound = GetMovieIndTrackType(m, 1, SoundMediaType, movieTrackMediaType);
  ASSERT_NE(sound, nullptr);
  VTMedia& media = *sound->media;
  const vt::movie::SampleInfo gap = media.sampleInfo(40);
  vt::movie::SampleTable table;
  for (uint32_t i = 0; i < media.sampleCount(); ++i) {
    vt::movie::SampleInfo s = media.sampleInfo(i);
    table.append(s.offset, s.size, i == 40 ? 0x7FFFFFFF : s.duration, s.descIndex, s.sync, 0);
  }
  media.samples = table;
  media.changed();
  ASSERT_EQ(media.timeScale, st::kRate);
  const int64_t silent = gap.decodeTime + gap.duration - sound->edits.at(0).mediaTime;
  for (double from : {0.0, 1.5}) {  // played into the gap, and started inside it
    std::vector<float> s = render(m, from, 2.0 - from);
    const size_t start = (size_t)std::max<int64_t>(silent - (int64_t)(from * st::kRate), 0);
    EXPECT_EQ(st::rms(&s[start * 2], s.size() - start * 2), 0.0) << from;
    if (from == 0) {
      EXPECT_GT(st::rms(&s[(size_t)(silent - 8192) * 2], 4096 * 2), 0.05);
    }
  }
  DisposeMovie(m);
}

// Uncompressed sound has a table entry per frame: twelve minutes at 48 kHz hold more of them
// than a media may have samples, and load as packets.
TEST(SoundFormats, LongUncompressedSoundLoads) {
  Movie m = vt_test::openMovie(vt_test::fixture(
      "snd_long.mov", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 720 -c:a pcm_u8"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieDuration(m), 720 * GetMovieTimeScale(m));
  EXPECT_NEAR(st::dominantFrequency(render(m, 719, 1.0)), 440.0, 1.0);
  DisposeMovie(m);
}

}  // namespace
