// vantrel-make [--effect CODE|NAME] [--param CODE=VALUE ...] [--copy | --refer] [A [B]] -o OUT.mov
//              [--export OUT.mp4|OUT.mov|FOLDER]
// vantrel-make --list
// An effect movie made by the application's own Make Effect Movie code, run headless: the
// sources go to the effects dialog, the choices are made in it as a user would, OK builds the
// movie and the save dialog is answered with the output's folder and name.
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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
};

int usage() {
  std::fprintf(
      stderr,
      "usage: vantrel-make [--effect CODE|NAME] [--param CODE=VALUE ...] [--copy | --refer] "
      "[A [B]] -o OUT.mov [--export OUT.mp4]\n       vantrel-make --list\n");
  return 2;
}

int bad(const std::string& message) {
  std::fprintf(stderr, "vantrel-make: %s\n", message.c_str());
  return 2;
}

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
    else if (!s.empty() && s[0] != '-')
      a.sources.push_back(s);
    else
      return false;
  }
  return a.list ? argc == 2 : !a.out.empty();
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

// The bytes of `from` as the pending file's content, which then takes its name.
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
  return err != noErr ? err : to.commit();
}

}  // namespace

static int run(int argc, char** argv) {
  Args a;
  if (!parseArgs(argc, argv, a)) return usage();
  if (a.sources.size() > 2)
    return bad("at most two sources (" + std::to_string(a.sources.size()) + " given)");
  // An effect is named by its code or by its name (plugin effects by name only).
  OSType effectCode = 0;
  toCode(a.effect, effectCode);

  VTAutomationUseHeadless(640, 480);
  // In the build the application's resources are read from the source tree; installed, from
  // ../share/vantrel.
  VTSetAutoOpenApplicationResources(false);
  if ((access(VT_RESOURCE_FILE, R_OK) == 0 ? VTOpenResourceFile(VT_RESOURCE_FILE)
                                           : VTOpenApplicationResourceFile()) < 0) {
    std::fprintf(stderr, "vantrel-make: cannot open the resource file %s\n", VT_RESOURCE_FILE);
    return 1;
  }
  if (EnterMovies() != noErr) {
    std::fprintf(stderr, "vantrel-make: cannot start the movie toolbox\n");
    return 1;
  }
  if (a.list) {
    printList();
    return 0;
  }

  // The output never replaces a source, however either is spelled (same device and inode).
  struct stat outFile;
  if (stat(a.out.c_str(), &outFile) == 0)
    for (const std::string& source : a.sources) {
      struct stat in;
      if (stat(source.c_str(), &in) == 0 && in.st_dev == outFile.st_dev &&
          in.st_ino == outFile.st_ino) {
        std::fprintf(stderr, "vantrel-make: %s is the source %s; choose another output\n",
                     a.out.c_str(), source.c_str());
        return 1;
      }
    }

  std::vector<FSSpec> specs(a.sources.size());
  for (size_t i = 0; i < a.sources.size(); i++)
    if (access(a.sources[i].c_str(), R_OK) != 0 ||
        VTMakeFSSpecFromPath(a.sources[i].c_str(), &specs[i]) != noErr)
      return bad("cannot read " + a.sources[i]);
  OSErr err = QTEffects_DisplayDialogForSources(specs.data(), (UInt16)specs.size());
  if (err != noErr || gEffectsDialog == 0)
    return bad(err == invalidTrack ? "a source has no video"
                                   : "a source is not a movie (error " + std::to_string(err) + ")");

  // The dialog's own choice unless one is asked for.
  // Names are matched without regard to case ("cartoon" finds "Cartoon").
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

  // Written unnamed beside the output and given its name when whole: a failure leaves nothing,
  // and a file another writer put there meanwhile, or one an open movie reads, is kept.
  vt::files::PendingFile output;
  if ((err = output.begin(a.out, true)) != noErr) {
    cancelJob();
    std::fprintf(stderr, "vantrel-make: cannot write %s (error %d)\n", a.out.c_str(), err);
    return 1;
  }
  // The application builds the movie under a temporary name.
  const size_t slash = a.out.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : a.out.substr(0, slash + 1);
  const std::string temp = ".vantrel-make-" + std::to_string(getpid()) + ".mov";
  const std::string tempPath = (folder == "." ? "" : folder) + temp;
  // A warning the application shows (a failed save) cannot be answered here: it goes to
  // standard error under the output's name, and the run fails.
  bool warned = false;
  VTAutomationAnswerAlertsWith([&](const std::string& line) {
    std::string text = line;
    for (size_t at; (at = text.find(temp)) != std::string::npos;)
      text.replace(at, temp.size(), a.out);
    std::fprintf(stderr, "vantrel-make: %s\n", text.c_str());
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
  if (gEffectsDialog != 0) {
    cancelJob();
    unlink(tempPath.c_str());
    std::fprintf(stderr, "vantrel-make: the effects dialog did not answer\n");
    return 1;
  }
  if (warned) {
    if (!vt::movie::missingDataFile().empty())
      std::fprintf(stderr, "vantrel-make: media in %s is missing or cut short\n",
                   vt::movie::missingDataFile().c_str());
    unlink(tempPath.c_str());
    return 1;
  }
  // The movie is stored last: a file that opens as a movie is complete.
  std::string message;
  Movie made = openToolMovie(tempPath, message);
  if (!made) {
    unlink(tempPath.c_str());
    std::fprintf(
        stderr, "vantrel-make: the effect movie could not be made (%s)\n",
        VTAutomationNavLastError().empty() ? message.c_str() : VTAutomationNavLastError().c_str());
    return 1;
  }
  DisposeMovie(made);
  err = copyInto(tempPath, output);
  unlink(tempPath.c_str());
  if (err != noErr) {
    std::fprintf(stderr, "vantrel-make: cannot write %s (error %d)\n", a.out.c_str(), err);
    return 1;
  }
  if (a.exportTo.empty()) return 0;

  made = openToolMovie(a.out, message);
  vt::exporter::Options o;
  o.format = formatFor(a.exportTo);
  err = made ? vt::exporter::exportMovie(made, a.exportTo, o, nullptr, message) : (OSErr)ioErr;
  if (made) DisposeMovie(made);
  if (err != noErr) {
    std::fprintf(stderr, "vantrel-make: %s\n", message.c_str());
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("vantrel-make", [&] { return run(argc, argv); });
}
