// Movie importers ('eat ') and graphics importers ('grip'): the components through which
// files of other formats open as movies or images.
#pragma once
#include "Components.h"
#include "Files.h"
#include "MacTypes.h"
#include "Quickdraw.h"

typedef ComponentInstance GraphicsImportComponent;
typedef ComponentInstance MovieImportComponent;

enum {
  MovieImportType = 'eat ',
  MovieExportType = 'spit',
  GraphicsImporterComponentType = 'grip',
};

// Movie importer component flags.
enum {
  canMovieImportHandles = 1L << 0,
  canMovieImportFiles = 1L << 1,
  hasMovieImportUserInterface = 1L << 2,
  dontAutoFileMovieImport = 1L << 6,
  canMovieImportValidateHandles = 1L << 8,
  canMovieImportValidateFile = 1L << 9,
  dontRegisterWithEasyOpen = 1L << 10,
  canMovieImportInPlace = 1L << 11,
  movieImportSubTypeIsFileExtension = 1L << 12,
  canMovieImportPartial = 1L << 13,
  hasMovieImportMIMEList = 1L << 14,
};

// File types: movies, and the type each of our importers gives the files it reads.
enum {
  kQTFileTypeMovie = 'MooV',
  kQTFileTypeMP4 = 'mpg4',
  kQTFileTypeAVI = 'VfW ',
  kQTFileTypeMPEG = 'MPEG',
  kQTFileTypeGIF = 'GIFf',
  kQTFileTypePNG = 'PNGf',
  kQTFileTypeJPEG = 'JPEG',
  kQTFileTypeBMP = 'BMPf',
  kQTFileTypeTIFF = 'TIFF',
  kQTFileTypeWave = 'WAVE',
  kQTFileTypeAIFF = 'AIFF',
  kQTFileTypeAIFC = 'AIFC',
  kQTFileTypeMP3 = 'MPG3',
  kVTFileTypeMatroska = 'MkvF',
  kVTFileTypeWebM = 'WebM',
  kVTFileTypeWebP = 'WEBP',
  kVTFileTypeFLAC = 'flac',
  kVTFileTypeOgg = 'OggS',
};

// A graphics importer for the file when one of the installed importers reads its content
// (never judged by the name). *gi is null and the result cantFindHandler when none does;
// fnfErr when the file is missing.
OSErr GetGraphicsImporterForFile(const FSSpec* theFile, ComponentInstance* gi);
// The image's own size, (0, 0, height, width).
ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* naturalBounds);
// Where GraphicsImportDraw puts the image in the port: the natural bounds until set.
ComponentResult GraphicsImportGetBoundsRect(GraphicsImportComponent ci, Rect* bounds);
ComponentResult GraphicsImportSetBoundsRect(GraphicsImportComponent ci, const Rect* bounds);
// The port the image draws into; null means the current port at the time of drawing.
ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent ci, CGrafPtr port, GDHandle gd);
ComponentResult GraphicsImportGetGWorld(GraphicsImportComponent ci, CGrafPtr* port, GDHandle* gd);
// Decodes the image (once) and draws it scaled into the bounds rectangle of the port.
ComponentResult GraphicsImportDraw(GraphicsImportComponent ci);

// Vantrel addition: makes the next EnterMovies calls fail with `err` (noErr restores normal
// start-up), so that start-up failure handling can be tested.
void VTSetEnterMoviesResult(OSErr err);
