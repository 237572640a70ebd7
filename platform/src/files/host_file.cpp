#include "files/host_file.h"

#include <MacErrors.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat2

namespace vt::files {

namespace {

std::atomic<unsigned> gTempCounter{0};

// A name in the folder no other writer uses: ours by process and counter.
std::string temporaryName(const std::string& name) {
  return "." + name + ".vantrel-" + std::to_string(::getpid()) + "-" +
         std::to_string(gTempCounter.fetch_add(1));
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

int openRegularFile(const std::string& path, int flags, OSErr* err) {
  int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (err) *err = errnoToOSErr(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (err) *err = S_ISDIR(st.st_mode) ? bdNamErr : ioErr;
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

PendingFile::~PendingFile() { discard(); }

OSErr PendingFile::begin(const std::string& path, bool replace) {
  discard();
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..") return bdNamErr;
  dir_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) {
    OSErr e = errno == ENOENT ? (OSErr)dirNFErr : errnoToOSErr(errno);
    discard();
    return e;
  }
  struct stat st;
  hadFile_ = ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (hadFile_) {
    OSErr e = S_ISDIR(st.st_mode) ? (OSErr)bdNamErr : replace ? (OSErr)noErr : (OSErr)dupFNErr;
    if (e) {
      discard();
      return e;
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  path_ = path;
  tempName_ = temporaryName(name_);
  working_ = folder + "/" + tempName_;
  fd_ = ::openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    named_ = true;
    fd_ = ::openat(dir_, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (fd_ < 0) {
    OSErr e = errnoToOSErr(errno);
    named_ = false;
    discard();
    return e;
  }
  return noErr;
}

OSErr PendingFile::commit() {
  if (fd_ < 0 || committed_) return fd_ < 0 ? (OSErr)paramErr : (OSErr)noErr;
  if (::fsync(fd_) != 0) return errnoToOSErr(errno);
  // Writers of this layer take turns at the folder, so the check below and the rename are one
  // step for them.
  ::flock(dir_, LOCK_EX);
  struct stat st;
  bool taken = ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  OSErr err = noErr;
  if (taken && (!hadFile_ || st.st_dev != dev_ || st.st_ino != ino_)) {
    err = hadFile_ ? fBsyErr : dupFNErr;
  } else if (!taken) {
    if ((named_ ? renameNoReplace(dir_, tempName_, name_) : linkUnnamed(fd_, dir_, name_)) != 0)
      err = errnoToOSErr(errno);
  } else if (named_) {
    if (::renameat(dir_, tempName_.c_str(), dir_, name_.c_str()) != 0) err = errnoToOSErr(errno);
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
  if (named_ && !committed_ && dir_ >= 0) ::unlinkat(dir_, tempName_.c_str(), 0);
  if (dir_ >= 0) ::close(dir_);
  fd_ = dir_ = -1;
  named_ = committed_ = hadFile_ = false;
}

}  // namespace vt::files
