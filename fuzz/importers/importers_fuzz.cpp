// One input = one file's bytes, handed to everything that reads foreign files: file typing,
// graphics importers (natural bounds and drawing), movie import with pictures and sound at a few
// times, and the picture and sound decoders each fed a sample description plus sample bytes cut
// from the same input.
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <QuickTimeComponents.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/movie_sound.h"
#include "codec/audio_decoder.h"
#include "codec/decoder.h"
#include "codec/video_format.h"
#include "ui/window_server.h"

namespace {

// First 2 bytes: description length; then the description, read as an image and as a sound
// description; the rest is one sample.
void decodeRaw(const uint8_t* data, size_t size) {
  if (size < 2) return;
  size_t n = ((size_t)data[0] << 8 | data[1]) % (size - 1), rest = size - 2 - n;
  const uint8_t* sample = data + 2 + n;
  vt::codec::VideoFormat f;
  // Pictures of at most a megapixel keep each input cheap.
  if (vt::codec::parseSampleEntry(data + 2, n, f) && (int64_t)f.width * f.height <= 1024 * 1024)
    if (auto d = vt::codec::VideoDecoder::open(f, 1)) {
      if (rest) d.value()->send(sample, rest, 0);
      d.value()->drain();
      vt::codec::Frame fr;
      vt::codec::FrameConverter conv;
      vt::Image img;
      while (d.value()->receive(fr)) conv.convert(fr, img);
    }
  vt::codec::AudioFormat a;
  if (!vt::codec::parseSoundEntry(data + 2, n, a)) return;
  if (auto d = vt::codec::AudioDecoder::open(a, 48000, 2, a.sampleRate)) {
    std::vector<float> out;
    if (rest) d.value()->decode(sample, rest, 0, out);
    d.value()->drain(out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool entered = EnterMovies() == noErr;
  (void)entered;
  decodeRaw(data, size);

  static const std::string path = std::filesystem::temp_directory_path() /
                                  ("vantrel-fuzz-importers-" + std::to_string(getpid()));
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  FSSpec spec;
  if (VTMakeFSSpecFromPath(path.c_str(), &spec) != noErr) return 0;

  FInfo info;
  FSpGetFInfo(&spec, &info);

  GraphicsImportComponent gi = nullptr;
  if (GetGraphicsImporterForFile(&spec, &gi) == noErr && gi) {
    Rect r;
    GraphicsImportGetNaturalBounds(gi, &r);
    if ((long)(r.right - r.left) * (r.bottom - r.top) <= 1024 * 1024) {
      VTPort* port = vt::ui::newOffscreenPort(32, 32);
      GraphicsImportSetGWorld(gi, port, nullptr);
      GraphicsImportDraw(gi);
      vt::ui::disposeOffscreenPort(port);
    }
    CloseComponent(gi);
  }

  short ref = 0;
  if (OpenMovieFile(&spec, &ref, fsRdPerm) == noErr) {
    Movie m = nullptr;
    if (NewMovieFromFile(&m, ref, nullptr, nullptr, 0, nullptr) == noErr && m) {
      Rect box;
      GetMovieBox(m, &box);
      TimeValue d = GetMovieDuration(m);
      if ((long)(box.right - box.left) * (box.bottom - box.top) <= 1024 * 1024)
        for (TimeValue t : {(TimeValue)0, d / 2, d > 0 ? d - 1 : 0}) {
          PicHandle p = GetMoviePict(m, t);
          if (p) KillPicture(p);
        }
      vt::audio::MovieSound sound(m, 48000, 2);
      std::vector<float> heard(2 * 2048);
      TimeScale scale = std::max<TimeScale>(GetMovieTimeScale(m), 1);
      for (TimeValue t : {(TimeValue)0, d / 2})
        sound.render((int64_t)t * 48000 / scale, 2048, heard.data());
      DisposeMovie(m);
    }
    CloseMovieFile(ref);
  }
  std::remove(path.c_str());
  return 0;
}
