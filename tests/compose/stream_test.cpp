// Decoding of foreign containers through the demuxer and a source stream, checked against
// ffmpeg's own decode of the same frames.
#include <MacErrors.h>
#include <gtest/gtest.h>

#include <cstring>

#include "codec/demux.h"
#include "codec/yuv.h"
#include "compose/stream.h"
#include "core/fourcc.h"
#include "builders.h"

using namespace vt::codec;
using namespace codec_test;
using compose_test::testsrc;

namespace {

// A foreign file's samples through a source stream, asked what the track decoder asks.
struct Opened {
  std::unique_ptr<Demuxer> demux;
  std::unique_ptr<DemuxSampleSource> source;
  std::unique_ptr<vt::compose::SourceStream> stream;
  explicit Opened(const std::string& path) {
    auto d = Demuxer::open(path);
    EXPECT_TRUE(d.ok()) << path << " error " << d.error();
    if (!d.ok()) return;
    demux = std::move(d.value());
    source = std::make_unique<DemuxSampleSource>(*demux);
    stream = std::make_unique<vt::compose::SourceStream>(*source);
  }
  // The picture shown at media time t.
  OSErr imageAt(int64_t t, vt::Image& out) {
    int64_t k = stream->sampleAtMediaTime(t);
    return k < 0 ? (OSErr)invalidTime : stream->picture(k, out, 0, 0, 0);
  }
  // Display-order frame n's media time.
  int64_t time(int n) {
    std::vector<int64_t> t;
    for (const auto& s : demux->samples()) t.push_back(s.decodeTime + s.compositionOffset);
    std::sort(t.begin(), t.end());
    return t.at((size_t)n);
  }
  OSErr frame(int n, vt::Image& out) { return imageAt(time(n), out); }
};

}  // namespace

TEST(ForeignDecode, FramesMatchFfmpegAcrossCodecsAndSizes) {
  const struct {
    std::string path;
    std::vector<int> frames;
  } cases[] = {
      // H.264 with B-frames (reordered output), out-of-order requests force seeks.
      {testsrc("h264_bf.mkv", "320x240", 25, 3, "-c:v libx264 -bf 3 -g 20 -pix_fmt yuv420p"),
       {0, 1, 7, 33, 21, 22, 74, 2}},
      // MPEG-4 part 2 in AVI, odd dimensions.
      {testsrc("mpeg4_odd2.avi", "178x100", 15, 2, "-vf scale=177:99 -c:v mpeg4 -q:v 3 -g 10"),
       {0, 9, 10, 29, 4}},
      {testsrc("vp9.webm", "160x120", 10, 2, "-c:v libvpx-vp9 -b:v 300k -g 8 -deadline realtime"),
       {0, 5, 19, 3}},
      // MPEG-2 in a transport stream (time stamps do not start at zero).
      {testsrc("mpeg2.ts", "352x288", 25, 2, "-c:v mpeg2video -q:v 2 -bf 2 -g 12"), {0, 13, 49, 6}},
  };
  for (const auto& c : cases) {
    Opened o(c.path);
    ASSERT_TRUE(o.stream);
    for (int n : c.frames) {
      vt::Image img;
      ASSERT_EQ(o.frame(n, img), noErr) << n;
      EXPECT_GE(psnr(img, referenceFrame(c.path, n, img.width, img.height)), 40.0)
          << c.path << " frame " << n;
    }
  }
}

TEST(ForeignDecode, VariableFrameRateShowsTheFrameOfEachTime) {
  // Frame i lasts (i % 3 + 1) / 10 s.
  std::string path = testsrc("vfr.mkv", "128x96", 10, 2,
                             "-vf setpts='N*0.1/TB+mod(N\\,3)*0.05/TB' -vsync vfr -c:v libx264 "
                             "-bf 0 -pix_fmt yuv420p");
  Opened o(path);
  ASSERT_TRUE(o.stream);
  const auto& s = o.demux->samples();
  // Durations really vary.
  EXPECT_TRUE(
      std::any_of(s.begin(), s.end(), [&](auto& x) { return x.duration != s[0].duration; }));
  for (int n : {0, 4, 5, 11}) {
    vt::Image a, b;
    // Any time inside the frame's interval shows that frame.
    ASSERT_EQ(o.frame(n, a), noErr);
    ASSERT_EQ(o.imageAt(o.time(n + 1) - 1, b), noErr);
    vt::Image ref = referenceFrame(path, n, a.width, a.height);
    EXPECT_GE(psnr(a, ref), 40.0) << "frame " << n;
    EXPECT_GE(psnr(b, ref), 40.0) << "frame " << n << " at the end of its interval";
    // The bar rejects the next frame, or the comparisons would prove nothing.
    EXPECT_LT(psnr(b, referenceFrame(path, n + 1, a.width, a.height)), 40.0) << "frame " << n;
  }
}

// Jumping forward, frames before the one asked for that nothing refers to are not decoded,
// and the frame shown is the one every frame decoded in turn gives.
TEST(ForeignDecode, AJumpForwardSkipsUnreferencedFramesBeforeIt) {
  std::string path =
      testsrc("h264_skip.mkv", "160x120", 25, 4, "-c:v libx264 -bf 3 -g 200 -pix_fmt yuv420p");
  Opened jump(path), walk(path);
  ASSERT_TRUE(jump.stream && walk.stream);
  vt::Image jumped, walked;
  ASSERT_EQ(jump.frame(0, jumped), noErr);
  ASSERT_EQ(jump.frame(90, jumped), noErr);
  const int64_t sent = jump.stream->samplesDecoded(), out = jump.stream->framesDecoded();
  EXPECT_GE(sent, 91);
  EXPECT_LT(out, sent - 30) << "the B-frames between were decoded";
  for (int n = 0; n <= 90; ++n) ASSERT_EQ(walk.frame(n, walked), noErr);
  EXPECT_GE(walk.stream->framesDecoded(), 90);
  EXPECT_TRUE(jumped.pixels == walked.pixels);
}

// A frame handed out as planes a moment ago (the frames before a stop, a step back) comes
// again without going back to the key frame; an older one does go back.
TEST(ForeignDecode, AFrameJustShownAsPlanesComesAgainWithoutDecoding) {
  std::string path =
      testsrc("h264_gop.mkv", "160x120", 25, 4, "-c:v libx264 -bf 2 -g 50 -pix_fmt yuv420p");
  Opened o(path), fresh(path);
  ASSERT_TRUE(o.stream && fresh.stream);
  auto planes = [](Opened& in, int n, Frame& f) {
    vt::Image unused;
    return in.stream->picture(in.stream->sampleAtMediaTime(in.time(n)), unused, 0, 0, 2, &f);
  };
  Frame f, again, expected;
  for (int n = 0; n <= 10; ++n) ASSERT_EQ(planes(o, n, f), noErr);
  const int64_t sent = o.stream->samplesDecoded();
  ASSERT_EQ(planes(o, 8, again), noErr);
  EXPECT_EQ(o.stream->samplesDecoded(), sent);
  ASSERT_EQ(planes(fresh, 8, expected), noErr);
  vt::YuvView a, b;
  ASSERT_TRUE(yuvViewOf(again, 0, 0, a) && yuvViewOf(expected, 0, 0, b));
  for (int y = 0; y < a.height; ++y)
    ASSERT_EQ(std::memcmp(a.plane[0] + y * a.stride[0], b.plane[0] + y * b.stride[0], a.width), 0)
        << "row " << y;
  ASSERT_EQ(planes(o, 2, again), noErr);
  EXPECT_GT(o.stream->samplesDecoded(), sent) << "frame 2 is no longer kept";
}

TEST(ForeignDecode, SteppingForwardReusesTheDecoder) {
  std::string path =
      testsrc("h264_gop.mkv", "160x120", 25, 4, "-c:v libx264 -bf 2 -g 50 -pix_fmt yuv420p");
  Opened o(path);
  ASSERT_TRUE(o.stream);
  vt::Image img;
  ASSERT_EQ(o.frame(40, img), noErr);
  int64_t afterSeek = o.stream->samplesDecoded();
  EXPECT_GE(afterSeek, 41);  // from the key frame at 0
  for (int n = 41; n < 49; n++) ASSERT_EQ(o.frame(n, img), noErr);
  // Eight more frames cost about eight more samples, not another run from the key frame.
  EXPECT_LE(o.stream->samplesDecoded() - afterSeek, 8 + 4);
  // A frame past the next key frame starts there instead of decoding everything between.
  int64_t before = o.stream->samplesDecoded();
  ASSERT_EQ(o.frame(95, img), noErr);
  EXPECT_LE(o.stream->samplesDecoded() - before, 50);
  // Times outside the media are refused.
  EXPECT_EQ(o.imageAt(-1, img), invalidTime);
  EXPECT_EQ(o.imageAt(o.demux->duration(), img), invalidTime);
}
