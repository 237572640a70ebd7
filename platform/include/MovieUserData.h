// User data lists of movies and tracks: typed items kept in order. Item data is stored as the
// bytes given (callers write numbers big-endian). Indexes are 1-based among the items of one
// type. GetMovieUserData and GetTrackUserData belong to the movie toolbox (Movies.h).
#pragma once
#include "MacErrors.h"
#include "MacTypes.h"
#include "Movies.h"

enum {
  kUserDataTextCopyright = (long)0xA9637079,    // ©cpy
  kUserDataTextFullName = (long)0xA96E616D,     // ©nam
  kUserDataTextInformation = (long)0xA9696E66,  // ©inf
  kUserDataTextComment = (long)0xA9636D74,      // ©cmt
  kUserDataTextAuthor = (long)0xA9617574,       // ©aut
  kUserDataName = 'name',
};
enum { langEnglish = 0 };

OSErr NewUserData(UserData* theUserData);
OSErr DisposeUserData(UserData theUserData);
// Item `index` of the type, copied into h (resized to the item). userDataItemNotFound when
// there is none.
OSErr GetUserData(UserData theUserData, Handle data, OSType udType, long index);
// Copies the item (index 0 or 1: the first of its type) when it is exactly size bytes; the
// buffer is untouched when the item is missing or of another size (userDataItemNotFound).
OSErr GetUserDataItem(UserData theUserData, void* data, long size, OSType udType, long index);
// Replaces the item (index 0 or 1: the first of its type), creating it at the end when the list
// has no item of the type.
OSErr SetUserDataItem(UserData theUserData, void* data, long size, OSType udType, long index);
// Appends an item holding the handle's bytes.
OSErr AddUserData(UserData theUserData, Handle data, OSType udType);
OSErr RemoveUserData(UserData theUserData, OSType udType, long index);
short CountUserDataType(UserData theUserData, OSType udType);
// The distinct item types in order of first appearance: 0 gives the first, 0 after the last.
long GetNextUserDataType(UserData theUserData, OSType udType);

// International text items: one item holds records of (16-bit length, 16-bit language code,
// text). AddUserDataText adds (or replaces) the record of the region tag's language in item
// `index` of the type, creating the item when index is one past the last. A region tag of -1
// means the system's language (English, code 0).
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long index,
                      short itlRegionTag);
// The text of the record for the region tag's language (the first record when the item has no
// record of that language), copied into data.
OSErr GetUserDataText(UserData theUserData, Handle data, OSType udType, long index,
                      short itlRegionTag);
OSErr RemoveUserDataText(UserData theUserData, OSType udType, long index, short itlRegionTag);
