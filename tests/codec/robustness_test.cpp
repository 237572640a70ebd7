// Damaged media: truncated and overwritten files give errors or fewer pictures, never crashes,
// and a broken sample is reported without spoiling its neighbours.
#include <filesystem>

#include "codec/decoder.h"
#include "codec/video_format.h"
#include "core/fourcc.h"
#include "helpers.h"
#include "model/model.h"

using namespace codec_test;

namespace {

// What a damaged file gives: the open's error, or "open" and for five times across the movie
// "ok" or the error GetMoviePict left; *seconds gets the opened movie's duration.
std::string outcome(const std::string& path, double* seconds) {
  OSErr err;
  Movie m = openMovie(path, &err);
  if (!m) return std::to_string(err);
  std::string s = "open";
  const TimeValue d = GetMovieDuration(m);
  *seconds = (double)d / GetMovieTimeScale(m);
  for (int k = 0; k <= 4; k++) {
    PicHandle pic = GetMoviePict(m, (TimeValue)((int64_t)d * k / 5));
    s += " " + (pic ? std::string("ok") : std::to_string(GetMoviesError()));
    if (pic) KillPicture(pic);
  }
  DisposeMovie(m);
  return s;
}

// A copy of the movie file `path` with `damage` done to its bytes, which is given the first
// track's sample `n`.
std::string damagedCopy(const std::string& path, uint32_t n,
                        void (*damage)(std::string&, const vt::movie::SampleInfo&)) {
  Movie m = openMovie(path);
  EXPECT_NE(m, nullptr) << path;
  if (!m) return "";
  vt::movie::SampleInfo s = GetMovieIndTrack(m, 1)->media->sampleInfo(n);
  DisposeMovie(m);
  std::string bytes = vt_test::readFile(path);
  damage(bytes, s);
  return vt_test::writeFile(vt_test::tempDir("damaged") + "/copy.mov", bytes);
}

// An image description of `type`, w x h at `depth` with colour table `clut`, and `extra` bytes
// after it.
std::vector<uint8_t> description(OSType type, int w, int h, int depth, int clut, size_t extra = 0) {
  std::vector<uint8_t> e(86 + extra, 0);
  vt::writeBE32(&e[0], (uint32_t)e.size());
  vt::writeBE32(&e[4], type);
  vt::writeBE16(&e[32], (uint16_t)w);
  vt::writeBE16(&e[34], (uint16_t)h);
  vt::writeBE16(&e[82], (uint16_t)depth);
  vt::writeBE16(&e[84], (uint16_t)clut);
  return e;
}

}  // namespace

// A file cut short opens as the part that is whole, every picture of it there, or fails with the
// code for what was lost: the format (badFileFormat), every picture (invalidMovie), or a still's
// data (codecBadDataErr). Runs of garbage in the middle leave a movie that opens, but for the
// PNG still, whose checked data fails as a cut one does.
TEST(DamagedMedia, TruncatedFilesOpenAsTheirWholePartOrFailWithACode) {
  const std::string dir = vt_test::tempDir("truncated"), open = "open ok ok ok ok ok";
  const std::string badFormat = std::to_string(badFileFormat),
                    noMovie = std::to_string(invalidMovie);
  const double kCuts[] = {0.02, 0.3, 0.6, 0.95};
  const struct {
    std::string path, cut[4];  // the outcome for each of kCuts
  } cases[] = {{foreign("imp.mkv"), {noMovie, open, open, open}},
               {foreign("imp.avi"), {badFormat, open, open, open}},
               {foreign("imp.ts"), {open, open, open, open}},
               {foreign("imp.gif"), {noMovie, noMovie, open, open}},
               {avcBFrames(), {badFormat, badFormat, badFormat, badFormat}},  // index at the end
               {still("png"), {badFormat, badFormat, badFormat, std::to_string(codecBadDataErr)}},
               {still("jpg"), {badFormat, open, open, open}}};
  for (const auto& c : cases) {
    const std::string name = std::filesystem::path(c.path).filename(),
                      bytes = vt_test::readFile(c.path);
    double whole = 0, part = 0;
    ASSERT_EQ(outcome(c.path, &whole), open) << name;
    for (int i = 0; i < 4; ++i) {
      part = 0;
      const std::string out = dir + "/" + std::to_string((int)(kCuts[i] * 100)) + "-" + name;
      vt_test::writeFile(out, bytes.substr(0, (size_t)(bytes.size() * kCuts[i])));
      EXPECT_EQ(outcome(out, &part), c.cut[i]) << out;
      EXPECT_LE(part, whole) << out;
    }
    std::string garbled = bytes;
    for (size_t at = garbled.size() / 3; at < garbled.size(); at += garbled.size() / 4)
      for (size_t j = 0; j < 48 && at + j < garbled.size(); j++) garbled[at + j] = (char)(j * 37);
    const std::string out = vt_test::writeFile(dir + "/garbled-" + name, garbled);
    EXPECT_EQ(outcome(out, &part), name == "still.png" ? std::to_string(codecBadDataErr) : open);
  }
}

TEST(DamagedMedia, ABrokenSampleIsAnErrorAndItsNeighboursStillDecode) {
  std::string path =
      vt_test::fixture("png_odd.mov", kSrc + "100x52:rate=5 -t 1 -vf scale=99:51 -c:v png");
  // Sample 2 keeps its PNG signature but its chunks become noise.
  Movie m = openMovie(damagedCopy(path, 2, [](std::string& b, const vt::movie::SampleInfo& s) {
    for (uint32_t i = 16; i < s.size; i++) b[s.offset + i] = (char)(i * 131 + 7);
  }));
  ASSERT_NE(m, nullptr);
  Track t = GetMovieIndTrack(m, 1);
  TimeScale sc = GetMovieTimeScale(m);
  EXPECT_EQ(GetTrackPict(t, (TimeValue)(2.5 * sc / 5)), nullptr);
  EXPECT_EQ(GetMoviesError(), codecBadDataErr);
  for (int n : {1, 3, 0, 4}) {
    vt::Image img = takePict(GetTrackPict(t, (TimeValue)((n + 0.5) * sc / 5)));
    EXPECT_GE(psnr(img, referenceFrame(path, n, 99, 51)), 40.0) << n;
  }
  DisposeMovie(m);
}

TEST(DamagedMedia, DataCutOffIsAMissingFrameNotABlackOne) {
  // Movie atom first, as a save killed half-way leaves it: the later samples' data is gone.
  std::string path = vt_test::fixture("png_moov_first.mov",
                                      kSrc + "96x48:rate=5 -t 1 -c:v png -movflags +faststart");
  Movie m = openMovie(damagedCopy(
      path, 3, [](std::string& b, const vt::movie::SampleInfo& s) { b.resize(s.offset + 10); }));
  ASSERT_NE(m, nullptr);
  TimeScale sc = GetMovieTimeScale(m);
  EXPECT_FALSE(takePict(GetMoviePict(m, (TimeValue)(1.5 * sc / 5))).empty()) << GetMoviesError();
  for (int frame : {3, 4}) {
    EXPECT_EQ(GetMoviePict(m, (TimeValue)((frame + 0.5) * sc / 5)), nullptr) << frame;
    EXPECT_EQ(GetMoviesError(), endOfDataReached) << frame;
  }
  DisposeMovie(m);
}

TEST(DamagedMedia, DescriptionsAndDecodersRefuseNonsense) {
  using namespace vt::codec;
  VideoFormat f;
  const std::vector<uint8_t> plain = description('zzzz', 16, 16, 24, 0xFFFF);
  ASSERT_TRUE(parseSampleEntry(plain.data(), plain.size(), f));
  EXPECT_EQ(VideoDecoder::open(f).error(), noCodecErr);
  for (uint32_t declared : {0u, 200u}) {  // no size, and more bytes than it has
    std::vector<uint8_t> e = plain;
    vt::writeBE32(&e[0], declared);
    EXPECT_FALSE(parseSampleEntry(e.data(), e.size(), f)) << declared;
  }
  std::vector<uint8_t> e = description('zzzz', 0, 0, 24, 0xFFFF);
  EXPECT_FALSE(parseSampleEntry(e.data(), e.size(), f));  // zero width and height
  e = description('zzzz', 16, 16, 8, 0);  // an embedded colour table past the description
  EXPECT_FALSE(parseSampleEntry(e.data(), e.size(), f));
  // Extension atoms with impossible sizes are ignored, not followed.
  e = description('avc1', 16, 16, 24, 0xFFFF, 16);
  vt::writeBE32(&e[86], 0xFFFFFFF0);
  vt::writeBE32(&e[90], 'avcC');
  ASSERT_TRUE(parseSampleEntry(e.data(), e.size(), f));
  EXPECT_TRUE(f.decoderConfig().empty());
  // A decoder fed garbage reports it and stays usable.
  auto d = VideoDecoder::open(f, 1);
  ASSERT_TRUE(d.ok());
  std::vector<uint8_t> junk(300, 0x5A);
  d.value()->send(junk.data(), junk.size(), 0);
  d.value()->drain();
  Frame fr;
  EXPECT_FALSE(d.value()->receive(fr));
  EXPECT_EQ(d.value()->send(junk.data(), 0, 1), codecErr);  // nothing more after draining
}

TEST(DamagedMedia, ClassicPalettesAndColourTables) {
  using namespace vt::codec;
  // The 8-bit default table runs from white to black; grey ramps do too.
  auto p8 = defaultPalette(8);
  ASSERT_EQ(p8.size(), 256u);
  EXPECT_EQ(p8.front(), vt::makePixel(255, 255, 255));
  EXPECT_EQ(p8.back(), vt::makePixel(0, 0, 0));
  EXPECT_EQ(p8[214], vt::makePixel(0x00, 0x00, 0x33));  // the cube ends, then the red ramp
  EXPECT_EQ(p8[215], vt::makePixel(0xEE, 0x00, 0x00));
  VideoFormat g;
  g.depth = 36;  // 4-bit grey
  auto pg = g.palette();
  ASSERT_EQ(pg.size(), 16u);
  EXPECT_EQ(pg.front(), vt::makePixel(255, 255, 255));
  EXPECT_EQ(pg.back(), vt::makePixel(0, 0, 0));
  g.depth = 24;
  EXPECT_TRUE(g.palette().empty());
  // An embedded table is read entry by entry.
  std::vector<uint8_t> e = description('raw ', 4, 4, 1, 0, 8 + 16);
  vt::writeBE16(&e[86 + 6], 1);  // two entries
  uint8_t entries[16] = {0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0, 0x80, 0x80, 0, 0};
  std::copy(entries, entries + 16, e.begin() + 94);
  VideoFormat f;
  ASSERT_TRUE(parseSampleEntry(e.data(), e.size(), f));
  const std::vector<vt::Pixel> redGreen = {vt::makePixel(255, 0, 0), vt::makePixel(0, 128, 0)};
  EXPECT_EQ(f.palette(), redGreen);
  EXPECT_TRUE(f.extensions.empty());
  // A device table's value fields are not indices: its entries are in order.
  vt::writeBE16(&e[86 + 4], 0x8000);
  vt::writeBE16(&e[94 + 8], 0);
  ASSERT_TRUE(parseSampleEntry(e.data(), e.size(), f));
  EXPECT_EQ(f.palette(), redGreen);
}
