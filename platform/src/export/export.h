// A movie's composed frames and mixed sound written as a standard file: H.264 and AAC in
// MPEG-4, ProRes 422 and 24-bit PCM in a QuickTime movie, or a folder of PNG images (pictures
// only). FFmpeg stays behind this header.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/frames.h"

struct VTMovie;

namespace vt::exporter {

enum class Format { h264, prores, png };

struct Options {
  Format format = Format::h264;
  int crf = 18;                     // H.264 quality, 0 (lossless) to 51
  std::string preset = "veryfast";  // libx264 speed preset
  int width = 0, height = 0;        // 0 x 0: the movie's own size (before any window scaling)
  double from = 0, to = -1;         // seconds; to < 0: the movie's end
  // Chunk `chunk` (1 to `chunks`) of the range's frames split in `chunks` near-equal runs,
  // pictures only: joinChunks puts them together with the sound. 0: the whole range.
  int chunk = 0, chunks = 0;
};

// The frames an export writes: the movie's frames that the range [first, end) holds (see
// FrameList::range), each composed at its start (the range's start for one begun before it).
// With an exact rate frame i is at i / rate in the output; otherwise at its own time (scale
// units from the first frame's).
struct Plan {
  vt::movie::FrameList list;
  int64_t firstFrame = 0;  // index in `list` of the first frame written
  int64_t frames = 0;
  int64_t first = 0, end = 0;  // movie time
  int32_t scale = 600;
  bool exactRate = false;
  int fpsNum = 30, fpsDen = 1;  // the exact rate, or the average one
  int width = 0, height = 0;
  // Movie time frame i is composed at; i == frames gives where the last one ends.
  int64_t timeOf(int64_t i) const;
  // Frame i's place and length in the stream's time base (fpsDen / fpsNum with an exact rate,
  // 1 / scale otherwise).
  int64_t ptsOf(int64_t i) const;
  int64_t durationOf(int64_t i) const { return ptsOf(i + 1) - ptsOf(i); }
};

// Checks the range against the movie and works out the frames, at width x height (0 x 0: the
// movie's own size). paramErr with `message` for a range outside the movie, invalidMovie for
// one without pictures.
OSErr plan(VTMovie* movie, double from, double to, int width, int height, Plan& out,
           std::string& message);

// After each frame: frames written, frames in all. Returning false cancels the export.
using Progress = std::function<bool(int64_t done, int64_t total)>;

// Writes every frame of the movie's range (its frames, at their rate or their own times),
// effects composed, and the sound its enabled sound tracks play over the same range (no sound
// stream when none has), to `path`: a file, or for PNG a folder of frame-000001.png ... The output
// is written under a temporary name beside `path` and renamed to it only when whole, so a cancel,
// an encoder error or a full disk leaves nothing behind and whatever `path` held before untouched
// (a folder holding files is not replaced: dupFNErr). Errors: userCanceledErr, dskFulErr, paramErr,
// invalidMovie, dupFNErr, ioErr, codecErr; `message` says what happened.
OSErr exportMovie(VTMovie* movie, const std::string& path, const Options& options,
                  const Progress& progress, std::string& message);

// Chunk k (1-based) of n: the frames [first, first + count) of a range holding `frames`.
void chunkFrames(int64_t frames, int k, int n, int64_t& first, int64_t& count);

// Narrows a plan to chunk k of n: its frames, and the number its first one has in the whole
// range (PNG names go on from there). paramErr for k outside 1..n or more chunks than frames.
OSErr narrowToChunk(int k, int n, Plan& p, int64_t& firstNumber, std::string& message);

// Frames composed and discarded before an export's first one (a chunk's, or a range's that
// starts late), so that effects that keep state from frame to frame (frei0r plugins) reach it
// as playing from the start would: every frame before `firstFrame` (its index in the movie's
// frames) when the movie shows a plugin effect, else none.
int64_t warmUpFrames(VTMovie* movie, int64_t firstFrame);

// Joins the chunks of an export of `movie` over the options' range (H.264 or ProRes files, or
// PNG folders, in chunk order) into `path` without encoding the pictures again, and adds the
// movie's sound rendered once for the whole range. paramErr when the chunks do not make up the
// range's frames or do not match each other; the output is written as exportMovie writes it.
OSErr joinChunks(VTMovie* movie, const std::vector<std::string>& chunks, const std::string& path,
                 const Options& options, std::string& message);

}  // namespace vt::exporter
