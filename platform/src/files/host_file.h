// Host files for the other platform areas: a file opened once and known by its identity
// (device and inode), and writing a file that takes its name only once it is whole.
#pragma once
#include <MacTypes.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/result.h"

namespace vt::files {

// The toolbox error for a host errno value.
OSErr errnoToOSErr(int e);

// Opens a regular file (flags as for open(2); O_CLOEXEC is added). Anything else is refused
// without waiting (a FIFO would block the open until a writer came): bdNamErr for a folder,
// ioErr for other kinds. Answers the descriptor, or the host's error as a toolbox code.
vt::Result<int> openRegularFile(const std::string& path, int flags);

// One open regular file, shared by everything that reads it: the movie reader, sample data,
// libavformat and the importers' sniffing all read through this descriptor (with pread, so no
// reader moves another's position). While one lives, its file is busy: no writer of this
// layer replaces it or writes into it, however its name is spelled.
class HostFile : public std::enable_shared_from_this<HostFile> {
 public:
  // The open file for `path`: one already open when the path names it now (same device and
  // inode), else a new read-only open. Null with *err set when it cannot be opened.
  static std::shared_ptr<HostFile> open(const std::string& path, OSErr* err = nullptr);
  // Opens `path` with `flags` (O_RDWR to write into it) as a file of its own.
  static std::shared_ptr<HostFile> openWith(const std::string& path, int flags, OSErr* err);
  // Takes over `fd`, a file known as `name` (an unnamed file being written, for example).
  static std::shared_ptr<HostFile> adopt(const std::string& name, int fd);
  ~HostFile();
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  int fd() const { return fd_; }
  dev_t device() const { return dev_; }
  ino_t inode() const { return ino_; }
  std::string path() const;
  void setPath(const std::string& path);
  // Reads exactly `size` bytes at `offset`; false on a short read or an error.
  bool read(uint64_t offset, size_t size, void* dst) const;
  // Reads up to `size` bytes; the count read, or -1 on an error.
  int64_t readSome(uint64_t offset, size_t size, void* dst) const;
  uint64_t size() const;

 private:
  friend bool nameIsBusy(const std::string& path);
  friend void renameOpenFiles(const std::string& from, const std::string& to);
  HostFile(std::string path, int fd, dev_t dev, ino_t ino);
  std::string path_;
  int fd_;
  dev_t dev_;
  ino_t ino_;
};

// True when the file `path` names (following symbolic links) is one an open HostFile reads.
bool isBusy(const std::string& path);
// True when giving the name `path` (its final symbolic link followed) a new file would take
// it from a file that is open: the name is that file's only name, or the name it was opened
// by, however spelled. Another hard link to an open file may be replaced: the file stays.
bool nameIsBusy(const std::string& path);
// Every open file known by the name `from` is known as `to` from now on.
void renameOpenFiles(const std::string& from, const std::string& to);

// A file (or a folder of files) written beside its final name and put in its place in one step
// once complete, so that the name always holds either the old file or the whole new one: a
// full disk, a cancel or a killed process leave the old file as it was. A file is written
// unnamed where the file system has unnamed files, so nothing is left behind; a folder is a
// hidden one that a later folder writer in the same place removes once its writer is gone.
// A name that is a symbolic link is followed: its target is replaced, the link kept. A
// replaced file's permissions pass to the new one.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Starts the file that is to be `path`. Without `replace` the name must be free, now and at
  // the commit (dupFNErr otherwise); with it, the commit replaces what is there now. A name
  // an open movie's file holds is refused (fBsyErr). Other errors: the host's (permErr,
  // dirNFErr, dskFulErr, ...), bdNamErr for a folder in the way.
  OSErr begin(const std::string& path, bool replace);
  // Starts a folder that is to be `path`; `replace` also allows replacing a file or an empty
  // folder of that name. A folder that holds files is never replaced (dupFNErr).
  OSErr beginFolder(const std::string& path, bool replace);
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // A name, in the same folder, that stands for the content until the commit (not a name the
  // file system necessarily knows; it is never reused).
  const std::string& workingName() const { return working_; }
  // A path through which the content can be opened again for writing until the commit (the
  // folder itself for a folder).
  std::string openablePath() const;
  bool committed() const { return committed_; }

  // Syncs the content, puts it under its name and syncs the folder. Refused, leaving the name
  // alone, when the name has meanwhile come to hold a different file than at begin (another
  // writer got there first): dupFNErr when it was free, fBsyErr when it held another file or
  // an open movie's file has come to hold it.
  OSErr commit();
  // Drops the content unless committed; the name keeps what it has.
  void discard();

 private:
  OSErr start(const std::string& path, bool replace, bool folder);
  int fd_ = -1;
  int dir_ = -1;
  bool named_ = false;   // a visible temporary file (no unnamed files on this file system)
  bool folder_ = false;  // a folder of files
  bool committed_ = false;
  bool hadFile_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  mode_t mode_ = 0;  // the replaced file's permissions
  std::string path_, target_, name_, working_, tempName_;
};

}  // namespace vt::files
