// Resource manager: resources found by type and ID in the application's resource file.
//
// Resource files are JSON documents (the application's is installed next to its binary as
// Vantrel.rsrc.json). Files form a chain: a lookup starts at the current file and falls back to
// the files opened before it; the Get1 forms look in the current file only.
#pragma once
#include "MacTypes.h"

enum { kResFileNotOpened = -1, kSystemResFile = 0 };

// The current resource file (the most recently opened or the one UseResFile chose), or -1.
short CurResFile();
// Makes refNum the current resource file; an unknown refNum leaves it as it was (resFNotFound).
void UseResFile(short refNum);
// The result of the most recent resource manager call.
OSErr ResError();
void CloseResFile(short refNum);

// Loaded resources: one handle per resource, shared by every caller that asks for it, until
// ReleaseResource frees it (DetachResource hands it over to the caller instead).
// Contents: 'STR#' a big-endian count then length-prefixed strings; 'STR ' a length-prefixed
// string; 'MBAR' a big-endian count then big-endian menu IDs; other types the resource's JSON
// text. Null (ResError resNotFound) when missing.
Handle GetResource(ResType theType, short theID);
Handle Get1Resource(ResType theType, short theID);
void ReleaseResource(Handle theResource);
void DetachResource(Handle theResource);
short CountResources(ResType theType);
short Count1Resources(ResType theType);

// String `index` (from 1) of string list `strListID`; an empty string when the list or the
// string does not exist.
void GetIndString(Str255 theString, short strListID, short index);
// A 'STR ' resource as a handle to a length-prefixed string, or null.
StringHandle GetString(short stringID);

// Vantrel additions.
// Opens a resource file and makes it current; returns its reference number, or -1 with
// ResError telling why (fnfErr missing, mapReadErr malformed).
short VTOpenResourceFile(const char* path);
// Opens the application's resource file, Vantrel.rsrc.json next to the running binary, unless
// it is open already; returns its reference number or -1. Called on first use of the resource
// manager, so the application needs no call of its own.
short VTOpenApplicationResourceFile();
// Closes every resource file and releases every loaded resource; the next call of the resource
// manager opens the application's file again. For tests.
void VTResetResources();
// Whether the application's resource file is looked for automatically (default true). Tests
// turn it off to see the behaviour without one.
void VTSetAutoOpenApplicationResources(Boolean enabled);
