// Helpers shared by the movie tests.
#pragma once
#include <MacMemory.h>
#include <Movies.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/fsspec.h"
#include "fixtures.h"
#include "movies.h"

namespace mt {

const std::string kVideo = "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 ";
const std::string kSound = "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 ";
const std::string kH264Aac = kVideo + kSound + "-c:v libx264 -pix_fmt yuv420p -bf 2 -c:a aac";

inline FSSpec spec(const std::string& path) {
  FSSpec s{};
  OSErr err = vt::files::pathToSpec(path, s);
  EXPECT_TRUE(err == noErr || err == fnfErr) << path << " " << err;
  return s;
}

using vt_test::openMovie;

// The test support's file calls, on bytes.
inline std::vector<uint8_t> readFile(const std::string& path) {
  std::string s = vt_test::readFile(path);
  return {s.begin(), s.end()};
}
inline void writeFile(const std::string& path, const std::vector<uint8_t>& b) {
  vt_test::writeFile(path, std::string(b.begin(), b.end()));
}

// A handle holding an image description for `codec`, width x height.
inline ImageDescriptionHandle imageDescription(OSType codec, short w, short h) {
  Handle hd = NewHandleClear(sizeof(ImageDescription));
  auto* d = (ImageDescription*)*hd;
  d->idSize = sizeof(ImageDescription);
  d->cType = codec;
  d->width = w;
  d->height = h;
  d->hRes = d->vRes = 72 << 16;
  d->frameCount = 1;
  d->depth = 24;
  d->clutID = -1;
  return (ImageDescriptionHandle)hd;
}

// Adds `count` samples of `size` bytes (byte value = sample number in the media, every fifth of
// the call a key frame) to the end of a video media.
inline void addSamples(Media media, int count, int size, TimeValue duration,
                       OSType codec = 'raw ') {
  ImageDescriptionHandle d = imageDescription(codec, 4, 4);
  Handle data = NewHandle(size);
  const int64_t start = GetMediaDuration(media), first = GetMediaSampleCount(media);
  for (int i = 0; i < count; ++i) {
    std::memset(*data, (int)((first + i) & 0xFF), (size_t)size);
    TimeValue t = -1;
    ASSERT_EQ(AddMediaSample(media, data, 0, (unsigned long)size, duration,
                             (SampleDescriptionHandle)d, 1, i % 5 ? mediaSampleNotSync : 0, &t),
              noErr);
    EXPECT_EQ((int64_t)t, std::min<int64_t>(start + (int64_t)i * duration, 0x7FFFFFFF));
  }
  DisposeHandle(data);
  DisposeHandle((Handle)d);
}

// A new 4x4 video track of `m`, with a media of time scale `scale`.
inline Track videoTrack(Movie m, TimeScale scale = 600) {
  Track t = NewMovieTrack(m, 4 << 16, 4 << 16, kNoVolume);
  NewTrackMedia(t, VideoMediaType, scale, nullptr, 0);
  return t;
}

// A movie in memory with one video track over `count` samples (see addSamples).
inline Movie videoMovie(int count, int size, TimeValue duration, TimeScale scale = 600) {
  Movie m = NewMovie(newMovieActive);
  Track t = videoTrack(m, scale);
  Media md = GetTrackMedia(t);
  addSamples(md, count, size, duration);
  if (count) {
    EXPECT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1), noErr);
  }
  return m;
}

// Writes `m` into a new movie file at `path`, its movie atom after the data.
inline OSErr saveAs(Movie m, const std::string& path, long flags = 0,
                    const unsigned char* name = nullptr) {
  FSSpec s = spec(path);
  short ref = 0, resId = 0;
  OSErr err = CreateMovieFile(&s, 'TVOD', smSystemScript, flags | createMovieFileDontCreateMovie,
                              &ref, nullptr);
  if (err) return err;
  err = AddMovieResource(m, ref, &resId, name);
  CloseMovieFile(ref);
  return err;
}

inline Movie flatten(Movie m, const std::string& path, long flags = flattenAddMovieToDataFork,
                     long createFlags = 0) {
  FSSpec s = spec(path);
  return FlattenMovieData(m, flags, &s, 'TVOD', smSystemScript, createFlags);
}

// The movie of the file at `path` opened with `perm`; the file stays open as *ref.
inline Movie openWith(const std::string& path, SInt8 perm, short* ref, short* resId) {
  FSSpec s = spec(path);
  Movie m = nullptr;
  EXPECT_EQ(OpenMovieFile(&s, ref, perm), noErr);
  EXPECT_EQ(NewMovieFromFile(&m, *ref, resId, nullptr, 0, nullptr), noErr);
  return m;
}

// The media's sample at `time` into `data` (its description into `desc`, its flags into *flags
// when given).
inline OSErr sample(Media media, TimeValue time, Handle data, Handle desc = nullptr,
                    long maxSize = 0, short* flags = nullptr) {
  return GetMediaSample(media, data, maxSize, nullptr, time, nullptr, nullptr, desc, nullptr, 1,
                        nullptr, flags);
}

// The first byte of the media's sample at `time` (samples are filled with their number), and its
// flags; -1 when it cannot be read.
inline int firstByte(Media media, TimeValue time, short* flags = nullptr) {
  Handle h = NewHandle(0);
  int b = -1;
  if (sample(media, time, h, nullptr, 0, flags) == noErr && GetHandleSize(h) > 0)
    b = ((unsigned char*)*h)[0];
  DisposeHandle(h);
  return b;
}

inline std::pair<TimeValue, TimeValue> selection(Movie m) {
  TimeValue st = -1, sd = -1;
  GetMovieSelection(m, &st, &sd);
  return {st, sd};
}

inline std::string ffprobe(const std::string& args) {
  std::string out;
  vt_test::run("ffprobe -v error " + args + " 2>&1", &out);
  return out;
}

inline std::string framemd5(const std::string& path, const std::string& map = "0:v:0") {
  std::string out;
  vt_test::run("ffmpeg -nostdin -loglevel error -i '" + path + "' -map " + map +
                   " -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F, '{print $5 $6}'",
               &out);
  return out;
}

}  // namespace mt
