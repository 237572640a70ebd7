// ConvertMovieToFile: the export behind the public API, with the movie's progress procedure.
#include <FixMath.h>
#include <MacErrors.h>
#include <Movies.h>
#include <QuickTimeComponents.h>

#include <memory>

#include "core/boundary.h"
#include "export/export.h"
#include "export/progress.h"
#include "model/model.h"

OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec* outputFile, OSType fileType,
                         OSType, ScriptCode, short*, long flags, ComponentInstance) {
  return vt::apiStatus([&]() -> OSErr {
    using namespace vt::exporter;
    if (!theMovie || !outputFile || onlyTrack) return paramErr;
    Options o;
    switch (fileType) {
      case kQTFileTypeMP4: o.format = Format::h264; break;
      case kQTFileTypeMovie: o.format = Format::prores; break;
      case kQTFileTypePNG: o.format = Format::png; break;
      default: return paramErr;
    }
    if (flags & vtExportAtMovieBoxSize) {
      Rect box;
      GetMovieBox(theMovie, &box);
      o.width = box.right - box.left;
      o.height = box.bottom - box.top;
    }
    char path[4096];
    if (OSErr err = VTFSSpecToPath(outputFile, path, sizeof path)) return err;
    const std::string file = path, name = file.substr(file.rfind('/') + 1);

    const MovieProgressUPP proc = theMovie->progressProc;
    const long refcon = theMovie->progressRefcon;
    const bool standard = proc == (MovieProgressUPP)-1;
    std::unique_ptr<ProgressWindow> window;
    if (standard)
      window = std::make_unique<ProgressWindow>("Exporting \xE2\x80\x9C" + name + "\xE2\x80\x9D");
    if (proc && !standard && proc(theMovie, movieProgressOpen, progressOpExportMovie, 0, refcon))
      return userCanceledErr;
    std::string message;
    OSErr err = exportMovie(
        theMovie, file, o,
        [&](int64_t done, int64_t total) {
          double f = (double)done / (double)total;
          if (window) return window->update(f);
          return !proc || proc(theMovie, movieProgressUpdatePercent, progressOpExportMovie,
                               X2Fix(f), refcon) == noErr;
        },
        message);
    if (proc && !standard)
      proc(theMovie, movieProgressClose, progressOpExportMovie, fixed1, refcon);
    return err;
  });
}
