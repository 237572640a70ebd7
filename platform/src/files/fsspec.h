// File specifications and host paths, for the other platform areas.
#pragma once
#include <Files.h>

#include <string>

namespace vt::files {

// Absolute host path of the file or folder the FSSpec names (the file need not exist).
// noErr, nsvErr (unknown volume), dirNFErr (unknown folder ID), bdNamErr (bad name).
OSErr specToPath(const FSSpec& spec, std::string& path);

// Fills a spec for a host path (absolute, or relative to the working directory).
// noErr when it exists, fnfErr when only its folder exists (spec filled), dirNFErr otherwise.
OSErr pathToSpec(const std::string& path, FSSpec& spec);

// Directory ID of a folder (registered on first use). The path is made absolute and normal.
long dirIDForFolder(const std::string& folder);
// Folder of a directory ID; false when the ID is unknown. vRefNum/dirID 0 is the working dir.
bool folderForDirID(short vRefNum, long dirID, std::string& folder);

// Names longer than 61 bytes are represented by a unique short form (prefix, '#', hash,
// extension). shortName is identity for names that fit. resolveName maps a name from a spec
// back to the host name in `folder` (for mangled names: a name seen before, or the directory
// entry whose short form matches); it answers the name unchanged when nothing matches.
std::string shortName(const std::string& hostName);
std::string resolveName(const std::string& folder, const std::string& specName);

// Type and creator kept in the extended attributes user.vantrel.type / user.vantrel.creator.
// readTypeCreator answers false when the file has none (or the file system keeps none);
// missing values are left as they were. writeTypeCreator answers noErr also where the file
// system has no extended attributes (nothing is kept), fnfErr when the file is missing.
bool readTypeCreator(const std::string& path, OSType& type, OSType& creator);
OSErr writeTypeCreator(const std::string& path, OSType type, OSType creator);

// Forgets the directory table and the remembered long names (tests).
void reset();

}  // namespace vt::files
