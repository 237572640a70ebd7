// The public file manager calls over the host file tree.
#include <Files.h>
#include <MacErrors.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/boundary.h"
#include "core/pstring.h"
#include "files/fsspec.h"
#include "files/host_file.h"

namespace {

using vt::files::errnoToOSErr;

// The FSSpec's folder must exist for any operation on its file.
OSErr folderOf(const std::string& path, std::string& folder) {
  size_t slash = path.rfind('/');
  folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dirNFErr;
  return noErr;
}

// The FSSpec's host path and its folder, which must exist for any operation on the file.
OSErr pathInFolder(const FSSpec& spec, std::string& path, std::string& folder) {
  if (OSErr err = vt::files::specToPath(spec, path)) return err;
  return folderOf(path, folder);
}

}  // namespace

OSErr FSMakeFSSpec(short vRefNum, long dirID, ConstStr255Param fileName, FSSpec* spec) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr) return paramErr;
    std::string name = vt::fromPascal(fileName);
    if (name.find('\0') != std::string::npos) return bdNamErr;
    if (!name.empty() && name[0] == '/') return vt::files::pathToSpec(name, *spec);
    std::string folder;
    if (vRefNum != 0 && vRefNum != kVTVolumeRefNum) return nsvErr;
    if (!vt::files::folderForDirID(vRefNum, dirID, folder)) return dirNFErr;
    if (name.empty()) return vt::files::pathToSpec(folder, *spec);
    if (name.find('/') == std::string::npos) name = vt::files::resolveName(folder, name);
    return vt::files::pathToSpec(folder + "/" + name, *spec);
  });
}

OSErr VTMakeFSSpecFromPath(const char* path, FSSpec* spec) {
  return vt::apiStatus([&]() -> OSErr {
    if (path == nullptr || spec == nullptr) return paramErr;
    return vt::files::pathToSpec(path, *spec);
  });
}

OSErr VTFSSpecToPath(const FSSpec* spec, char* buffer, long bufferSize) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr || buffer == nullptr || bufferSize <= 0) return paramErr;
    std::string path;
    OSErr err = vt::files::specToPath(*spec, path);
    if (err != noErr) return err;
    if ((long)path.size() + 1 > bufferSize) return paramErr;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return noErr;
  });
}

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode /*scriptTag*/) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr) return paramErr;
    std::string path, folder;
    if (OSErr err = pathInFolder(*spec, path, folder)) return err;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errnoToOSErr(errno);
    ::close(fd);
    return vt::files::writeTypeCreator(path, fileType, creator);
  });
}

OSErr FSpDelete(const FSSpec* spec) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr) return paramErr;
    std::string path, folder;
    if (OSErr err = pathInFolder(*spec, path, folder)) return err;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errnoToOSErr(errno);
    if (!S_ISLNK(st.st_mode) && vt::files::nameIsBusy(path)) return fBsyErr;
    int rc = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    return rc == 0 ? (OSErr)noErr : errnoToOSErr(errno);
  });
}

OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr || newName == nullptr) return paramErr;
    std::string name = vt::fromPascal(newName);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
      return bdNamErr;
    std::string path, folder;
    if (OSErr err = pathInFolder(*spec, path, folder)) return err;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errnoToOSErr(errno);
    std::string target =
        (folder == "/" ? std::string() : folder) + "/" + vt::files::resolveName(folder, name);
    if (target == path) return noErr;
    // Never replace an existing file.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
      return noErr;
    if (errno == EINVAL || errno == ENOSYS) {  // file systems without RENAME_NOREPLACE
      if (::lstat(target.c_str(), &st) == 0) return dupFNErr;
      return ::rename(path.c_str(), target.c_str()) == 0 ? (OSErr)noErr : errnoToOSErr(errno);
    }
    return errnoToOSErr(errno);
  });
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo) {
  return vt::apiStatus([&]() -> OSErr {
    if (spec == nullptr || fndrInfo == nullptr) return paramErr;
    std::string path, folder;
    if (OSErr err = pathInFolder(*spec, path, folder)) return err;
    return vt::files::writeTypeCreator(path, fndrInfo->fdType, fndrInfo->fdCreator);
  });
}
