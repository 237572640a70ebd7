#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

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

// Sends raw bytes to the instance socket as a foreign client would; answers what came back.
std::string sendRaw(const std::string& socketPath, const std::string& bytes) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  std::string answer;
  if (connect(fd, (sockaddr*)&addr, sizeof addr) == 0) {
    if (!bytes.empty()) (void)!write(fd, bytes.data(), bytes.size());
    shutdown(fd, SHUT_WR);
    char buf[64];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) answer.append(buf, (size_t)n);
  }
  close(fd);
  return answer;
}

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

TEST(Launch, MalformedHandOversAreIgnored) {
  RuntimeDir runtime;
  std::string dir = vt_test::tempDir("ae-malformed");
  std::string env = "XDG_RUNTIME_DIR='" + runtime.path + "' VT_HELPER_MODE=serve ";
  std::string out = dir + "/out.txt";
  ASSERT_EQ(vt_test::run(env + "VT_HELPER_WAIT=30 '" + helper() + "' > '" + out + "' 2>&1 &"), 0);
  for (int i = 0; i < 100 && readFile(out).find("READY") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string sock = runtime.path + "/vantrel-instance.sock";
  // Wrong greeting; a path cut short (no terminator); a relative path only.
  EXPECT_EQ(sendRaw(sock, "HELLO\n/etc/passwd"), "");
  EXPECT_EQ(sendRaw(sock, std::string("VANTREL-OPEN 1\n/tmp/a.mov\0/tmp/b", 32)), "");
  EXPECT_EQ(sendRaw(sock, std::string("VANTREL-OPEN 1\nrelative.mov\0", 28)), "OK\n");
  std::string text;
  for (int i = 0; i < 100; ++i) {
    text = readFile(out);
    if (text.find("EVENT rapp") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Only the last was accepted, and with no usable file it is a plain re-launch.
  EXPECT_EQ(text, "EVENT oapp\nREADY\nEVENT rapp\n");
}
