// Graphics importers: still images (PNG, JPEG, GIF, BMP, TIFF, WebP) decoded by libavcodec and
// drawn into ports through the window server's drawer.
#include <MacErrors.h>
#include <QuickTimeComponents.h>
#include <sys/stat.h>

#include "codec/demux.h"
#include "codec/registry.h"
#include "codec/decoder.h"
#include "core/boundary.h"
#include "core/port_drawing.h"
#include "files/fsspec.h"

namespace vt::codec {

namespace {

Result<Image> decodeFirstPicture(Result<std::unique_ptr<Demuxer>> d) {
  if (!d) return Failure{d.error(), d.why()};
  Demuxer& demux = *d.value();
  if (demux.samples().empty()) return Failure{invalidMedia};
  auto opened = VideoDecoder::open(demux.format(), 1);
  if (!opened) return Failure{opened.error(), opened.why()};
  VideoDecoder& decoder = *opened.value();
  std::vector<uint8_t> bytes;
  OSErr err = demux.read(0, bytes);
  if (err == noErr) err = decoder.send(bytes.data(), bytes.size(), 0, true);
  if (err != noErr) return Failure{err};
  decoder.drain();
  Frame frame;
  if (!decoder.receive(frame)) return Failure{codecErr};
  Image out;
  FrameConverter converter;
  err = converter.convert(frame, out);
  if (err != noErr) return Failure{err};
  return out;
}

}  // namespace

Result<Image> decodeStillImage(const std::string& path) {
  return decodeFirstPicture(Demuxer::open(path));
}

Result<Image> decodeStillImage(const std::shared_ptr<vt::files::HostFile>& file) {
  return decodeFirstPicture(Demuxer::open(file));
}

namespace {

GraphicsImportState* stateOf(GraphicsImportComponent ci) {
  ComponentInstance live = liveInstance(ci);
  return live ? live->graphics.get() : nullptr;
}

// A graphics importer call: badComponentInstance for anything but a live graphics importer.
template <class Body>
ComponentResult withImporter(GraphicsImportComponent ci, Body&& body) noexcept {
  return vt::apiStatus([&]() -> OSErr {
    GraphicsImportState* s = stateOf(ci);
    return s ? body(*s) : OSErr(badComponentInstance);
  });
}

}  // namespace

}  // namespace vt::codec

using vt::codec::GraphicsImportState;
using vt::codec::withImporter;

OSErr GetGraphicsImporterForFile(const FSSpec* theFile, ComponentInstance* gi) {
  return vt::apiStatus([&]() -> OSErr {
    if (!theFile || !gi) return paramErr;
    *gi = nullptr;
    std::string path;
    OSErr err = vt::files::specToPath(*theFile, path);
    if (err != noErr) return err;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fnfErr;
    if (!S_ISREG(st.st_mode)) return cantFindHandler;
    OSType type = vt::codec::sniffFileType(path);
    Component c = vt::codec::isImageType(type)
                      ? vt::codec::findByFileType(GraphicsImporterComponentType, type)
                      : nullptr;
    if (!c) return cantFindHandler;
    // The header has to be readable now: an importer that cannot tell its image's size is no
    // importer for the file.
    auto d = vt::codec::Demuxer::open(path);
    if (!d) return cantFindHandler;
    ComponentInstance inst = nullptr;
    err = OpenAComponent(c, &inst);
    if (err != noErr) return err;
    auto state = std::make_unique<GraphicsImportState>();
    state->path = path;
    state->natural = Rect{0, 0, (short)d.value()->height(), (short)d.value()->width()};
    state->bounds = state->natural;
    inst->graphics = std::move(state);
    *gi = inst;
    return noErr;
  });
}

ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* naturalBounds) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    if (!naturalBounds) return paramErr;
    *naturalBounds = s.natural;
    return noErr;
  });
}

ComponentResult GraphicsImportGetBoundsRect(GraphicsImportComponent ci, Rect* bounds) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    if (!bounds) return paramErr;
    *bounds = s.bounds;
    return noErr;
  });
}

ComponentResult GraphicsImportSetBoundsRect(GraphicsImportComponent ci, const Rect* bounds) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    if (!bounds || bounds->right < bounds->left || bounds->bottom < bounds->top) return paramErr;
    s.bounds = *bounds;
    return noErr;
  });
}

ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent ci, CGrafPtr port, GDHandle gd) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    s.port = port;
    s.device = gd;
    return noErr;
  });
}

ComponentResult GraphicsImportGetGWorld(GraphicsImportComponent ci, CGrafPtr* port, GDHandle* gd) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    if (port) *port = s.port;
    if (gd) *gd = s.device;
    return noErr;
  });
}

// The picture is decoded here; the port belongs to the window server, which draws it.
ComponentResult GraphicsImportDraw(GraphicsImportComponent ci) {
  return withImporter(ci, [&](GraphicsImportState& s) -> OSErr {
    if (!s.decoded) {
      auto image = vt::codec::decodeStillImage(s.path);
      if (!image) return image.error();
      s.image = std::move(*image);
      s.decoded = true;
    }
    return vt::drawImageIntoPort(s.port, s.image, s.bounds);
  });
}
