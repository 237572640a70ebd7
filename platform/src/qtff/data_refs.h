// Data references of a movie being read: where the files they name are found.
#pragma once
#include <memory>
#include <string>

#include "model/model.h"

namespace vt::qtff {

// Points `ref` at its data. A self reference is the movie's own file (read through
// `movieFile` when given); a referenced file is looked for next to the movie first, so a movie
// and its sources can move together, then where the reference says. A reference that finds no
// file keeps its path and no source.
void resolveDataRef(vt::movie::DataRef& ref, const std::string& moviePath,
                    const std::shared_ptr<vt::files::HostFile>* movieFile);

}  // namespace vt::qtff
