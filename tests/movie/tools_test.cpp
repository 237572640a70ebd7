// movie-info and movie-flatten against what ffprobe sees of the same files.
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "helpers.h"

namespace {

using nlohmann::json;

json run(const std::string& command, int* status = nullptr) {
  std::string out;
  int rc = vt_test::run(command + " 2>/dev/null", &out);
  if (status) *status = rc;
  try {
    return json::parse(out);
  } catch (...) {
    return json();
  }
}

TEST(MovieTools, InfoAgreesWithFfprobe) {
  std::string dir = vt_test::tempDir("movie-tools");
  std::string src = vt_test::fixture("mv_h264_aac.mov",
                                     "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 -f lavfi -i "
                                     "sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 "
                                     "-pix_fmt yuv420p -bf 2 -c:a aac");
  std::string ours = dir + "/flat.mov";
  int rc = -1;
  std::string out;
  rc = vt_test::run(std::string("'") + MOVIE_FLATTEN + "' '" + src + "' '" + ours + "' 2>&1", &out);
  ASSERT_EQ(rc, 0) << out;
  for (const std::string& file : {src, ours}) {
    SCOPED_TRACE(file);
    json info = run(std::string("'") + MOVIE_INFO + "' '" + file + "'", &rc);
    ASSERT_EQ(rc, 0);
    json probe = run("ffprobe -v error -print_format json -show_streams '" + file + "'");
    ASSERT_TRUE(probe.contains("streams"));
    ASSERT_EQ(info["tracks"].size(), probe["streams"].size());
    for (size_t i = 0; i < probe["streams"].size(); ++i) {
      const json& s = probe["streams"][i];
      const json& t = info["tracks"][i];
      EXPECT_EQ(t["media"]["sampleDescriptions"][0]["format"], s["codec_tag_string"]);
      EXPECT_EQ(std::to_string(t["media"]["sampleCount"].get<long>()),
                s["nb_frames"].get<std::string>());
      EXPECT_EQ(t["media"]["timeScale"].get<long>(),
                std::stol(s["time_base"].get<std::string>().substr(2)));
      double seconds = t["duration"].get<double>() / info["timeScale"].get<double>();
      EXPECT_NEAR(seconds, std::stod(s["duration"].get<std::string>()), 0.05);
    }
  }
  // The flattened copy holds its data itself: movie atom first, one self reference.
  json info = run(std::string("'") + MOVIE_INFO + "' '" + ours + "'");
  EXPECT_EQ(info["movieAtom"]["offset"], 20);
  EXPECT_TRUE(info["tracks"][0]["media"]["dataRefs"][0]["self"].get<bool>());
  // A handler name that is not UTF-8 prints with a replacement character.
  std::vector<uint8_t> b = mt::readFile(src);
  size_t name = (size_t)(std::search(b.begin(), b.end(), "hdlr", "hdlr" + 4) - b.begin()) + 28;
  ASSERT_LT(name, b.size());
  b[name + 1] = 0xFF;
  mt::writeFile(dir + "/names.mov", b);
  info = run(std::string("'") + MOVIE_INFO + "' '" + dir + "/names.mov'", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(info.dump().find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(MovieTools, BadInputGivesOneLineAndStatus) {
  std::string dir = vt_test::tempDir("movie-tools-bad");
  mt::writeFile(dir + "/junk.mov", std::vector<uint8_t>(100, 'j'));
  std::string err;
  int rc = vt_test::run(std::string("'") + MOVIE_INFO + "' '" + dir + "/junk.mov' 2>&1 >/dev/null",
                        &err);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  rc = vt_test::run(std::string("'") + MOVIE_INFO + "' 2>&1", &err);
  EXPECT_NE(rc, 0);
  err.clear();
  rc = vt_test::run(
      std::string("'") + MOVIE_FLATTEN + "' '" + dir + "/missing.mov' '" + dir + "/o.mov' 2>&1",
      &err);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_FALSE(std::filesystem::exists(dir + "/o.mov"));
  err.clear();
  rc = vt_test::run(
      std::string("'") + MOVIE_FLATTEN + "' '" + dir + "/junk.mov' '" + dir + "/o.mov' 2>&1", &err);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  // A FIFO is refused at once rather than waited on (the timeout would answer 124).
  ASSERT_EQ(mkfifo((dir + "/fifo.mov").c_str(), 0600), 0);
  err.clear();
  rc = vt_test::run("timeout 20 '" + std::string(MOVIE_INFO) + "' '" + dir + "/fifo.mov' 2>&1",
                    &err);
  EXPECT_EQ(rc, 1) << err;
}

}  // namespace
