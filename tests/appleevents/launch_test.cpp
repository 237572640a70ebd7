#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

std::string helper() { return AE_LAUNCH_HELPER; }

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A short private runtime folder (socket paths are limited to about 100 bytes).
struct RuntimeDir {
  std::string path;
  RuntimeDir() {
    char tmpl[] = "/tmp/vt-ae-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~RuntimeDir() { fs::remove_all(path); }
};

}  // namespace

TEST(Launch, ArgumentsBecomeOneOpenDocumentsEvent) {
  std::string dir = vt_test::tempDir("ae-launch");
  std::ofstream(dir + "/a.mov") << "a";
  std::ofstream(dir + "/b b.mov") << "b";
  std::string out;
  std::string cmd = "cd '" + dir + "' && '" + helper() + "' a.mov 'b b.mov' -psn_0_1 -- -dash.mov";
  ASSERT_EQ(vt_test::run(cmd, &out), 0);
  EXPECT_EQ(out, "EVENT odoc\n"
                 "FILE 0 " + dir + "/a.mov\n"
                 "FILE 0 " + dir + "/b b.mov\n"
                 "FILE 0 " + dir + "/-dash.mov\n");

  out.clear();
  ASSERT_EQ(vt_test::run("'" + helper() + "'", &out), 0);
  EXPECT_EQ(out, "EVENT oapp\n");
}

TEST(Launch, SecondLaunchHandsItsFilesToTheRunningInstance) {
  RuntimeDir runtime;
  std::string dir = vt_test::tempDir("ae-second");
  std::ofstream(dir + "/second.mov") << "x";
  std::string env = "XDG_RUNTIME_DIR='" + runtime.path + "' VT_HELPER_MODE=serve ";
  std::string firstOut = dir + "/first.txt";
  // The first instance runs in the background and waits for a hand-over.
  ASSERT_EQ(vt_test::run(env + "VT_HELPER_WAIT=30 '" + helper() + "' > '" + firstOut + "' 2>&1 &"),
            0);
  for (int i = 0; i < 100 && readFile(firstOut).find("READY") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(readFile(firstOut).find("READY"), std::string::npos) << readFile(firstOut);

  std::string secondOut;
  ASSERT_EQ(vt_test::run("cd '" + dir + "' && " + env + "'" + helper() + "' second.mov", &secondOut),
            0);
  EXPECT_EQ(secondOut, "");  // it handed over and ended without handling anything itself

  std::string first;
  for (int i = 0; i < 100; ++i) {
    first = readFile(firstOut);
    if (first.find("FILE") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(first, "EVENT oapp\nREADY\nEVENT odoc\nFILE 0 " + dir + "/second.mov\n");

  // The first instance has ended and removed its socket; a new launch becomes the instance.
  for (int i = 0; i < 100 && fs::exists(runtime.path + "/vantrel-instance.sock"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(fs::exists(runtime.path + "/vantrel-instance.sock"));
}

TEST(Launch, StaleSocketDoesNotBlockStartUp) {
  RuntimeDir runtime;
  // A socket file left by an instance that crashed: nobody listens on it.
  std::ofstream(runtime.path + "/vantrel-instance.sock") << "";
  std::string out;
  std::string env = "XDG_RUNTIME_DIR='" + runtime.path + "' VT_HELPER_MODE=serve VT_HELPER_WAIT=0 ";
  EXPECT_EQ(vt_test::run(env + "'" + helper() + "'", &out), 3);
  EXPECT_EQ(out, "EVENT oapp\nREADY\nTIMEOUT\n");
}
