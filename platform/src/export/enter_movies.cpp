// The movie toolbox's start and end. They sit above the decoders and the window server because
// starting installs one of each: the opener for foreign files and the flatten progress window.
#include <Movies.h>
#include <QuickTimeComponents.h>

#include "codec/registry.h"
#include "core/boundary.h"
#include "core/reset.h"
#include "export/progress.h"
#include "model/model.h"

namespace {

OSErr gEnterMoviesResult = noErr;
const vt::ResetRegistration kReset(vt::ResetStage::Managers, [] { gEnterMoviesResult = noErr; });

}  // namespace

void VTSetEnterMoviesResult(OSErr err) { gEnterMoviesResult = err; }

OSErr EnterMovies() {
  return vt::apiStatus([&]() -> OSErr {
    if (gEnterMoviesResult != noErr) return gEnterMoviesResult;
    vt::movie::setForeignFileOpener(&vt::codec::openForeignFile);
    vt::exporter::registerProgressWindow();
    vt::movie::setError(noErr);
    return noErr;
  });
}

void ExitMovies() {
  vt::apiCall(vt::noErrorState, [] { vt::movie::setForeignFileOpener(nullptr); });
}
