#include "qtff/data_refs.h"

#include <vector>

#include "model/internal.h"

namespace vt::qtff {

using vt::movie::DataRef;

namespace {

std::string dirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}
std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void resolveDataRef(DataRef& ref, const std::string& moviePath,
                    const std::shared_ptr<vt::files::HostFile>* movieFile) {
  if (ref.self()) {
    ref.path = moviePath;
    if (moviePath.empty()) return;
    ref.source = movieFile && *movieFile ? vt::movie::fileSource(moviePath, *movieFile)
                                         : vt::movie::openFileSource(moviePath);
    return;
  }
  std::string target;
  if (ref.type == 'alis') {
    if (!vt::movie::aliasBytesToPath(ref.data.data(), ref.data.size(), target)) return;
  } else if (ref.type == 'url ') {
    size_t len = 0;
    while (len < ref.data.size() && ref.data[len]) ++len;
    target.assign((const char*)ref.data.data(), len);
    if (target.rfind("file://", 0) == 0) target = target.substr(7);
    if (target.empty() || target.find("://") != std::string::npos) return;
  } else {
    return;
  }
  std::vector<std::string> candidates;
  if (!moviePath.empty()) candidates.push_back(dirName(moviePath) + "/" + baseName(target));
  if (!target.empty() && target[0] == '/') {
    candidates.push_back(target);
  } else if (!moviePath.empty()) {
    candidates.push_back(dirName(moviePath) + "/" + target);
  }
  for (const auto& c : candidates) {
    if (auto src = vt::movie::openFileSource(c)) {
      ref.path = c;
      ref.source = src;
      return;
    }
  }
  ref.path = target;
}

}  // namespace vt::qtff
