#include "files/host_file.h"

#include <MacErrors.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <limits.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstring>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "files/positional_io.h"

namespace vt::files {

namespace {

std::atomic<unsigned> gTempCounter{0};

constexpr const char* kFolderMark = ".vantrel-folder-";

// A name in the folder no other writer uses: ours by process and counter, within NAME_MAX
// however long the final name is.
std::string temporaryName(const std::string& name, bool folder = false) {
  return "." + name.substr(0, 200) + (folder ? kFolderMark : ".vantrel-") +
         std::to_string(::getpid()) + "-" + std::to_string(gTempCounter.fetch_add(1));
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The path a name leads to once its symbolic links are followed (the last one may dangle).
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buf((size_t)std::max<off_t>(st.st_size, PATH_MAX) + 1);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) return path;
    std::string to(buf.data(), (size_t)n);
    path = to[0] == '/' ? to : folderOf(path) + "/" + to;
  }
  return path;
}

std::string canonical(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return {};
  std::string s(r);
  std::free(r);
  return s;
}

// Open files by identity. The entries are removed by the files' destructors.
struct Registry {
  std::mutex mutex;
  std::multimap<std::pair<dev_t, ino_t>, HostFile*> files;
};
Registry& registry() {
  static Registry* r = new Registry;  // outlives files closed during exit
  return *r;
}

// Empties a hidden folder of a writer that is gone (killed before its commit) and removes it.
void removeFolder(int dir, const std::string& name) {
  int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if (DIR* d = ::fdopendir(fd)) {
    while (dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) ::unlinkat(fd, e->d_name, 0);
    ::closedir(d);
  } else {
    ::close(fd);
  }
  ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

// A writer holds a lock on its hidden folder for as long as it lives; a folder nobody holds
// was left by a writer that died.
void removeStaleFolders(int dir) {
  int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  std::vector<std::string> stale;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.' || !std::strstr(e->d_name, kFolderMark)) continue;
    int f = ::openat(dir, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (f < 0) continue;
    if (::flock(f, LOCK_EX | LOCK_NB) == 0) stale.push_back(e->d_name);
    ::close(f);
  }
  ::closedir(d);
  for (const std::string& name : stale) removeFolder(dir, name);
}

// Links the unnamed file `fd` into the folder under `name`; fails with EEXIST when taken.
int linkUnnamed(int fd, int dir, const std::string& name) {
  std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, proc.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno == EEXIST) return -1;
  // Without /proc the descriptor itself will do where the process may (CAP_DAC_READ_SEARCH).
  return ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
}

// Gives the named file `from` the free name `to`; fails with EEXIST when taken.
int renameNoReplace(int dir, const std::string& from, const std::string& to) {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // File systems without the flag: a hard link is just as exclusive.
  if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return -1;
  ::unlinkat(dir, from.c_str(), 0);
  return 0;
}

}  // namespace

OSErr errnoToOSErr(int e) {
  switch (e) {
    case ENOENT: return fnfErr;
    case ENOTDIR: return dirNFErr;
    case EEXIST: return dupFNErr;
    case ENOTEMPTY:
    case EBUSY:
    case ETXTBSY: return fBsyErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return dskFulErr;
    case EROFS: return wPrErr;
    case EACCES:
    case EPERM: return permErr;
    case ENAMETOOLONG:
    case EISDIR: return bdNamErr;
    case EMFILE:
    case ENFILE: return tmfoErr;
    default: return ioErr;
  }
}

vt::Result<int> openRegularFile(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return vt::Failure{errnoToOSErr(errno), path};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return vt::Failure{S_ISDIR(st.st_mode) ? OSErr(bdNamErr) : OSErr(ioErr), path};
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// ---- open files --------------------------------------------------------------------------

HostFile::HostFile(std::string path, int fd, dev_t dev, ino_t ino)
    : path_(std::move(path)), fd_(fd), dev_(dev), ino_(ino) {}

HostFile::~HostFile() {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto [from, to] = r.files.equal_range({dev_, ino_});
    for (auto it = from; it != to; ++it)
      if (it->second == this) {
        r.files.erase(it);
        break;
      }
  }
  ::close(fd_);
}

std::shared_ptr<HostFile> HostFile::adopt(const std::string& name, int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  std::shared_ptr<HostFile> f(new HostFile(name, fd, st.st_dev, st.st_ino));
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.files.emplace(std::make_pair(st.st_dev, st.st_ino), f.get());
  return f;
}

std::shared_ptr<HostFile> HostFile::openWith(const std::string& path, int flags, OSErr* err) {
  vt::Result<int> fd = openRegularFile(path, flags);
  if (!fd) {
    if (err) *err = fd.error();
    return nullptr;
  }
  return adopt(path, *fd);
}

std::shared_ptr<HostFile> HostFile::open(const std::string& path, OSErr* err) {
  std::shared_ptr<HostFile> f = openWith(path, O_RDONLY, err);
  if (!f) return f;
  // The file already open under any name is the one its readers share.
  std::shared_ptr<HostFile> shared;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto [from, to] = r.files.equal_range({f->dev_, f->ino_});
    for (auto it = from; it != to && !shared; ++it)
      // Null while that one is being destroyed on another thread.
      if (it->second != f.get()) shared = it->second->weak_from_this().lock();
  }
  return shared ? shared : f;
}

std::string HostFile::path() const {
  std::lock_guard<std::mutex> lock(registry().mutex);
  return path_;
}

void HostFile::setPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  path_ = path;
}

int64_t HostFile::readSome(uint64_t offset, size_t size, void* dst) const {
  return readSomeAt(fd_, offset, size, dst);
}

bool HostFile::read(uint64_t offset, size_t size, void* dst) const {
  return readAt(fd_, offset, size, dst);
}

uint64_t HostFile::size() const {
  struct stat st;
  return ::fstat(fd_, &st) == 0 ? (uint64_t)st.st_size : 0;
}

bool isBusy(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.files.count({st.st_dev, st.st_ino}) != 0;
}

bool nameIsBusy(const std::string& rawPath) {
  std::string path = followLinks(rawPath);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  std::vector<std::string> names;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto [from, to] = r.files.equal_range({st.st_dev, st.st_ino});
    for (auto it = from; it != to; ++it) names.push_back(it->second->path_);
  }
  if (names.empty()) return false;
  // Its only name: replacing it would leave the open file to vanish when it is closed.
  if (st.st_nlink <= 1) return true;
  std::string self = canonical(path);
  for (const std::string& n : names) {
    std::string c = canonical(n);
    if (c.empty() || c == self) return true;
  }
  return false;
}

void renameOpenFiles(const std::string& from, const std::string& to) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& [id, f] : r.files)
    if (f->path_ == from) f->path_ = to;
}

// ---- files written whole -----------------------------------------------------------------

PendingFile::~PendingFile() { discard(); }

OSErr PendingFile::begin(const std::string& path, bool replace) {
  return start(path, replace, false);
}

OSErr PendingFile::beginFolder(const std::string& path, bool replace) {
  return start(path, replace, true);
}

std::string PendingFile::openablePath() const {
  if (fd_ < 0) return {};
  return named_ || folder_ ? working_ : "/proc/self/fd/" + std::to_string(fd_);
}

OSErr PendingFile::start(const std::string& path, bool replace, bool folder) {
  discard();
  path_ = path;
  target_ = followLinks(path);
  std::string parent = folderOf(target_);
  size_t slash = target_.rfind('/');
  name_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..") return bdNamErr;
  dir_ = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  auto fail = [&](OSErr e) {
    discard();
    return e;
  };
  if (dir_ < 0) return fail(errno == ENOENT ? (OSErr)dirNFErr : errnoToOSErr(errno));
  struct stat st;
  hadFile_ = ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (hadFile_) {
    if (S_ISLNK(st.st_mode)) return fail(errnoToOSErr(ELOOP));
    if (!replace) return fail(dupFNErr);
    if (S_ISDIR(st.st_mode)) {
      if (!folder) return fail(bdNamErr);
      int d = ::openat(dir_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      DIR* dd = d >= 0 ? ::fdopendir(d) : nullptr;
      bool empty = dd != nullptr;
      while (dd && empty)
        if (dirent* e = ::readdir(dd)) {
          if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) empty = false;
        } else {
          break;
        }
      if (dd)
        ::closedir(dd);
      else if (d >= 0)
        ::close(d);
      if (!empty) return fail(dupFNErr);
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    mode_ = st.st_mode & 07777;
    if (nameIsBusy(target_)) return fail(fBsyErr);
  }
  folder_ = folder;
  if (folder) {
    removeStaleFolders(dir_);
    tempName_ = temporaryName(name_, true);
    working_ = parent + "/" + tempName_;
    if (::mkdirat(dir_, tempName_.c_str(), 0777) != 0) return fail(errnoToOSErr(errno));
    named_ = true;
    fd_ = ::openat(dir_, tempName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) return fail(errnoToOSErr(errno));
    return noErr;
  }
  tempName_ = temporaryName(name_);
  working_ = parent + "/" + tempName_;
  // Created as any new file would be: the umask decides its permissions.
  // An unnamed file is reopened and named through /proc; without it, a named one.
  const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  fd_ = proc ? ::openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666) : -1;
  if (fd_ < 0 && (!proc || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    named_ = true;
    fd_ = ::openat(dir_, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd_ < 0) {
    OSErr e = errnoToOSErr(errno);
    named_ = false;
    return fail(e);
  }
  return noErr;
}

OSErr PendingFile::commit() {
  if (fd_ < 0 || committed_) return fd_ < 0 ? (OSErr)paramErr : (OSErr)noErr;
  if (::fsync(fd_) != 0 && !(folder_ && errno == EINVAL)) return errnoToOSErr(errno);
  if (hadFile_ && !folder_ && ::fchmod(fd_, mode_) != 0) return errnoToOSErr(errno);
  // Writers of this layer take turns at the folder, so the check below and the rename are one
  // step for them.
  ::flock(dir_, LOCK_EX);
  struct stat st;
  bool taken = ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  OSErr err = noErr;
  if (taken && (!hadFile_ || st.st_dev != dev_ || st.st_ino != ino_)) {
    err = hadFile_ ? fBsyErr : dupFNErr;
  } else if (taken && nameIsBusy(target_)) {
    err = fBsyErr;  // a movie has opened it since
  } else if (!taken) {
    if ((named_ ? renameNoReplace(dir_, tempName_, name_) : linkUnnamed(fd_, dir_, name_)) != 0)
      err = errnoToOSErr(errno);
  } else if (folder_ && !S_ISDIR(st.st_mode)) {
    // A folder cannot be renamed over a file: the two trade names, then the file goes.
    if (::renameat2(dir_, tempName_.c_str(), dir_, name_.c_str(), RENAME_EXCHANGE) == 0) {
      ::unlinkat(dir_, tempName_.c_str(), 0);
    } else if (::unlinkat(dir_, name_.c_str(), 0) != 0 ||
               ::renameat(dir_, tempName_.c_str(), dir_, name_.c_str()) != 0) {
      err = errnoToOSErr(errno);
    }
  } else if (named_) {
    if (::renameat(dir_, tempName_.c_str(), dir_, name_.c_str()) != 0)
      err = errno == ENOTEMPTY ? (OSErr)dupFNErr : errnoToOSErr(errno);
  } else {
    // An unnamed file cannot replace a name directly: it gets a name of its own for a moment.
    std::string stage = temporaryName(name_);
    if (linkUnnamed(fd_, dir_, stage) != 0) {
      err = errnoToOSErr(errno);
    } else if (::renameat(dir_, stage.c_str(), dir_, name_.c_str()) != 0) {
      err = errnoToOSErr(errno);
      ::unlinkat(dir_, stage.c_str(), 0);
    }
  }
  if (!err) {
    committed_ = true;
    ::fsync(dir_);
  }
  ::flock(dir_, LOCK_UN);
  return err;
}

void PendingFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  if (named_ && !committed_ && dir_ >= 0) {
    if (folder_)
      removeFolder(dir_, tempName_);
    else
      ::unlinkat(dir_, tempName_.c_str(), 0);
  }
  if (dir_ >= 0) ::close(dir_);
  fd_ = dir_ = -1;
  named_ = folder_ = committed_ = hadFile_ = false;
}

}  // namespace vt::files
