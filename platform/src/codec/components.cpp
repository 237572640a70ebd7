// The component registry: our movie importers and graphics importers, in a fixed order.
#include <Components.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <QuickTimeComponents.h>

#include <cstring>
#include <unordered_set>

#include "codec/registry.h"
#include "core/fourcc.h"
#include "core/boundary.h"
#include "core/pstring.h"

namespace {

constexpr OSType kManufacturer = 'Vtrl';
constexpr UInt32 kMovieImportFlags =
    canMovieImportFiles | canMovieImportValidateFile | canMovieImportInPlace;
constexpr UInt32 kExtensionFlags = kMovieImportFlags | movieImportSubTypeIsFileExtension;

// Movie importers first, then graphics importers; within each, one component per file type.
// The name-extension twins of the movie importers follow the file-type ones (they answer
// the same files, and are skipped by searches for file types).
VTComponentRecord gComponents[] = {
    {{MovieImportType, 'MkvF', kManufacturer, kMovieImportFlags, 0},
     "Matroska Movie Importer",
     "Opens Matroska files as movies"},
    {{MovieImportType, 'WebM', kManufacturer, kMovieImportFlags, 0},
     "WebM Movie Importer",
     "Opens WebM files as movies"},
    {{MovieImportType, 'VfW ', kManufacturer, kMovieImportFlags, 0},
     "AVI Movie Importer",
     "Opens AVI files as movies"},
    {{MovieImportType, 'MPEG', kManufacturer, kMovieImportFlags, 0},
     "MPEG Movie Importer",
     "Opens MPEG program and transport streams as movies"},
    {{MovieImportType, 'GIFf', kManufacturer, kMovieImportFlags, 0},
     "GIF Movie Importer",
     "Opens animated GIF files as movies"},
    {{MovieImportType, 'WAVE', kManufacturer, kMovieImportFlags, 0},
     "WAVE Movie Importer",
     "Opens WAVE sound files as movies"},
    {{MovieImportType, 'AIFF', kManufacturer, kMovieImportFlags, 0},
     "AIFF Movie Importer",
     "Opens AIFF sound files as movies"},
    {{MovieImportType, 'AIFC', kManufacturer, kMovieImportFlags, 0},
     "AIFF Movie Importer",
     "Opens AIFF-C sound files as movies"},
    {{MovieImportType, 'MPG3', kManufacturer, kMovieImportFlags, 0},
     "MP3 Movie Importer",
     "Opens MP3 sound files as movies"},
    {{MovieImportType, 'flac', kManufacturer, kMovieImportFlags, 0},
     "FLAC Movie Importer",
     "Opens FLAC sound files as movies"},
    {{MovieImportType, 'OggS', kManufacturer, kMovieImportFlags, 0},
     "Ogg Movie Importer",
     "Opens Ogg files as movies"},
    {{MovieImportType, 'MKV ', kManufacturer, kExtensionFlags, 0},
     "Matroska Movie Importer",
     "Opens .mkv files as movies"},
    {{MovieImportType, 'WEBM', kManufacturer, kExtensionFlags, 0},
     "WebM Movie Importer",
     "Opens .webm files as movies"},
    {{MovieImportType, 'AVI ', kManufacturer, kExtensionFlags, 0},
     "AVI Movie Importer",
     "Opens .avi files as movies"},
    {{MovieImportType, 'MPG ', kManufacturer, kExtensionFlags, 0},
     "MPEG Movie Importer",
     "Opens .mpg files as movies"},
    {{MovieImportType, 'TS  ', kManufacturer, kExtensionFlags, 0},
     "MPEG Movie Importer",
     "Opens .ts files as movies"},
    {{MovieImportType, 'WAV ', kManufacturer, kExtensionFlags, 0},
     "WAVE Movie Importer",
     "Opens .wav files as movies"},
    {{MovieImportType, 'AIF ', kManufacturer, kExtensionFlags, 0},
     "AIFF Movie Importer",
     "Opens .aif files as movies"},
    {{MovieImportType, 'MP3 ', kManufacturer, kExtensionFlags, 0},
     "MP3 Movie Importer",
     "Opens .mp3 files as movies"},
    {{MovieImportType, 'FLAC', kManufacturer, kExtensionFlags, 0},
     "FLAC Movie Importer",
     "Opens .flac files as movies"},
    {{MovieImportType, 'OGG ', kManufacturer, kExtensionFlags, 0},
     "Ogg Movie Importer",
     "Opens .ogg files as movies"},
    {{GraphicsImporterComponentType, 'PNGf', kManufacturer, 0, 0},
     "PNG Graphics Importer",
     "Reads PNG images"},
    {{GraphicsImporterComponentType, 'JPEG', kManufacturer, 0, 0},
     "JPEG Graphics Importer",
     "Reads JPEG images"},
    {{GraphicsImporterComponentType, 'GIFf', kManufacturer, 0, 0},
     "GIF Graphics Importer",
     "Reads GIF images (the first frame)"},
    {{GraphicsImporterComponentType, 'BMPf', kManufacturer, 0, 0},
     "BMP Graphics Importer",
     "Reads BMP images"},
    {{GraphicsImporterComponentType, 'TIFF', kManufacturer, 0, 0},
     "TIFF Graphics Importer",
     "Reads TIFF images"},
    {{GraphicsImporterComponentType, 'WEBP', kManufacturer, 0, 0},
     "WebP Graphics Importer",
     "Reads WebP images"},
};
constexpr size_t kComponentCount = sizeof gComponents / sizeof gComponents[0];

std::unordered_set<const VTComponentInstanceRecord*>& liveInstances() {
  static std::unordered_set<const VTComponentInstanceRecord*> s;
  return s;
}

long indexOf(Component c) {
  for (size_t i = 0; i < kComponentCount; i++)
    if (&gComponents[i] == c) return (long)i;
  return -1;
}

bool matches(const ComponentDescription& have, const ComponentDescription* want) {
  if (!want) return true;
  if (want->componentType && want->componentType != have.componentType) return false;
  if (want->componentSubType && want->componentSubType != have.componentSubType) return false;
  if (want->componentManufacturer && want->componentManufacturer != have.componentManufacturer)
    return false;
  UInt32 mask = want->componentFlagsMask;
  return (have.componentFlags & mask) == (want->componentFlags & mask);
}

void setPString(Handle h, const char* text) {
  if (!h) return;
  size_t n = std::min<size_t>(std::strlen(text), 255);
  SetHandleSize(h, (Size)(n + 1));
  if (MemError() != noErr) return;
  vt::toPascal(text, (unsigned char*)*h);
}

}  // namespace

VTComponentInstanceRecord::~VTComponentInstanceRecord() = default;

namespace vt::codec {

Component findByFileType(OSType componentType, OSType fileType) {
  ComponentDescription want{componentType, fileType, 0, 0, movieImportSubTypeIsFileExtension};
  return FindNextComponent(nullptr, &want);
}

ComponentInstance liveInstance(ComponentInstance ci) {
  return ci && liveInstances().count(ci) != 0 ? ci : nullptr;
}

}  // namespace vt::codec

Component FindNextComponent(Component aComponent, ComponentDescription* looking) {
  return vt::apiCall(vt::noErrorState, Component{}, [&]() -> Component {
    size_t start = 0;
    if (aComponent) {
      long i = indexOf(aComponent);
      if (i < 0) return nullptr;
      start = (size_t)i + 1;
    }
    for (size_t i = start; i < kComponentCount; i++)
      if (matches(gComponents[i].desc, looking)) return &gComponents[i];
    return nullptr;
  });
}

long CountComponents(ComponentDescription* looking) {
  return vt::apiCall(vt::noErrorState, long{}, [&]() -> long {
    long n = 0;
    for (size_t i = 0; i < kComponentCount; i++)
      if (matches(gComponents[i].desc, looking)) n++;
    return n;
  });
}

OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd, Handle componentName,
                       Handle componentInfo, Handle /*componentIcon: we keep no icons*/) {
  return vt::apiStatus([&]() -> OSErr {
    if (indexOf(aComponent) < 0) return invalidComponentID;
    if (cd) {
      *cd = aComponent->desc;
      cd->componentFlagsMask = 0;
    }
    setPString(componentName, aComponent->name);
    setPString(componentInfo, aComponent->info);
    return noErr;
  });
}

OSErr OpenAComponent(Component aComponent, ComponentInstance* ci) {
  return vt::apiStatus([&]() -> OSErr {
    if (!ci) return paramErr;
    *ci = nullptr;
    if (indexOf(aComponent) < 0) return invalidComponentID;
    auto* inst = new (std::nothrow) VTComponentInstanceRecord();
    if (!inst) return memFullErr;
    inst->component = aComponent;
    liveInstances().insert(inst);
    *ci = inst;
    return noErr;
  });
}

ComponentInstance OpenComponent(Component aComponent) {
  return vt::apiCall(vt::noErrorState, ComponentInstance{}, [&]() -> ComponentInstance {
    ComponentInstance ci = nullptr;
    OpenAComponent(aComponent, &ci);
    return ci;
  });
}

OSErr CloseComponent(ComponentInstance ci) {
  return vt::apiStatus([&]() -> OSErr {
    if (!vt::codec::liveInstance(ci)) return badComponentInstance;
    liveInstances().erase(ci);
    delete ci;
    return noErr;
  });
}

Component VTGetComponentOfInstance(ComponentInstance ci) {
  return vt::apiCall(vt::noErrorState, Component{}, [&]() -> Component {
    ComponentInstance live = vt::codec::liveInstance(ci);
    return live ? live->component : nullptr;
  });
}
