// File manager: file specifications and Finder information.
#pragma once
#include "MacTypes.h"

// Naturally aligned (72 bytes). Specs this platform makes carry names of at most 61 bytes
// (longer names get a short form), so the whole name lies within the first 70 bytes, and code
// that copies a spec by the original platform's 70-byte size loses nothing.
struct FSSpec {
  short vRefNum;
  SInt32 parID;
  Str63 name;
};
static_assert(sizeof(FSSpec) >= 70 && __builtin_offsetof(FSSpec, name) + 62 <= 70,
              "a 61-byte name must fit in the first 70 bytes of a spec");
typedef FSSpec* FSSpecPtr;
typedef FSSpec** FSSpecHandle;
typedef const FSSpec* ConstFSSpecPtr;

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  short fdFldr;
};

enum {
  fsCurPerm = 0x00,
  fsRdPerm = 0x01,
  fsWrPerm = 0x02,
  fsRdWrPerm = 0x03,
  fsRdWrShPerm = 0x04,
};

enum { smSystemScript = -1, smCurrentScript = -2, smRoman = 0 };

// Volume reference number of the one volume (the host's file tree); 0 also means it.
enum { kVTVolumeRefNum = -1 };
// Directory ID of the file tree's root folder.
enum { fsRtDirID = 2, fsRtParID = 1 };

// Makes an FSSpec for `fileName` (a length-prefixed name, or a host path with '/'
// separators: absolute, or relative to the folder given by vRefNum/dirID; 0/0 is the current
// working directory). An empty name names the folder itself.
// noErr: the file or folder exists. fnfErr: it does not, but its folder does; the FSSpec is
// filled and can be used to create it. dirNFErr: the folder is missing. bdNamErr: bad name.
OSErr FSMakeFSSpec(short vRefNum, long dirID, ConstStr255Param fileName, FSSpec* spec);
// Creates an empty file with the given creator and type. dupFNErr when the name exists.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);
// Deletes a file or an empty folder. fnfErr when missing; fBsyErr when the file is in use by
// a live movie; fBsyErr also for a folder that is not empty.
OSErr FSpDelete(const FSSpec* spec);
// Renames within the same folder. dupFNErr when the new name is taken.
OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName);
// Finder information. FSpGetFInfo types files from their content (owned by the importers);
// FSpSetFInfo records the type and creator with the file.
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo);

// Vantrel additions: between host paths (zero-terminated, UTF-8) and specifications.
// VTMakeFSSpecFromPath answers as FSMakeFSSpec does.
OSErr VTMakeFSSpecFromPath(const char* path, FSSpec* spec);
// Writes the absolute host path (zero-terminated) of the FSSpec into buffer. paramErr when the
// buffer is too small; dirNFErr when the FSSpec's folder is unknown.
OSErr VTFSSpecToPath(const FSSpec* spec, char* buffer, long bufferSize);
