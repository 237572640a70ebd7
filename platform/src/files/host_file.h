// Host files for the other platform areas: opening without surprises, and writing a file that
// takes its name only once it is whole.
#pragma once
#include <MacTypes.h>
#include <sys/types.h>

#include <string>

namespace vt::files {

// The toolbox error for a host errno value.
OSErr errnoToOSErr(int e);

// Opens a regular file (flags as for open(2); O_CLOEXEC is added). Anything else is refused
// without waiting (a FIFO would block the open until a writer came): bdNamErr for a folder,
// ioErr for other kinds. Answers the descriptor, or -1 with *err set.
int openRegularFile(const std::string& path, int flags, OSErr* err);

// A file written beside its final name and put in its place in one step once complete, so
// that the name always holds either the old file or the whole new one: a full disk, a cancel
// or a killed process leave the old file as it was and (where the file system has unnamed
// files) nothing else behind.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Starts the file that is to be `path`. Without `replace` the name must be free, now and at
  // the commit (dupFNErr otherwise); with it, the commit replaces what is there now.
  // Other errors: the host's (permErr, dirNFErr, dskFulErr, ...), bdNamErr for a folder.
  OSErr begin(const std::string& path, bool replace);
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // A name, in the same folder, that stands for the content until the commit (not a name the
  // file system necessarily knows; it is never reused).
  const std::string& workingName() const { return working_; }
  bool committed() const { return committed_; }

  // Syncs the content, puts it under its name and syncs the folder. Refused, leaving the name
  // alone, when the name has meanwhile come to hold a different file than at begin (another
  // writer got there first): dupFNErr when it was free, fBsyErr when it held another file.
  OSErr commit();
  // Drops the content unless committed; the name keeps what it has.
  void discard();

 private:
  int fd_ = -1;
  int dir_ = -1;
  bool named_ = false;  // a visible temporary file (no unnamed files on this file system)
  bool committed_ = false;
  bool hadFile_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::string path_, name_, working_, tempName_;
};

}  // namespace vt::files
