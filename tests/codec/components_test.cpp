// The component registry, graphics importers and file typing by content.
#include <MacMemory.h>
#include <QuickTimeComponents.h>

#include <vector>

#include "helpers.h"
#include "ui/window_server.h"

using namespace codec_test;
using vt_test::writeFile;

namespace {

std::vector<OSType> subtypes(OSType type, UInt32 flags, UInt32 mask) {
  ComponentDescription want{type, 0, 0, flags, mask};
  std::vector<OSType> out;
  Component c = nullptr;
  while ((c = FindNextComponent(c, &want)) != nullptr) {
    ComponentDescription info;
    EXPECT_EQ(GetComponentInfo(c, &info, nullptr, nullptr, nullptr), noErr);
    out.push_back(info.componentSubType);
  }
  return out;
}

FSSpec specFor(const std::string& path) {
  FSSpec spec{};
  OSErr err = VTMakeFSSpecFromPath(path.c_str(), &spec);
  EXPECT_TRUE(err == noErr || err == fnfErr) << path;
  return spec;
}

OSType typeOf(const std::string& path) {
  FSSpec spec = specFor(path);
  FInfo info{};
  EXPECT_EQ(FSpGetFInfo(&spec, &info), noErr) << path;
  return info.fdType;
}

std::string copyAs(const std::string& src, const std::string& dst) {
  return writeFile(dst, vt_test::readFile(src));
}

}  // namespace

TEST(ComponentRegistry, FileTypeSearchGivesImportersInTheirFixedOrder) {
  // What the application's type list is built from: file-type subtypes only.
  EXPECT_EQ(subtypes(MovieImportType, 0, movieImportSubTypeIsFileExtension),
            (std::vector<OSType>{'MkvF', 'WebM', 'VfW ', 'MPEG', 'GIFf', 'WAVE', 'AIFF', 'AIFC',
                                 'MPG3', 'flac', 'OggS'}));
  EXPECT_EQ(subtypes(GraphicsImporterComponentType, 0, movieImportSubTypeIsFileExtension),
            (std::vector<OSType>{'PNGf', 'JPEG', 'GIFf', 'BMPf', 'TIFF', 'WEBP'}));
  // The flags take part only under the mask: without it the extension twins show up too,
  // and asking for the flag set finds only them.
  const std::vector<OSType> twins = subtypes(MovieImportType, movieImportSubTypeIsFileExtension,
                                             movieImportSubTypeIsFileExtension);
  EXPECT_EQ(twins, (std::vector<OSType>{'MKV ', 'WEBM', 'AVI ', 'MPG ', 'TS  ', 'WAV ', 'AIF ',
                                        'MP3 ', 'FLAC', 'OGG '}));
  EXPECT_EQ(subtypes(MovieImportType, 0, 0).size(), 11 + twins.size());
  ComponentDescription any{0, 0, 0, 0, 0};
  EXPECT_EQ(CountComponents(&any), CountComponents(nullptr));
  ComponentDescription jpeg{GraphicsImporterComponentType, 'JPEG', 0, 0, 0};
  EXPECT_EQ(CountComponents(&jpeg), 1);
  ComponentDescription none{'none', 0, 0, 0, 0};
  EXPECT_EQ(FindNextComponent(nullptr, &none), nullptr);
}

TEST(ComponentRegistry, InfoInstancesAndBadReferences) {
  ComponentDescription want{GraphicsImporterComponentType, 'PNGf', 0, 0, 0};
  Component c = FindNextComponent(nullptr, &want);
  ASSERT_NE(c, nullptr);
  Handle name = NewHandle(0);
  ComponentDescription info;
  ASSERT_EQ(GetComponentInfo(c, &info, name, nullptr, nullptr), noErr);
  EXPECT_EQ(info.componentFlagsMask, 0u);
  ASSERT_GT(GetHandleSize(name), 1);
  EXPECT_EQ((unsigned char)(*name)[0], GetHandleSize(name) - 1);
  DisposeHandle(name);

  ComponentInstance ci = OpenComponent(c);
  ASSERT_NE(ci, nullptr);
  EXPECT_EQ(VTGetComponentOfInstance(ci), c);
  EXPECT_EQ(CloseComponent(ci), noErr);
  EXPECT_EQ(CloseComponent(ci), badComponentInstance);  // closed twice
  EXPECT_EQ(CloseComponent(nullptr), badComponentInstance);
  int notAComponent = 0;
  EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(&notAComponent), &info, nullptr, nullptr,
                             nullptr),
            invalidComponentID);
  EXPECT_EQ(FindNextComponent(reinterpret_cast<Component>(&notAComponent), &want), nullptr);
  // A graphics call on an instance that is not an open importer.
  Rect r;
  EXPECT_EQ(GraphicsImportGetNaturalBounds(nullptr, &r), badComponentInstance);
}

TEST(GraphicsImporters, ReadEachFormatByContentDrawScaledAndOpenAsOneFrameMovies) {
  std::string dir = vt_test::tempDir("grip");
  for (const char* ext : {"png", "jpg", "gif", "bmp", "tiff", "webp"}) {
    SCOPED_TRACE(ext);
    std::string src = still(ext);
    vt::Image ref = referenceFrame(src, 0, 97, 61);
    // The name does not matter: the content decides.
    std::string path = copyAs(src, dir + "/picture-" + ext + ".dat");
    FSSpec spec = specFor(path);
    GraphicsImportComponent gi = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &gi), noErr);
    Rect natural;
    ASSERT_EQ(GraphicsImportGetNaturalBounds(gi, &natural), noErr);
    EXPECT_EQ(natural.right, 97);
    EXPECT_EQ(natural.bottom, 61);
    // Drawn at natural size into an offscreen port, it is the image ffmpeg decodes.
    VTPort* port = vt::ui::newOffscreenPort(97, 61);
    ASSERT_EQ(GraphicsImportSetGWorld(gi, port, nullptr), noErr);
    ASSERT_EQ(GraphicsImportDraw(gi), noErr);
    EXPECT_GE(psnr(*port->pixels, ref), 30.0);  // GIF is palettised, hence the lower bar
    // Drawn into a smaller rectangle, it fills that rectangle and nothing else.
    vt::ui::fillRect(port, Rect{0, 0, 61, 97}, vt::makePixel(255, 0, 255));
    Rect half{10, 20, 40, 60};
    ASSERT_EQ(GraphicsImportSetBoundsRect(gi, &half), noErr);
    ASSERT_EQ(GraphicsImportDraw(gi), noErr);
    EXPECT_EQ(port->pixels->at(5, 5), vt::makePixel(255, 0, 255));
    EXPECT_NE(port->pixels->at(40, 25), vt::makePixel(255, 0, 255));
    EXPECT_EQ(port->pixels->at(70, 50), vt::makePixel(255, 0, 255));
    vt::ui::disposeOffscreenPort(port);
    EXPECT_EQ(CloseComponent(gi), noErr);
    // Opened as a movie, it is one frame showing the same picture.
    Movie m = openMovie(src);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(GetMovieIndTrack(m, 1))), 1);
    EXPECT_GT(GetMovieDuration(m), 0);
    EXPECT_GE(psnr(takePict(GetMoviePict(m, 0)), ref), std::string(ext) == "gif" ? 30.0 : 40.0);
    DisposeMovie(m);
  }
}

// Misleading names throughout: the content decides, unless the application recorded a type.
TEST(FileTyping, TypesAndImportersFollowContentNotNamesAndARecordedTypeWins) {
  std::string dir = vt_test::tempDir("ftype");
  std::string movie = copyAs(avcBFrames(), dir + "/movie.jpg");
  std::string notes = writeFile(dir + "/notes.mkv", "just some text\n");
  std::string avi = copyAs(foreign("imp.avi"), dir + "/c.mpg");
  std::string png = copyAs(still("png"), dir + "/y.avi");
  EXPECT_EQ(typeOf(movie), kQTFileTypeMovie);
  EXPECT_EQ(typeOf(notes), 0u);
  EXPECT_EQ(typeOf(avi), (OSType)'VfW ');
  EXPECT_EQ(typeOf(copyAs(foreign("imp.mkv"), dir + "/a.webm")), (OSType)'MkvF');
  EXPECT_EQ(typeOf(copyAs(foreign("imp.webm"), dir + "/b.mkv")), (OSType)'WebM');
  EXPECT_EQ(typeOf(copyAs(foreign("imp.ts"), dir + "/d.avi")), (OSType)'MPEG');
  EXPECT_EQ(typeOf(copyAs(foreign("imp.gif"), dir + "/e.png")), (OSType)'GIFf');
  for (auto [ext, type] : {std::pair{"png", 'PNGf'},
                           {"jpg", 'JPEG'},
                           {"bmp", 'BMPf'},
                           {"tiff", 'TIFF'},
                           {"webp", 'WEBP'}})
    EXPECT_EQ(typeOf(copyAs(still(ext), dir + "/img-" + ext)), (OSType)type) << ext;
  EXPECT_EQ(typeOf(writeFile(dir + "/empty", "")), 0u);
  EXPECT_EQ(openMovie(notes), nullptr);

  // No graphics importer for text, a broken PNG, a movie or a missing file.
  const std::pair<std::string, OSErr> noPicture[] = {
      {writeFile(dir + "/text.png", "not a picture at all"), cantFindHandler},
      {writeFile(dir + "/fake.png", std::string("\x89PNG\r\n\x1a\n", 8) + "garbage after"),
       cantFindHandler},
      {movie, cantFindHandler},
      {dir + "/missing.png", fnfErr},
  };
  for (const auto& [path, err] : noPicture) {
    FSSpec spec = specFor(path);
    GraphicsImportComponent gi = reinterpret_cast<GraphicsImportComponent>(1);
    EXPECT_EQ(GetGraphicsImporterForFile(&spec, &gi), err) << path;
    EXPECT_EQ(gi, nullptr) << path;
  }
  EXPECT_EQ(GetGraphicsImporterForFile(nullptr, nullptr), paramErr);

  // The movie importer search through an alias.
  auto importerFor = [&](const std::string& path, long flags, Component* c) {
    FSSpec spec = specFor(path);
    AliasHandle alias = nullptr;
    EXPECT_EQ(QTNewAlias(&spec, &alias, true), noErr);
    OSErr err = GetMovieImporterForDataRef(rAliasType, (Handle)alias, flags, c);
    DisposeHandle((Handle)alias);
    return err;
  };
  Component c = nullptr;
  ASSERT_EQ(importerFor(avi, kGetMovieImporterDontConsiderGraphicsImporters, &c), noErr);
  ComponentDescription info;
  ASSERT_EQ(GetComponentInfo(c, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.componentType, (OSType)MovieImportType);
  EXPECT_EQ(info.componentSubType, (OSType)'VfW ');
  // A still picture has only a graphics importer: found unless graphics importers are excluded.
  EXPECT_EQ(importerFor(png, kGetMovieImporterDontConsiderGraphicsImporters, &c), cantFindHandler);
  EXPECT_EQ(c, nullptr);
  ASSERT_EQ(importerFor(png, 0, &c), noErr);
  ASSERT_EQ(GetComponentInfo(c, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.componentType, (OSType)GraphicsImporterComponentType);
  // Text is nobody's.
  EXPECT_EQ(importerFor(notes, 0, &c), cantFindHandler);
  EXPECT_EQ(GetMovieImporterForDataRef('hndl', nullptr, 0, &c), cantFindHandler);

  // The type the application recorded wins over the content.
  FSSpec spec = specFor(movie);
  FInfo finfo{};
  finfo.fdType = 'TEXT';
  ASSERT_EQ(FSpSetFInfo(&spec, &finfo), noErr);
  EXPECT_EQ(typeOf(movie), (OSType)'TEXT');
  FSSpec missing = specFor(dir + "/absent.mov");
  EXPECT_EQ(FSpGetFInfo(&missing, &finfo), fnfErr);
  EXPECT_EQ(FSpGetFInfo(nullptr, &finfo), paramErr);
}
