// Movie layer benchmarks. Each figure is a ratio against a baseline measured in this run:
//  1. opening a movie of 200,000 samples, against reading the same file's bytes;
//  2. FlattenMovieData of a large movie, against a plain copy of the same bytes, and against
//     a copy synced to disk as the flatten's is (a save is not done until the file is safe);
//  3. InsertTrackSegment by reference from sources of growing size (same segment length).
#include <MacMemory.h>
#include <Movies.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/fsspec.h"
#include "model/internal.h"
#include "qtff/reader.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

FSSpec spec(const std::string& path) {
  FSSpec s{};
  vt::files::pathToSpec(path, s);
  return s;
}

// A movie file with one video track of `samples` samples of `size` bytes each (sizes vary
// a little when `vary` is set, so the size table is written out like a real one).
std::string makeMovie(const std::string& path, long samples, long size, bool vary = false) {
  FSSpec s = spec(path);
  short ref = 0;
  Movie m = nullptr;
  CreateMovieFile(&s, 'TVOD', smSystemScript, (long)createMovieFileDeleteCurFile, &ref, &m);
  Track t = NewMovieTrack(m, 64 << 16, 64 << 16, 0);
  Media md = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
  Handle desc = NewHandleClear(sizeof(ImageDescription));
  (*(ImageDescriptionHandle)desc)->cType = 'jpeg';
  // Samples go in batches so the file grows in large writes.
  const long batch = vary ? 1 : 256;
  Handle data = NewHandle(size * batch);
  std::memset(*data, 0x5A, (size_t)(size * batch));
  BeginMediaEdits(md);
  for (long i = 0; i < samples; i += batch) {
    long n = std::min(batch, samples - i);
    unsigned long bytes = (unsigned long)(n * size) - (vary ? (unsigned long)(i % 5) : 0);
    AddMediaSample(md, data, 0, bytes, 20, desc, n, (i % 30) ? mediaSampleNotSync : 0, nullptr);
  }
  EndMediaEdits(md);
  InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1);
  short resId = 0;
  AddMovieResource(m, ref, &resId, nullptr);
  CloseMovieFile(ref);
  DisposeMovie(m);
  DisposeHandle(data);
  DisposeHandle(desc);
  return path;
}

double readAll(const std::string& path) {
  auto a = Clock::now();
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buf(1 << 20);
  while (::read(fd, buf.data(), buf.size()) > 0) {
  }
  ::close(fd);
  return ms(a, Clock::now());
}

double copyFile(const std::string& from, const std::string& to, bool sync = false) {
  auto a = Clock::now();
  int in = ::open(from.c_str(), O_RDONLY);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> buf(8 << 20);
  ssize_t n;
  while ((n = ::read(in, buf.data(), buf.size())) > 0)
    if (::write(out, buf.data(), (size_t)n) != n) break;
  if (sync) ::fsync(out);
  ::close(in);
  ::close(out);
  return ms(a, Clock::now());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir =
      argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/vantrel-movie-bench";
  std::filesystem::create_directories(dir);

  // 1. Parse.
  std::string big = makeMovie(dir + "/samples200k.mov", 200000, 12, true);
  double base = 1e9, parse = 1e9;
  for (int i = 0; i < 5; ++i) {
    base = std::min(base, readAll(big));
    auto a = Clock::now();
    VTMovie* m = nullptr;
    vt::qtff::readMovieFile(big, &m, nullptr);
    parse = std::min(parse, ms(a, Clock::now()));
    vt::movie::destroyMovie(m);
  }
  std::printf(
      "open 200000-sample movie: %.1f ms (target < 100 ms); reading its bytes %.2f ms; ratio "
      "%.1f\n",
      parse, base, parse / base);

  // 2. Flatten against a plain copy.
  std::string large = makeMovie(dir + "/large.mov", 4000, 64 * 1024);  // ~256 MB
  double bytes = (double)std::filesystem::file_size(large);
  double cp = 1e9, cpSync = 1e9, flat = 1e9;
  for (int i = 0; i < 3; ++i) {
    cp = std::min(cp, copyFile(large, dir + "/copy.bin"));
    std::filesystem::remove(dir + "/copy.bin");
    cpSync = std::min(cpSync, copyFile(large, dir + "/copy.bin", true));
    std::filesystem::remove(dir + "/copy.bin");
    short ref = 0;
    FSSpec s = spec(large);
    OpenMovieFile(&s, &ref, fsRdPerm);
    Movie m = nullptr;
    NewMovieFromFile(&m, ref, nullptr, nullptr, 0, nullptr);
    FSSpec out = spec(dir + "/flat.mov");
    auto a = Clock::now();
    Movie f =
        FlattenMovieData(m, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData,
                         &out, 'TVOD', smSystemScript, (long)createMovieFileDeleteCurFile);
    flat = std::min(flat, ms(a, Clock::now()));
    DisposeMovie(f);
    DisposeMovie(m);
    CloseMovieFile(ref);
    std::filesystem::remove(dir + "/flat.mov");
  }
  std::printf(
      "flatten %.0f MB: %.0f MB/s; plain copy %.0f MB/s; throughput ratio %.2f (target >= 0.8)\n",
      bytes / 1e6, bytes / 1e3 / flat, bytes / 1e3 / cp, cp / flat);
  std::printf("flatten against a copy synced to disk (%.0f MB/s): throughput ratio %.2f\n",
              bytes / 1e3 / cpSync, cpSync / flat);

  // 3. Insert by reference: the same 100-frame segment from sources of growing size.
  double first = 0;
  for (long n : {2000L, 20000L, 200000L}) {
    std::string src = makeMovie(dir + "/src" + std::to_string(n) + ".mov", n, 12, true);
    short ref = 0;
    FSSpec s = spec(src);
    OpenMovieFile(&s, &ref, fsRdPerm);
    Movie m = nullptr;
    NewMovieFromFile(&m, ref, nullptr, nullptr, 0, nullptr);
    Track st = GetMovieIndTrack(m, 1);
    double best = 1e9;
    for (int i = 0; i < 20; ++i) {
      Movie dm = NewMovie(0);
      Track dt = NewMovieTrack(dm, 64 << 16, 64 << 16, 0);
      NewTrackMedia(dt, VideoMediaType, 600, nullptr, 0);
      auto a = Clock::now();
      InsertTrackSegment(st, dt, (TimeValue)(n / 2 * 20), 100 * 20, 0);
      best = std::min(best, ms(a, Clock::now()));
      DisposeMovie(dm);
    }
    if (first == 0) first = best;
    std::printf("insert by reference, source of %ld samples: %.3f ms; ratio to the smallest %.2f\n",
                n, best, best / first);
    DisposeMovie(m);
    CloseMovieFile(ref);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
