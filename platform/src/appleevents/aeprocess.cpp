// Launch integration: the command line becomes the first Apple event, and later launches hand
// their files to the running instance over a Unix domain socket.
#include <Processes.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "appleevents/ae_queue.h"

namespace vt::ae {
namespace {

constexpr const char kMagic[] = "VANTREL-OPEN 1\n";
constexpr size_t kMaxMessage = 1 << 20;  // more files than anyone drops at once
constexpr int kIOTimeoutSeconds = 2;

int gListenFD = -1;
std::atomic<RaiseHandler> gRaise{nullptr};
std::string gListenPath;
ino_t gListenInode = 0;

std::vector<std::string> commandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\0', at);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());  // the program itself
  return args;
}

// File arguments: options (leading '-') are not files, except after "--".
std::vector<std::string> fileArguments(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool onlyFiles = false;
  for (const std::string& a : args) {
    if (!onlyFiles && a == "--") {
      onlyFiles = true;
      continue;
    }
    if (a.empty() || (!onlyFiles && a[0] == '-')) continue;
    files.push_back(std::filesystem::absolute(a).lexically_normal().string());
  }
  return files;
}

bool fillAddress(const std::string& path, sockaddr_un& addr) {
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

void setTimeouts(int fd) {
  timeval tv{kIOTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool sendAll(int fd, const std::string& data) {
  size_t at = 0;
  while (at < data.size()) {
    ssize_t n = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += (size_t)n;
  }
  return true;
}

// Reads until the peer closes its side, at most `limit` bytes; false on error or overflow.
bool readAll(int fd, std::string& out, size_t limit) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (out.size() + (size_t)n > limit) return false;
    out.append(buf, (size_t)n);
  }
}

// Hands the files to a running instance. True when one took them.
bool forwardToRunningInstance(const std::string& socketPath, const std::vector<std::string>& files,
                              bool& stale) {
  stale = false;
  sockaddr_un addr;
  if (!fillAddress(socketPath, addr)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  setTimeouts(fd);
  if (::connect(fd, (sockaddr*)&addr, sizeof addr) != 0) {
    stale = errno == ECONNREFUSED;
    ::close(fd);
    return false;
  }
  std::string message = kMagic;
  for (const std::string& f : files) message += f + '\0';
  bool ok = sendAll(fd, message);
  ::shutdown(fd, SHUT_WR);
  std::string answer;
  ok = ok && readAll(fd, answer, 64) && answer == "OK\n";
  ::close(fd);
  return ok;
}

void removeListenSocket() {
  struct stat st;
  if (!gListenPath.empty() && ::lstat(gListenPath.c_str(), &st) == 0 && st.st_ino == gListenInode)
    ::unlink(gListenPath.c_str());
}

bool startListening(const std::string& socketPath) {
  sockaddr_un addr;
  if (!fillAddress(socketPath, addr)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  mode_t old = ::umask(077);
  int rc = ::bind(fd, (sockaddr*)&addr, sizeof addr);
  ::umask(old);
  if (rc != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return false;
  }
  struct stat st;
  gListenInode = ::lstat(socketPath.c_str(), &st) == 0 ? st.st_ino : 0;
  gListenFD = fd;
  gListenPath = socketPath;
  static bool cleanupRegistered = false;
  if (!cleanupRegistered) {
    cleanupRegistered = true;
    std::atexit(removeListenSocket);
  }
  return true;
}

void serveOne(int fd) {
  setTimeouts(fd);
  // Only this user's launches may hand us files.
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::getuid()) return;
  std::string message;
  if (!readAll(fd, message, kMaxMessage)) return;
  if (message.rfind(kMagic, 0) != 0) return;
  std::vector<std::string> files;
  size_t at = sizeof kMagic - 1;
  while (at < message.size()) {
    size_t end = message.find('\0', at);
    if (end == std::string::npos) return;  // cut short: take nothing
    if (end > at && message[at] == '/') files.push_back(message.substr(at, end - at));
    at = end + 1;
  }
  sendAll(fd, "OK\n");
  if (files.empty()) {
    postReopenApplication();
  } else {
    postOpenDocuments(files);
  }
  // The user launched us again: the window they expect comes to the front.
  if (RaiseHandler raise = gRaise.load()) raise();
}

}  // namespace

std::string instanceSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string p = std::string(runtime) + "/vantrel-instance.sock";
    if (p.size() < sizeof(sockaddr_un::sun_path)) return p;
  }
  // A private folder in /tmp: ours, not a link, not open to others.
  std::string dir = "/tmp/vantrel-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0)
    return std::string();
  return dir + "/instance.sock";
}

void initialiseProcessWithArguments(const std::vector<std::string>& args, bool singleInstance) {
  std::vector<std::string> files = fileArguments(args);
  if (singleInstance && gListenFD < 0) {
    std::string socketPath = instanceSocketPath();
    bool stale = false;
    if (forwardToRunningInstance(socketPath, files, stale)) ExitToShell();
    if (stale) ::unlink(socketPath.c_str());  // left by an instance that ended abruptly
    if (!startListening(socketPath) && forwardToRunningInstance(socketPath, files, stale))
      ExitToShell();  // another launch won the race to listen
  }
  if (files.empty())
    postOpenApplication();
  else
    postOpenDocuments(files);
}

void initialiseProcess(bool singleInstance) {
  initialiseProcessWithArguments(commandLine(), singleInstance);
}

void setRaiseHandler(RaiseHandler handler) { gRaise.store(handler); }

void pollExternal() {
  if (gListenFD < 0) return;
  for (int i = 0; i < 8; ++i) {
    int fd = ::accept4(gListenFD, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    serveOne(fd);
    ::close(fd);
  }
}

void closeInstanceListener() {
  if (gListenFD >= 0) {
    ::close(gListenFD);
    gListenFD = -1;
    removeListenSocket();
    gListenPath.clear();
  }
}

}  // namespace vt::ae
