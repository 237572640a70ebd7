// An export: the plan of its frames, and the loop that composes them, mixes their sound and
// hands both to the writer of the chosen format.
#include "export/export.h"

#include <MacErrors.h>
#include <Movies.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/movie_sound.h"
#include "codec/decoder.h"
#include "compose/compose.h"
#include "compose/frame_pipe.h"
#include "export/writers.h"
#include "model/model.h"

namespace vt::exporter {

OSErr fromErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return dskFulErr;
    case EACCES:
    case EPERM:
    case EROFS: return wrPermErr;
    case ENOENT:
    case ENOTDIR: return dirNFErr;
    default: return ioErr;
  }
}

// libavformat reports I/O failures as negated errno values; anything else is the encoder's.
OSErr fromAv(int r) { return r < 0 && r > -4096 ? fromErrno(-r) : (OSErr)codecErr; }

std::string describe(OSErr err) {
  switch (err) {
    case dskFulErr: return "the disk is full";
    case wrPermErr: return "writing there is not permitted";
    case dirNFErr: return "the folder does not exist";
    case userCanceledErr: return "the export was cancelled";
    case codecErr: return "the encoder failed";
    case memFullErr: return "there is not enough memory";
    case fBsyErr: return "an open movie reads that file";
    case dupFNErr: return "another file took that name meanwhile";
    default: return "it could not be written (error " + std::to_string(err) + ")";
  }
}

namespace {

constexpr int kDecodeAhead = 4;

bool folderHoldsFiles(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return false;
  bool any = false;
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) any = true;
  closedir(d);
  return any;
}

}  // namespace

int64_t Plan::timeOf(int64_t i) const {
  if (i >= frames) return std::max(first + 1, list.finish(firstFrame + frames - 1));
  return std::max(first, list.start(firstFrame + i));
}

int64_t Plan::ptsOf(int64_t i) const { return exactRate ? i : timeOf(i) - timeOf(0); }

OSErr plan(VTMovie* movie, double from, double to, int width, int height, Plan& out,
           std::string& message) {
  if (!movie) return invalidMovie;
  TimeScale scale = GetMovieTimeScale(movie);
  TimeValue duration = GetMovieDuration(movie);
  Rect box, own;
  GetMovieBox(movie, &box);
  GetMovieNaturalBoundsRect(movie, &own);
  // The movie's own size, not what a window scaled it to.
  if (own.right > own.left && own.bottom > own.top) box = own;
  if (scale <= 0 || duration <= 0 || box.right <= box.left || box.bottom <= box.top) {
    message = "the movie has no pictures";
    return invalidMovie;
  }
  const double length = (double)duration / scale;
  if (to < 0 || to > length) to = length;
  if (!std::isfinite(from) || from < 0 || from >= to) {
    char text[160];
    if (from >= length)
      std::snprintf(text, sizeof text, "the start %g s is past the movie's end (%g s)", from,
                    length);
    else
      std::snprintf(text, sizeof text, "the start %g s is not before the end %g s", from, to);
    message = text;
    return paramErr;
  }
  Plan p;
  p.scale = scale;
  p.width = width > 0 ? width : box.right - box.left;
  p.height = height > 0 ? height : box.bottom - box.top;
  p.list = vt::compose::movieFrames(movie);
  if (p.list.empty()) {
    message = "the movie has no pictures";
    return invalidMovie;
  }
  int64_t n = 0, d = 1;
  p.exactRate = p.list.rate(n, d) && n <= INT32_MAX && d <= INT32_MAX;
  vt::compose::frameRate(p.list, p.fpsNum, p.fpsDen);
  p.first = std::min<int64_t>((int64_t)std::floor(from * scale), duration - 1);
  p.end = std::min<int64_t>((int64_t)std::ceil(to * scale), duration);
  if (p.end <= p.first) p.end = p.first + 1;
  p.list.range(p.first, p.end, p.firstFrame, p.frames);
  out = std::move(p);
  return noErr;
}

namespace {

// The plan of an export with its options: the chunk it makes, sizes the encoders take.
OSErr planExport(VTMovie* movie, const Options& options, Plan& p, int64_t& numberBase,
                 std::string& message) {
  if (OSErr err = plan(movie, options.from, options.to, options.width, options.height, p, message))
    return err;
  if (options.crf < 0 || options.crf > 51 || p.width > 16384 || p.height > 16384) {
    message = "the quality or size is out of range";
    return paramErr;
  }
  if (options.chunks > 0)
    if (OSErr e = narrowToChunk(options.chunk, options.chunks, p, numberBase, message)) return e;
  // 4:2:0 and 4:2:2 pictures need even sides.
  if (options.format != Format::png) {
    p.width = std::max(2, p.width & ~1);
    if (options.format == Format::h264) p.height = std::max(2, p.height & ~1);
  }
  return noErr;
}

// What the user is told of frame `i` that could not be composed.
std::string composeFailure(const std::string& name, const Plan& p, int64_t i, OSErr err) {
  char text[200];
  std::snprintf(text, sizeof text,
                "“%s” was not written: the frame at %.3f s could not be made (error %d)",
                name.c_str(), (double)p.timeOf(i) / p.scale, err);
  std::string message = text;
  if (vt::compose::isMissingData(err) && !vt::compose::missingDataFile().empty())
    message += ": its media in " + vt::compose::missingDataFile() + " is missing or cut short";
  else if (err == memFullErr)
    message += ": " + describe(err);
  return message + ".";
}

// Where an export's frames go: the writer of its format and the sound that goes with them.
struct Sink {
  bool folder = false;
  int64_t numberBase = 0;  // the first PNG's number in the whole range
  SoundPlan sound;
  MovieWriter movieWriter;
  PngWriter pngWriter;
};

// Composes the plan's frames, after `warmUp` discarded ones, into the sink, each picture's
// sound mixed beside it. A frame that cannot be composed sets `message` and `composeFailed`.
OSErr writeFrames(VTMovie* movie, const Plan& p, int64_t warmUp, Sink& sink,
                  const Progress& progress, const std::string& name, std::string& message,
                  bool& composeFailed) {
  const SoundPlan& sound = sink.sound;
  // The sound of each picture is mixed here, beside the composer (both read the movie), and
  // queued for the writer, which muxes it after the picture.
  std::unique_ptr<vt::audio::MovieSound> mixer;
  if (sound.present)
    mixer = std::make_unique<vt::audio::MovieSound>(movie, sound.rate, sound.channels);
  const float volume = std::abs(movie->volume) / 256.0f;  // a muted movie still has its sound
  std::mutex soundLock;
  std::deque<std::vector<float>> soundQueue;
  vt::compose::Composer composer(movie);
  composer.setSize(p.width, p.height);
  composer.setDecodeAhead(kDecodeAhead);
  // The sound that goes with picture `index`, written after it.
  auto writeSound = [&](int64_t index) -> OSErr {
    if (!mixer) return noErr;
    std::vector<float> samples;
    {
      std::lock_guard<std::mutex> l(soundLock);
      samples = std::move(soundQueue.front());
      soundQueue.pop_front();
    }
    return sink.movieWriter.writeSound(samples, sound.channels, index + 1 == p.frames);
  };
  OSErr err = noErr;
  // Composes every frame into `frame` and hands it to `pipe` (a bounded queue of two).
  auto feed = [&](auto& pipe, auto& frame) {
    // Effects that remember earlier frames see them first, as they would from the start.
    for (int64_t w = warmUp; w > 0 && !err; w--)
      err = composer.frame(p.list.start(p.firstFrame - w), frame);
    for (int64_t i = 0; i < p.frames && !err; i++) {
      err = composer.frame(p.timeOf(i), frame);
      if (err) {
        pipe.finish();
        composeFailed = true;
        message = composeFailure(name, p, i, err);
        return;
      }
      if (mixer) {
        const int64_t a = sound.endOf(p, i), b = sound.endOf(p, i + 1);
        std::vector<float> samples((size_t)(b - a) * sound.channels);
        mixer->render(sound.start + a, (int)(b - a), samples.data());
        for (float& v : samples) v *= volume;
        std::lock_guard<std::mutex> l(soundLock);
        soundQueue.push_back(std::move(samples));
      }
      err = pipe.put(frame);
      if (!err && progress && !progress(i + 1, p.frames)) err = userCanceledErr;
    }
    OSErr piped = pipe.finish();
    if (!err) err = piped;
  };
  if (!sink.folder && sink.movieWriter.takesPlanes()) {
    // Frames come composed in the encoder's own pixels, with no conversion pass.
    vt::YuvImage planes;
    vt::compose::PlanePipe pipe([&](const vt::YuvImage& f, int64_t index) -> OSErr {
      if (OSErr e = sink.movieWriter.write(f.view(), index, p)) return e;
      return writeSound(index);
    });
    feed(pipe, planes);
  } else {
    Image frame;
    // 4:2:2 and RGB encoders: from pictures, which keep the chroma 4:2:0 would lose.
    vt::compose::FramePipe pipe([&](const Image& image, int64_t index) -> OSErr {
      if (sink.folder) return sink.pngWriter.write(image, sink.numberBase + index);
      if (OSErr e = sink.movieWriter.write(image, index, p)) return e;
      return writeSound(index);
    });
    feed(pipe, frame);
  }
  return err;
}

}  // namespace

OSErr exportMovie(VTMovie* movie, const std::string& path, const Options& options,
                  const Progress& progress, std::string& message) {
  codec::quietLibraries();
  Plan p;
  int64_t numberBase = 0;
  if (OSErr err = planExport(movie, options, p, numberBase, message)) return err;
  // A range that starts late starts as a chunk does: effects with memory warmed up.
  const int64_t warmUp = warmUpFrames(movie, p.firstFrame);
  const std::string name = path.substr(path.rfind('/') + 1);
  auto failed = [&](OSErr err) {
    // Busy, yet no open movie reads the name: another writer replaced the file meanwhile.
    const bool raced = err == fBsyErr && !vt::files::nameIsBusy(path);
    message = "“" + name + "” was not written: " + describe(raced ? (OSErr)dupFNErr : err) + ".";
    return err;
  };
  const bool folder = options.format == Format::png;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (!folder || folderHoldsFiles(path))) {
    message = "“" + name + "” was not written: a folder of that name " +
              (folder ? "already holds files." : "is in the way.");
    return dupFNErr;
  }
  TempOutput out;
  if (OSErr err = out.create(path, folder)) return failed(err);

  // Declared after the output, so the writers close before an unfinished output goes.
  Sink sink;
  sink.folder = folder;
  sink.numberBase = numberBase;
  const bool silent = folder || options.chunks > 0;  // a chunk's sound comes at the join
  if (!silent) sink.sound = soundPlan(movie, p, options.format);
  OSErr err = folder ? sink.pngWriter.open(out.temp(), p, options)
                     : sink.movieWriter.open(out.temp(), p, options, sink.sound);
  if (err == noCodecErr || err == paramErr) {
    message = "“" + name + "” was not written: the encoder refused the settings.";
    return err;
  }
  if (err) return failed(err);
  bool composeFailed = false;
  err = writeFrames(movie, p, warmUp, sink, progress, name, message, composeFailed);
  if (composeFailed) return err;
  if (!err && !folder) err = sink.movieWriter.finish();
  if (!err) err = out.commit();
  return err ? failed(err) : (OSErr)noErr;
}

}  // namespace vt::exporter
