// Navigation services: the open, save and save-changes dialogs.
//
// All three are modal platform dialogs. While one is up it calls the caller's event callback
// (kNavCBEvent) with update events for other windows and with null events, so windows behind it
// keep drawing and playing.
#pragma once
#include "AEDataModel.h"
#include "Events.h"
#include "Files.h"
#include "MacTypes.h"
#include "MacWindows.h"

// Options ---------------------------------------------------------------------------------------

typedef UInt32 NavDialogOptionFlags;
enum {
  kNavDefaultNavDlogOptions =
      0x000000E4,  // previews, multiple files, stationery, no translate items
  kNavNoTypePopup = 0x00000001,
  kNavDontAutoTranslate = 0x00000002,
  kNavDontAddTranslateItems = 0x00000004,
  kNavAllFilesInPopup = 0x00000010,
  kNavAllowStationery = 0x00000020,
  kNavAllowPreviews = 0x00000040,
  kNavAllowMultipleFiles = 0x00000080,
  kNavAllowInvisibleFiles = 0x00000100,
  kNavDontResolveAliases = 0x00000200,
  kNavSelectDefaultLocation = 0x00000400,
  kNavSelectAllReadableItem = 0x00000800,
  kNavSupportPackages = 0x00001000,
  kNavAllowOpenPackages = 0x00002000,
  kNavDontAddRecents = 0x00004000,
  kNavDontUseCustomFrame = 0x00008000,
  kNavDontConfirmReplacement = 0x00010000,
  kNavPreserveSaveFileExtension = 0x00020000,
};

enum { kNavDialogOptionsVersion = 0, kNavReplyRecordVersion = 1, kNavCBRecVersion = 1 };

// Extra popup menu items; kept for layout, never used by our dialogs.
struct NavMenuItemSpec {
  UInt16 version;
  OSType menuCreator;
  OSType menuType;
  Str255 menuItemName;
};
typedef NavMenuItemSpec* NavMenuItemSpecArrayPtr;
typedef NavMenuItemSpecArrayPtr* NavMenuItemSpecArrayHandle;

struct NavDialogOptions {
  UInt16 version;
  NavDialogOptionFlags dialogOptionFlags;
  Point location;  // top-left of the dialog in global coordinates; (-1, -1) = centred
  Str255 clientName;
  Str255 windowTitle;
  Str255 actionButtonLabel;
  Str255 cancelButtonLabel;
  Str255 savedFileName;
  Str255 message;
  UInt32 preferenceKey;
  NavMenuItemSpecArrayHandle popupExtension;
  char reserved[494];
};

// Replies ---------------------------------------------------------------------------------------

struct NavReplyRecord {
  UInt16 version;
  Boolean validRecord;
  Boolean replacing;
  Boolean isStationery;
  Boolean translationNeeded;
  AEDescList selection;  // items are files: AEGetNthPtr(&selection, i, typeFSS, ...) gives FSSpecs
  ScriptCode keyScript;
  Handle fileTranslation;
  UInt32 reserved1;
  Boolean saveFileExtensionHidden;
  UInt8 reserved2;
  char reserved[225];
};

typedef UInt32 NavAskSaveChangesAction;
enum {
  kNavSaveChangesClosingDocument = 1,
  kNavSaveChangesQuittingApplication = 2,
  kNavSaveChangesOther = 0,
};

typedef UInt32 NavAskSaveChangesResult;
enum {
  kNavAskSaveChangesSave = 1,
  kNavAskSaveChangesCancel = 2,
  kNavAskSaveChangesDontSave = 3,
};

// Callbacks -------------------------------------------------------------------------------------

typedef SInt32 NavEventCallbackMessage;
enum {
  kNavCBEvent = 0,
  kNavCBCustomize = 1,
  kNavCBStart = 2,
  kNavCBTerminate = 3,
  kNavCBAdjustRect = 4,
  kNavCBNewLocation = 5,
  kNavCBShowDesktop = 6,
  kNavCBSelectEntry = 7,
  kNavCBPopupMenuSelect = 8,
  kNavCBAccept = 9,
  kNavCBCancel = 10,
  kNavCBAdjustPreview = 11,
  kNavCBUserAction = 12,
  kNavCBOpenSelection = (SInt32)0x80000000,
};

typedef UInt32 NavUserAction;
enum {
  kNavUserActionNone = 0,
  kNavUserActionCancel = 1,
  kNavUserActionOpen = 2,
  kNavUserActionSaveAs = 3,
  kNavUserActionChoose = 4,
  kNavUserActionNewFolder = 5,
  kNavUserActionSaveChanges = 6,
  kNavUserActionDontSaveChanges = 7,
  kNavUserActionDiscardChanges = 8,
  kNavUserActionReviewDocuments = 9,
  kNavUserActionDiscardDocuments = 10,
};

struct VTNavDialog;
typedef VTNavDialog* NavDialogRef;
typedef NavDialogRef NavContext;

union NavEventDataInfo {
  EventRecord* event;
  void* param;
};

struct NavEventData {
  NavEventDataInfo eventDataParms;
  SInt16 itemHit;
};

struct NavCBRec {
  UInt16 version;
  NavDialogRef context;
  WindowRef window;  // the dialog's own window
  Rect customRect;
  Rect previewRect;
  NavEventData eventData;
  NavUserAction userAction;
  char reserved[218];
};
typedef NavCBRec* NavCBRecPtr;

typedef SInt16 NavFilterModes;
enum {
  kNavFilteringBrowserList = 0,
  kNavFilteringFavorites = 1,
  kNavFilteringRecents = 2,
  kNavFilteringShortCutVolumes = 3,
  kNavFilteringLocationPopup = 4,
};

// What the object filter learns about each item (its `info` argument points at one of these).
struct NavFileOrFolderInfo {
  UInt16 version;
  Boolean isFolder;
  Boolean visible;
  UInt32 creationDate;      // seconds since 1904-01-01
  UInt32 modificationDate;  // seconds since 1904-01-01
  union {
    struct {
      Boolean locked;
      Boolean resourceOpen;
      Boolean dataOpen;
      Boolean reserved1;
      UInt32 dataSize;
      UInt32 resourceSize;
      FInfo finderInfo;
    } fileInfo;
    struct {
      Boolean shareable;
      Boolean sharePoint;
      Boolean mounted;
      Boolean readable;
      Boolean writeable;
      Boolean reserved2;
      UInt32 numberOfFiles;
      OSType folderType;
      OSType folderCreator;
    } folderInfo;
  } fileAndFolder;
};
typedef NavFileOrFolderInfo* NavFileOrFolderInfoPtr;

typedef void (*NavEventProcPtr)(NavEventCallbackMessage callBackSelector, NavCBRecPtr callBackParms,
                                void* callBackUD);
typedef Boolean (*NavObjectFilterProcPtr)(AEDesc* theItem, void* info, void* callBackUD,
                                          NavFilterModes filterMode);
typedef Boolean (*NavPreviewProcPtr)(NavCBRecPtr callBackParms, void* callBackUD);
typedef NavEventProcPtr NavEventUPP;
typedef NavObjectFilterProcPtr NavObjectFilterUPP;
typedef NavPreviewProcPtr NavPreviewUPP;

NavEventUPP NewNavEventUPP(NavEventProcPtr userRoutine);
void DisposeNavEventUPP(NavEventUPP userUPP);
NavObjectFilterUPP NewNavObjectFilterUPP(NavObjectFilterProcPtr userRoutine);
void DisposeNavObjectFilterUPP(NavObjectFilterUPP userUPP);
NavPreviewUPP NewNavPreviewUPP(NavPreviewProcPtr userRoutine);
void DisposeNavPreviewUPP(NavPreviewUPP userUPP);

// Type lists ------------------------------------------------------------------------------------

// A list of file types the open dialog shows; a handle of sizeof(NavTypeList) plus
// (osTypeCount - 1) further OSTypes.
struct NavTypeList {
  OSType componentSignature;
  short reserved;
  short osTypeCount;
  OSType osType[1];
};
typedef NavTypeList* NavTypeListPtr;
typedef NavTypeListPtr* NavTypeListHandle;

// Operations ------------------------------------------------------------------------------------

// Fills the options with the defaults: kNavDefaultNavDlogOptions, centred, empty strings.
OSErr NavGetDefaultDialogOptions(NavDialogOptions* dialogOptions);

// The open dialog. noErr with a valid reply when the user chose a file; userCanceledErr on
// cancel (reply not valid). A null typeList (or one with no types) shows every file the filter
// accepts; otherwise only files whose type is in the list (folders always).
OSErr NavGetFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
                 NavTypeListHandle typeList, void* callBackUD);

// The save dialog. Proposes dialogOptions->savedFileName; when the chosen name exists it asks
// whether to replace it, and the reply's `replacing` says so. It neither creates nor deletes
// the file.
OSErr NavPutFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, OSType fileType, OSType fileCreator, void* callBackUD);

// A save dialog with a Format pop-up (our addition: the type pop-up of NavPutFile lists file
// types and has no way to say what a choice does to the name). `formats` are the choices, shown
// in order; `*format` is the one chosen at first and, when the user saves, the one chosen then.
// Choosing one gives the name that choice's extension in place of another choice's (an empty
// extension: none, as for a folder). Otherwise as NavPutFile.
struct VTNavSaveFormat {
  Str63 label;
  Str15 extension;  // without the dot
};
OSErr VTNavPutFileWithFormats(AEDesc* defaultLocation, NavReplyRecord* reply,
                              NavDialogOptions* dialogOptions, NavEventUPP eventProc,
                              const VTNavSaveFormat* formats, short formatCount, short* format,
                              OSType fileCreator, void* callBackUD);

// Releases what a reply holds (its selection list); safe on a reply that was never filled.
OSErr NavDisposeReply(NavReplyRecord* reply);

// Save / Don't Save / Cancel about the document dialogOptions->savedFileName of the application
// dialogOptions->clientName, worded for closing the document or for quitting.
OSErr NavAskSaveChanges(NavDialogOptions* dialogOptions, NavAskSaveChangesAction action,
                        NavAskSaveChangesResult* reply, NavEventUPP eventProc, void* callBackUD);
