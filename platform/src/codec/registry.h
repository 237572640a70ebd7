// The component registry and component instances (internal view).
#pragma once
#include <Components.h>
#include <Quickdraw.h>

#include <memory>
#include <string>

#include "core/boundary.h"
#include "core/image.h"
#include "core/result.h"

struct VTMovie;

// A registered component. The registry is a fixed table: importers are built in.
struct VTComponentRecord {
  ComponentDescription desc;
  const char* name;
  const char* info;
};

namespace vt::files {
class HostFile;
}

namespace vt::codec {
struct GraphicsImportState;
}

// An open instance; graphics importers keep their file and drawing state here.
struct VTComponentInstanceRecord {
  VTComponentRecord* component = nullptr;
  std::unique_ptr<vt::codec::GraphicsImportState> graphics;
  ~VTComponentInstanceRecord();
};

namespace vt::codec {

// The registered component whose type and subtype match, among those whose subtype is a file
// type (not a name extension); null when none.
Component findByFileType(OSType componentType, OSType fileType);
// The instance if it is a live one made by OpenComponent; null for anything else.
ComponentInstance liveInstance(ComponentInstance ci);

struct GraphicsImportState {
  std::string path;
  Rect natural{0, 0, 0, 0};
  Rect bounds{0, 0, 0, 0};
  CGrafPtr port = nullptr;
  GDHandle device = nullptr;
  bool decoded = false;
  Image image;
};

// Decodes the first image of a still-image (or GIF) file; the importers' shared path.
Result<Image> decodeStillImage(const std::string& path);
Result<Image> decodeStillImage(const std::shared_ptr<vt::files::HostFile>& file);

// Opens a file that is not a movie file (a container, a still image) as a movie; the movie
// toolbox's opener for foreign files.
OSErr openForeignFile(const std::string& path, const std::shared_ptr<vt::files::HostFile>& open,
                      VTMovie** movie);

}  // namespace vt::codec
