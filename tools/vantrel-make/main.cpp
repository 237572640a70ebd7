// vantrel-make [--effect CODE|NAME] [--param CODE=VALUE ...] [--copy | --refer] [A [B]] -o OUT.mov
//              [--export OUT.mp4|OUT.mov|FOLDER]
// vantrel-make --list
// vantrel-make --jobs FILE [--skip-existing]
// An effect movie made by the application's own Make Effect Movie code, run headless: the
// sources go to the effects dialog, the choices are made in it as a user would, OK builds the
// movie and the save dialog is answered with the output's folder and name. --jobs prints one
// such command line per job of a batch, for GNU parallel or a farm manager to run.
#include <Endian.h>
#include <Events.h>
#include <MacErrors.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>
#include <Resources.h>
#include <VTAutomation.h>
#include <VTAutomationEffects.h>
#include <VTAutomationNav.h>
#include <VTAutomationUI.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ComApplication.h"
#include "Vantrel.h"
#include "common/open_movie.h"
#include "effects/catalogue.h"
#include "model/model.h"
#include "export/export.h"
#include "files/host_file.h"
#include "paramdialog/param_model.h"
#include "common/tool_main.h"

namespace {

using vt::effects::ParamDesc;
using vt::effects::ParamType;

struct Args {
  bool list = false;
  std::string effect;
  std::vector<std::string> params;
  bool copy = false;
  std::vector<std::string> sources;
  std::string out, exportTo;
  std::string jobs, label;  // a batch to print; the job's place in one, for its messages
  bool skipExisting = false;
};

std::string gLabel;  // "FILE:LINE: " for a job of a batch

int usage() {
  std::fprintf(
      stderr,
      "usage: vantrel-make [--effect CODE|NAME] [--param CODE=VALUE ...] [--copy | --refer] "
      "[--skip-existing] [A [B]] -o OUT.mov [--export OUT.mp4]\n       vantrel-make --list\n"
      "       vantrel-make --jobs FILE [--skip-existing]\n");
  return 2;
}

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "vantrel-make: %s%s\n", gLabel.c_str(), message.c_str());
  return status;
}
int bad(const std::string& message) { return fail(2, message); }

std::string codeText(OSType c) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += (char)(c >> shift);
  return s;
}

bool toCode(const std::string& text, OSType& code) {
  if (text.size() != 4) return false;
  code = ((OSType)(uint8_t)text[0] << 24) | ((OSType)(uint8_t)text[1] << 16) |
         ((OSType)(uint8_t)text[2] << 8) | (uint8_t)text[3];
  return true;
}

// The effects the dialog offers for this many sources, in its order.
std::vector<vt::paramdialog::EffectEntry> offered(int sources) {
  QTAtomContainer list = nullptr;
  if (QTGetEffectsList(&list, sources, sources, 0) != noErr) return {};
  auto entries = vt::paramdialog::parseEffectsList(list);
  QTDisposeAtomContainer(list);
  return entries;
}

void printList() {
  for (int n = 0; n <= 2; n++) {
    std::printf("%d source%s:\n", n, n == 1 ? "" : "s");
    for (const auto& e : offered(n)) {
      std::printf("  %s  %s\n", codeText(e.code).c_str(), e.name.c_str());
      if (!e.info) continue;
      for (const ParamDesc& p : e.info->params) {
        if (p.type == ParamType::Image) continue;
        std::string def = p.type == ParamType::Text
                              ? "\"" + p.defaultText + "\""
                              : vt::paramdialog::formatValue(p, p.defaultValue);
        if (p.type == ParamType::RGB) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "#%02x%02x%02x", (int)p.defaultValue[0] >> 8,
                        (int)p.defaultValue[1] >> 8, (int)p.defaultValue[2] >> 8);
          def = hex;
        } else if (p.type == ParamType::Bool) {
          def = p.defaultValue[0] != 0 ? "on" : "off";
        }
        if (p.defaultTweened) def += ":" + vt::paramdialog::formatValue(p, p.defaultEnd);
        std::printf("      %s  %-24s default %s", codeText(p.code).c_str(), p.name.c_str(),
                    def.c_str());
        if (p.type == ParamType::Fixed || p.type == ParamType::Long || p.type == ParamType::Double)
          std::printf("  range %g..%g", std::min(p.minValue, p.maxValue),
                      std::max(p.minValue, p.maxValue));
        if (p.type == ParamType::Enum) {
          std::printf("  one of");
          for (const auto& i : p.enumValues) std::printf(" \"%s\"", i.name.c_str());
        }
        std::printf("\n");
      }
    }
  }
}

// One value as the dialog shows it: a number (a percent sign allowed), an enumeration's name,
// on/off, or a colour as #rrggbb.
bool parseValue(const ParamDesc& p, std::string text, std::array<double, 3>& v, std::string& why) {
  if (p.type == ParamType::RGB) {
    unsigned r, g, b;
    char extra;
    if (text.size() != 7 || std::sscanf(text.c_str(), "#%2x%2x%2x%c", &r, &g, &b, &extra) != 3) {
      why = "a color is given as #rrggbb";
      return false;
    }
    v = {r * 257.0, g * 257.0, b * 257.0};
    return true;
  }
  if (p.type == ParamType::Enum) {
    for (const auto& i : p.enumValues)
      if (strcasecmp(i.name.c_str(), text.c_str()) == 0) {
        v[0] = (double)i.value;
        return true;
      }
    why = "it is not one of the listed names";
    return false;
  }
  if (p.type == ParamType::Bool) {
    if (text == "on" || text == "1" || text == "true")
      v[0] = 1;
    else if (text == "off" || text == "0" || text == "false")
      v[0] = 0;
    else {
      why = "it is on or off";
      return false;
    }
    return true;
  }
  if (p.type == ParamType::Image) {
    why = "pictures cannot be given here";
    return false;
  }
  while (!text.empty() && (text.back() == '%' || text.back() == ' ')) text.pop_back();
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(text.c_str(), &end);
  if (text.empty() || errno || *end || !std::isfinite(d)) {
    why = "it is not a number";
    return false;
  }
  const double lo = std::min(p.minValue, p.maxValue), hi = std::max(p.minValue, p.maxValue);
  if (hi > lo && (d < lo || d > hi)) {
    char range[80];
    std::snprintf(range, sizeof range, "it is outside %g..%g", lo, hi);
    why = range;
    return false;
  }
  v[0] = d;
  return true;
}

// Sets one --param CODE=VALUE (VALUE or START:END) in the open dialog.
bool applyParam(const vt::effects::EffectInfo& effect, const std::string& arg, std::string& why) {
  size_t eq = arg.find('=');
  OSType code = 0;
  if (eq == std::string::npos || eq == 0) {
    why = "--param takes CODE=VALUE";
    return false;
  }
  toCode(arg.substr(0, eq), code);
  // Plugin parameters are known by name ("Radius=0.4"); built-in ones by code.
  const std::string key = arg.substr(0, eq);
  const ParamDesc* desc = nullptr;
  for (const auto& p : effect.params)
    if (p.code == code || (effect.isPlugin() && strcasecmp(p.name.c_str(), key.c_str()) == 0))
      desc = &p;
  if (desc) code = desc->code;
  if (!desc) {
    why = "the effect " + effect.name + " has no parameter " + key;
    return false;
  }
  if (desc->type == ParamType::Text) {
    if (VTAutomationEffectsDialogSetText(code, arg.substr(eq + 1))) return true;
    why = key + " cannot be set";
    return false;
  }
  bool tweened = false;
  for (const auto& p : VTAutomationEffectsDialogParams())
    if (p.code == code) tweened = p.tweened;
  std::string value = arg.substr(eq + 1);
  size_t colon = value.find(':');
  std::vector<std::string> parts = {value.substr(0, colon)};
  if (colon != std::string::npos) parts.push_back(value.substr(colon + 1));
  if (parts.size() == 2 && !tweened) {
    why = key + " takes one value, not start:end";
    return false;
  }
  for (size_t which = 0; which < (tweened ? 2 : 1); which++) {
    const std::string& text = parts[std::min(which, parts.size() - 1)];
    std::array<double, 3> v{};
    if (!parseValue(*desc, text, v, why)) {
      why = key + " = " + text + ": " + why;
      return false;
    }
    if (!VTAutomationEffectsDialogSetColour(code, v[0], v[1], v[2], (int)which)) {
      why = key + " cannot be set";
      return false;
    }
  }
  return true;
}

// Gives up the effects dialog as its Cancel would, releasing what the job holds.
void cancelJob() {
  if (gEffectsDialog == 0) return;
  QTDismissStandardParameterDialog(gEffectsDialog);
  gEffectsDialog = 0L;
  QTEffects_RespondToDialogSelection(userCanceledErr);
}

bool parseArgs(int argc, char** argv, Args& a) {
  bool mode = false;
  for (int i = 1; i < argc; i++) {
    std::string s = argv[i];
    const bool value = i + 1 < argc;
    if (s == "--list")
      a.list = true;
    else if (s == "--effect" && value)
      a.effect = argv[++i];
    else if (s == "--param" && value)
      a.params.push_back(argv[++i]);
    else if ((s == "--copy" || s == "--refer") && !mode) {
      a.copy = s == "--copy";
      mode = true;
    } else if (s == "-o" && value && a.out.empty())
      a.out = argv[++i];
    else if (s == "--export" && value && a.exportTo.empty())
      a.exportTo = argv[++i];
    else if (s == "--jobs" && value && a.jobs.empty())
      a.jobs = argv[++i];
    else if (s == "--label" && value)
      a.label = argv[++i];
    else if (s == "--skip-existing")
      a.skipExisting = true;
    else if (!s.empty() && s[0] != '-')
      a.sources.push_back(s);
    else
      return false;
  }
  if (!a.jobs.empty())
    return a.out.empty() && a.sources.empty() && a.params.empty() && a.effect.empty() && !mode;
  return a.list ? argc == 2 : !a.out.empty();
}

// ---- batches ----------------------------------------------------------------------------------

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A line's words as a shell would split them: blanks separate, quotes group, backslash escapes.
bool splitWords(const std::string& line, std::vector<std::string>& words, std::string& why) {
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < line.size())
        word += line[++i];
      else
        word += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote) {
    why = "a quote is not closed";
    return false;
  }
  if (inWord) words.push_back(word);
  return true;
}

// CSV fields (RFC 4180: quoted fields may hold commas and doubled quotes), blanks trimmed.
bool splitCsv(const std::string& line, std::vector<std::string>& fields, std::string& why) {
  std::string field;
  bool quoted = false, wasQuoted = false;
  auto push = [&] {
    if (!wasQuoted) {
      size_t b = field.find_first_not_of(" \t"), e = field.find_last_not_of(" \t");
      field = b == std::string::npos ? "" : field.substr(b, e - b + 1);
    }
    fields.push_back(field);
    field.clear();
    wasQuoted = false;
  };
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
        field += line[++i];
      else if (c == '"')
        quoted = false;
      else
        field += c;
    } else if (c == '"' && field.find_first_not_of(" \t") == std::string::npos) {
      field.clear();
      quoted = wasQuoted = true;
    } else if (c == ',') {
      push();
    } else {
      field += c;
    }
  }
  if (quoted) {
    why = "a quoted field is not closed";
    return false;
  }
  push();
  return true;
}

// A CSV job: source A, source B, effect, parameters (CODE=VALUE separated by blanks), output,
// and optionally an export. Sources may be left empty.
bool csvJob(const std::vector<std::string>& f, std::vector<std::string>& args, std::string& why) {
  if (f.size() < 5 || f.size() > 6) {
    why = "a job has 5 or 6 fields (a,b,effect,parameters,output[,export]), not " +
          std::to_string(f.size());
    return false;
  }
  if (!f[2].empty()) args.insert(args.end(), {"--effect", f[2]});
  std::vector<std::string> params;
  if (!splitWords(f[3], params, why)) return false;
  for (const auto& p : params) args.insert(args.end(), {"--param", p});
  if (f[0].empty() && !f[1].empty()) {
    why = "source B is given without source A";
    return false;
  }
  for (int k = 0; k < 2; k++)
    if (!f[k].empty()) args.push_back(f[k]);
  args.insert(args.end(), {"-o", f[4]});
  if (f.size() == 6 && !f[5].empty()) args.insert(args.end(), {"--export", f[5]});
  return true;
}

// Prints the command line of each good job; each bad one is reported with its line number and
// the others go on. Status 1 when any line was bad.
int printJobs(const std::string& file, bool skipExisting, const char* self) {
  std::ifstream in(file);
  if (!in) return fail(1, "cannot read " + file + ": " + std::strerror(errno));
  // The same program on every machine: by the path it was started with, else found on PATH.
  std::string program = "vantrel-make";
  if (std::strchr(self, '/')) {
    char* real = realpath(self, nullptr);
    program = real ? real : self;
    std::free(real);
  }
  const bool csv = file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".csv") == 0;
  int badLines = 0, number = 0;
  for (std::string text; std::getline(in, text);) {
    number++;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    std::vector<std::string> words, args;
    std::string why;
    bool ok =
        csv ? splitCsv(text, words, why) && csvJob(words, args, why) : splitWords(text, args, why);
    Args job;
    std::vector<char*> argv = {const_cast<char*>(self)};
    for (auto& w : args) argv.push_back(w.data());
    if (ok && csv && number == 1 && strcasecmp(words[4].c_str(), "output") == 0) continue;
    if (ok && (!parseArgs((int)argv.size(), argv.data(), job) || job.list || !job.jobs.empty())) {
      why = "the job is not a vantrel-make command (-o OUT is required)";
      ok = false;
    } else if (ok && job.sources.size() > 2) {
      why = "at most two sources (" + std::to_string(job.sources.size()) + " given)";
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "vantrel-make: %s:%d: %s\n", file.c_str(), number, why.c_str());
      badLines++;
      continue;
    }
    std::string command =
        shellQuoted(program) + " --label " + shellQuoted(file + ":" + std::to_string(number));
    if (skipExisting) command += " --skip-existing";
    for (const auto& w : args) command += " " + shellQuoted(w);
    std::printf("%s\n", command.c_str());
  }
  return badLines ? 1 : 0;
}

vt::exporter::Format formatFor(const std::string& path) {
  auto ends = [&](const char* ext) {
    size_t n = std::strlen(ext);
    return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
  };
  if (ends(".mp4") || ends(".m4v")) return vt::exporter::Format::h264;
  if (ends(".mov")) return vt::exporter::Format::prores;
  return vt::exporter::Format::png;
}

// The bytes of `from` as the pending file's content, which then takes its name; `from` is gone
// before the name appears, so a job killed at any point leaves one of the two.
OSErr copyInto(const std::string& from, vt::files::PendingFile& to) {
  vt::Result<int> opened = vt::files::openRegularFile(from, O_RDONLY);
  if (!opened) return opened.error();
  int in = *opened;
  OSErr err = noErr;
  bool kernelCopy = true;
  std::vector<char> buf;
  for (;;) {
    ssize_t n = kernelCopy ? copy_file_range(in, nullptr, to.fd(), nullptr, 1 << 30, 0) : 0;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      kernelCopy = false;  // across file systems on older kernels: by hand
      buf.resize(1 << 20);
    }
    if (!kernelCopy) {
      n = read(in, buf.data(), buf.size());
      if (n > 0 && write(to.fd(), buf.data(), (size_t)n) != n) n = -1;
    }
    if (n == 0) break;
    if (n < 0) {
      err = vt::files::errnoToOSErr(errno == 0 ? EIO : errno);
      break;
    }
  }
  close(in);
  unlink(from.c_str());
  return err != noErr ? err : to.commit();
}

// Temporary movies are named by host and process, so that jobs on machines sharing a folder
// never take each other's for stale.
std::string tempPrefix() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::string name = ".vantrel-make-";
  for (const char* c = host; *c; c++) name += *c == '/' ? '_' : *c;
  return name + "-";
}

// What a job killed on this machine left in `folder` (its process is gone).
void removeStaleTemps(const std::string& folder) {
  const std::string prefix = tempPrefix();
  DIR* d = opendir(folder.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    char* end = nullptr;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid > 0 && std::strcmp(end, ".mov") == 0 && kill((pid_t)pid, 0) != 0 && errno == ESRCH)
      unlink((folder + "/" + name).c_str());
  }
  closedir(d);
}

// The sources a job names, resolved; a status (1 or 2) when one cannot be read.
int checkOutputAndSources(const Args& a, std::vector<FSSpec>& specs) {
  // The output never replaces a source, however either is spelled (same device and inode).
  struct stat outFile;
  if (stat(a.out.c_str(), &outFile) == 0)
    for (const std::string& source : a.sources) {
      struct stat in;
      if (stat(source.c_str(), &in) == 0 && in.st_dev == outFile.st_dev &&
          in.st_ino == outFile.st_ino)
        return fail(1, a.out + " is the source " + source + "; choose another output");
    }
  specs.resize(a.sources.size());
  for (size_t i = 0; i < a.sources.size(); i++)
    if (access(a.sources[i].c_str(), R_OK) != 0 ||
        VTMakeFSSpecFromPath(a.sources[i].c_str(), &specs[i]) != noErr)
      return bad("cannot read " + a.sources[i]);
  return 0;
}

// Opens the effects dialog on the sources and makes the job's choices in it; a status when one
// cannot be made (the dialog is given up then).
int chooseInDialog(Args& a, std::vector<FSSpec>& specs) {
  OSErr err = QTEffects_DisplayDialogForSources(specs.data(), (UInt16)specs.size());
  if (err != noErr || gEffectsDialog == 0)
    return bad(err == invalidTrack ? "a source has no video"
                                   : "a source is not a movie (error " + std::to_string(err) + ")");
  // An effect is named by its code or by its name (plugin effects by name only); names are
  // matched without regard to case ("cartoon" finds "Cartoon"). Else the dialog's own choice.
  OSType effectCode = 0;
  toCode(a.effect, effectCode);
  for (const auto& e : VTAutomationEffectsDialogEffects())
    if (!a.effect.empty() && strcasecmp(e.name.c_str(), a.effect.c_str()) == 0) {
      a.effect = e.name;
      break;
    }
  if (!a.effect.empty() && !VTAutomationEffectsDialogSelectName(a.effect) &&
      (!effectCode || !VTAutomationEffectsDialogSelectCode(effectCode))) {
    cancelJob();
    return bad("no effect " + a.effect + " for " + std::to_string(a.sources.size()) + " source" +
               (a.sources.size() == 1 ? "" : "s") + " (see --list)");
  }
  auto effects = VTAutomationEffectsDialogEffects();
  int selected = VTAutomationEffectsDialogSelected();
  const vt::effects::EffectInfo* info =
      selected >= 0
          ? vt::effects::findEffect(effects[(size_t)selected].code, effects[(size_t)selected].name)
          : nullptr;
  if (!info) {
    cancelJob();
    return bad("the dialog offers no effect for these sources");
  }
  for (const std::string& p : a.params) {
    std::string why;
    if (!applyParam(*info, p, why)) {
      cancelJob();
      return bad(why);
    }
  }
  return 0;
}

// Presses OK in the dialog with the save dialog answered by a temporary name beside the output;
// the movie made there goes to `output`. A status on failure, nothing left behind.
int makeMovie(const Args& a, vt::files::PendingFile& output) {
  const size_t slash = a.out.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : a.out.substr(0, slash + 1);
  const std::string temp = tempPrefix() + std::to_string(getpid()) + ".mov";
  removeStaleTemps(folder);
  const std::string tempPath = (folder == "." ? "" : folder) + temp;
  // A warning the application shows (a failed save) cannot be answered here: it goes to
  // standard error under the output's name, and the run fails.
  bool warned = false;
  VTAutomationAnswerAlertsWith([&](const std::string& line) {
    std::string text = line;
    for (size_t at; (at = text.find(temp)) != std::string::npos;)
      text.replace(at, temp.size(), a.out);
    fail(1, text);
    warned = true;
  });
  gCopyMovieMedia = a.copy;
  VTAutomationNavSaveAs(folder, temp, true);
  VTAutomationNavSetTurnLimit(200);
  VTAutomationEffectsDialogPressOK();
  for (int turn = 0; gEffectsDialog != 0 && turn < 1000; turn++) {
    EventRecord event;
    if (WaitNextEvent(everyEvent, &event, 0, nullptr)) QTApp_HandleEvent(&event);
  }
  int status = 0;
  std::string message;
  Movie made = nullptr;
  if (gEffectsDialog != 0) {
    cancelJob();
    status = fail(1, "the effects dialog did not answer");
  } else if (warned) {
    if (!vt::movie::missingDataFile().empty())
      fail(1, "media in " + vt::movie::missingDataFile() + " is missing or cut short");
    status = 1;
  } else if (!(made = openToolMovie(tempPath, message))) {
    // The movie is stored last: a file that opens as a movie is complete.
    status = fail(
        1, "the effect movie could not be made (" +
               (VTAutomationNavLastError().empty() ? message : VTAutomationNavLastError()) + ")");
  } else {
    DisposeMovie(made);
    if (OSErr err = copyInto(tempPath, output))
      status = fail(1, "cannot write " + a.out + " (error " + std::to_string(err) + ")");
  }
  unlink(tempPath.c_str());
  return status;
}

int exportMade(const Args& a) {
  std::string message;
  Movie made = openToolMovie(a.out, message);
  vt::exporter::Options o;
  o.format = formatFor(a.exportTo);
  OSErr err =
      made ? vt::exporter::exportMovie(made, a.exportTo, o, nullptr, message) : (OSErr)ioErr;
  if (made) DisposeMovie(made);
  return err != noErr ? fail(1, message) : 0;
}

int startToolbox() {
  VTAutomationUseHeadless(640, 480);
  // In the build the application's resources are read from the source tree; installed, from
  // ../share/vantrel.
  VTSetAutoOpenApplicationResources(false);
  if ((access(VT_RESOURCE_FILE, R_OK) == 0 ? VTOpenResourceFile(VT_RESOURCE_FILE)
                                           : VTOpenApplicationResourceFile()) < 0)
    return fail(1, std::string("cannot open the resource file ") + VT_RESOURCE_FILE);
  if (EnterMovies() != noErr) return fail(1, "cannot start the movie toolbox");
  return 0;
}

}  // namespace

static int run(int argc, char** argv) {
  Args a;
  if (!parseArgs(argc, argv, a)) return usage();
  gLabel = a.label.empty() ? "" : a.label + ": ";
  if (!a.jobs.empty()) return printJobs(a.jobs, a.skipExisting, argv[0]);
  if (a.sources.size() > 2)
    return bad("at most two sources (" + std::to_string(a.sources.size()) + " given)");
  // A rerun leaves what an earlier run finished (outputs appear only when whole).
  if (a.skipExisting && access(a.out.c_str(), F_OK) == 0 &&
      (a.exportTo.empty() || access(a.exportTo.c_str(), F_OK) == 0))
    return 0;
  if (int status = startToolbox()) return status;
  if (a.list) {
    printList();
    return 0;
  }
  std::vector<FSSpec> specs;
  if (int status = checkOutputAndSources(a, specs)) return status;
  if (int status = chooseInDialog(a, specs)) return status;
  // Written unnamed beside the output and given its name when whole: a failure leaves nothing,
  // and a file another writer put there meanwhile, or one an open movie reads, is kept.
  vt::files::PendingFile output;
  if (OSErr err = output.begin(a.out, true)) {
    cancelJob();
    return fail(1, "cannot write " + a.out + " (error " + std::to_string(err) + ")");
  }
  if (int status = makeMovie(a, output)) return status;
  return a.exportTo.empty() ? 0 : exportMade(a);
}

int main(int argc, char** argv) {
  return guardedToolMain("vantrel-make", [&] { return run(argc, argv); });
}
