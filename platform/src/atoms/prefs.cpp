// Movie layer preferences: one atom container per preference type, in the user's config folder.
#include <MacMemory.h>
#include <QTAtoms.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "atoms/atom_tree.h"
#include "core/boundary.h"
#include "core/read_all.h"
#include "files/positional_io.h"

namespace {

// Larger stored preferences are not believed (a preference is a few bytes).
constexpr off_t kMaxPreferenceBytes = 16 << 20;

std::string prefsFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/vantrel";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/vantrel";
  // No usable HOME: the account's home folder, never a shared place.
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
    return std::string(pw->pw_dir) + "/.config/vantrel";
  return std::string();
}

// 'cspd' -> "cspd.qtpref"; types with characters unfit for a file name are written in hex.
std::string prefsFile(OSType type) {
  char text[5] = {(char)(type >> 24), (char)(type >> 16), (char)(type >> 8), (char)type, 0};
  bool plain = true;
  for (int i = 0; i < 4; ++i) plain = plain && std::isalnum((unsigned char)text[i]);
  char name[32];
  if (plain)
    snprintf(name, sizeof name, "%s.qtpref", text);
  else
    snprintf(name, sizeof name, "%08x.qtpref", (unsigned)type);
  std::string folder = prefsFolder();
  return folder.empty() ? std::string() : folder + "/" + name;
}

OSErr errnoToOSErr(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case EACCES:
    case EPERM: return permErr;
    case EROFS: return wPrErr;
    default: return ioErr;
  }
}

OSErr makeFolders(const std::string& folder) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errnoToOSErr(errno);
  }
  return noErr;
}

}  // namespace

OSErr GetQuickTimePreference(OSType preferenceType, QTAtomContainer* preferenceAtom) {
  return vt::apiStatus([&]() -> OSErr {
    if (preferenceAtom == nullptr) return paramErr;
    *preferenceAtom = nullptr;
    std::string path = prefsFile(preferenceType);
    if (path.empty()) return resNotFound;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? (OSErr)resNotFound : errnoToOSErr(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPreferenceBytes) {
      ::close(fd);
      return invalidAtomContainerErr;
    }
    std::vector<uint8_t> bytes((size_t)st.st_size);
    size_t got = vt::readAll(fd, bytes.data(), bytes.size());
    ::close(fd);
    if (got != bytes.size()) return ioErr;
    vt::atoms::View view;
    if (view.parse(bytes.data(), bytes.size()) != noErr) return invalidAtomContainerErr;
    Handle h = NewHandle((Size)bytes.size());
    if (h == nullptr) return memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    *preferenceAtom = h;
    return noErr;
  });
}

OSErr SetQuickTimePreference(OSType preferenceType, QTAtomContainer preferenceAtom) {
  return vt::apiStatus([&]() -> OSErr {
    if (preferenceAtom == nullptr) return paramErr;
    if (!VTIsValidHandle(preferenceAtom)) return invalidAtomContainerErr;
    std::vector<uint8_t> bytes((const uint8_t*)*preferenceAtom,
                               (const uint8_t*)*preferenceAtom + GetHandleSize(preferenceAtom));
    vt::atoms::View view;
    if (view.parse(bytes.data(), bytes.size()) != noErr) return invalidAtomContainerErr;
    if (prefsFolder().empty()) return dirNFErr;
    OSErr err = makeFolders(prefsFolder());
    if (err != noErr) return err;
    // Write a private file and rename it over the old one: a reader never sees half a file,
    // and a failed write leaves the previous preference intact.
    std::string path = prefsFile(preferenceType);
    std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errnoToOSErr(errno);
    bool ok = vt::files::writeAt(fd, 0, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    int savedErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
      if (ok) savedErrno = errno;
      ::unlink(tmp.c_str());
      return errnoToOSErr(savedErrno);
    }
    return noErr;
  });
}
