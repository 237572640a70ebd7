// Broken and hostile movie files: a clear error, never a crash or a runaway allocation.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/fourcc.h"
#include "helpers.h"
#include "model/internal.h"
#include "qtff/reader.h"
#include "qtff/writer.h"

namespace {

// A small valid movie written by the movie layer (movie atom last).
std::string makeValid(const std::string& dir) {
  Movie m = mt::videoMovie(8, 24, 50);
  Track s = NewMovieTrack(m, 0, 0, kFullVolume);
  NewTrackMedia(s, SoundMediaType, 8000, nullptr, 0);
  long idx;
  AddTrackReference(GetMovieIndTrack(m, 1), s, 'sync', &idx);
  std::string path = dir + "/valid.mov";
  EXPECT_EQ(mt::saveAs(m, path), noErr);
  DisposeMovie(m);
  return path;
}

// The reader's verdict on `bytes`, with the sample count of each track read in *samples.
OSErr readBytes(const std::string& dir, const std::vector<uint8_t>& bytes,
                std::vector<uint32_t>* samples = nullptr) {
  std::string path = dir + "/case.mov";
  mt::writeFile(path, bytes);
  VTMovie* m = nullptr;
  OSErr err = vt::qtff::readMovieFile(path, &m, nullptr);
  for (size_t k = 0; m && samples && k < m->tracks.size(); ++k)
    samples->push_back(m->tracks[k]->media->sampleCount());
  EXPECT_EQ(err != noErr, m == nullptr);
  vt::movie::destroyMovie(m);
  return err;
}

size_t find(const std::vector<uint8_t>& b, const char* type, size_t from = 0) {
  for (size_t i = from + 4; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], type, 4) == 0) return i - 4;  // the atom's start
  ADD_FAILURE() << "no atom " << type;
  return 0;
}

// The read error of `b` with `value` written `offset` bytes into its `nth` atom of `type`.
OSErr readPatched(const std::string& dir, std::vector<uint8_t> b, const char* type, size_t offset,
                  uint32_t value, int nth = 1, std::vector<uint32_t>* samples = nullptr) {
  size_t at = find(b, type);
  while (--nth > 0) at = find(b, type, at + 8);
  vt::writeBE32(&b[at + offset], value);
  return readBytes(dir, b, samples);
}

TEST(MovieMalformed, TruncatedFilesFailCleanly) {
  std::string dir = vt_test::tempDir("movie-trunc");
  std::vector<uint8_t> b = mt::readFile(makeValid(dir));
  size_t moov = find(b, "moov");
  for (size_t cut = 0; cut < b.size(); cut += (cut < moov ? 37 : 3)) {
    std::vector<uint8_t> part(b.begin(), b.begin() + (long)cut);
    OSErr err = readBytes(dir, part);
    if (cut <= moov)
      EXPECT_TRUE(err == invalidMovie || err == badFileFormat) << cut;  // no movie atom yet
    else
      EXPECT_EQ(err, badFileFormat) << cut;  // the movie atom runs past the end
  }
}

// One valid file with one field changed at a time.
TEST(MovieMalformed, BadSizesCountsAndHeadersAreRefused) {
  std::string dir = vt_test::tempDir("movie-fields");
  std::vector<uint8_t> b = mt::readFile(makeValid(dir));
  // Sizes past their parent.
  for (const char* type : {"trak", "mdia", "stbl", "stsd", "tkhd", "elst", "tref", "dinf"})
    EXPECT_EQ(readPatched(dir, b, type, 0, vt::readBE32(&b[find(b, type)]) + 4000), badFileFormat)
        << type;
  EXPECT_EQ(readPatched(dir, b, "mdhd", 0, 4), badFileFormat);  // smaller than its own header
  EXPECT_NE(readPatched(dir, b, "mvhd", 0, 1), noErr);          // a 64-bit size that does not fit
  // The last track of the movie atom with size 0 reaches to the parent's end: still fine.
  std::vector<uint32_t> samples;
  EXPECT_EQ(readPatched(dir, b, "trak", 0, 0, 2, &samples), noErr);
  EXPECT_EQ(samples.size(), 2u);
  // Counts whose tables cannot be in the atom.
  for (const char* type : {"stts", "stsc", "stco", "stsd", "elst", "dref"})
    EXPECT_EQ(readPatched(dir, b, type, 12, 0x40000000), badFileFormat) << type;
  EXPECT_EQ(readPatched(dir, b, "stsz", 16, 0xFFFFFFF0u), badFileFormat);  // table too short
  // A constant sample size with a count no file of this size could hold.
  std::vector<uint8_t> c = b;
  vt::writeBE32(&c[find(c, "stsz") + 12], 1);
  EXPECT_EQ(readPatched(dir, c, "stsz", 16, 0xFFFFFFF0u), badFileFormat);
  // Absurd edit durations: version 1 with version-0 sized entries.
  EXPECT_EQ(readPatched(dir, b, "elst", 8, 0x01000000), badFileFormat);
  EXPECT_EQ(readPatched(dir, b, "tkhd", 20, vt::readBE32(&b[find(b, "tkhd") + 20]), 2),
            badFileFormat);  // the second track takes the first one's ID
  EXPECT_EQ(readPatched(dir, b, "mvhd", 20, 0), badFileFormat);  // time scale 0
  EXPECT_EQ(readPatched(dir, b, "mdhd", 20, 0), badFileFormat);
  // A movie atom without a header is not a movie.
  EXPECT_EQ(readPatched(dir, b, "mvhd", 4, 'junk'), invalidMovie);
  // More samples in the size table than chunks and durations cover: the extra ones do not exist.
  samples.clear();  // 3 samples with durations instead of 8
  EXPECT_EQ(readPatched(dir, b, "stts", 16, 3, 1, &samples), noErr);
  EXPECT_EQ(samples, (std::vector<uint32_t>{3, 0}));
}

std::vector<uint8_t> atom(const char* type, std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> a(8);
  std::memcpy(&a[4], type, 4);
  for (const auto& p : parts) a.insert(a.end(), p.begin(), p.end());
  vt::writeBE32(&a[0], (uint32_t)a.size());
  return a;
}
std::vector<uint8_t> words(std::initializer_list<uint32_t> values, size_t zerosAfter = 0) {
  std::vector<uint8_t> b(values.size() * 4 + zerosAfter, 0);
  size_t at = 0;
  for (uint32_t v : values) vt::writeBE32(&b[(at += 4) - 4], v);
  return b;
}

TEST(MovieMalformed, NotMovieFiles) {
  std::string dir = vt_test::tempDir("movie-notmovie");
  std::string png = vt_test::fixture("mv_image.png", "-f lavfi -i testsrc=size=32x32 -frames:v 1");
  EXPECT_FALSE(vt::qtff::isMovieFile(png));
  const std::string text = vt_test::writeFile(dir + "/text.mov", "hello world!");
  EXPECT_FALSE(vt::qtff::isMovieFile(text));
  EXPECT_FALSE(vt::qtff::isMovieFile(vt_test::writeFile(dir + "/empty.mov", "")));
  EXPECT_FALSE(vt::qtff::isMovieFile(dir + "/missing.mov"));
  EXPECT_TRUE(vt::qtff::isMovieFile(makeValid(dir)));
  EXPECT_TRUE(vt::qtff::isMovieFile(vt_test::fixture("mv_mpeg4.mp4", mt::kVideo + "-c:v mpeg4")));
  // Without an importer, a file of another kind is refused by the movie layer.
  vt::movie::setForeignFileOpener(nullptr);
  OSErr err = noErr;
  EXPECT_EQ(mt::openMovie(text, &err), nullptr);
  EXPECT_EQ(err, cantFindHandler);
  // An importer gets the file and builds the movie.
  vt::movie::setForeignFileOpener(
      [](const std::string&, const std::shared_ptr<vt::files::HostFile>&, VTMovie** out) -> OSErr {
        VTMovie* m = vt::movie::newMovieObject();
        VTTrack* t = vt::movie::addTrack(m, 'vide', 25);
        auto mem = std::make_shared<vt::movie::MemorySource>();
        mem->bytes.assign(100, 7);
        t->media->addDataSource(mem);
        std::vector<uint8_t> desc(86, 0);
        vt::writeBE32(&desc[4], 'jpeg');
        vt::writeBE16(&desc[14], 1);
        int d = t->media->addDescription(desc);
        for (int i = 0; i < 4; ++i)
          t->media->appendSample((uint64_t)i * 25, 25, 1, (uint32_t)d, true);
        vt::movie::finishTrack(t);
        *out = m;
        return noErr;
      });
  Movie m = mt::openMovie(text, &err);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetTrackDuration(GetMovieIndTrack(m, 1)), 96);  // 4/25 s at 600
  // Opened for writing, the imported file is still never written: not by Save, not by edits.
  std::vector<uint8_t> before = mt::readFile(text);
  short ref = 0, resId = 0;
  Movie w = mt::openWith(text, fsRdWrPerm, &ref, &resId);
  ASSERT_NE(w, nullptr);
  mt::addSamples(GetTrackMedia(GetMovieIndTrack(w, 1)), 1, 10, 1);
  EXPECT_EQ(UpdateMovieResource(w, ref, resId, nullptr), badFileFormat);
  EXPECT_EQ(AddMovieResource(w, ref, &resId, nullptr), badFileFormat);
  DisposeMovie(w);
  CloseMovieFile(ref);
  EXPECT_EQ(mt::readFile(text), before);
  vt::movie::setForeignFileOpener(nullptr);
  // Saving such a movie copies the importer's data into the movie file.
  Movie flat = mt::flatten(m, dir + "/imported.mov");
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(GetMovieIndTrack(flat, 1))), 4);
  DisposeMovie(flat);
  DisposeMovie(m);
}

// A movie whose tracks each claim `samples` samples of 1000 bytes in one chunk (about 300
// bytes of file per track), with the given media header.
std::vector<uint8_t> movieOf(int tracks, uint32_t samples, const std::vector<uint8_t>& mdhd) {
  std::vector<uint8_t> kids = atom("mvhd", {words({0, 0, 0, 600, 0, 0x10000}, 76)});
  for (int id = 1; id <= tracks; ++id) {
    auto stbl =
        atom("stbl", {atom("stsd", {words({0, 1, 16, 'raw ', 0, 1})}),
                      atom("stts", {words({0, 1, samples, 1})}),
                      atom("stsc", {words({0, 1, 1, samples, 1})}),
                      atom("stsz", {words({0, 1000, samples})}), atom("stco", {words({0, 1, 0})})});
    auto mdia = atom("mdia", {mdhd, atom("hdlr", {words({0, 'mhlr', 'vide', 0, 0, 0}, 1)}),
                              atom("minf", {stbl})});
    auto trak = atom("trak", {atom("tkhd", {words({0x0F, 0, 0, (uint32_t)id}, 68)}), mdia});
    kids.insert(kids.end(), trak.begin(), trak.end());
  }
  std::vector<uint8_t> file = atom("ftyp", {words({'qt  ', 0, 'qt  '})}),
                       moov = atom("moov", {kids});
  file.insert(file.end(), moov.begin(), moov.end());
  return file;
}

// Runs `work` in a child process: its exit status (99 when it throws), and the most memory it
// held.
int inChild(const std::function<int()>& work, long* maxKB) {
  pid_t pid = fork();
  if (pid == 0) {
    int status = 99;
    try {
      status = work();
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  rusage use{};
  wait4(pid, &status, 0, &use);
  *maxKB = use.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

int readIn(const std::string& path) {
  VTMovie* m = nullptr;
  OSErr err = vt::qtff::readMovieFile(path, &m, nullptr);
  vt::movie::destroyMovie(m);
  return err == noErr || err == badFileFormat ? 0 : err == memFullErr ? 1 : 2;
}

TEST(MovieMalformed, SampleCountBombsOpenInBoundedMemory) {
  std::string dir = vt_test::tempDir("movie-bomb");
  long baseKB = 0, kb = 0;
  std::string valid = makeValid(dir);
  ASSERT_EQ(inChild([&] { return readIn(valid); }, &baseKB), 0);
  // 0.4, 4.2 and 44 KB claiming two million samples per track.
  for (int tracks : {1, 13, 140}) {
    std::string path = dir + "/bomb" + std::to_string(tracks) + ".mov";
    mt::writeFile(path, movieOf(tracks, 1u << 21, atom("mdhd", {words({0, 0, 0, 600, 0, 0})})));
    EXPECT_EQ(inChild([&] { return readIn(path); }, &kb), 0) << tracks;
    EXPECT_LT(kb - baseKB, 32 * 1024) << tracks;
  }
}

TEST(MovieMalformed, RunningOutOfMemoryIsAnErrorNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space limits and the sanitizer's shadow memory do not mix";
#endif
  // A movie atom of almost a gigabyte (in a sparse file), with less address space left.
  std::string path = vt_test::tempDir("movie-oom") + "/huge.mov";
  mt::writeFile(path, words({20, 'ftyp', 'qt  ', 0, 'qt  ', (1u << 30) - 64, 'moov'}));
  std::filesystem::resize_file(path, 20 + (1u << 30) - 64);
  long kb = 0;
  EXPECT_EQ(inChild(
                [&] {
                  unsigned long pages = 0;
                  std::ifstream("/proc/self/statm") >> pages;
                  rlimit r{};
                  getrlimit(RLIMIT_AS, &r);
                  r.rlim_cur = pages * (unsigned long)sysconf(_SC_PAGESIZE) + (512ul << 20);
                  setrlimit(RLIMIT_AS, &r);
                  return readIn(path);
                },
                &kb),
            1);
  std::filesystem::remove(path);
}

TEST(MovieMalformed, VersionOneMediaHeaderKeepsItsLanguage) {
  // 64-bit times and duration, then 'eng' and the quality.
  auto mdhd = atom("mdhd", {words({0x01000000, 0, 0, 0, 0, 600, 0, 1}), {0x15, 0xC7, 0, 0}});
  std::vector<uint8_t> file = movieOf(1, 1, mdhd);
  VTMovie* m = vt::movie::newMovieObject();
  ASSERT_EQ(vt::qtff::parseMovieAtom(&file[20], file.size() - 20, *m, ""), noErr);
  EXPECT_EQ(m->tracks[0]->media->language, 0x15C7);
  // Written and read again, it is still there.
  std::vector<uint8_t> again = vt::qtff::buildMovieAtom(*m, "");
  VTMovie* m2 = vt::movie::newMovieObject();
  ASSERT_EQ(vt::qtff::parseMovieAtom(again.data(), again.size(), *m2, ""), noErr);
  EXPECT_EQ(m2->tracks[0]->media->language, 0x15C7);
  for (VTMovie* k : {m, m2}) vt::movie::destroyMovie(k);
}

}  // namespace
