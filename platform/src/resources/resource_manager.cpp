// The resource manager: open files, the search chain, loaded resource handles.
#include "core/boundary.h"
#include "core/read_all.h"
#include "core/pstring.h"
#include "core/reset.h"
#include "resources/resource_manager.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <Resources.h>

#include "core/fourcc.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace vt::resources {
namespace {

struct OpenFile {
  short refNum;
  std::string path;
  std::shared_ptr<const ResourceFile> data;
  std::map<std::pair<ResType, SInt16>, Handle> loaded;
};

struct State {
  std::vector<OpenFile> files;  // in the order opened: the chain runs from current backwards
  short current = kResFileNotOpened;
  short nextRefNum = 1;
  short appRefNum = kResFileNotOpened;
  bool appTried = false;
  bool autoOpen = true;
  OSErr lastErr = noErr;
  std::string lastOpenError, lastOpenProblem;  // "path: problem", and the problem alone
  std::string appPath;  // where the application's file is looked for ("" = next to the binary)
  bool problemReported = false;
};

State& state() {
  static State s;
  return s;
}

void ensureApplicationFile() {
  State& s = state();
  if (!s.appTried && s.autoOpen) VTOpenApplicationResourceFile();
}

int indexOf(short refNum) {
  auto& files = state().files;
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i].refNum == refNum) return (int)i;
  return -1;
}

// The files to search, most recent first: the current one and those opened before it, or only
// the current one.
std::vector<OpenFile*> chain(bool currentOnly) {
  ensureApplicationFile();
  std::vector<OpenFile*> out;
  int start = indexOf(state().current);
  for (int i = start; i >= 0; --i) {
    out.push_back(&state().files[(size_t)i]);
    if (currentOnly) break;
  }
  return out;
}

template <class Map>
auto findIn(Map ResourceFile::*member, SInt16 id, std::string* file = nullptr)
    -> std::optional<typename Map::mapped_type> {
  for (OpenFile* f : chain(false)) {
    const Map& m = (*f->data).*member;
    auto it = m.find(id);
    if (it != m.end()) {
      state().lastErr = noErr;
      if (file) *file = f->path;
      return it->second;
    }
  }
  state().lastErr = resNotFound;
  return std::nullopt;
}

// The bytes GetResource hands out for a resource.
std::string resourceBytes(const ResourceFile& f, ResType type, SInt16 id) {
  std::string out;
  auto be16 = [&out](int v) {
    out += (char)((v >> 8) & 0xFF);
    out += (char)(v & 0xFF);
  };
  if (type == 'STR#') {
    const auto& list = f.stringLists.at(id);
    be16((int)list.size());
    for (const auto& str : list) {
      out += (char)str.size();
      out += str;
    }
  } else if (type == 'STR ') {
    const auto& str = f.strings.at(id);
    out += (char)str.size();
    out += str;
  } else if (type == 'MBAR') {
    const auto& bar = f.menuBars.at(id);
    be16((int)bar.menus.size());
    for (SInt16 m : bar.menus) be16(m);
  } else {
    out = f.raw.at({type, id});
  }
  return out;
}

Handle getResource(ResType type, SInt16 id, bool currentOnly) {
  for (OpenFile* f : chain(currentOnly)) {
    auto key = std::make_pair(type, id);
    if (!f->data->raw.count(key)) continue;
    auto it = f->loaded.find(key);
    // A caller that disposed the handle itself leaves a dead entry behind: load afresh.
    if (it != f->loaded.end() && VTIsValidHandle(it->second)) {
      state().lastErr = noErr;
      return it->second;
    }
    std::string bytes = resourceBytes(*f->data, type, id);
    Handle h = NewHandle((Size)bytes.size());
    if (!h) {
      state().lastErr = memFullErr;
      return nullptr;
    }
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    f->loaded[key] = h;
    state().lastErr = noErr;
    return h;
  }
  state().lastErr = resNotFound;
  return nullptr;
}

// Forgets a loaded handle; returns whether it was one of ours.
bool forget(Handle h) {
  if (!h) return false;
  for (auto& f : state().files) {
    for (auto it = f.loaded.begin(); it != f.loaded.end(); ++it) {
      if (it->second == h) {
        f.loaded.erase(it);
        return true;
      }
    }
  }
  return false;
}

void closeFile(size_t index) {
  State& s = state();
  OpenFile& f = s.files[index];
  for (auto& [key, h] : f.loaded)
    if (VTIsValidHandle(h)) DisposeHandle(h);
  short refNum = f.refNum;
  s.files.erase(s.files.begin() + (long)index);
  if (refNum == s.appRefNum) s.appRefNum = kResFileNotOpened;
  if (s.current == refNum)
    s.current = s.files.empty() ? (short)kResFileNotOpened : s.files.back().refNum;
}

std::string exeDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, (size_t)n);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::optional<MenuBarRes> findMenuBar(SInt16 id, std::string* file) {
  return findIn(&ResourceFile::menuBars, id, file);
}
std::optional<MenuRes> findMenu(SInt16 id) { return findIn(&ResourceFile::menus, id); }
std::optional<DialogRes> findDialog(SInt16 id) { return findIn(&ResourceFile::dialogs, id); }
std::optional<DialogRes> findAlert(SInt16 id) { return findIn(&ResourceFile::alerts, id); }

void setResError(OSErr err) { state().lastErr = err; }

std::string applicationName() {
  ensureApplicationFile();
  State& s = state();
  // The application's own file first; without one (a file opened explicitly, as tests and
  // tools do) the oldest open file that names the application.
  std::vector<const OpenFile*> order;
  int app = indexOf(s.appRefNum);
  if (app >= 0) order.push_back(&s.files[(size_t)app]);
  for (const auto& f : s.files) order.push_back(&f);
  for (const OpenFile* f : order) {
    const auto& lists = f->data->stringLists;
    auto it = lists.find(1000);
    if (it != lists.end() && !it->second.empty() && !it->second[0].empty()) return it->second[0];
  }
  return "Vantrel";
}

std::string lastOpenError() { return state().lastOpenError; }

std::string applicationResourcePath() {
  State& s = state();
  if (!s.appPath.empty()) return s.appPath;
  // Beside the program in a build tree; in share/vantrel of an installed one.
  std::string path = exeDirectory() + "/Vantrel.rsrc.json";
  if (::access(path.c_str(), F_OK) != 0) {
    std::string installed = exeDirectory() + "/../share/vantrel/Vantrel.rsrc.json";
    if (::access(installed.c_str(), F_OK) == 0) path = installed;
  }
  return path;
}

void setApplicationResourcePath(const std::string& path) { state().appPath = path; }

void reportProblem(const std::string& file, const std::string& problem) {
  State& s = state();
  if (s.problemReported) return;
  s.problemReported = true;
  std::fprintf(stderr, "Vantrel: resource file %s: %s\n", file.c_str(), problem.c_str());
}

}  // namespace vt::resources

using namespace vt::resources;

short VTOpenResourceFile(const char* path) {
  return vt::apiCall<short>(setResError, {}, [&]() -> short {
    State& s = state();
    if (!path || !*path) {
      s.lastErr = paramErr;
      return kResFileNotOpened;
    }
    // Opened without waiting and taken only when it is a regular file: a FIFO or a device named
    // here would otherwise block start-up for good.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      s.lastErr = fnfErr;
      s.lastOpenProblem = fd < 0 ? "cannot be read" : "is not a regular file";
      s.lastOpenError = std::string(path) + ": " + s.lastOpenProblem;
      return kResFileNotOpened;
    }
    // Read at most one byte past the limit: enough to reject an oversized file.
    std::string text(std::min<uint64_t>((uint64_t)st.st_size, kMaxResourceFileBytes) + 1, '\0');
    size_t got = vt::readAll(fd, text.data(), text.size());
    ::close(fd);
    text.resize(got);
    ParseResult parsed = parseResourceFile(text);
    if (!parsed.file) {
      s.lastErr = mapReadErr;
      s.lastOpenProblem = parsed.error;
      s.lastOpenError = std::string(path) + ": " + s.lastOpenProblem;
      return kResFileNotOpened;
    }
    if (s.nextRefNum == SHRT_MAX) s.nextRefNum = 1;
    OpenFile f{s.nextRefNum++, path, std::move(parsed.file), {}};
    s.files.push_back(std::move(f));
    s.current = s.files.back().refNum;
    s.lastErr = noErr;
    return s.current;
  });
}

short VTOpenApplicationResourceFile() {
  return vt::apiCall<short>(setResError, {}, [&]() -> short {
    State& s = state();
    if (s.appRefNum != kResFileNotOpened) return s.appRefNum;
    s.appTried = true;
    std::string path = applicationResourcePath();
    short saved = s.current;
    short ref = VTOpenResourceFile(path.c_str());
    if (ref == kResFileNotOpened) {
      // Without its resources the application has no menus and no words: say why, once.
      reportProblem(path, s.lastOpenProblem);
      return ref;
    }
    // The application's file sits at the bottom of the chain, below files opened explicitly.
    OpenFile f = std::move(s.files.back());
    s.files.pop_back();
    s.files.insert(s.files.begin(), std::move(f));
    s.appRefNum = ref;
    if (saved != kResFileNotOpened) s.current = saved;
    return ref;
  });
}

void VTResetResources() {
  vt::apiCall(setResError, [&] {
    State& s = state();
    while (!s.files.empty()) closeFile(s.files.size() - 1);
    s.current = kResFileNotOpened;
    s.appRefNum = kResFileNotOpened;
    s.appTried = false;
    s.lastErr = noErr;
    s.lastOpenError.clear();
    s.problemReported = false;
    s.appPath.clear();
  });
}

namespace {
const vt::ResetRegistration kReset(vt::ResetStage::Managers, VTResetResources);
}

void VTSetAutoOpenApplicationResources(Boolean enabled) {
  vt::apiCall(setResError, [&] { state().autoOpen = enabled; });
}

short CurResFile() {
  return vt::apiCall<short>(setResError, {}, [&]() -> short {
    ensureApplicationFile();
    state().lastErr = noErr;
    return state().current;
  });
}

void UseResFile(short refNum) {
  vt::apiCall(setResError, [&] {
    ensureApplicationFile();
    if (indexOf(refNum) < 0) {
      state().lastErr = resFNotFound;
      return;
    }
    state().current = refNum;
    state().lastErr = noErr;
  });
}

OSErr ResError() {
  return vt::apiStatus([&]() -> OSErr { return state().lastErr; });
}

void CloseResFile(short refNum) {
  vt::apiCall(setResError, [&] {
    int i = indexOf(refNum);
    if (i < 0) {
      state().lastErr = resFNotFound;
      return;
    }
    closeFile((size_t)i);
    state().lastErr = noErr;
  });
}

Handle GetResource(ResType theType, short theID) {
  return vt::apiCall<Handle>(setResError, {},
                             [&]() -> Handle { return getResource(theType, theID, false); });
}
Handle Get1Resource(ResType theType, short theID) {
  return vt::apiCall<Handle>(setResError, {},
                             [&]() -> Handle { return getResource(theType, theID, true); });
}

void ReleaseResource(Handle theResource) {
  vt::apiCall(setResError, [&] {
    if (forget(theResource)) {
      DisposeHandle(theResource);
      state().lastErr = noErr;
    } else {
      state().lastErr = resNotFound;
    }
  });
}

void DetachResource(Handle theResource) {
  vt::apiCall(setResError,
              [&] { state().lastErr = forget(theResource) ? (OSErr)noErr : (OSErr)resNotFound; });
}

static short countResources(ResType type, bool currentOnly) {
  std::set<SInt16> ids;
  for (OpenFile* f : chain(currentOnly))
    for (SInt16 id : f->data->idsOf(type)) ids.insert(id);
  state().lastErr = noErr;
  return (short)std::min<size_t>(ids.size(), SHRT_MAX);
}

short CountResources(ResType theType) {
  return vt::apiCall<short>(setResError, {},
                            [&]() -> short { return countResources(theType, false); });
}
short Count1Resources(ResType theType) {
  return vt::apiCall<short>(setResError, {},
                            [&]() -> short { return countResources(theType, true); });
}

void GetIndString(Str255 theString, short strListID, short index) {
  vt::apiCall(setResError, [&] {
    if (!theString) return;
    theString[0] = 0;
    for (OpenFile* f : chain(false)) {
      auto it = f->data->stringLists.find(strListID);
      if (it == f->data->stringLists.end()) continue;
      if (index < 1 || (size_t)index > it->second.size()) {
        state().lastErr = resNotFound;
        return;
      }
      vt::toPascal(it->second[(size_t)index - 1], theString);
      state().lastErr = noErr;
      return;
    }
    state().lastErr = resNotFound;
  });
}

StringHandle GetString(short stringID) {
  return vt::apiCall<StringHandle>(setResError, {}, [&]() -> StringHandle {
    return reinterpret_cast<StringHandle>(GetResource('STR ', stringID));
  });
}
