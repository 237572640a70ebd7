#include <AppleEvents.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "appleevents/ae_queue.h"
#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

// The command that runs this program as the helper (see main) in `mode`.
std::string helper(const std::string& mode = "once") {
  return "VT_HELPER_MODE=" + mode + " '" + fs::read_symlink("/proc/self/exe").string() + "'";
}

// A short private runtime folder (socket paths are limited to about 100 bytes).
struct RuntimeDir {
  std::string path;
  RuntimeDir() {
    char tmpl[] = "/tmp/vt-ae-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~RuntimeDir() { fs::remove_all(path); }
  std::string sock() const { return path + "/vantrel-instance.sock"; }
  // Launches the helper as the single instance, waiting `wait` seconds for a hand-over.
  std::string serve(int wait) const {
    return "XDG_RUNTIME_DIR='" + path + "' VT_HELPER_WAIT=" + std::to_string(wait) + " " +
           helper("serve");
  }
};

// A connection to the socket, or -1.
int connectTo(const std::string& socketPath) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{AF_UNIX, {}};
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  if (connect(fd, (sockaddr*)&addr, sizeof addr) == 0) return fd;
  close(fd);
  return -1;
}

// Sends raw bytes to the instance socket as a foreign client would; answers what came back.
std::string sendRaw(const std::string& socketPath, const std::string& bytes) {
  int fd = connectTo(socketPath);
  std::string answer;
  if (fd >= 0) {
    if (!bytes.empty()) (void)!write(fd, bytes.data(), bytes.size());
    shutdown(fd, SHUT_WR);
    char buf[64];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) answer.append(buf, (size_t)n);
  }
  close(fd);
  return answer;
}

// Waits up to five seconds for `file` to hold `text`; answers what the file then holds.
std::string waitForText(const std::string& file, const std::string& text) {
  std::string got;
  for (int i = 0; i < 100 && (got = vt_test::readFile(file)).find(text) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return got;
}

// Runs `serve` in the background as the first instance, printing to `out`; waits for READY.
void startInstance(const std::string& serve, const std::string& out) {
  ASSERT_EQ(vt_test::run(serve + " > '" + out + "' 2>&1 &"), 0);
  std::string ready = waitForText(out, "READY");
  ASSERT_NE(ready.find("READY"), std::string::npos) << ready;
}

}  // namespace

TEST(Launch, ArgumentsBecomeOneOpenDocumentsEvent) {
  std::string dir = vt_test::tempDir("ae-launch"), out, want = "EVENT odoc\n";
  for (const char* name : {"a.mov", "b b.mov", "-dash.mov"})
    want += "FILE 0 " + vt_test::writeFile(dir + "/" + name) + "\n";
  std::string cmd = "cd '" + dir + "' && " + helper() + " a.mov 'b b.mov' -psn_0_1 -- -dash.mov";
  ASSERT_EQ(vt_test::run(cmd, &out), 0);
  EXPECT_EQ(out, want);
}

// The application takes two files from a request; thousands would stall the event loop.
TEST(Launch, AnOpenRequestCarriesAtMostSixtyFourFiles) {
  std::string dir = vt_test::tempDir("ae-many"), out, cmd = "cd '" + dir + "' && " + helper();
  for (int i = 0; i < 100; ++i)
    cmd +=
        " " +
        fs::path(vt_test::writeFile(dir + "/f" + std::to_string(i) + ".mov")).filename().string();
  ASSERT_EQ(vt_test::run(cmd, &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 65) << out;  // the event and 64 files
  EXPECT_NE(out.find("/f63.mov\n"), std::string::npos);
  EXPECT_EQ(out.find("/f64.mov\n"), std::string::npos);
}

// A later launch hands its files to the running instance, which ignores malformed hand-overs;
// a socket file left by an instance that crashed does not block the next start.
TEST(Launch, SecondLaunchHandsItsFilesToTheRunningInstance) {
  RuntimeDir runtime;
  std::string dir = vt_test::tempDir("ae-second"), out = dir + "/first.txt", secondOut;
  std::string file = vt_test::writeFile(dir + "/second.mov");
  ASSERT_NO_FATAL_FAILURE(startInstance(runtime.serve(30), out));
  // Wrong greeting; a path cut short (no terminator).
  EXPECT_EQ(sendRaw(runtime.sock(), "HELLO\n/etc/passwd"), "");
  EXPECT_EQ(sendRaw(runtime.sock(), std::string("VANTREL-OPEN 1\n/tmp/a.mov\0/tmp/b", 32)), "");
  ASSERT_EQ(vt_test::run("cd '" + dir + "' && " + runtime.serve(0) + " second.mov", &secondOut), 0);
  EXPECT_EQ(secondOut, "");  // it handed over and ended without handling anything itself
  EXPECT_EQ(waitForText(out, "FILE"), "EVENT oapp\nREADY\nEVENT odoc\nFILE 0 " + file + "\n");

  // The first instance has ended and removed its socket.
  for (int i = 0; i < 100 && fs::exists(runtime.sock()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(fs::exists(runtime.sock()));
  vt_test::writeFile(runtime.sock(), "");  // as a crash leaves it: nobody listens
  ASSERT_NO_FATAL_FAILURE(startInstance(runtime.serve(30), out));
  // A relative path is no usable file: a plain re-launch.
  EXPECT_EQ(sendRaw(runtime.sock(), std::string("VANTREL-OPEN 1\nrelative.mov\0", 28)), "OK\n");
  EXPECT_EQ(waitForText(out, "EVENT rapp"), "EVENT oapp\nREADY\nEVENT rapp\n");
}

TEST(Launch, SilentPeersDoNotHoldUpTheEventLoop) {
  RuntimeDir runtime;
  std::string saved = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
  setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
  vt::ae::reset();
  vt::ae::initialiseProcessWithArguments({}, true);  // the first instance: it listens
  EventRecord e;
  ASSERT_TRUE(vt::ae::takePendingEvent(e));  // its own open-application event
  std::vector<int> silent(8);
  for (int& fd : silent) fd = connectTo(runtime.sock());
  ASSERT_EQ(std::count(silent.begin(), silent.end(), -1), 0);
  // A late launch hands over a file meanwhile; its answer comes from the socket's own thread.
  std::string answer;
  std::thread late([&] {
    answer = sendRaw(runtime.sock(), std::string("VANTREL-OPEN 1\n/tmp/late.mov\0", 29));
  });
  bool delivered = false;
  for (int turn = 0; turn < 300 && !delivered; ++turn) {
    auto start = std::chrono::steady_clock::now();
    vt::ae::pollExternal();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(50)) << "turn " << turn;
    delivered = vt::ae::hasPendingEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  late.join();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(answer, "OK\n");
  for (int fd : silent) close(fd);
  vt::ae::reset();
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// One instance per display: a launch on another display starts its own, while one on another
// screen of the same display hands over.
TEST(Launch, EachDisplayHasItsOwnInstance) {
  RuntimeDir runtime;
  std::string dir = vt_test::tempDir("ae-displays"), out = dir + "/first.txt", said;
  std::string file = vt_test::writeFile(dir + "/clip.mov");
  auto on = [&](const char* display, int wait) {
    return "cd '" + dir + "' && DISPLAY='" + display + "' " + runtime.serve(wait);
  };
  ASSERT_NO_FATAL_FAILURE(startInstance(on(":7", 30), out));
  // Display :8 has no instance: this launch is its own, takes its file and waits in vain.
  EXPECT_EQ(vt_test::run(on(":8", 0) + " clip.mov", &said), 3) << said;
  EXPECT_EQ(said, "EVENT odoc\nFILE 0 " + file + "\nREADY\nTIMEOUT\n");
  said.clear();
  EXPECT_EQ(vt_test::run(on(":7.1", 0) + " clip.mov", &said), 0);
  EXPECT_EQ(said, "");
  EXPECT_EQ(waitForText(out, "FILE"), "EVENT oapp\nREADY\nEVENT odoc\nFILE 0 " + file + "\n");

  const struct {
    const char *display, *wayland, *socket;
  } names[] = {
      {":0", "", "vantrel-instance-:0.sock"},
      {"unix:0.1", "", "vantrel-instance-:0.sock"},
      {"host.example:10.0", "wayland-1", "vantrel-instance-host.example:10.sock"},
      {"/private/tmp/launch/org.x:0", "", "vantrel-instance-_private_tmp_launch_org.x:0.sock"},
      {"", "wayland-1", "vantrel-instance-wayland-1.sock"},
      {"", "", "vantrel-instance.sock"},
  };
  setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
  for (const auto& n : names) {
    setenv("DISPLAY", n.display, 1);
    setenv("WAYLAND_DISPLAY", n.wayland, 1);
    EXPECT_EQ(vt::ae::instanceSocketPath(), runtime.path + "/" + n.socket) << n.display;
  }
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("XDG_RUNTIME_DIR");
}

// A socket in a folder others may write to, or held by another user, gets no files: the
// launch opens them itself.
TEST(Launch, SocketsThatAreNotOursAreRefused) {
  for (uid_t impostor : {getuid(), (uid_t)65534}) {
    if (impostor != getuid() && geteuid() != 0) continue;  // only root can be another user
    RuntimeDir runtime;
    chmod(runtime.path.c_str(), impostor == getuid() ? 0755 : 0700);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0), heard[2];
    sockaddr_un addr{AF_UNIX, {}};
    std::strncpy(addr.sun_path, runtime.sock().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, (sockaddr*)&addr, sizeof addr), 0);
    ASSERT_EQ(pipe(heard), 0);
    pid_t pid = fork();
    if (pid == 0) {  // listens as its user, takes what comes, says OK
      if (setuid(impostor) != 0 || listen(fd, 4) != 0) _exit(2);
      (void)!write(heard[1], "L", 1);
      int peer = accept(fd, nullptr, nullptr);
      char buf[256];
      (void)!write(heard[1], read(peer, buf, sizeof buf) > 0 ? "G" : "N", 1);
      (void)!write(peer, "OK\n", 3);
      _exit(0);
    }
    close(heard[1]);
    char mark = 'N';
    ASSERT_EQ(read(heard[0], &mark, 1), 1);  // listening
    std::string dir = vt_test::tempDir("ae-impostor"), out;
    std::string mine = vt_test::writeFile(dir + "/mine.mov");
    vt_test::run("cd '" + dir + "' && " + runtime.serve(0) + " mine.mov", &out);
    EXPECT_NE(out.find("EVENT odoc\nFILE 0 " + mine + "\n"), std::string::npos) << out;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    mark = 'N';
    (void)!read(heard[0], &mark, 1);
    EXPECT_NE(mark, 'G') << "the impostor got the files";
    close(fd);
    close(heard[0]);
  }
}

// Run with VT_HELPER_MODE set, this program is a helper that starts like the application and
// prints the Apple events it gets: "once" prints the pending ones and ends; "serve" starts as the
// single instance, prints READY and waits (at most VT_HELPER_WAIT seconds) for a later launch to
// hand over, prints what it got and ends (status 3 when nothing came).
namespace {

OSErr printEvent(const AppleEvent* event, AppleEvent*, unsigned long) {
  AEEventID id = 0;
  AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &id, sizeof id, nullptr);
  id = htonl(id);  // the code's characters in reading order
  std::printf("EVENT %.4s\n", (const char*)&id);
  AEDescList list{};
  long n = 0;
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr) AECountItems(&list, &n);
  for (long i = 1; i <= n; ++i) {
    FSSpec spec;
    OSErr err = AEGetNthPtr(&list, i, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr);
    char path[4096] = "";
    if (err == noErr) VTFSSpecToPath(&spec, path, sizeof path);
    std::printf("FILE %d %s\n", err, path);
  }
  AEDisposeDesc(&list);
  std::fflush(stdout);
  return noErr;
}

int helperMain(bool serve, int waitSeconds) {
  AEInstallEventHandler(typeWildCard, typeWildCard, NewAEEventHandlerUPP(printEvent), 0, false);
  vt::ae::initialiseProcess(serve);
  auto drain = [] {
    int n = 0;
    for (EventRecord e; vt::ae::takePendingEvent(e); ++n) AEProcessAppleEvent(&e);
    return n;
  };
  drain();
  if (!serve) return 0;
  std::printf("READY\n");
  std::fflush(stdout);
  for (int i = 0; i < 10 * waitSeconds; ++i, usleep(100000)) {
    vt::ae::pollExternal();
    if (drain() > 0) return 0;
  }
  std::printf("TIMEOUT\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* mode = std::getenv("VT_HELPER_MODE")) {
    const char* wait = std::getenv("VT_HELPER_WAIT");
    return helperMain(std::strcmp(mode, "serve") == 0, wait ? std::atoi(wait) : 20);
  }
  // A helper launched without its mode must not run the tests (and launch helpers) again.
  if (std::getenv("VT_LAUNCH_TESTS")) return 2;
  setenv("VT_LAUNCH_TESTS", "1", 1);
  // The instance socket is named after the display: the tests choose theirs.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
