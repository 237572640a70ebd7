#include "nav/browser.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace vt::nav {

namespace fs = std::filesystem;

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

int compareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = lower(a[i]), y = lower(b[i]);
    if (x != y) return (unsigned char)x < (unsigned char)y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

bool startsWithNoCase(const std::string& name, const std::string& prefix) {
  if (prefix.size() > name.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lower(name[i]) != lower(prefix[i])) return false;
  return true;
}

}  // namespace

bool entryBefore(const Entry& a, const Entry& b) {
  if (a.isFolder != b.isFolder) return a.isFolder;
  int c = compareNoCase(a.name, b.name);
  if (c != 0) return c < 0;
  return a.name < b.name;
}

std::string normaliseFolder(const std::string& path) {
  std::error_code ec;
  fs::path p = path.empty() ? fs::current_path(ec) : fs::path(path);
  if (p.is_relative()) p = fs::absolute(p, ec);
  p = p.lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s.empty() ? "/" : s;
}

std::vector<std::string> folderChain(const std::string& folder) {
  std::vector<std::string> chain;
  std::string f = normaliseFolder(folder);
  for (;;) {
    chain.push_back(f);
    if (f == "/") break;
    size_t slash = f.rfind('/');
    f = slash == 0 || slash == std::string::npos ? "/" : f.substr(0, slash);
  }
  return chain;
}

std::string displayName(const std::string& folder) {
  if (folder == "/" || folder.empty()) return "/";
  size_t slash = folder.rfind('/');
  return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool Browser::open(const std::string& folder) {
  std::string target = normaliseFolder(folder);
  std::error_code ec;
  fs::directory_iterator it(target, fs::directory_options::skip_permission_denied, ec);
  if (ec) {
    // Keep showing where we were; the caller tells the user.
    readError_ = true;
    return false;
  }
  std::vector<Entry> listed;
  size_t asked = 0;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    Entry e;
    e.name = it->path().filename().string();
    if (e.name.empty()) continue;
    e.hidden = e.name[0] == '.';
    if (e.hidden && !showHidden_) continue;
    std::string full = joinPath(target, e.name);
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0) continue;  // broken link or vanished meanwhile
    if (S_ISDIR(st.st_mode)) {
      e.isFolder = true;
    } else if (S_ISREG(st.st_mode)) {
      e.size = (uint64_t)st.st_size;
      if (typer_ && !typer_(full, e.type, e.creator)) e.type = e.creator = 0;
    } else {
      continue;  // devices, sockets and pipes are not documents
    }
    e.modified = (int64_t)st.st_mtime;
    if (filter_) {
      ++asked;
      if (!filter_(target, e)) continue;
    }
    e.enabled = e.isFolder || !filesDisabled_;
    listed.push_back(std::move(e));
  }
  std::sort(listed.begin(), listed.end(), entryBefore);
  folder_ = target;
  entries_ = std::move(listed);
  filterCalls_ = asked;
  readError_ = false;
  selected_ = -1;
  typed_.clear();
  return true;
}

bool Browser::reload() {
  std::string keep = selectedEntry() ? selectedEntry()->name : std::string();
  if (!open(folder_)) return false;
  if (!keep.empty()) selectByName(keep);
  return true;
}

bool Browser::goUp() {
  if (folder_.empty() || folder_ == "/") return false;
  std::string from = displayName(folder_);
  std::string parent = folderChain(folder_)[1];
  if (!open(parent)) return false;
  selectByName(from);
  return true;
}

bool Browser::enterSelected() {
  const Entry* e = selectedEntry();
  if (!e || !e->isFolder) return false;
  return open(joinPath(folder_, e->name));
}

const Entry* Browser::selectedEntry() const {
  if (selected_ < 0 || selected_ >= (int)entries_.size()) return nullptr;
  return &entries_[selected_];
}

std::string Browser::selectedPath() const {
  const Entry* e = selectedEntry();
  return e ? joinPath(folder_, e->name) : std::string();
}

void Browser::select(int index) {
  if (index < 0 || entries_.empty()) {
    selected_ = -1;
    return;
  }
  selected_ = std::min(index, (int)entries_.size() - 1);
}

void Browser::moveSelection(int delta) {
  if (entries_.empty()) return;
  if (selected_ < 0) {
    select(delta >= 0 ? 0 : (int)entries_.size() - 1);
    return;
  }
  select(std::max(0, selected_ + delta));
}

void Browser::selectFirst() { select(0); }
void Browser::selectLast() { select((int)entries_.size() - 1); }

bool Browser::selectByName(const std::string& name) {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name == name) {
      selected_ = (int)i;
      return true;
    }
  return false;
}

void Browser::typeSelect(std::string_view utf8, uint32_t nowTicks, uint32_t resetTicks) {
  if (typed_.empty() || nowTicks - lastTypeTick_ > resetTicks) typed_.clear();
  lastTypeTick_ = nowTicks;
  typed_.append(utf8);
  if (entries_.empty()) return;
  // Folders and files are sorted separately, so look at both runs by name alone.
  int best = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string& n = entries_[i].name;
    if (startsWithNoCase(n, typed_)) {
      if (best < 0 || compareNoCase(n, entries_[best].name) < 0) best = (int)i;
    }
  }
  if (best < 0) {
    // Nothing starts with it: the first name that sorts after what was typed, else the last.
    for (size_t i = 0; i < entries_.size(); ++i) {
      const std::string& n = entries_[i].name;
      if (compareNoCase(n, typed_) > 0 && (best < 0 || compareNoCase(n, entries_[best].name) < 0))
        best = (int)i;
    }
    if (best < 0) best = (int)entries_.size() - 1;
  }
  selected_ = best;
}

}  // namespace vt::nav
