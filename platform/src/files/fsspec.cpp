// File specifications on the host file tree: a table of directory IDs, short forms of long
// names, and type/creator kept in extended attributes.
#include "core/pstring.h"
#include "core/reset.h"
#include "files/fsspec.h"

#include <MacErrors.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

namespace vt::files {
namespace {

constexpr long kFirstDirID = 100;
// Names we put in specs: at most 61 bytes, so a spec copied by its classic 70-byte size keeps
// the whole name. Names read from specs may have up to 63.
constexpr size_t kMaxSpecName = 61;
constexpr size_t kMaxReadName = 63;
constexpr const char* kTypeAttr = "user.vantrel.type";
constexpr const char* kCreatorAttr = "user.vantrel.creator";

struct Tables {
  std::mutex mutex;
  std::map<std::string, long> idOfFolder;
  std::map<long, std::string> folderOfID;
  long nextID = kFirstDirID;
  // (folder, short form) -> long host name, for long names seen before (also of files that
  // do not exist yet, so a spec made for a new file can create it under its real name).
  std::map<std::pair<std::string, std::string>, std::string> longNames;
};

Tables& tables() {
  static Tables t;
  return t;
}

// Folders seen so far are forgotten; their IDs are never given out again, so a spec kept
// from before names no folder (dirNFErr) rather than another one.
const ResetRegistration kReset(ResetStage::Managers, [] {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.idOfFolder.clear();
  t.folderOfID.clear();
  t.longNames.clear();
});

std::string currentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string("/") : p.string();
}

// Absolute, lexically normal, without a trailing separator (except the root itself).
std::string normalise(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.is_absolute()) p = std::filesystem::path(currentDir()) / p;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s.empty() ? std::string("/") : s;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

uint32_t nameHash(const std::string& s) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return (uint32_t)(h ^ (h >> 32));
}

bool validComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

long registerFolderLocked(Tables& t, const std::string& folder) {
  if (folder == "/") return fsRtDirID;
  auto it = t.idOfFolder.find(folder);
  if (it != t.idOfFolder.end()) return it->second;
  long id = t.nextID++;
  t.idOfFolder.emplace(folder, id);
  t.folderOfID.emplace(id, folder);
  return id;
}

}  // namespace

std::string shortName(const std::string& hostName) {
  if (hostName.size() <= kMaxSpecName) return hostName;
  std::string ext;
  size_t dot = hostName.rfind('.');
  if (dot != std::string::npos && dot > 0 && hostName.size() - dot <= 16)
    ext = hostName.substr(dot);
  char hash[9];
  snprintf(hash, sizeof hash, "%08x", nameHash(hostName));
  size_t prefixLen = kMaxSpecName - 1 - 8 - ext.size();
  // Never cut a UTF-8 sequence in two.
  while (prefixLen > 0 && ((unsigned char)hostName[prefixLen] & 0xC0) == 0x80) --prefixLen;
  return hostName.substr(0, prefixLen) + "#" + hash + ext;
}

std::string resolveName(const std::string& folder, const std::string& specName) {
  if (specName.size() < 10 || specName.find('#') == std::string::npos) return specName;
  if (exists(joinPath(folder, specName))) return specName;
  {
    Tables& t = tables();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.longNames.find({folder, specName});
    if (it != t.longNames.end()) return it->second;
  }
  std::string found = specName;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string entry = e->d_name;
      if (entry.size() > kMaxSpecName && shortName(entry) == specName) {
        found = entry;
        break;
      }
    }
    ::closedir(d);
  }
  return found;
}

long dirIDForFolder(const std::string& folder) {
  std::string f = normalise(folder);
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  return registerFolderLocked(t, f);
}

bool folderForDirID(short vRefNum, long dirID, std::string& folder) {
  if (vRefNum != 0 && vRefNum != kVTVolumeRefNum) return false;
  if (dirID == 0) {
    folder = currentDir();
    return true;
  }
  if (dirID == fsRtDirID) {
    folder = "/";
    return true;
  }
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.folderOfID.find(dirID);
  if (it == t.folderOfID.end()) return false;
  folder = it->second;
  return true;
}

OSErr specToPath(const FSSpec& spec, std::string& path) {
  if (spec.vRefNum != 0 && spec.vRefNum != kVTVolumeRefNum) return nsvErr;
  unsigned len = spec.name[0];
  if (len > kMaxReadName) return bdNamErr;
  std::string name = vt::fromPascal(spec.name);
  if (spec.parID == fsRtParID && name.empty()) {
    path = "/";
    return noErr;
  }
  std::string folder;
  if (!folderForDirID(spec.vRefNum, spec.parID, folder)) return dirNFErr;
  if (name.empty()) {
    path = folder;
    return noErr;
  }
  if (!validComponent(name)) return bdNamErr;
  path = joinPath(folder, resolveName(folder, name));
  return noErr;
}

OSErr pathToSpec(const std::string& rawPath, FSSpec& spec) {
  if (rawPath.empty() || rawPath.find('\0') != std::string::npos) return bdNamErr;
  std::string path = normalise(rawPath);
  std::memset(&spec, 0, sizeof spec);
  spec.vRefNum = kVTVolumeRefNum;
  if (path == "/") {
    spec.parID = fsRtParID;
    return noErr;
  }
  size_t slash = path.rfind('/');
  std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  std::string name = path.substr(slash + 1);
  if (!isDirectory(folder)) return dirNFErr;
  std::string shortForm = shortName(name);
  {
    Tables& t = tables();
    std::lock_guard<std::mutex> lock(t.mutex);
    spec.parID = (SInt32)registerFolderLocked(t, folder);
    if (shortForm != name) t.longNames[{folder, shortForm}] = name;
  }
  vt::toPascal(shortForm, spec.name);
  return exists(path) ? (OSErr)noErr : (OSErr)fnfErr;
}

bool readTypeCreator(const std::string& path, OSType& type, OSType& creator) {
  unsigned char b[4];
  bool any = false;
  if (::getxattr(path.c_str(), kTypeAttr, b, 4) == 4) {
    type = ((OSType)b[0] << 24) | ((OSType)b[1] << 16) | ((OSType)b[2] << 8) | b[3];
    any = true;
  }
  if (::getxattr(path.c_str(), kCreatorAttr, b, 4) == 4) {
    creator = ((OSType)b[0] << 24) | ((OSType)b[1] << 16) | ((OSType)b[2] << 8) | b[3];
    any = true;
  }
  return any;
}

OSErr writeTypeCreator(const std::string& path, OSType type, OSType creator) {
  if (!exists(path)) return fnfErr;
  const std::pair<const char*, OSType> attrs[] = {{kTypeAttr, type}, {kCreatorAttr, creator}};
  for (const auto& [attr, value] : attrs) {
    unsigned char b[4] = {(unsigned char)(value >> 24), (unsigned char)(value >> 16),
                          (unsigned char)(value >> 8), (unsigned char)value};
    if (::setxattr(path.c_str(), attr, b, 4, 0) != 0) {
      // Where the file system keeps no extended attributes the file simply has no type.
      if (errno == ENOTSUP || errno == EPERM) return noErr;
      if (errno == ENOENT) return fnfErr;
      if (errno == ENOSPC || errno == EDQUOT) return dskFulErr;
      if (errno == EACCES || errno == EROFS) return wrPermErr;
      return ioErr;
    }
  }
  return noErr;
}

void reset() {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.idOfFolder.clear();
  t.folderOfID.clear();
  t.longNames.clear();
  t.nextID = kFirstDirID;
}

}  // namespace vt::files
