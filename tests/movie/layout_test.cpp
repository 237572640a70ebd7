// The layout of a flattened movie file, its writing and the positional reads under it.
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "core/fourcc.h"
#include "files/positional_io.h"
#include "helpers.h"
#include "model/internal.h"
#include "qtff/data_writer.h"
#include "qtff/flat_layout.h"

namespace {

using MoviePtr = std::unique_ptr<VTMovie, void (*)(VTMovie*)>;

// A copy of a memory movie of 10 samples of 7 bytes, sample k all bytes k.
MoviePtr sevenByteSamples() {
  Movie m = mt::videoMovie(10, 7, 60);
  MoviePtr copy(vt::movie::cloneMovie(*m), vt::movie::destroyMovie);
  DisposeMovie(m);
  return copy;
}

// A source whose reads always fail, as a file cut short does.
struct LostSource : vt::movie::DataSource {
  bool read(uint64_t, uint32_t, uint8_t*) override { return false; }
  std::string filePath() const override { return "/lost/media.mov"; }
};

TEST(FlatLayout, SamplesFollowTheMdatHeaderThatCountsThem) {
  for (bool movieFirst : {true, false}) {
    SCOPED_TRACE(movieFirst);
    MoviePtr movie = sevenByteSamples();
    auto layout = vt::qtff::planFlatFile(*movie, "/tmp/flat.mov", movieFirst);
    ASSERT_TRUE(layout.ok());
    const auto& head = layout->head;
    ASSERT_GE(head.size(), 32u);
    EXPECT_EQ(vt::readBE32(&head[4]), 'ftyp');
    uint32_t second = vt::readBE32(&head[0]);
    EXPECT_EQ(vt::readBE32(&head[second + 4]), movieFirst ? 'moov' : 'wide');
    EXPECT_EQ(layout->dataSize, 70u);
    EXPECT_EQ(vt::readBE32(&head[head.size() - 8]), 78u);
    EXPECT_EQ(vt::readBE32(&head[head.size() - 4]), 'mdat');
    ASSERT_EQ(layout->tail.size() >= 8, !movieFirst);
    if (!movieFirst) {
      EXPECT_EQ(vt::readBE32(&layout->tail[4]), 'moov');
    }
    const VTMedia& md = *movie->tracks[0]->media;
    EXPECT_EQ(md.sampleInfo(0).offset, head.size());
    EXPECT_EQ(md.sampleInfo(9).offset, head.size() + 63);
    ASSERT_EQ(md.dataRefs.size(), 1u);
    EXPECT_EQ(md.dataRefs[0].path, "/tmp/flat.mov");
  }
}

TEST(FlatLayout, DataWithoutASourceFails) {
  MoviePtr movie = sevenByteSamples();
  movie->tracks[0]->media->dataRefs[0].source.reset();
  auto layout = vt::qtff::planFlatFile(*movie, "/tmp/flat.mov", true);
  EXPECT_EQ(layout.error(), couldNotResolveDataRef);
}

class FlatWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    auto planned = vt::qtff::planFlatFile(*movie, path + ".mov", false);
    ASSERT_TRUE(planned.ok());
    layout = std::move(*planned);
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { ::close(fd); }
  MoviePtr movie = sevenByteSamples();
  std::string path = vt_test::tempDir("flatwrite") + "/out";
  vt::qtff::FlatLayout layout;
  int fd = -1;
};

TEST_F(FlatWrite, WritesHeadSamplesAndTailInOrder) {
  std::vector<uint64_t> seen;
  auto progress = [&](uint64_t copied) {
    seen.push_back(copied);
    return OSErr(noErr);
  };
  ASSERT_EQ(vt::qtff::writeFlatFile(fd, layout, progress), noErr);
  std::vector<uint8_t> want = layout.head;
  for (uint8_t k = 0; k < 10; ++k) want.insert(want.end(), 7, k);
  want.insert(want.end(), layout.tail.begin(), layout.tail.end());
  EXPECT_EQ(mt::readFile(path), want);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 70u);
}

TEST_F(FlatWrite, AProgressCodeStopsTheWriteAndIsAnswered) {
  int calls = 0;
  auto cancel = [&](uint64_t) { return ++calls, OSErr(userCanceledErr); };
  EXPECT_EQ(vt::qtff::writeFlatFile(fd, layout, cancel), userCanceledErr);
  EXPECT_EQ(calls, 1);
}

TEST_F(FlatWrite, AFailingReadNotesTheMissingFile) {
  LostSource lost;
  for (auto& run : layout.runs) run.source = &lost;
  EXPECT_EQ(vt::qtff::writeFlatFile(fd, layout, nullptr), couldNotResolveDataRef);
  EXPECT_EQ(vt::movie::missingDataFile(), "/lost/media.mov");
}

// What a flattening told its progress procedure, which stops it at message `stopAt`.
struct ProgressLog {
  short stopAt = -1;
  std::vector<short> messages;
  Fixed lastPercent = -1;
};
OSErr logProgress(Movie, short message, short op, Fixed percent, long refcon) {
  auto* log = (ProgressLog*)refcon;
  EXPECT_EQ(op, progressOpFlatten);
  log->messages.push_back(message);
  if (message == movieProgressUpdatePercent) {
    EXPECT_GT(percent, log->lastPercent);
    log->lastPercent = percent;
  }
  return message == log->stopAt ? (OSErr)-1 : (OSErr)noErr;
}

TEST(FlattenProgress, OpensReportsAndClosesOrStopsWhereAsked) {
  const short open = movieProgressOpen, update = movieProgressUpdatePercent,
              close = movieProgressClose;
  struct Case {
    short stopAt;
    OSErr want;
    std::vector<short> first, last;  // the first and last two messages
  } cases[] = {
      {-1, noErr, {open, update}, {update, close}},
      {open, progressProcAborted, {open, close}, {open, close}},
      {update, progressProcAborted, {open, update}, {update, close}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stopAt);
    Movie m = mt::videoMovie(300, 1000, 60);
    ProgressLog log;
    log.stopAt = c.stopAt;
    SetMovieProgressProc(m, NewMovieProgressUPP(logProgress), (long)&log);
    std::string path = vt_test::tempDir("progress") + "/flat.mov";
    Movie flat = mt::flatten(m, path);
    EXPECT_EQ(GetMoviesError(), c.want);
    EXPECT_EQ(flat != nullptr, c.want == noErr);
    EXPECT_EQ(::access(path.c_str(), F_OK) == 0, c.want == noErr);
    ASSERT_GE(log.messages.size(), 2u);
    EXPECT_EQ(std::vector<short>(log.messages.begin(), log.messages.begin() + 2), c.first);
    EXPECT_EQ(std::vector<short>(log.messages.end() - 2, log.messages.end()), c.last);
    if (c.want == noErr) {
      EXPECT_EQ(log.lastPercent, fixed1);
    }
    DisposeMovie(flat);
    DisposeMovie(m);
  }
}

TEST(PositionalIo, ReadsWholeOrNotAtAll) {
  std::string path = vt_test::tempDir("pio") + "/ten";
  mt::writeFile(path, std::vector<uint8_t>(10, 0x5A));
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  uint8_t buf[10] = {};
  EXPECT_TRUE(vt::files::readAt(fd, 2, 8, buf));
  EXPECT_EQ(buf[7], 0x5A);
  EXPECT_FALSE(vt::files::readAt(fd, 5, 10, buf));  // past the end
  ::close(fd);
}

}  // namespace
