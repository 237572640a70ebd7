// Decoding of foreign containers through the demuxer and a source stream, checked against
// ffmpeg's own decode of the same frames.
#include <MacErrors.h>
#include <gtest/gtest.h>

#include "codec/demux.h"
#include "compose/stream.h"
#include "core/fourcc.h"
#include "../codec/helpers.h"

using namespace vt::codec;
using codec_test::psnr;
using codec_test::referenceFrame;

namespace {

// A stream with the track decoder's old question: the picture shown at a media time.
struct Decoder {
  std::unique_ptr<vt::compose::SourceStream> stream;
  OSErr imageAtMediaTime(int64_t t, vt::Image& out, int ahead = 0) {
    int64_t k = stream->sampleAtMediaTime(t);
    return k < 0 ? (OSErr)invalidTime : stream->picture(k, out, 0, 0, ahead);
  }
  int64_t samplesDecoded() const { return stream->samplesDecoded(); }
};

struct Opened {
  std::unique_ptr<Demuxer> demux;
  std::unique_ptr<DemuxSampleSource> source;
  std::unique_ptr<Decoder> decoder;
};

Opened openFile(const std::string& path) {
  Opened o;
  auto d = Demuxer::open(path);
  EXPECT_TRUE(d.ok()) << path << " error " << d.error();
  if (!d.ok()) return o;
  o.demux = std::move(d.value());
  o.source = std::make_unique<DemuxSampleSource>(*o.demux);
  o.decoder = std::make_unique<Decoder>();
  o.decoder->stream = std::make_unique<vt::compose::SourceStream>(*o.source);
  return o;
}

// Display-order frame n's media time.
int64_t displayTime(Demuxer& d, int n) {
  std::vector<int64_t> t;
  for (const auto& s : d.samples()) t.push_back(s.decodeTime + s.compositionOffset);
  std::sort(t.begin(), t.end());
  return t.at((size_t)n);
}

void expectMatchesFfmpeg(const std::string& path, std::initializer_list<int> frames) {
  Opened o = openFile(path);
  ASSERT_TRUE(o.decoder);
  for (int n : frames) {
    vt::Image img;
    ASSERT_EQ(o.decoder->imageAtMediaTime(displayTime(*o.demux, n), img), noErr) << "frame " << n;
    vt::Image ref = referenceFrame(path, n, img.width, img.height);
    EXPECT_GE(psnr(img, ref), 40.0) << path << " frame " << n;
  }
}

}  // namespace

TEST(ForeignDecode, ComparisonTellsNeighbouringFramesApart) {
  // The PSNR bar must reject the frame next door, or the tests below would prove nothing.
  std::string path = vt_test::fixture("h264_bf.mkv",
                                      "-f lavfi -i testsrc2=size=320x240:rate=25 -t 3 "
                                      "-c:v libx264 -bf 3 -g 20 -pix_fmt yuv420p");
  Opened o = openFile(path);
  ASSERT_TRUE(o.decoder);
  vt::Image img;
  ASSERT_EQ(o.decoder->imageAtMediaTime(displayTime(*o.demux, 5), img), noErr);
  EXPECT_LT(psnr(img, referenceFrame(path, 6, img.width, img.height)), 40.0);
  EXPECT_LT(psnr(img, referenceFrame(path, 4, img.width, img.height)), 40.0);
}

TEST(ForeignDecode, FramesMatchFfmpegAcrossCodecsAndSizes) {
  // H.264 with B-frames (reordered output), out-of-order requests force seeks.
  expectMatchesFfmpeg(vt_test::fixture("h264_bf.mkv",
                                       "-f lavfi -i testsrc2=size=320x240:rate=25 -t 3 "
                                       "-c:v libx264 -bf 3 -g 20 -pix_fmt yuv420p"),
                      {0, 1, 7, 33, 21, 22, 74, 2});
  // MPEG-4 part 2 in AVI, odd dimensions.
  expectMatchesFfmpeg(vt_test::fixture("mpeg4_odd2.avi",
                                       "-f lavfi -i testsrc2=size=178x100:rate=15 -t 2 "
                                       "-vf scale=177:99 -c:v mpeg4 -q:v 3 -g 10"),
                      {0, 9, 10, 29, 4});
  // VP9 in WebM.
  expectMatchesFfmpeg(vt_test::fixture("vp9.webm",
                                       "-f lavfi -i testsrc2=size=160x120:rate=10 -t 2 "
                                       "-c:v libvpx-vp9 -b:v 300k -g 8 -deadline realtime"),
                      {0, 5, 19, 3});
  // MPEG-2 in a transport stream (time stamps do not start at zero).
  expectMatchesFfmpeg(vt_test::fixture("mpeg2.ts",
                                       "-f lavfi -i testsrc2=size=352x288:rate=25 -t 2 "
                                       "-c:v mpeg2video -q:v 2 -bf 2 -g 12"),
                      {0, 13, 49, 6});
}

TEST(ForeignDecode, VariableFrameRateShowsTheFrameOfEachTime) {
  // Frame i lasts (i % 3 + 1) / 10 s.
  std::string path = vt_test::fixture(
      "vfr.mkv",
      "-f lavfi -i testsrc2=size=128x96:rate=10 -t 2 -vf setpts='N*0.1/TB+mod(N\\,3)*0.05/TB' "
      "-vsync vfr -c:v libx264 -bf 0 -pix_fmt yuv420p");
  Opened o = openFile(path);
  ASSERT_TRUE(o.decoder);
  const auto& s = o.demux->samples();
  ASSERT_GE(s.size(), 10u);
  // Durations really vary.
  bool varies = false;
  for (size_t i = 1; i < s.size(); i++) varies |= s[i].duration != s[0].duration;
  EXPECT_TRUE(varies);
  for (int n : {0, 4, 5, 11}) {
    int64_t t = displayTime(*o.demux, n);
    int64_t next = displayTime(*o.demux, n + 1);
    vt::Image a, b;
    // Any time inside the frame's interval shows that frame.
    ASSERT_EQ(o.decoder->imageAtMediaTime(t, a), noErr);
    ASSERT_EQ(o.decoder->imageAtMediaTime(next - 1, b), noErr);
    vt::Image ref = referenceFrame(path, n, a.width, a.height);
    EXPECT_GE(psnr(a, ref), 40.0) << "frame " << n;
    EXPECT_GE(psnr(b, ref), 40.0) << "frame " << n << " at the end of its interval";
  }
}

TEST(ForeignDecode, SteppingForwardReusesTheDecoder) {
  std::string path = vt_test::fixture("h264_gop.mkv",
                                      "-f lavfi -i testsrc2=size=160x120:rate=25 -t 4 "
                                      "-c:v libx264 -bf 2 -g 50 -pix_fmt yuv420p");
  Opened o = openFile(path);
  ASSERT_TRUE(o.decoder);
  vt::Image img;
  ASSERT_EQ(o.decoder->imageAtMediaTime(displayTime(*o.demux, 40), img), noErr);
  int64_t afterSeek = o.decoder->samplesDecoded();
  EXPECT_GE(afterSeek, 41);  // from the key frame at 0
  for (int n = 41; n < 49; n++)
    ASSERT_EQ(o.decoder->imageAtMediaTime(displayTime(*o.demux, n), img), noErr);
  // Eight more frames cost about eight more samples, not another run from the key frame.
  EXPECT_LE(o.decoder->samplesDecoded() - afterSeek, 8 + 4);
  // A frame past the next key frame starts there instead of decoding everything between.
  int64_t before = o.decoder->samplesDecoded();
  ASSERT_EQ(o.decoder->imageAtMediaTime(displayTime(*o.demux, 95), img), noErr);
  EXPECT_LE(o.decoder->samplesDecoded() - before, 50);
  // Times outside the media are refused.
  EXPECT_EQ(o.decoder->imageAtMediaTime(-1, img), invalidTime);
  EXPECT_EQ(o.decoder->imageAtMediaTime(o.demux->duration(), img), invalidTime);
}
