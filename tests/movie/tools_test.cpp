// movie-info and movie-flatten against what ffprobe sees of the same files.
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "helpers.h"

namespace {

using nlohmann::json;

// Runs `tool` on the quoted `files`: its exit status, and its standard output in *out (with
// its standard error when `withErrors`).
int tool(const char* tool, const std::vector<std::string>& files, std::string* out,
         bool withErrors = true) {
  std::string command = std::string("'") + tool + "'";
  for (const std::string& f : files) command += " '" + f + "'";
  out->clear();
  return vt_test::run(command + (withErrors ? " 2>&1" : " 2>/dev/null"), out);
}

json info(const std::string& file, int* status) {
  std::string out;
  *status = tool(MOVIE_INFO, {file}, &out, false);
  return json::parse(out, nullptr, false);
}

TEST(MovieTools, InfoAgreesWithFfprobe) {
  std::string dir = vt_test::tempDir("movie-tools");
  std::string src = vt_test::fixture("mv_h264_aac.mov", mt::kH264Aac);
  std::string ours = dir + "/flat.mov", out;
  ASSERT_EQ(tool(MOVIE_FLATTEN, {src, ours}, &out), 0) << out;
  int rc = -1;
  for (const std::string& file : {src, ours}) {
    SCOPED_TRACE(file);
    json i = info(file, &rc);
    ASSERT_EQ(rc, 0);
    std::string probed = mt::ffprobe("-print_format json -show_streams '" + file + "'");
    json probe = json::parse(probed, nullptr, false);
    ASSERT_TRUE(probe.contains("streams"));
    ASSERT_EQ(i["tracks"].size(), probe["streams"].size());
    for (size_t k = 0; k < probe["streams"].size(); ++k) {
      const json& s = probe["streams"][k];
      const json& t = i["tracks"][k];
      EXPECT_EQ(t["media"]["sampleDescriptions"][0]["format"], s["codec_tag_string"]);
      EXPECT_EQ(std::to_string(t["media"]["sampleCount"].get<long>()),
                s["nb_frames"].get<std::string>());
      EXPECT_EQ(t["media"]["timeScale"].get<long>(),
                std::stol(s["time_base"].get<std::string>().substr(2)));
      double seconds = t["duration"].get<double>() / i["timeScale"].get<double>();
      EXPECT_NEAR(seconds, std::stod(s["duration"].get<std::string>()), 0.05);
    }
  }
  // The flattened copy holds its data itself: movie atom first, one self reference.
  json flat = info(ours, &rc);
  EXPECT_EQ(flat["movieAtom"]["offset"], 20);
  EXPECT_TRUE(flat["tracks"][0]["media"]["dataRefs"][0]["self"].get<bool>());
  // A handler name that is not UTF-8 prints with a replacement character.
  std::vector<uint8_t> b = mt::readFile(src);
  size_t name = (size_t)(std::search(b.begin(), b.end(), "hdlr", "hdlr" + 4) - b.begin()) + 28;
  ASSERT_LT(name, b.size());
  b[name + 1] = 0xFF;
  mt::writeFile(dir + "/names.mov", b);
  EXPECT_NE(info(dir + "/names.mov", &rc).dump().find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(rc, 0);
}

TEST(MovieTools, BadInputGivesOneLineAndStatus) {
  std::string dir = vt_test::tempDir("movie-tools-bad");
  std::string junk = vt_test::writeFile(dir + "/junk.mov", std::string(100, 'j'));
  std::string out;
  EXPECT_NE(tool(MOVIE_INFO, {}, &out), 0);  // usage
  const std::pair<const char*, std::vector<std::string>> runs[] = {
      {MOVIE_INFO, {junk}},
      {MOVIE_FLATTEN, {dir + "/missing.mov", dir + "/o.mov"}},
      {MOVIE_FLATTEN, {junk, dir + "/o.mov"}}};
  for (const auto& [which, files] : runs) {
    EXPECT_NE(tool(which, files, &out), 0) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/o.mov"));
  // A FIFO is refused at once rather than waited on (the timeout would answer 124).
  ASSERT_EQ(mkfifo((dir + "/fifo.mov").c_str(), 0600), 0);
  EXPECT_EQ(vt_test::run("timeout 20 '" + std::string(MOVIE_INFO) + "' '" + dir + "/fifo.mov' 2>&1",
                         &out),
            1)
      << out;
}

}  // namespace
