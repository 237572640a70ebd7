// Launch integration: the command line becomes the first Apple event, and later launches hand
// their files to the running instance over a Unix domain socket. The socket is served on a
// thread of its own, so no peer can hold up the user interface; complete requests wait in a
// queue that the event loop empties.
#include <Processes.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "appleevents/ae_queue.h"

namespace vt::ae {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kMagic[] = "VANTREL-OPEN 1\n";
constexpr size_t kMaxMessage = 1 << 20;  // more files than anyone drops at once
// A peer has this long to send its whole request; slower ones are dropped.
constexpr auto kRequestDeadline = std::chrono::seconds(3);
constexpr size_t kMaxPeers = 16;
// A later launch waits this long for the answer, twice, before it runs on its own.
constexpr int kAnswerTimeoutSeconds = 5;
constexpr int kForwardAttempts = 2;

RaiseHandler gRaise = nullptr;

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

// Only this user's processes may be on the other end, in either direction.
bool peerIsUs(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
}

// A folder for the socket: ours, not a link, closed to everyone else.
bool privateFolder(const std::string& dir) {
  struct stat st;
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
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

// The files of a complete request: absolute paths, each ended by a zero byte. False for
// anything else.
bool parseRequest(const std::string& message, std::vector<std::string>& files) {
  if (message.rfind(kMagic, 0) != 0) return false;
  size_t at = sizeof kMagic - 1;
  while (at < message.size()) {
    size_t end = message.find('\0', at);
    if (end == std::string::npos) return false;  // cut short: take nothing
    if (end > at && message[at] == '/') files.push_back(message.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

enum class Forward { taken, noInstance, failed };

// Hands the files to a running instance: it must be this user's and answer within the
// timeout; a silent one gets a second chance.
Forward forwardToRunningInstance(const std::string& socketPath,
                                 const std::vector<std::string>& files) {
  sockaddr_un addr;
  if (!fillAddress(socketPath, addr)) return Forward::noInstance;
  std::string message = kMagic;
  for (const std::string& f : files) message += f + '\0';
  for (int attempt = 0; attempt < kForwardAttempts; ++attempt) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Forward::failed;
    timeval tv{kAnswerTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, (sockaddr*)&addr, sizeof addr) != 0) {
      bool nobody = errno == ECONNREFUSED || errno == ENOENT;
      ::close(fd);
      if (nobody) return Forward::noInstance;
      continue;
    }
    if (!peerIsUs(fd)) {
      ::close(fd);
      return Forward::failed;  // someone else's socket: it gets nothing
    }
    bool ok = sendAll(fd, message);
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    ok = ok && readAll(fd, answer, 64) && answer == "OK\n";
    ::close(fd);
    if (ok) return Forward::taken;
  }
  return Forward::failed;
}

// The listening socket and the thread that serves it.
class Listener {
 public:
  ~Listener() { stop(); }

  bool start(const std::string& socketPath) {
    sockaddr_un addr;
    if (!fillAddress(socketPath, addr)) return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    mode_t old = ::umask(077);
    int rc = ::bind(fd, (sockaddr*)&addr, sizeof addr);
    ::umask(old);
    if (rc != 0 || ::listen(fd, 8) != 0 || ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      ::close(fd);
      return false;
    }
    struct stat st;
    inode_ = ::lstat(socketPath.c_str(), &st) == 0 ? st.st_ino : 0;
    fd_ = fd;
    path_ = socketPath;
    thread_ = std::thread([this] { serve(); });
    return true;
  }

  bool running() const { return fd_ >= 0; }

  void stop() {
    if (fd_ < 0) return;
    (void)!::write(wake_[1], "x", 1);
    thread_.join();
    ::close(fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    fd_ = -1;
    removeSocket();
    path_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }

  // At exit, without the thread's help: the socket file must not outlive us.
  void removeSocket() const {
    struct stat st;
    if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_)
      ::unlink(path_.c_str());
  }

  std::vector<std::vector<std::string>> takeRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(requests_);
  }

 private:
  struct Peer {
    int fd;
    std::string bytes;
    Clock::time_point deadline;
  };

  void serve() {
    std::vector<Peer> peers;
    for (;;) {
      std::vector<pollfd> fds{{wake_[0], POLLIN, 0},
                              {peers.size() < kMaxPeers ? fd_ : -1, POLLIN, 0}};
      for (const Peer& p : peers) fds.push_back({p.fd, POLLIN, 0});
      int timeout = -1;  // until the nearest deadline
      Clock::time_point now = Clock::now();
      for (const Peer& p : peers) {
        long long left = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(p.deadline - now).count());
        if (timeout < 0 || left < timeout) timeout = (int)left;
      }
      if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
      if (fds[0].revents) break;
      for (size_t i = 0; i < peers.size(); ++i)
        if (fds[i + 2].revents && readFrom(peers[i])) {
          ::close(peers[i].fd);
          peers[i].fd = -1;
        }
      now = Clock::now();
      for (Peer& p : peers)
        if (p.fd >= 0 && now >= p.deadline) {
          ::close(p.fd);
          p.fd = -1;
        }
      std::erase_if(peers, [](const Peer& p) { return p.fd < 0; });
      if (fds[1].revents) accept(peers);
    }
    for (const Peer& p : peers) ::close(p.fd);
  }

  void accept(std::vector<Peer>& peers) {
    while (peers.size() < kMaxPeers) {
      int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      if (!peerIsUs(fd)) {
        ::close(fd);
        continue;
      }
      peers.push_back(Peer{fd, std::string(), Clock::now() + kRequestDeadline});
    }
  }

  // Reads what the peer has sent; true when it is done with (answered, or refused).
  bool readFrom(Peer& p) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
      if (n == 0) break;
      if (p.bytes.size() + (size_t)n > kMaxMessage) return true;
      p.bytes.append(buf, (size_t)n);
    }
    std::vector<std::string> files;
    if (!parseRequest(p.bytes, files)) return true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(std::move(files));
    }
    sendAll(p.fd, "OK\n");
    return true;
  }

  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::string path_;
  ino_t inode_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::vector<std::string>> requests_;
};

Listener& listener() {
  static Listener l;
  return l;
}

void removeListenSocketAtExit() { listener().removeSocket(); }

bool startListening(const std::string& socketPath) {
  if (!listener().start(socketPath)) return false;
  static bool cleanupRegistered = false;
  if (!cleanupRegistered) {
    cleanupRegistered = true;
    std::atexit(removeListenSocketAtExit);
  }
  return true;
}

}  // namespace

static std::string displayKey() {
  // One instance per display: a launch on another display starts its own, where its user is.
  // ":0" and ":0.0" (a screen of the same server) and "unix:0" name one display.
  std::string key;
  if (const char* x = std::getenv("DISPLAY"); x && *x) {
    key = x;
    size_t colon = key.rfind(':');
    if (colon != std::string::npos) {
      size_t dot = key.find('.', colon);
      if (dot != std::string::npos) key.resize(dot);
      if (key.compare(0, colon, "unix") == 0) key.erase(0, colon);
    }
  } else if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w) {
    key = w;
  }
  for (char& c : key)
    if (!std::isalnum((unsigned char)c) && c != ':' && c != '.' && c != '-' && c != '_') c = '_';
  return key;
}

std::string instanceSocketPath() {
  const std::string key = displayKey();
  const std::string name = key.empty() ? "instance.sock" : "instance-" + key + ".sock";
  // The folder must be ours alone: in a folder others can write to, anyone could stand in
  // for the running instance and be handed the user's files.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string p = std::string(runtime) + "/vantrel-" + name;
    if (p.size() >= sizeof(sockaddr_un::sun_path) || !privateFolder(runtime)) return std::string();
    return p;
  }
  std::string dir = "/tmp/vantrel-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  std::string p = dir + "/" + name;
  return privateFolder(dir) && p.size() < sizeof(sockaddr_un::sun_path) ? p : std::string();
}

void initialiseProcessWithArguments(const std::vector<std::string>& args, bool singleInstance) {
  std::vector<std::string> files = fileArguments(args);
  std::string socketPath = singleInstance && !listener().running() ? instanceSocketPath() : "";
  if (!socketPath.empty()) {
    Forward f = forwardToRunningInstance(socketPath, files);
    if (f == Forward::taken) ExitToShell();
    if (f == Forward::noInstance) {
      ::unlink(socketPath.c_str());  // left by an instance that ended abruptly (the folder is ours)
      if (!startListening(socketPath) &&
          forwardToRunningInstance(socketPath, files) == Forward::taken)
        ExitToShell();  // another launch won the race to listen
    }
    // Otherwise an instance that does not answer, or not ours: this process runs on its own.
  }
  if (files.empty())
    postOpenApplication();
  else
    postOpenDocuments(files);
}

void initialiseProcess(bool singleInstance) {
  initialiseProcessWithArguments(commandLine(), singleInstance);
}

void setRaiseHandler(RaiseHandler handler) { gRaise = handler; }

void pollExternal() {
  for (auto& files : listener().takeRequests()) {
    if (files.empty())
      postReopenApplication();
    else
      postOpenDocuments(files);
    // The user launched us again: the window they expect comes to the front.
    if (gRaise) gRaise();
  }
}

void closeInstanceListener() { listener().stop(); }

}  // namespace vt::ae
